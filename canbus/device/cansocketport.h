#pragma once

#include "canbus/device/candriverport.h"

#include <QByteArray>

namespace CanBus {

// The CAN device stand-in: a Unix SOCK_SEQPACKET connection to the node simulator. Each ioctl
// goes out as one packet (request code, little-endian, then the argument), each write record
// as one packet; the simulator sends packets of whole read records.
class CanSocketPort : public CanDriverPort {
public:
    CanSocketPort() = default;
    ~CanSocketPort() override;

    bool open(const QByteArray& path, bool nonBlocking) override;
    void ioctl(quint32 request, const void* argument, int argSize) override;
    qint64 read(char* buffer, qint64 maxSize) override;
    qint64 write(const char* data, qint64 size) override;
    void interrupt() override;
    void close() override;

private:
    // A packet bigger than the caller's buffer is handed out over several reads; reader thread
    // only.
    QByteArray m_pending;
    int m_pendingPos = 0;
    QByteArray m_packet;
    quint64 m_cutPackets = 0;
};

} // namespace CanBus
