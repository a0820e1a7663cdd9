#include "kubus/thread/signaledunblocker.h"

namespace Kubus {

SignaledUnblocker::SignaledUnblocker(QObject* sender, const char* signal)
{
    m_thread.setObjectName(QStringLiteral("SignaledUnblocker"));
    moveToThread(&m_thread);
    m_thread.start(QThread::TimeCriticalPriority);
    connect(sender, signal, this, SLOT(unblock()), Qt::QueuedConnection);
}

SignaledUnblocker::~SignaledUnblocker()
{
    m_thread.quit();
    m_thread.wait();
    // Taken once so that an unblock() that just ran is seen as done, also by the thread checker,
    // which cannot see through QThread::wait().
    std::lock_guard<std::mutex> lock(m_mutex);
}

void SignaledUnblocker::block()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    // The flag, not the wake-up, is what counts: unblock() may have run before we got here.
    m_condition.wait(lock, [this] { return m_unblocked; });
}

void SignaledUnblocker::unblock()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_unblocked = true;
    m_condition.notify_all();
}

} // namespace Kubus
