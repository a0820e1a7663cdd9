#pragma once

#include "canbus/frame/canmessage.h"

#include <QHash>
#include <QObject>

#include <mutex>
#include <shared_mutex>

namespace CanBus {

class CanMessageFactory;
class CanSpontaneousMessageFactory;

// Hands every frame read from a bus to whoever waits for it: node discovery, the spontaneous
// handlers and the state machine of the node that sent it. A frame may take several paths.
class CanFilter : public QObject {
    Q_OBJECT

public:
    explicit CanFilter(CanSpontaneousMessageFactory& spontaneousFactory, QObject* parent = nullptr);

    // The first registration for a node id stays.
    void registerCanMessageFactory(unsigned nodeId, CanMessageFactory& factory);
    CanMessageFactory* canMessageFactory(unsigned nodeId) const;

public slots:
    void incommingMessage(const CanBus::CanMessage& message);

signals:
    void identifyMessage(const CanBus::CanMessage& message);
    void spontaneousMessage(const CanBus::CanMessage& message);

private:
    CanSpontaneousMessageFactory& m_spontaneousFactory;
    // Nodes are added from the proxy's thread while the I/O thread looks up every frame. The
    // standard lock rather than QReadWriteLock: the thread checker follows it, while the recycled
    // private of a contended QReadWriteLock inside Qt makes it report unlocks of destroyed mutexes.
    mutable std::shared_mutex m_lock;
    QHash<unsigned, CanMessageFactory*> m_factories;
};

} // namespace CanBus
