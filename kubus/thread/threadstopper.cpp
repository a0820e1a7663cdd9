#include "kubus/thread/threadstopper.h"

#include "kubus/log/kulog.h"
#include "kubus/thread/tsanannotations.h"

#include <QThread>

namespace Kubus {

ThreadStopper::ThreadStopper(QThread* thread)
    : m_thread(thread)
{
    moveToThread(thread);
    connect(
        this, &ThreadStopper::queueQuit, this, &ThreadStopper::quitThread, Qt::QueuedConnection);
    // The thread's last words, so that whoever deletes its objects after the wait is seen to
    // come after them.
    connect(
        thread, &QThread::finished, this, [thread] { ZEF_TSAN_RELEASE(thread); },
        Qt::DirectConnection);
}

void ThreadStopper::stopThread()
{
    emit queueQuit();
    // A thread cannot wait for itself; its loop still ends once it gets to the quit.
    if (QThread::currentThread() == m_thread) {
        kuPrint("Thread asked to stop itself, not waiting", Q_FUNC_INFO);
        return;
    }
    m_thread->wait();
    ZEF_TSAN_ACQUIRE(m_thread);
}

void ThreadStopper::processEventsAndStop(QThread& thread)
{
    if (!thread.isRunning())
        return;
    ThreadStopper stopper(&thread);
    stopper.stopThread();
}

void ThreadStopper::quitThread()
{
    m_thread->quit();
}

} // namespace Kubus
