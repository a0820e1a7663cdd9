#pragma once

#include "canbus/commands/sendmessagetransition.h"
#include "canbus/engine/bufferedsignaltransition.h"
#include "canbus/engine/cannodeengine.h"
#include "canbus/routing/canmessagefactory.h"

#include <QFinalState>
#include <QState>

namespace CanBus {

// One confirmed step: entering it sends the sender's frame; it finishes when the node sends a
// frame of TYPE back. No time limit of its own: the command's time-out bounds it.
//
//   S --S entered / sender.sendCanMessage()--> W --frame of TYPE--> F
template <class SENDER, eCanMessageType TYPE>
class SendMessageAndWaitForAcknowledgeState : public QState {
public:
    SendMessageAndWaitForAcknowledgeState(
        CanNodeEngine& engine, SENDER& sender, QState* parent = nullptr)
        : QState(parent)
        , m_send(new QState(this))
        , m_wait(new QState(this))
        , m_done(new QFinalState(this))
    {
        StateMachine& machine = engine.stateMachine();
        setInitialState(m_send);
        m_sendTransition = new SendMessageTransition<SENDER>(
            machine, m_send, SIGNAL(entered()), sender, m_wait, m_send);
        m_ackTransition
            = new BufferedSignalTransition(machine, engine.canMessageFactory().signalObject(TYPE),
                CanMessageType::signalName(), m_done, m_wait);
    }

    QState* sendState() const { return m_send; }
    QState* waitState() const { return m_wait; }
    QFinalState* doneState() const { return m_done; }
    SendMessageTransition<SENDER>* sendTransition() const { return m_sendTransition; }
    BufferedSignalTransition* ackTransition() const { return m_ackTransition; }

private:
    QState* const m_send;
    QState* const m_wait;
    QFinalState* const m_done;
    SendMessageTransition<SENDER>* m_sendTransition = nullptr;
    BufferedSignalTransition* m_ackTransition = nullptr;
};

} // namespace CanBus
