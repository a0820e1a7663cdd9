#include "canbus/engine/bufferedsignaltransition.h"

#include "canbus/engine/statemachine.h"
#include "kubus/log/kulog.h"

#include <QStateMachine>

namespace CanBus {

BufferedSignalTransition::BufferedSignalTransition(StateMachine& machine, const QObject* sender,
    const char* signal, QAbstractState* target, QState* source)
    : QSignalTransition(sender, signal, source)
    , m_machine(machine)
{
    setTargetState(target);
    Kubus::connectSignalTransitions(&machine, this);
}

bool BufferedSignalTransition::isSignalEvent(const QEvent* event, bool log)
{
    if (event && event->type() == QEvent::StateMachineSignal)
        return true;
    if (log)
        Kubus::kuPrint("State machine error: not a QStateMachine::SignalEvent", Q_FUNC_INFO);
    return false;
}

bool BufferedSignalTransition::canMessageArgument(
    const QEvent* event, CanMessage* message, bool log)
{
    if (!isSignalEvent(event, log))
        return false;
    const auto* signalEvent = static_cast<const QStateMachine::SignalEvent*>(event);
    const QList<QVariant> arguments = signalEvent->arguments();
    if (arguments.size() == 1 && arguments.first().canConvert<CanMessage>()) {
        if (message)
            *message = arguments.first().value<CanMessage>();
        return true;
    }
    if (log)
        Kubus::kuPrint("State machine error: not a CanBus::CanMessage argument", Q_FUNC_INFO);
    return false;
}

} // namespace CanBus
