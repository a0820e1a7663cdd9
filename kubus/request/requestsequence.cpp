#include "kubus/request/requestsequence.h"

#include "kubus/log/kulog.h"
#include "kubus/request/request.h"

namespace Kubus {

RequestSequence::RequestSequence(QObject* parent)
    : StateMachine(parent)
{
    timer.setSingleShot(true);
    // A coarse timer may fire up to 5 % early, which would cut a sequence short by seconds.
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(timeoutMs);
    connect(&timer, &QTimer::timeout, this, &RequestSequence::machineTimeout);
    connect(this, &QStateMachine::finished, &timer, &QTimer::stop);
}

void RequestSequence::process(QObject* sender)
{
    if (!lastRequest) {
        kuPrint("Error: No request available.", Q_FUNC_INFO);
        return;
    }
    if (!end) {
        end = new QFinalState(this);
        lastRequest->addTransition(lastRequest, &QState::finished, end);
        connect(this, &QStateMachine::started, &timer, qOverload<>(&QTimer::start));
    }
    if (!isRunning())
        start(sender);
    waitForFinished();
}

void RequestSequence::machineTimeout()
{
    stop();
    finished = true;
    kuPrint(errorBanner("ERROR in Kubus RequestSequence: timeout."), Q_FUNC_INFO);
}

} // namespace Kubus
