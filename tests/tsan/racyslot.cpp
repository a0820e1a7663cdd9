// Deliberately wrong: `counter` is changed in a slot run by a worker thread and in the main
// thread without a lock. Built only with the thread checker, which must report it.
#include <QCoreApplication>
#include <QThread>

#include <cstdio>

namespace {
int counter = 0;
}

class RacySlot : public QObject {
    Q_OBJECT
public slots:
    void bump()
    {
        ++counter;
        QThread::currentThread()->quit();
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QThread worker;
    RacySlot racy;
    racy.moveToThread(&worker);
    worker.start();
    QMetaObject::invokeMethod(&racy, "bump", Qt::QueuedConnection);
    QThread::msleep(100);
    ++counter;
    worker.wait();
    std::printf("counter %d\n", counter);
    return 0;
}

#include "racyslot.moc"
