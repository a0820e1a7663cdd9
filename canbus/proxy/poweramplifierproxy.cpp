#include "canbus/proxy/poweramplifierproxy.h"

#include "canbus/commands/commandclasses.h"

namespace CanBus {

PowerAmplifierProxy::PowerAmplifierProxy(CanDevice* device)
    : BusProxy(device, CanIdentifier::PowerAmplifier, NodeCacheFile, &createPowerAmplifierCommands)
{
}

PowerAmplifierProxy::~PowerAmplifierProxy()
{
    stopApiService();
}

} // namespace CanBus
