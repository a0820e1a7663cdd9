#include "canbus/frame/canidentifier.h"

namespace CanBus {

CanIdentifier::CanIdentifier(eCanMessageType type, unsigned priority)
{
    setMessageType(type);
    setPriority(priority);
}

QString CanIdentifier::toString(eDestination destination)
{
    switch (destination) {
    case MainBoard:
        return QStringLiteral("MainBoard");
    case PowerAmplifier:
        return QStringLiteral("PowerAmplifier");
    case Broadcast:
        return QStringLiteral("Broadcast");
    }
    return QStringLiteral("Unknown");
}

} // namespace CanBus
