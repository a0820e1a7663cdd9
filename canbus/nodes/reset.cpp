#include "canbus/nodes/reset.h"

#include "canbus/engine/bufferedsignaltransition.h"
#include "canbus/frame/canmessaget.h"
#include "canbus/nodes/timedwaitchart.h"
#include "canbus/routing/canmessagefactory.h"

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
    const TimedWaitChart chart = buildTimedWaitChart(*this, m_waitTimer, WaitMs, parent);
    new ResetTransition(*this, chart.send, chart.wait);
    new BufferedSignalTransition(stateMachine(),
        m_engine.canMessageFactory().signalObject<SCM_RESET_MODULE>(), CanMessageType::signalName(),
        chart.done, chart.wait);
    new BufferedSignalTransition(
        stateMachine(), &m_waitTimer, SIGNAL(timeout()), chart.done, chart.wait);
    return chart.root;
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
