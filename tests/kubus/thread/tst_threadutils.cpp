// ThreadStopper, SignaledUnblocker and waitForRunning against real threads.
#include "kubus/thread/signaledunblocker.h"
#include "kubus/thread/threadstopper.h"
#include "kubus/thread/threadutils.h"

#include <QSemaphore>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>

class Emitter : public QObject {
    Q_OBJECT
signals:
    void fired();
};

// Lives in the thread under test; holds it inside one event, and counts the events that ran.
class Worker : public QObject {
    Q_OBJECT
public:
    QSemaphore entered;
    QSemaphore gate;
    std::atomic<int> ran { 0 };
public slots:
    void hold()
    {
        entered.release();
        gate.acquire();
    }
    void count() { ++ran; }
};

class TestThreadUtils : public QObject {
    Q_OBJECT

private slots:
    void stopRunsPendingEvents();
    void stopNotRunning_data();
    void stopNotRunning();
    void block_data();
    void block();
    void waitForRunning_data();
    void waitForRunning();
};

void TestThreadUtils::stopRunsPendingEvents()
{
    QThread thread;
    Worker worker;
    worker.moveToThread(&thread);
    thread.start();

    // Hold the thread inside one event while the others are posted, so they are all still
    // pending when the stop is asked for.
    QMetaObject::invokeMethod(&worker, "hold", Qt::QueuedConnection);
    QVERIFY(worker.entered.tryAcquire(1, 10000));
    const int posted = 1000;
    for (int i = 0; i < posted; ++i)
        QMetaObject::invokeMethod(&worker, "count", Qt::QueuedConnection);
    worker.gate.release();

    Kubus::ThreadStopper::processEventsAndStop(thread);
    QVERIFY(thread.isFinished());
    QCOMPARE(worker.ran.load(), posted);
}

void TestThreadUtils::stopNotRunning_data()
{
    QTest::addColumn<bool>("runFirst");
    QTest::newRow("never started") << false;
    QTest::newRow("already finished") << true;
}

void TestThreadUtils::stopNotRunning()
{
    QFETCH(bool, runFirst);
    QThread thread;
    if (runFirst) {
        thread.start();
        thread.quit();
        QVERIFY(thread.wait(10000));
    }
    Kubus::ThreadStopper::processEventsAndStop(thread);
    QVERIFY(!thread.isRunning());
}

void TestThreadUtils::block_data()
{
    QTest::addColumn<bool>("signalFirst");
    QTest::newRow("signal already delivered returns at once") << true;
    QTest::newRow("signal while blocked wakes the thread") << false;
}

void TestThreadUtils::block()
{
    QFETCH(bool, signalFirst);
    Emitter emitter;
    Kubus::SignaledUnblocker unblocker(&emitter, SIGNAL(fired()));
    if (signalFirst) {
        emit emitter.fired();
        // Queued behind the unblock call: once this returns, unblock() has run.
        QMetaObject::invokeMethod(
            &unblocker, [] {}, Qt::BlockingQueuedConnection);
    }
    std::unique_ptr<QThread> blocked(QThread::create([&unblocker] { unblocker.block(); }));
    blocked->start();
    if (!signalFirst)
        emit emitter.fired();
    const bool returned = blocked->wait(10000);
    if (!returned) {
        // Let the thread go before failing, so the test ends cleanly.
        emit emitter.fired();
        blocked->wait();
    }
    QVERIFY(returned);
}

void TestThreadUtils::waitForRunning_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("not started: started and running") << 0;
    QTest::newRow("already running: returns") << 1;
    QTest::newRow("ends at once: returns, not started over") << 2;
}

void TestThreadUtils::waitForRunning()
{
    QFETCH(int, kind);
    std::atomic<int> runs { 0 };
    std::unique_ptr<QThread> thread;
    if (kind == 2)
        thread.reset(QThread::create([&runs] { ++runs; }));
    else
        thread = std::make_unique<QThread>();
    if (kind == 1)
        thread->start();

    Kubus::waitForRunning(*thread);
    if (kind == 2) {
        Kubus::waitForFinished(*thread);
        QCOMPARE(runs.load(), 1);
        return;
    }
    QVERIFY(thread->isRunning());
    if (kind == 0)
        QCOMPARE(thread->priority(), QThread::TimeCriticalPriority);
    thread->quit();
    Kubus::waitForFinished(*thread);
    QVERIFY(thread->isFinished());
}

QTEST_MAIN(TestThreadUtils)
#include "tst_threadutils.moc"
