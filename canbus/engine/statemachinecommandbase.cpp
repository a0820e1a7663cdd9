#include "canbus/engine/statemachinecommandbase.h"

#include "canbus/engine/candeferredtransition.h"
#include "canbus/engine/canerrortransition.h"
#include "canbus/engine/cannodeengine.h"
#include "canbus/engine/statemachine.h"
#include "kubus/log/kulog.h"
#include "kubus/request/requestinfo.h"

#include <QDebug>
#include <QFinalState>
#include <QState>
#include <QTimer>

namespace CanBus {

StateMachineCommandBase::StateMachineCommandBase(CanNodeEngine& engine, QObject* parent)
    : QObject(parent)
    , m_engine(engine)
    , m_timer(new QTimer(this))
    , m_stateMachine(engine.stateMachine())
{
    m_timer->setSingleShot(true);
    // A coarse timer may fire up to 5 % early: a command's time-out is a promise to the node.
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(m_timeoutInterval);
    connect(this, &StateMachineCommandBase::triggered, this,
        &StateMachineCommandBase::commandTriggered);
    connect(
        this, &StateMachineCommandBase::finished, this, &StateMachineCommandBase::commandFinished);
}

StateMachineCommandBase::~StateMachineCommandBase() = default;

void StateMachineCommandBase::setTimeoutInterval(int ms)
{
    m_timeoutInterval = ms;
    if (ms > 0)
        m_timer->setInterval(ms);
}

QState* StateMachineCommandBase::commandState()
{
    if (m_outerState)
        return m_outerState;
    auto* outer = new QState;
    outer->setObjectName(metaObject()->className());
    QState* working = state(outer);
    outer->setInitialState(working);
    auto* timeout = new QState(outer);
    auto* done = new QFinalState(outer);

    working->addTransition(working, &QState::finished, done);
    outer->addTransition(m_timer, &QTimer::timeout, timeout);
    connect(timeout, &QState::entered, this, &StateMachineCommandBase::slotTimeout);
    timeout->addTransition(timeout, &QState::entered, done);

    if (QAbstractTransition* error = errorTransition(m_engine)) {
        auto* errorState = new QState(outer);
        error->setTargetState(errorState);
        outer->addTransition(error);
        connect(errorState, &QState::entered, this,
            &StateMachineCommandBase::slotCanCommunicationError);
        errorState->addTransition(errorState, &QState::entered, done);
        if (auto* canError = qobject_cast<CanErrorTransition*>(error))
            connect(canError, &QAbstractTransition::triggered, this,
                [this, canError] { m_lastErrorCode = int(canError->lastErrorCode()); });
    }
    auto* failed = new QState(outer);
    outer->addTransition(&m_stateMachine, &StateMachine::runningJobFailRequested, failed);
    connect(failed, &QState::entered, this, &StateMachineCommandBase::slotCanCommunicationError);
    failed->addTransition(failed, &QState::entered, done);
    auto* deferred = new CanDeferredTransition;
    deferred->setTargetState(done);
    outer->addTransition(deferred);

    connect(outer, &QState::entered, this, &StateMachineCommandBase::startTimeoutTimer);
    connect(outer, &QState::exited, this, &StateMachineCommandBase::stopTimeoutTimer);
    // Also on reaching the end: a time-out in the step between the end and leaving the outer
    // state would otherwise answer the job a second time.
    connect(done, &QState::entered, this, &StateMachineCommandBase::stopTimeoutTimer);
    connect(working, &QState::entered, this, &StateMachineCommandBase::started);
    connect(outer, &QState::finished, this, &StateMachineCommandBase::finished);
    m_outerState = outer;
    return outer;
}

void StateMachineCommandBase::abandonJob(unsigned, Kubus::RequestInfo* info)
{
    delete info;
}

QAbstractTransition* StateMachineCommandBase::errorTransition(CanNodeEngine& engine)
{
    return new CanErrorTransition(engine);
}

void StateMachineCommandBase::commandTriggered()
{
    m_lastErrorCode = 0;
    m_elapsed.start();
}

void StateMachineCommandBase::commandFinished()
{
    m_stateMachine.jobFinished(m_currentJobId);
    m_currentJobId = 0;
}

void StateMachineCommandBase::slotTimeout()
{
    Kubus::kuPrint("Timeout in command ", Q_FUNC_INFO);
    QString object;
    QDebug(&object) << this;
    Kubus::kuPrint(object, Q_FUNC_INFO);
    timeoutError();
}

void StateMachineCommandBase::slotCanCommunicationError()
{
    Kubus::kuPrint("Error reported by command ", Q_FUNC_INFO);
    canCommunicationError();
}

void StateMachineCommandBase::slotDataWritten()
{
    dataWritten();
}

void StateMachineCommandBase::startTimeoutTimer()
{
    if (m_timeoutInterval > 0)
        m_timer->start();
}

void StateMachineCommandBase::stopTimeoutTimer()
{
    if (m_timeoutInterval > 0)
        m_timer->stop();
}

} // namespace CanBus
