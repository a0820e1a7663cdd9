#include "canbus/proxy/poweramplifierproxy.h"

#include "canbus/commandclasses.h"
#include "canbus/nodes/firmwareupdate.h"
#include "canbus/proxy/commandlist.h"
#include "canbus/proxy/poweramplifierspontaneous.h"
#include "kubus/poweramplifierbus.h"

namespace CanBus {

PowerAmplifierProxy::PowerAmplifierProxy(CanDevice* device)
    : Proxy(device, CanIdentifier::PowerAmplifier, QString::fromLatin1(NodeCacheFile))
{
    m_spontaneous = new PowerAmplifierSpontaneous;
    Kubus::PowerAmplifierBus* bus = Kubus::PowerAmplifierBus::instance();
    bus->start();
    setBus(bus);
}

void PowerAmplifierProxy::addCommands(CanNodeEngine& engine, QState* idle)
{
    addControlCommands(engine, idle);
#define ZEF_ADD(CLASS) addCommand(idle, new CLASS(engine));
    ZEF_PowerAmplifier_COMMANDS(ZEF_ADD)
#undef ZEF_ADD
        addFirmwareUpdate(new FirmwareUpdate(engine), idle, m_bus);
}

bool PowerAmplifierProxy::connectToNode(
    int nodeId, const QString& signal, QObject* receiver, const QString& slot)
{
    return Kubus::PowerAmplifierBus::instance()->connectToNode(
        nodeId, signal, receiver, slot, Qt::AutoConnection);
}

} // namespace CanBus
