#include "kubus/thread/threadutils.h"

#include "kubus/thread/signaledunblocker.h"

#include <QThread>
#include <QtGlobal>

namespace Kubus {

void waitForRunning(QThread& thread)
{
    if (thread.isRunning())
        return;
    // One start only: once started() came, the thread has run. Looking at isRunning() again
    // would start a thread over that is just finishing (it is no longer "running" then).
    SignaledUnblocker unblocker(&thread, SIGNAL(started()));
    thread.start(QThread::TimeCriticalPriority);
    unblocker.block();
}

void waitForFinished(QThread& thread)
{
    thread.wait();
}

void useQtEventDispatcher()
{
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
}

} // namespace Kubus
