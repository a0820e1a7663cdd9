#pragma once

#include <QStateMachine>

class QSignalTransition;

namespace Kubus {

// Makes sure a signal transition listens to the sender and signal it has now, also when they were
// set after the transition was put into the machine. Nothing for a null machine.
void connectSignalTransitions(QStateMachine* machine, QSignalTransition* transition);
// The same for every signal transition below the machine's root state; a transition that belongs
// to another machine is reported and left alone.
void connectAllSignalTransitions(QStateMachine* machine);

// A state machine whose caller can block (while still processing its own events) until the
// machine has finished or was stopped.
class StateMachine : public QStateMachine {
    Q_OBJECT
public:
    explicit StateMachine(QObject* parent = nullptr);

    void start();
    // Refuses, fatally, a start from a slot the mainboard bus is delivering: the machine would
    // run a nested event loop inside the bus's delivery.
    void start(QObject* sender);
    void waitForFinished();

    bool isFinished() const { return finished; }

public slots:
    void machineStarted();
    void machineFinished();

protected:
    bool finished = false;
};

} // namespace Kubus
