#include "canbus/proxy/mainboardproxy.h"

#include "canbus/commandclasses.h"

namespace CanBus {

MainBoardProxy::MainBoardProxy(CanDevice* device)
    : BusProxy(device, CanIdentifier::MainBoard, NodeCacheFile, &createMainBoardCommands)
{
}

} // namespace CanBus
