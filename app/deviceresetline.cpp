#include "app/deviceresetline.h"

#include "canbus/frame/canidentifier.h"
#include "platform/uiodevice.h"

#include <QThread>

#include <cstdio>

namespace {
// Map 1 of the system chip; the register is in the controller's own byte order (big-endian).
constexpr quint32 ResetRegister = 0xC08;
constexpr quint32 MainboardLine = 1u << 30;
constexpr quint32 AmplifierLine = 1u << 29;
constexpr quint32 WriteSequence = 1u << 31;

constexpr unsigned MainboardBus = 0;
constexpr unsigned AmplifierBus = 6;
} // namespace

DeviceResetLine::DeviceResetLine()
    : sleepUnitMs(100)
{
}

void DeviceResetLine::sleepFactor(int n)
{
    if (n > 0)
        QThread::msleep(static_cast<unsigned long>(n) * static_cast<unsigned long>(sleepUnitMs));
}

bool DeviceResetLine::resetControl(unsigned bits)
{
    using Platform::UioDevice;
    constexpr auto order = UioDevice::ByteOrder::BigEndian;
    UioDevice uio;
    if (!uio.open() || !uio.map(1))
        return false;

    // The lines are changed one at a time with a pause, so the nodes see clean edges.
    if (bits & 1u)
        uio.setBits(1, ResetRegister, order, MainboardLine);
    else
        uio.clearBits(1, ResetRegister, order, MainboardLine);
    sleepFactor(1);
    if (bits & 2u)
        uio.setBits(1, ResetRegister, order, AmplifierLine);
    else
        uio.clearBits(1, ResetRegister, order, AmplifierLine);
    sleepFactor(1);
    if (bits & 4u)
        uio.setBits(1, ResetRegister, order, WriteSequence);
    else
        uio.clearBits(1, ResetRegister, order, WriteSequence);

    uio.unmap(1);
    uio.close();
    return true;
}

void DeviceResetLine::resetLine(const CanBus::CanIdentifier& id)
{
    resetLine(id.raw());
}

void DeviceResetLine::resetLine(unsigned rawValue)
{
    std::fputs("_reset_line, begin()\n", stderr);
    if (rawValue == MainboardBus)
        resetControl(254);
    else if (rawValue == AmplifierBus)
        resetControl(253);
    std::fputs("_reset_line, 0xFF\n", stderr);
    resetControl(255);
    std::fputs("_reset_line, end()\n", stderr);
}
