#pragma once

#include "canbus/proxy/proxy.h"

#include <QList>

namespace CanBus {

// What the two proxies share, bound to their bus: BUS the Kubus bus type (a process-wide
// instance), SPONTANEOUS the bus's spontaneous handlers, and the bus's command classes, one of
// each per node, besides Reset, Ping, Operate and the firmware transfer that every node gets.
template <class BUS, class SPONTANEOUS> class BusProxy : public Proxy {
protected:
    using CreateCommands = QList<StateMachineCommandBase*> (*)(CanNodeEngine& engine);

    BusProxy(CanDevice* device, CanIdentifier::eDestination destination, const char* nodeCacheFile,
        CreateCommands createCommands)
        : Proxy(device, destination, QString::fromLatin1(nodeCacheFile))
        , m_createCommands(createCommands)
    {
        m_spontaneous = new SPONTANEOUS;
        BUS* bus = BUS::instance();
        bus->start();
        setBus(bus);
    }

    void addCommands(CanNodeEngine& engine, QState* idle) override
    {
        addNodeCommands(engine, idle, m_createCommands(engine));
    }

    bool connectToNode(
        int nodeId, const QString& signal, QObject* receiver, const QString& slot) override
    {
        return BUS::instance()->connectToNode(nodeId, signal, receiver, slot, Qt::AutoConnection);
    }

private:
    const CreateCommands m_createCommands;
};

} // namespace CanBus
