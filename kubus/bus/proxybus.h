#pragma once

#include "kubus/bus/bus.h"
#include "kubus/bus/busperkey.h"

#include <QSignalTransition>

namespace Kubus {

// The connection operations of a bus with per-node sub-buses: clients listen to one node through
// its sub-bus, or to all nodes through this bus.
template <class B> class ProxyBus : public Bus, public BusPerKey<B, int> {
public:
    explicit ProxyBus(QThread& thread)
        : Bus(thread)
    {
    }

    virtual void supportNode(int nodeId) { this->createKeyBus(nodeId); }

    virtual bool connectToNode(int nodeId, const QString& signal, QObject* receiver,
        const QString& slot, Qt::ConnectionType type)
    {
        return this->connectToKey(nodeId, signal, receiver, slot, type);
    }

    virtual bool connectToNode(int nodeId, QSignalTransition& transition, const char* signal)
    {
        using Base = BusPerKey<B, int>;
        if (!Base::master)
            return false;
        this->createKeyBus(nodeId);
        B* bus = Base::master->keyBus(nodeId);
        if (!bus)
            return false;
        transition.setSenderObject(bus);
        transition.setSignal(signal);
        return true;
    }

    virtual bool connectToAllNodes(
        const QString& signal, QObject* receiver, const QString& slot, Qt::ConnectionType type)
    {
        // Qt 4 converted with toAscii(); toLatin1() is its replacement.
        return QObject::connect(
            this, signal.toLatin1().constData(), receiver, slot.toLatin1().constData(), type);
    }

    virtual void connectToAllNodes(QSignalTransition& transition, const char* signal)
    {
        transition.setSenderObject(this);
        transition.setSignal(signal);
    }

protected:
    // Repeats a record on the sub-bus of its node; a sub-bus has no map, so the chain ends there.
    template <class R> void forwardToNode(const R& record)
    {
        if (B* bus = this->keyBus(record.nodeId))
            bus->send(record);
    }
};

} // namespace Kubus
