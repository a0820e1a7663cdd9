#include "canbus/nodes/reset.h"

namespace CanBus {

Reset::Reset(CanNodeEngine& engine, QObject* parent)
    : TimedReplyCommand(engine, Sender::Builder(), parent)
{
}

void Reset::incomingMessage(const Kubus::Reset& request)
{
    queueRequest(request);
}

} // namespace CanBus
