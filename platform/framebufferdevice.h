#pragma once

#include <linux/fb.h>

namespace Platform {

// The Linux framebuffer "/dev/fb0", limited to what the start-up needs: the variable screen
// information, read and written back.
//
// Under a stand-in root, dev/fb0 is a plain file holding one fb_var_screeninfo: get reads it,
// put writes it back. A file too short to hold the information fails the get; a marker file
// dev/fb0.refuse-put next to it makes the put fail, as a driver rejecting the mode would.
// Without a root the real ioctl calls are made.
class FramebufferDevice {
public:
    FramebufferDevice() = default;
    ~FramebufferDevice();
    FramebufferDevice(const FramebufferDevice&) = delete;
    FramebufferDevice& operator=(const FramebufferDevice&) = delete;

    // Each returns false with errno set, as the system calls they stand for.
    bool open();
    bool getVariableInfo(fb_var_screeninfo& info);
    bool putVariableInfo(const fb_var_screeninfo& info);
    void close();

private:
    int m_fd = -1;
    bool m_standIn = false;
};

} // namespace Platform
