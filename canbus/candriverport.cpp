#include "canbus/candriverport.h"

#include "canbus/canchardeviceport.h"
#include "canbus/cansocketport.h"
#include "platform/rootpath.h"

namespace CanBus {

CanDriverPort::~CanDriverPort() = default;

std::unique_ptr<CanDriverPort> CanDriverPort::create()
{
    if (Platform::haveRoot())
        return std::make_unique<CanSocketPort>();
    return std::make_unique<CanCharDevicePort>();
}

} // namespace CanBus
