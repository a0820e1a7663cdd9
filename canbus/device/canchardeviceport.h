#pragma once

#include "canbus/device/candriverport.h"

#include <atomic>

namespace CanBus {

// The board's CAN driver through its character device. A blocking read waits in poll() beside
// an eventfd, so that close can wake it whether or not the driver does on its own.
class CanCharDevicePort : public CanDriverPort {
public:
    CanCharDevicePort() = default;
    ~CanCharDevicePort() override;

    bool open(const QByteArray& path, bool nonBlocking) override;
    void ioctl(quint32 request, const void* argument, int argSize) override;
    qint64 read(char* buffer, qint64 maxSize) override;
    qint64 write(const char* data, qint64 size) override;
    void interrupt() override;
    void close() override;

private:
    // Waits until fd is ready for events or the port is interrupted; false when interrupted.
    bool waitReady(int fd, short events) const;

    std::atomic<int> m_wakeFd { -1 };
};

} // namespace CanBus
