#include "canbus/routing/spontaneousreceiver.h"

namespace CanBus {

SpontaneousReceiver::SpontaneousReceiver(QObject* parent)
    : QObject(parent)
{
}

void SpontaneousReceiver::receive(const CanMessage& message)
{
    handleCanMessage(message);
}

} // namespace CanBus
