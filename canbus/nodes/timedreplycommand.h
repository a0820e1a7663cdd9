#pragma once

#include "canbus/bufferedsignaltransition.h"
#include "canbus/nodes/sendmessage.h"
#include "canbus/sendmessageandwaitforacknowledgestate.h"
#include "canbus/statemachinecommand.h"

#include <QAbstractTransition>
#include <QTimer>

namespace CanBus {

// A command that sends one frame of TYPE to its node and waits at most WaitMs for the node's
// frame of the same type. Either way the job is done with status 0: a node that is silent or busy
// restarting is an answer here, never a time-out of the command.
//
//   Send --entered / frame--> Wait --node's TYPE frame (nodeAnswered)--> Done
//                             Wait --wait timer---------------------------> Done
//
// The wait timer is not stopped by an answer: its later timeout() finds Wait left and is dropped.
template <class Request, eCanMessageType TYPE>
class TimedReplyCommand : public StateMachineCommand<Request> {
public:
    static constexpr int WaitMs = 100;

    using Sender = SendMessage<TYPE>;

    TimedReplyCommand(
        CanNodeEngine& engine, typename Sender::Builder builder, QObject* parent = nullptr)
        : StateMachineCommand<Request>(engine, parent)
        , m_sender(engine.canMessageFactory(), std::move(builder))
        , m_waitTimer(this)
    {
    }

    QState* state(QState* parent) override
    {
        m_waitTimer.setInterval(WaitMs);
        m_waitTimer.setSingleShot(true);

        auto* root = new SendMessageAndWaitForAcknowledgeState<Sender, TYPE>(
            this->m_engine, m_sender, parent);
        QObject::connect(
            root->waitState(), &QState::entered, &m_waitTimer, qOverload<>(&QTimer::start));
        // triggered() comes before Done is entered, so the answer is known when the job ends.
        QObject::connect(
            root->ackTransition(), &QAbstractTransition::triggered, this,
            [this] { nodeAnswered(); }, Qt::DirectConnection);
        new BufferedSignalTransition(this->stateMachine(), &m_waitTimer, SIGNAL(timeout()),
            root->doneState(), root->waitState());
        QObject::connect(
            root->doneState(), &QState::entered, this, &StateMachineCommandBase::slotDataWritten);
        return root;
    }

protected:
    // The node's frame came within the wait.
    virtual void nodeAnswered() { }

private:
    Sender m_sender;
    QTimer m_waitTimer;
};

} // namespace CanBus
