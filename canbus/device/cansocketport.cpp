#include "canbus/device/cansocketport.h"

#include "kubus/log/kulog.h"

#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace CanBus {

namespace {
// Larger than any packet the simulator builds (1024 records); anything beyond is cut and counted.
constexpr int MaxPacket = 65536;
} // namespace

CanSocketPort::~CanSocketPort()
{
    close();
}

bool CanSocketPort::open(const QByteArray& path, bool nonBlocking)
{
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= static_cast<int>(sizeof address.sun_path)) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        closeKeepingErrno(fd);
        return false;
    }
    m_pending.clear();
    m_pendingPos = 0;
    setOpened(fd, nonBlocking);
    return true;
}

void CanSocketPort::ioctl(quint32 request, const void* argument, int argSize)
{
    QByteArray packet(4 + argSize, '\0');
    qToLittleEndian<quint32>(request, packet.data());
    if (argSize > 0)
        std::memcpy(packet.data() + 4, argument, static_cast<size_t>(argSize));
    // Like the driver's ioctl result, a failed send is of no interest here: a lost peer shows
    // up on the next read or write.
    write(packet.constData(), packet.size());
}

qint64 CanSocketPort::read(char* buffer, qint64 maxSize)
{
    if (m_pendingPos >= m_pending.size()) {
        const int fd = descriptor();
        if (fd < 0)
            return -1;
        if (m_packet.size() != MaxPacket)
            m_packet.resize(MaxPacket);
        qint64 n = restartingOnSignal([&] {
            return ::recv(
                fd, m_packet.data(), MaxPacket, MSG_TRUNC | (nonBlocking() ? MSG_DONTWAIT : 0));
        });
        if (n <= 0)
            return n;
        if (n > MaxPacket) {
            if (m_cutPackets++ == 0)
                Kubus::kuPrint(
                    QString("CAN packet of %1 bytes cut to %2").arg(n).arg(MaxPacket), Q_FUNC_INFO);
            n = MaxPacket;
        }
        if (n <= maxSize) {
            std::memcpy(buffer, m_packet.constData(), static_cast<size_t>(n));
            return n;
        }
        m_pending = m_packet.left(static_cast<int>(n));
        m_pendingPos = 0;
    }
    const qint64 n = qMin<qint64>(maxSize, m_pending.size() - m_pendingPos);
    std::memcpy(buffer, m_pending.constData() + m_pendingPos, static_cast<size_t>(n));
    m_pendingPos += static_cast<int>(n);
    return n;
}

qint64 CanSocketPort::write(const char* data, qint64 size)
{
    const int fd = descriptor();
    if (fd < 0)
        return -1;
    // No SIGPIPE when the simulator has gone: the caller gets EPIPE instead.
    const int flags = MSG_NOSIGNAL | (nonBlocking() ? MSG_DONTWAIT : 0);
    return restartingOnSignal([&] { return ::send(fd, data, static_cast<size_t>(size), flags); });
}

void CanSocketPort::interrupt()
{
    const int fd = descriptor();
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
}

void CanSocketPort::close()
{
    const int fd = takeDescriptor();
    if (fd >= 0) {
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
    }
}

} // namespace CanBus
