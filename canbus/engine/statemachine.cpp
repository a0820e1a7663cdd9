#include "canbus/engine/statemachine.h"

#include "canbus/engine/statemachinecommandbase.h"
#include "kubus/log/kulog.h"
#include "kubus/request/requestinfo.h"

namespace CanBus {

StateMachine::StateMachine(QObject* parent)
    : Kubus::StateMachine(parent)
{
    connect(this, &StateMachine::triggerTestNextJob, this, &StateMachine::testNextJob,
        Qt::QueuedConnection);
    connect(this, &QStateMachine::finished, this, &StateMachine::answerLeftJobs);
}

StateMachine::~StateMachine()
{
    for (const Job& job : std::as_const(m_jobs))
        delete job.info;
}

void StateMachine::addJob(StateMachineCommandBase* command, Kubus::RequestInfo* info)
{
    QMutexLocker locker(&m_mutex);
    m_jobCounter = nextJobId(m_jobCounter);
    m_jobs.enqueue(Job { m_jobCounter, info, command });
    emit triggerTestNextJob();
}

void StateMachine::testNextJob()
{
    if (isFinished()) {
        answerLeftJobs();
        return;
    }
    QMutexLocker locker(&m_mutex);
    // A job queued before the machine runs waits for the idle state's first entry: the
    // command's triggered() would find no active transition and the job would be lost.
    if (m_busy || m_jobs.isEmpty() || !isRunning())
        return;
    m_busy = true;
    m_currentJob = m_jobs.dequeue();
    const Job job = m_currentJob;
    locker.unlock();
    job.command->nextRequest(job.jobId, job.info);
}

void StateMachine::setIdle()
{
    QMutexLocker locker(&m_mutex);
    m_busy = false;
    emit triggerTestNextJob();
}

void StateMachine::answerLeftJobs()
{
    QQueue<Job> left;
    {
        QMutexLocker locker(&m_mutex);
        left.swap(m_jobs);
    }
    for (const Job& job : std::as_const(left)) {
        Kubus::kuPrint(
            QStringLiteral("Job %1 not run: the node's state machine has finished").arg(job.jobId),
            Q_FUNC_INFO);
        job.command->abandonJob(job.jobId, job.info);
    }
}

void StateMachine::jobFinished(unsigned jobId)
{
    QMutexLocker locker(&m_mutex);
    if (jobId != m_currentJob.jobId)
        Kubus::kuPrint("Error in StateMachine, a wrong job has finished.", Q_FUNC_INFO);
}

int StateMachine::queuedJobs() const
{
    QMutexLocker locker(&m_mutex);
    return int(m_jobs.size());
}

} // namespace CanBus
