#include "canbus/routing/canfilter.h"

#include "canbus/routing/canmessagefactory.h"
#include "canbus/routing/canspontaneousmessagefactory.h"

#include <mutex>

namespace CanBus {

CanFilter::CanFilter(CanSpontaneousMessageFactory& spontaneousFactory, QObject* parent)
    : QObject(parent)
    , m_spontaneousFactory(spontaneousFactory)
{
}

void CanFilter::registerCanMessageFactory(unsigned nodeId, CanMessageFactory& factory)
{
    std::unique_lock<std::shared_mutex> locker(m_lock);
    if (!m_factories.contains(nodeId))
        m_factories.insert(nodeId, &factory);
}

CanMessageFactory* CanFilter::canMessageFactory(unsigned nodeId) const
{
    std::shared_lock<std::shared_mutex> locker(m_lock);
    return m_factories.value(nodeId, nullptr);
}

void CanFilter::incommingMessage(const CanMessage& message)
{
    switch (message.messageType()) {
    case SCM_IDENTIFY:
    case SCM_SET_ADDR_OP:
    case SCM_SET_ADDR_CO:
    case A_ERROR_ACK:
        emit identifyMessage(message);
        break;
    default:
        break;
    }
    if (m_spontaneousFactory.isRegistered(message))
        emit spontaneousMessage(message);
    // Called directly: the node's factory is only a relay to its signal objects, whose signals
    // reach the node's state machine as queued events.
    if (CanMessageFactory* factory = canMessageFactory(message.nodeId()))
        factory->interpretIncomingCanMessage(message);
}

} // namespace CanBus
