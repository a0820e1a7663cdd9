#include "kubus/threadutils.h"

#include "kubus/signaledunblocker.h"

#include <QThread>

namespace Kubus {

void waitForRunning(QThread& thread)
{
    while (!thread.isRunning()) {
        SignaledUnblocker unblocker(&thread, SIGNAL(started()));
        thread.start(QThread::TimeCriticalPriority);
        unblocker.block();
        // It did start; a thread that is already done again must not be started over and over.
        if (thread.isFinished())
            break;
    }
}

void waitForFinished(QThread& thread)
{
    thread.wait();
}

} // namespace Kubus
