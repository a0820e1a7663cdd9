#include "canbus/device/candevice.h"

namespace CanBus {

CanDevice::~CanDevice() = default;

bool CanDevice::isReady()
{
    return true;
}

} // namespace CanBus
