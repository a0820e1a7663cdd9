#pragma once

#include "canbus/frame/canmessage.h"
#include "canbus/nodes/candeviceinfocache.h"
#include "canbus/nodes/candeviceinfodatabase.h"
#include "canbus/nodes/changabletimer.h"

#include <QObject>
#include <QTimer>

#include <atomic>

class QState;

namespace CanBus {

class CanDestinationSetter;
class StateMachine;

// One identification cycle of a bus as a state chart:
//
//   Identify --(request sent)--> Collect --(reply window over)--> SetAddress <--+ --> Done
//                                  ^ identify answers                 | one node |
//                                  +----------------------------------+----------+
//
// Collect gathers the answers of the broadcast; SetAddress then gives one node without id at a
// time its id and waits up to 200 ms for its answer before the next node gets its frame, so two
// nodes never answer an address frame at once.
class IdentifyStateChart : public QObject {
    Q_OBJECT

public:
    enum AdressMode { Config = 0, Operate = 1 };

    static constexpr int AcknowledgeTimeout = 200;

    IdentifyStateChart(StateMachine& machine, CanDestinationSetter& setter, AdressMode mode,
        const QString& cacheFile, QObject* parent = nullptr);

    // The cycle's chart, a state without parent for the module to put into its machine.
    QState* state();
    void initCachedNodes();
    void setWaitForReplyInterval(int ms);

    CanDeviceInfoDataBase& dataBase() { return m_dataBase; }
    CanDeviceInfoCache& cache() { return *m_cache; }
    ChangableTimer& replyTimer() { return m_replyTimer; }
    QTimer& acknowledgeTimer() { return m_acknowledgeTimer; }

    // Sends the address frame to the next node without id; false when there was none to send.
    bool sendAddress();
    // After an answer or a time-out in SetAddress: drops the addressed node from the cycle
    // unless it answered. Nothing happens when no frame was out.
    void addressAnswered(bool accepted);
    bool addressPending() const { return m_addressPending; }

    void sendIdentifyRequest();

public slots:
    void send_SCM_SET_ADDR_Config();
    void send_SCM_SET_ADDR_Operate();

signals:
    void writeMessage(const CanBus::CanMessage& message);
    void cachedNodes();
    void noCachedNodes();

private:
    void sendAddressFrame(const Kubus::CanDeviceInfo& info);

    StateMachine& m_machine;
    CanDestinationSetter& m_setter;
    CanDeviceInfoDataBase m_dataBase;
    CanDeviceInfoCache* m_cache;
    ChangableTimer m_replyTimer;
    QTimer m_acknowledgeTimer;
    std::atomic<int> m_waitForReplyInterval { 1000 };
    AdressMode m_mode;
    bool m_addressPending = false;
};

} // namespace CanBus
