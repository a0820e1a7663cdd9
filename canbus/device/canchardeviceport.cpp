#include "canbus/device/canchardeviceport.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace CanBus {

CanCharDevicePort::~CanCharDevicePort()
{
    close();
}

bool CanCharDevicePort::open(const QByteArray& path, bool nonBlocking)
{
    const int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC | (nonBlocking ? O_NONBLOCK : 0));
    if (fd < 0)
        return false;
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        closeKeepingErrno(fd);
        return false;
    }
    m_wakeFd.store(wakeFd);
    setOpened(fd, nonBlocking);
    return true;
}

void CanCharDevicePort::ioctl(quint32 request, const void* argument, int)
{
    const int fd = descriptor();
    if (fd >= 0)
        ::ioctl(fd, static_cast<unsigned long>(request), argument);
}

bool CanCharDevicePort::waitReady(int fd, short events) const
{
    pollfd fds[2] = { { fd, events, 0 }, { m_wakeFd.load(), POLLIN, 0 } };
    for (;;) {
        const int n = ::poll(fds, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (fds[1].revents & POLLIN)) {
            errno = ECANCELED;
            return false;
        }
        return true;
    }
}

qint64 CanCharDevicePort::read(char* buffer, qint64 maxSize)
{
    const int fd = descriptor();
    if (fd < 0 || (!nonBlocking() && !waitReady(fd, POLLIN)))
        return -1;
    return restartingOnSignal([&] { return ::read(fd, buffer, static_cast<size_t>(maxSize)); });
}

qint64 CanCharDevicePort::write(const char* data, qint64 size)
{
    const int fd = descriptor();
    if (fd < 0 || (!nonBlocking() && !waitReady(fd, POLLOUT)))
        return -1;
    return restartingOnSignal([&] { return ::write(fd, data, static_cast<size_t>(size)); });
}

void CanCharDevicePort::interrupt()
{
    const int wakeFd = m_wakeFd.load();
    if (wakeFd >= 0) {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
    }
}

void CanCharDevicePort::close()
{
    const int fd = takeDescriptor();
    if (fd >= 0)
        ::close(fd);
    const int wakeFd = m_wakeFd.exchange(-1);
    if (wakeFd >= 0)
        ::close(wakeFd);
}

} // namespace CanBus
