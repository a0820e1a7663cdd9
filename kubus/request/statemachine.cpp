#include "kubus/request/statemachine.h"

#include "kubus/log/kulog.h"
#include "kubus/request/request.h"

#include <QEventLoop>
#include <QSignalTransition>
#include <QState>

namespace Kubus {

void connectSignalTransitions(QStateMachine* machine, QSignalTransition* transition)
{
    if (!machine || !transition)
        return;
    // Qt 4 needed every signal transition registered with its machine by hand. Qt 6 connects a
    // transition when its source state is entered and reconnects it when its sender or signal
    // changes while that state is active; what is left is a transition whose state is active
    // right now: setting the sender anew reconnects it to what it holds at this moment.
    QAbstractState* source = transition->sourceState();
    if (!machine->isRunning() || !source || !machine->configuration().contains(source))
        return;
    const QObject* sender = transition->senderObject();
    transition->setSenderObject(nullptr);
    transition->setSenderObject(sender);
}

void connectAllSignalTransitions(QStateMachine* machine)
{
    if (!machine)
        return;
    const auto transitions = machine->findChildren<QSignalTransition*>();
    for (QSignalTransition* transition : transitions) {
        if (transition->machine() != machine) {
            kuPrint("QSignalTransition has wrong state machine", Q_FUNC_INFO);
            continue;
        }
        connectSignalTransitions(machine, transition);
    }
}

StateMachine::StateMachine(QObject* parent)
    : QStateMachine(parent)
{
    connect(this, &QStateMachine::started, this, &StateMachine::machineStarted);
    connect(this, &QStateMachine::finished, this, &StateMachine::machineFinished);
}

void StateMachine::start()
{
    connectAllSignalTransitions(this);
    finished = false;
    QStateMachine::start();
}

void StateMachine::start(QObject* sender)
{
    // By class name, so that this layer needs no generated bus; a mainboard sub-bus delivers in
    // the same thread as the bus for all nodes and counts as well.
    if (sender && sender->inherits("Kubus::MainBoardBus")) {
        kuPrint(errorBanner("ERROR in Kubus StateMachine: start called while processing a Kubus "
                            "message."),
            Q_FUNC_INFO);
        qFatal("Exiting now");
    }
    start();
}

void StateMachine::waitForFinished()
{
    if (finished)
        return;
    QEventLoop loop;
    connect(this, &QStateMachine::finished, &loop, &QEventLoop::quit);
    connect(this, &QStateMachine::stopped, &loop, &QEventLoop::quit);
    loop.exec();
}

void StateMachine::machineStarted()
{
    finished = false;
}

void StateMachine::machineFinished()
{
    finished = true;
}

} // namespace Kubus
