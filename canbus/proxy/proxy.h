#pragma once

#include "canbus/frame/canexception.h"
#include "canbus/frame/canidentifier.h"
#include "kubus/catalogue/onewayrecords.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>

class QState;
class QTimer;

namespace Kubus {
class Bus;
}

namespace CanBus {

class CanAsyncReadWrite;
class CanDestinationSetter;
class CanDevice;
class CanFilter;
class CanNodeEngine;
class CanSpontaneousMessageFactory;
class FirmwareUpdate;
class IdentifyModule;
class SpontaneousBase;
class StateMachineCommandBase;

// The CAN side of one Kubus bus. It owns the device's reader/writer pair, routes frames, runs
// node discovery and gives every node that is found a command state machine with a full set of
// commands, connected to the node's sub-bus: a request on the bus becomes a command on the node,
// and its response goes back on the bus. Frames that nodes send on their own become measured-value
// records on the bus.
//
// Threads: the proxy itself, the I/O thread (pair, filter, destination setter), the spontaneous
// thread (spontaneous factory and handlers), the identify module's thread and one per node.
class Proxy : public QObject {
    Q_OBJECT

public:
    ~Proxy() override;

    void setBus(Kubus::Bus* bus);
    void stopApiService();

    // The time-out every firmware transfer command of this proxy gets; -1: none.
    void setFirmwareTimeout(int ms) { m_firmwareTimeout = ms; }
    int firmwareTimeout() const { return m_firmwareTimeout; }

    IdentifyModule& identifyModule() const { return *m_identifyModule; }
    CanIdentifier::eDestination destination() const { return m_destination; }
    // The firmware transfer command of a node, or null; for diagnostics of the service tool.
    FirmwareUpdate* firmwareUpdateCommand(int nodeId) const;

    // What a second controller identifying on the bus leads to: true (the default) stops this
    // program for maintenance; false only emits otherBusMaster(), for an owner that ends in its
    // own way. Set before startApiService.
    void setStopOnOtherBusMaster(bool stop) { m_stopOnOtherBusMaster = stop; }
    // True once the device's reader has failed: nothing can be received on this bus any more.
    bool isDeviceLost() const { return m_deviceLost.load(); }
    // Ends every node's running command as a CAN communication error (status 2).
    void failRunningCommands();
    // The owner is closing the device: the running command and every later one end at once
    // (status 2), so a requester blocked on an answer is released without waiting out its limit.
    void endAllCommands();

public slots:
    void startApiService();
    void startAliveTimer();
    void stillAlive();
    void handleIdentifyInfo(const Kubus::IdentifyInfo& info);
    void handleFoundNodes(const Kubus::IdentifyFoundNodes& nodes);
    void handleNewNodes(const Kubus::IdentifyNewNodes& nodes);
    void handleMissingNodes(const Kubus::IdentifyMissingNodes& nodes);
    void handleReadError(const CanBus::CanException& exception);

signals:
    void stopService();
    void nodesChanged(const Kubus::IdentifyFoundNodes& nodes);
    void nodesChanged(const Kubus::IdentifyNewNodes& nodes);
    void nodesChanged(const Kubus::IdentifyMissingNodes& nodes);
    void signalAliveTimerStart();
    // The device failed (see isDeviceLost); every running and later command has failed.
    void deviceLost(const CanBus::CanException& exception);
    // Another controller sends identify requests on the bus (emitted in the spontaneous thread).
    void otherBusMaster();

protected:
    Proxy(CanDevice* device, CanIdentifier::eDestination destination, const QString& nodeCacheFile);

    virtual void addCommands(CanNodeEngine& engine, QState* idle) = 0;
    // connectToNode of the concrete bus type.
    virtual bool connectToNode(
        int nodeId, const QString& signal, QObject* receiver, const QString& slot)
        = 0;

    void addNodeStateMachine(unsigned nodeId);
    void addCommand(
        QState* idle, StateMachineCommandBase* command, const QString& name = QString());
    void addFirmwareUpdate(FirmwareUpdate* command, QState* idle, Kubus::Bus* bus);
    // Reset, Ping, Operate, then the bus's own commands, and the firmware transfer last: the
    // commands of a node on either bus.
    void addNodeCommands(
        CanNodeEngine& engine, QState* idle, const QList<StateMachineCommandBase*>& busCommands);

    Kubus::Bus* m_bus = nullptr;
    SpontaneousBase* m_spontaneous = nullptr;

private:
    QThread m_proxyThread;
    QThread m_spontaneousThread;
    QThread m_ioThread;
    CanDevice* m_device;
    CanAsyncReadWrite* m_pair = nullptr;
    // Commands and engines are added in the proxy thread and looked up from others.
    mutable QMutex m_nodesMutex;
    QList<StateMachineCommandBase*> m_commands;
    CanSpontaneousMessageFactory* m_spontaneousFactory;
    CanFilter* m_filter;
    QHash<unsigned, CanNodeEngine*> m_engines;
    CanDestinationSetter* m_destinationSetter;
    IdentifyModule* m_identifyModule;
    std::atomic<int> m_firmwareTimeout { -1 };
    const CanIdentifier::eDestination m_destination;
    bool m_started = false;
    bool m_stopOnOtherBusMaster = true;
    std::atomic<bool> m_deviceLost { false };
};

} // namespace CanBus
