#include "canbus/nodes/ping.h"

#include "canbus/engine/bufferedsignaltransition.h"
#include "canbus/frame/canmessaget.h"
#include "canbus/nodes/timedwaitchart.h"
#include "canbus/routing/canmessagefactory.h"

namespace CanBus {

namespace {

class PingSendTransition : public BufferedSignalTransition {
public:
    PingSendTransition(Ping& ping, QState* source, QAbstractState* target)
        : BufferedSignalTransition(ping.stateMachine(), source, SIGNAL(entered()), target, source)
        , m_ping(ping)
    {
    }

protected:
    void onTransition(QEvent*) override { m_ping.sendPing(); }

private:
    Ping& m_ping;
};

class PingResultTransition : public BufferedSignalTransition {
public:
    PingResultTransition(Ping& ping, const QObject* sender, const char* signal, bool alive,
        QState* source, QAbstractState* target)
        : BufferedSignalTransition(ping.stateMachine(), sender, signal, target, source)
        , m_ping(ping)
        , m_alive(alive)
    {
    }

protected:
    void onTransition(QEvent*) override { m_ping.setAlive(m_alive); }

private:
    Ping& m_ping;
    bool m_alive;
};

// Any identify frame of the node within the wait.
class PingAckTransition : public PingResultTransition {
public:
    PingAckTransition(Ping& ping, QState* source, QAbstractState* target)
        : PingResultTransition(ping,
            ping.canNodeEngine().canMessageFactory().signalObject<SCM_IDENTIFY>(),
            CanMessageType::signalName(), true, source, target)
    {
    }
};

class PingTimeoutTransition : public PingResultTransition {
public:
    PingTimeoutTransition(Ping& ping, QTimer& waitTimer, QState* source, QAbstractState* target)
        : PingResultTransition(ping, &waitTimer, SIGNAL(timeout()), false, source, target)
    {
    }
};

} // namespace

Ping::Ping(CanNodeEngine& engine, QObject* parent)
    : StateMachineCommand<Kubus::Ping>(engine, parent)
    , m_waitTimer(this)
{
}

QState* Ping::state(QState* parent)
{
    const TimedWaitChart chart = buildTimedWaitChart(*this, m_waitTimer, WaitMs, parent);
    new PingSendTransition(*this, chart.send, chart.wait);
    new PingAckTransition(*this, chart.wait, chart.done);
    new PingTimeoutTransition(*this, m_waitTimer, chart.wait, chart.done);
    return chart.root;
}

void Ping::setCurrentRequest(const Kubus::Ping& request)
{
    m_alive = false;
    m_nodeId = quint8(request.nodeId & 0xFF);
}

void Ping::sendPing()
{
    CanMessageT<SCM_IDENTIFY> frame;
    frame.setNodeId(CanIdentifier::BroadcastNodeId);
    frame.setScmPartNumber(quint16(91204400u & 0xFFFF));
    frame.setScmVariantNumber(1);
    frame.setScmSerialNumber(4711);
    frame.setNodeId(m_nodeId);
    m_engine.canMessageFactory().sendMessage(frame);
}

void Ping::dataWritten()
{
    m_response.alive = m_alive;
    StateMachineCommand<Kubus::Ping>::dataWritten();
}

void Ping::incomingMessage(const Kubus::Ping& request)
{
    queueRequest(request);
}

} // namespace CanBus
