#include "canbus/engine/cannodeengine.h"

#include "canbus/engine/statemachine.h"
#include "canbus/routing/canmessagefactory.h"
#include "kubus/thread/threadstopper.h"

#include <QThread>

namespace CanBus {

CanNodeEngine::CanNodeEngine(unsigned nodeId)
    : m_factory(new CanMessageFactory(nodeId))
    , m_stateMachine(new StateMachine)
    , m_thread(new QThread)
{
    m_thread->setObjectName(QStringLiteral("CanNode%1").arg(nodeId));
}

CanNodeEngine::~CanNodeEngine()
{
    // The machine and the factory live in the node's thread; they are deleted only once it has
    // ended, so none of their slots can run during the deletion.
    Kubus::ThreadStopper::processEventsAndStop(*m_thread);
    delete m_stateMachine;
    delete m_factory;
    delete m_thread;
}

unsigned CanNodeEngine::nodeId() const
{
    return m_factory->nodeId();
}

} // namespace CanBus
