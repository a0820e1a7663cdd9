#pragma once

#include "kubus/request/statemachine.h"

#include <QMutex>
#include <QQueue>

namespace Kubus {
class RequestInfo;
}

namespace CanBus {

class StateMachineCommandBase;

// The command state machine of one node: requests queue up as jobs and run strictly one at a
// time, in arrival order. Jobs are added from the bus's thread; the queue is examined only in the
// machine's own thread, when the node's idle state is entered.
class StateMachine : public Kubus::StateMachine {
    Q_OBJECT

public:
    struct Job {
        quint32 jobId = 0;
        Kubus::RequestInfo* info = nullptr; // owned until handed to the command
        StateMachineCommandBase* command = nullptr;
    };

    explicit StateMachine(QObject* parent = nullptr);
    ~StateMachine() override;

    // The id after previous; 0 never names a job, so ids wrap from 4294967295 to 1.
    static quint32 nextJobId(quint32 previous)
    {
        return previous == 0xFFFFFFFFu ? 1 : previous + 1;
    }

    // Callable from any thread.
    void addJob(StateMachineCommandBase* command, Kubus::RequestInfo* info);
    void jobFinished(unsigned jobId);

    int queuedJobs() const;
    // Ends the running job, if there is one, as a CAN communication error (status 2): the
    // owner's way out when the bus itself has failed. Callable from any thread.
    void failRunningJob() { emit runningJobFailRequested(); }

public slots:
    void testNextJob();
    void setIdle();
    // Once the machine has finished (the node's service stopped) no job can run any more; each
    // one left is answered as timed out, so that no requester waits for ever.
    void answerLeftJobs();

signals:
    void triggerTestNextJob();
    void runningJobFailRequested();

private:
    // Guards the fields below; the command's nextRequest runs after it is released, since the
    // command may add jobs itself or take long.
    mutable QMutex m_mutex;
    bool m_busy = false;
    quint32 m_jobCounter = 0;
    QQueue<Job> m_jobs;
    Job m_currentJob;
};

} // namespace CanBus
