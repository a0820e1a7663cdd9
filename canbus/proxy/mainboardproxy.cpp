#include "canbus/proxy/mainboardproxy.h"

#include "canbus/commandclasses.h"
#include "canbus/nodes/firmwareupdate.h"
#include "canbus/proxy/commandlist.h"
#include "canbus/proxy/mainboardspontaneous.h"
#include "kubus/mainboardbus.h"

namespace CanBus {

MainBoardProxy::MainBoardProxy(CanDevice* device)
    : Proxy(device, CanIdentifier::MainBoard, QString::fromLatin1(NodeCacheFile))
{
    m_spontaneous = new MainBoardSpontaneous;
    Kubus::MainBoardBus* bus = Kubus::MainBoardBus::instance();
    bus->start();
    setBus(bus);
}

void MainBoardProxy::addCommands(CanNodeEngine& engine, QState* idle)
{
    addControlCommands(engine, idle);
#define ZEF_ADD(CLASS) addCommand(idle, new CLASS(engine));
    ZEF_MainBoard_COMMANDS(ZEF_ADD)
#undef ZEF_ADD
        addFirmwareUpdate(new FirmwareUpdate(engine), idle, m_bus);
}

bool MainBoardProxy::connectToNode(
    int nodeId, const QString& signal, QObject* receiver, const QString& slot)
{
    return Kubus::MainBoardBus::instance()->connectToNode(
        nodeId, signal, receiver, slot, Qt::AutoConnection);
}

} // namespace CanBus
