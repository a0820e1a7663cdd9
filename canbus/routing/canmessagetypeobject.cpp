#include "canbus/routing/canmessagetypeobject.h"

namespace CanBus {

CanMessageType::CanMessageType(eCanMessageType type, QObject* parent)
    : QObject(parent)
    , m_type(type)
{
    setObjectName(canMessageTypeName(type));
}

void CanMessageType::canMessageReceived(const CanMessage& message)
{
    emit canMessage(message);
}

const char* CanMessageType::signalName()
{
    return SIGNAL(canMessage(CanMessage));
}

} // namespace CanBus
