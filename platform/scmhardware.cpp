#include "platform/scmhardware.h"

#include "platform/framebufferdevice.h"
#include "platform/uiodevice.h"

#include <cstdio>

namespace Common {

namespace {
// Registers of the system chip's map 0 (little-endian, whatever the CPU's byte order).
constexpr quint32 DisplayControl = 0x800;
constexpr quint32 DisplayEnable = 1u << 7;
constexpr quint32 KeypadControl = 0x107C;
constexpr quint32 KeypadEnable = 1u << 17;
} // namespace

int initScmFramebuffer()
{
    using Platform::UioDevice;
    {
        Platform::FramebufferDevice framebuffer;
        if (!framebuffer.open()) {
            std::perror("Error: cannot open framebuffer device");
            return 1;
        }
        fb_var_screeninfo info {};
        if (!framebuffer.getVariableInfo(info)) {
            std::perror("Error reading variable information");
            return 3;
        }
        info.bits_per_pixel = 32;
        info.activate = FB_ACTIVATE_NOW;
        if (!framebuffer.putVariableInfo(info)) {
            std::perror("Error writing variable information");
            return 4;
        }
    }

    UioDevice uio;
    if (!uio.open())
        return 1;
    uio.map(0);
    uio.setBits(0, DisplayControl, UioDevice::ByteOrder::LittleEndian, DisplayEnable);
    uio.unmap(0);
    uio.close();
    return 0;
}

int initScmKeypad()
{
    using Platform::UioDevice;
    UioDevice uio;
    if (!uio.open())
        return uio.descriptor();
    // Both windows are mapped as the board expects, though only map 0 is written.
    uio.map(0);
    uio.map(1);
    uio.setBits(0, KeypadControl, UioDevice::ByteOrder::LittleEndian, KeypadEnable);
    uio.unmap(0);
    uio.unmap(1);
    return uio.close();
}

} // namespace Common
