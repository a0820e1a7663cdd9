#include "platform/framebufferdevice.h"

#include "platform/rootpath.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace Platform {

FramebufferDevice::~FramebufferDevice()
{
    close();
}

bool FramebufferDevice::open()
{
    close();
    m_standIn = haveRoot();
    m_fd = ::open(rootPathBytes("/dev/fb0").constData(), O_RDWR);
    return m_fd >= 0;
}

bool FramebufferDevice::getVariableInfo(fb_var_screeninfo& info)
{
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    if (!m_standIn)
        return ::ioctl(m_fd, FBIOGET_VSCREENINFO, &info) == 0;

    fb_var_screeninfo stored {};
    const ssize_t got = ::pread(m_fd, &stored, sizeof stored, 0);
    if (got != ssize_t(sizeof stored)) {
        if (got >= 0)
            errno = EINVAL;
        return false;
    }
    info = stored;
    return true;
}

bool FramebufferDevice::putVariableInfo(const fb_var_screeninfo& info)
{
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    if (!m_standIn)
        return ::ioctl(m_fd, FBIOPUT_VSCREENINFO, &info) == 0;

    if (::access(rootPathBytes("/dev/fb0.refuse-put").constData(), F_OK) == 0) {
        errno = EINVAL;
        return false;
    }
    const ssize_t put = ::pwrite(m_fd, &info, sizeof info, 0);
    if (put != ssize_t(sizeof info)) {
        if (put >= 0)
            errno = EIO;
        return false;
    }
    return true;
}

void FramebufferDevice::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

} // namespace Platform
