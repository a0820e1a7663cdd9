#pragma once

#include "canbus/device/canconfiguration.h"
#include "canbus/device/candevice.h"

#include <memory>

namespace CanBus {

class CanDriverPort;

// The board's CAN driver: "/dev/canN" configured through three ioctl requests, 13-byte write
// records and 16-byte read records. Under ZEF400_ROOT the same requests and records travel
// over the simulator's socket instead.
class CanDeviceScm : public CanDevice {
public:
    static constexpr int WriteRecordSize = 13;
    static constexpr int ReadRecordSize = 16;
    static constexpr int ReadBufferSize = 16384;
    static constexpr int ConfigurationBlockSize = 36;

    static constexpr quint32 IoctlStop = 0x20006203;
    static constexpr quint32 IoctlConfigure = 0x80046204;
    static constexpr quint32 IoctlStart = 0x20006200;

    explicit CanDeviceScm(const CanConfiguration& configuration);
    ~CanDeviceScm() override;

    void open(eOpenMode mode) override;
    void close() override;
    bool isReady() override;
    CanMessages readMessages() override;
    void writeMessage(const CanMessage& message) override;

    const CanConfiguration& configuration() const;

    // The driver's record formats. encodeWriteRecord throws PAYLOAD_TOO_BIG for more than 8
    // bytes and leaves record untouched then; decodeReadRecord gives false for a length above 8.
    static void encodeWriteRecord(unsigned rawIdentifier, const QByteArray& payload,
        CanConfiguration::eCanIdFormat format, char* record);
    static bool decodeReadRecord(
        const char* record, CanConfiguration::eCanIdFormat format, CanMessage* message);
    // The configuration block passed with the configure request.
    static QByteArray configurationBlock(const CanConfiguration& configuration);

private:
    struct Private;
    const std::unique_ptr<Private> d;
};

} // namespace CanBus
