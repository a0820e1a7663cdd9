#include "canbus/device/candriverport.h"

#include "canbus/device/canchardeviceport.h"
#include "canbus/device/cansocketport.h"
#include "platform/rootpath.h"

#include <unistd.h>

namespace CanBus {

CanDriverPort::~CanDriverPort() = default;

void CanDriverPort::setOpened(int fd, bool nonBlocking)
{
    m_nonBlocking = nonBlocking;
    m_fd.store(fd);
}

int CanDriverPort::descriptor() const
{
    const int fd = m_fd.load();
    if (fd < 0)
        errno = EBADF;
    return fd;
}

void CanDriverPort::closeKeepingErrno(int fd)
{
    const int error = errno;
    ::close(fd);
    errno = error;
}

std::unique_ptr<CanDriverPort> CanDriverPort::create()
{
    if (Platform::haveRoot())
        return std::make_unique<CanSocketPort>();
    return std::make_unique<CanCharDevicePort>();
}

} // namespace CanBus
