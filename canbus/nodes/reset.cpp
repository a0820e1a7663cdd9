#include "canbus/nodes/reset.h"

#include "canbus/bufferedsignaltransition.h"
#include "canbus/canmessagefactory.h"
#include "canbus/canmessaget.h"

#include <QFinalState>
#include <QState>

namespace CanBus {

namespace {

class ResetTransition : public BufferedSignalTransition {
public:
    ResetTransition(Reset& reset, QState* source, QAbstractState* target)
        : BufferedSignalTransition(reset.stateMachine(), source, SIGNAL(entered()), target, source)
        , m_reset(reset)
    {
    }

protected:
    void onTransition(QEvent*) override { m_reset.sendReset(); }

private:
    Reset& m_reset;
};

} // namespace

Reset::Reset(CanNodeEngine& engine, QObject* parent)
    : StateMachineCommand<Kubus::Reset>(engine, parent)
    , m_waitTimer(this)
{
}

QState* Reset::state(QState* parent)
{
    m_waitTimer.setInterval(WaitMs);
    m_waitTimer.setSingleShot(true);

    auto* root = new QState(parent);
    auto* send = new QState(root);
    auto* wait = new QState(root);
    auto* done = new QFinalState(root);
    root->setInitialState(send);

    new ResetTransition(*this, send, wait);
    connect(wait, &QState::entered, &m_waitTimer, qOverload<>(&QTimer::start));
    new BufferedSignalTransition(stateMachine(),
        m_engine.canMessageFactory().signalObject<SCM_RESET_MODULE>(), CanMessageType::signalName(),
        done, wait);
    new BufferedSignalTransition(stateMachine(), &m_waitTimer, SIGNAL(timeout()), done, wait);
    connect(done, &QState::entered, this, &StateMachineCommandBase::slotDataWritten);
    return root;
}

void Reset::sendReset()
{
    m_engine.canMessageFactory().sendMessage(CanMessageT<SCM_RESET_MODULE>());
}

void Reset::incomingMessage(const Kubus::Reset& request)
{
    queueRequest(request);
}

} // namespace CanBus
