#include "canbus/routing/candestinationsetter.h"

namespace CanBus {

CanDestinationSetter::CanDestinationSetter(CanIdentifier::eDestination destination, QObject* parent)
    : QObject(parent)
    , m_destination(destination)
{
}

void CanDestinationSetter::inMessage(const CanMessage& message)
{
    CanMessage copy(message);
    copy.setDestination(unsigned(m_destination) & 0xFu);
    emit outMessage(copy);
}

} // namespace CanBus
