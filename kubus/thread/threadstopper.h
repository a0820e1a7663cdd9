#pragma once

#include <QObject>

class QThread;

namespace Kubus {

// Stops a thread from outside after it has worked off every event already posted to it: the quit
// travels as one more queued event, so it runs behind them in the thread's own event loop.
class ThreadStopper : public QObject {
    Q_OBJECT

public:
    explicit ThreadStopper(QThread* thread);

    // Queues the quit and waits, without time limit, until the thread has ended.
    void stopThread();

    // Returns at once for a thread that is not running.
    static void processEventsAndStop(QThread& thread);

signals:
    void queueQuit();

public slots:
    void quitThread();

private:
    QThread* m_thread;
};

} // namespace Kubus
