#pragma once

#include "canbus/engine/statemachinecommand.h"
#include "canbus/nodes/firmwareupdatehelper.h"
#include "canbus/nodes/sendmessage.h"
#include "canbus/servicedata/sendmessage_scm_service_data_wr.h"
#include "kubus/catalogue/onewayrecords.h"
#include "kubus/catalogue/requestrecords.h"

#include <memory>

namespace CanBus {

// Writes one firmware image into one node:
//
//   AccessOn -> Erase (one frame per erase unit) -> UpdateBlock (blocks 1, 2, ..., 0) -> AccessOff
//   -> WriteVersion (three label words) -> ResetNode -> WaitAddress -> Done
//
// Every step but the block data is confirmed by the node with a frame of the same type. A block
// is announced, its 37 packages go out in one burst without answers, and its end frame carries
// the checksum; a node that rejects the end frame gets the block again. After the reset the
// transfer waits until identification has given the node its id again, so that the node's next
// command finds it. Identification reports are off meanwhile: the node is silent while it
// restarts and must not be reported missing.
class FirmwareUpdate : public StateMachineCommand<Kubus::FirmwareUpdate> {
    Q_OBJECT

public:
    explicit FirmwareUpdate(CanNodeEngine& engine, QObject* parent = nullptr);
    ~FirmwareUpdate() override;

    QState* state(QState* parent) override;
    void setCurrentRequest(const Kubus::FirmwareUpdate& request) override;
    QAbstractTransition* errorTransition(CanNodeEngine& engine) override;

    FirmwareUpdateHelper* helper() const { return m_helper.get(); }
    // How many blocks the node rejected and got again in the current job.
    int rewrittenBlocks() const { return m_rewrittenBlocks; }
    void blockRejected();
    void sendBlockData();
    void startIdentify();

public slots:
    void incomingMessage(const Kubus::FirmwareUpdate& request) override;
    void slotEraseBlock();
    void slotWriteBlock();

signals:
    void message(const Kubus::FirmwareUpdate::Response& response) override;
    void signalFirmwareUpdateProgress(const Kubus::FirmwareUpdateProgress& progress);
    void signalStopIdentify();
    void signalStartIdentify();
    void signalEraseBlock();

private:
    void postProgress(const Kubus::FirmwareUpdateProgress& progress);

    Kubus::FirmwareUpdateInfo m_info;
    std::unique_ptr<FirmwareUpdateHelper> m_helper;
    int m_rewrittenBlocks = 0;
    bool m_identifyStopped = false;

    SendMessage_SCM_FW_ACC_CONTROL m_accessOn;
    SendMessage_SCM_FW_ACC_CONTROL m_accessOff;
    SendMessage_SCM_FW_ACC_ERASE m_erase;
    SendMessage_SCM_FW_ACC_BL_WRITE m_blockWrite;
    SendMessage_SCM_FW_ACC_BL_W_END m_blockEnd;
    SendMessage_SCM_SERVICE_DATA_WR m_versionWrite;
    SendMessage_SCM_RESET_MODULE m_reset;
};

} // namespace CanBus
