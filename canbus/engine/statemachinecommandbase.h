#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <atomic>

class QAbstractTransition;
class QState;
class QTimer;

namespace Kubus {
class RequestInfo;
}

namespace CanBus {

class CanNodeEngine;
class StateMachine;

// Base of every command of a node. A command owns one outer state in the node's machine that
// wraps its working state with the command's time-out, the reaction to a node's error frame and
// the logging of events nothing consumed:
//
//   O: W (working, initial) --W finished--> F (final)
//      --timer timeout--> T --T entered--> F        (timeoutError, status 1)
//      --A_ERROR_ACK judged an error--> E --E entered--> F   (canCommunicationError, status 2)
//      --machine's runningJobFailRequested--> L --L entered--> F   (the same, status 2)
//      CanDeferredTransition (never fires, only logs)
//
// The idle state of the node moves to O on triggered() and back when O finishes, so exactly one
// command is inside its outer state at any time.
class StateMachineCommandBase : public QObject {
    Q_OBJECT

public:
    static constexpr int DefaultTimeoutMs = 15000;

    explicit StateMachineCommandBase(CanNodeEngine& engine, QObject* parent = nullptr);
    ~StateMachineCommandBase() override;

    CanNodeEngine& canNodeEngine() const { return m_engine; }
    StateMachine& stateMachine() const { return m_stateMachine; }
    unsigned currentJobId() const { return m_currentJobId; }

    // ms <= 0: no time-out. Takes effect from the next job on.
    void setTimeoutInterval(int ms);
    int timeoutInterval() const { return m_timeoutInterval; }
    // Milliseconds since the current job was triggered.
    qint64 elapsed() const { return m_elapsed.isValid() ? m_elapsed.elapsed() : 0; }

    // The A_ERROR_ACK code with which the node ended the last job; 0 when it ended otherwise.
    int lastErrorCode() const { return m_lastErrorCode.load(); }

    // The outer state, built on the first call.
    virtual QState* commandState();
    virtual void nextRequest(unsigned jobId, Kubus::RequestInfo* info) = 0;
    // A job that can no longer run; the default only deletes the request.
    virtual void abandonJob(unsigned jobId, Kubus::RequestInfo* info);
    virtual void dataWritten() = 0;
    virtual void timeoutError() = 0;
    virtual void canCommunicationError() = 0;
    // The command's working state, made as a child of parent.
    virtual QState* state(QState* parent) = 0;
    // The reaction to A_ERROR_ACK frames; null for none. Default: a CanErrorTransition.
    virtual QAbstractTransition* errorTransition(CanNodeEngine& engine);

signals:
    void triggered();
    void started();
    void finished();

public slots:
    void commandTriggered();
    void commandFinished();
    void slotTimeout();
    void slotCanCommunicationError();
    void slotDataWritten();
    void startTimeoutTimer();
    void stopTimeoutTimer();

protected:
    CanNodeEngine& m_engine;
    unsigned m_currentJobId = 0;
    int m_timeoutInterval = DefaultTimeoutMs;
    QTimer* const m_timer;
    QElapsedTimer m_elapsed;
    StateMachine& m_stateMachine;
    QState* m_outerState = nullptr;
    std::atomic<int> m_lastErrorCode { 0 };
};

} // namespace CanBus
