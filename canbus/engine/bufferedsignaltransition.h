#pragma once

#include "canbus/frame/canmessage.h"

#include <QSignalTransition>

class QEvent;

namespace CanBus {

class StateMachine;

// The signal transition of every CAN state chart. It is made before its states are put into the
// node's machine, so it registers itself with that machine; the framework then connects it
// whenever its source state becomes active. A signal that arrives while no state waiting for it
// is active is not kept for later.
class BufferedSignalTransition : public QSignalTransition {
    Q_OBJECT

public:
    // signal as given by SIGNAL(...); source, when given, gets the transition.
    BufferedSignalTransition(StateMachine& machine, const QObject* sender, const char* signal,
        QAbstractState* target, QState* source = nullptr);

    StateMachine& canStateMachine() const { return m_machine; }

    // The frame a signal event carries as its single argument. Logs what is wrong, if asked,
    // with the texts the chart's transitions share.
    static bool isSignalEvent(const QEvent* event, bool log = true);
    static bool canMessageArgument(const QEvent* event, CanMessage* message, bool log = true);

private:
    StateMachine& m_machine;
};

} // namespace CanBus
