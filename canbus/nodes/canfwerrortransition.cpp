#include "canbus/nodes/canfwerrortransition.h"

namespace CanBus {

CanFwErrorTransition::CanFwErrorTransition(CanNodeEngine& engine, QState* source)
    : CanErrorTransition(engine, source)
{
}

bool CanFwErrorTransition::isError(unsigned code, const CanIdentifier& rejected)
{
    switch (code) {
    case 4:
    case 32:
    case 33:
    case 34:
    case 36:
        printError(QStringLiteral("A_ERROR_ACK"), code, rejected);
        return true;
    default:
        return CanErrorTransition::isError(code, rejected);
    }
}

} // namespace CanBus
