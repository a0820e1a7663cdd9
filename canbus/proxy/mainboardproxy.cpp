#include "canbus/proxy/mainboardproxy.h"

#include "canbus/commands/commandclasses.h"

namespace CanBus {

MainBoardProxy::MainBoardProxy(CanDevice* device)
    : BusProxy(device, CanIdentifier::MainBoard, NodeCacheFile, &createMainBoardCommands)
{
}

MainBoardProxy::~MainBoardProxy()
{
    stopApiService();
}

} // namespace CanBus
