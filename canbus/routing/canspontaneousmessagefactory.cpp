#include "canbus/routing/canspontaneousmessagefactory.h"

namespace CanBus {

CanSpontaneousMessageFactory::CanSpontaneousMessageFactory(QObject* parent)
    : QObject(parent)
{
    for (const CanMessageTypeInfo& info : canMessageTypes())
        if (info.spontaneous)
            m_objects.insert(unsigned(info.type), new CanMessageType(info.type, this));
}

bool CanSpontaneousMessageFactory::isRegistered(const CanMessage& message) const
{
    return m_objects.contains(unsigned(message.messageType()));
}

CanMessageType* CanSpontaneousMessageFactory::signalObject(eCanMessageType type) const
{
    return m_objects.value(unsigned(type), nullptr);
}

void CanSpontaneousMessageFactory::interpretIncomingCanMessage(const CanMessage& message)
{
    if (CanMessageType* object = signalObject(message.messageType()))
        object->canMessageReceived(message);
    else
        emit unknownMessage();
}

} // namespace CanBus
