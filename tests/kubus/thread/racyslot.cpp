// Deliberately wrong: `counter` is changed in a slot run by a worker thread and in the main
// thread without a lock. Built only with the thread checker, which must report it however the
// slot is reached: called by name ("invoke"), through a queued signal ("signal") or as a lambda
// connected to one ("lambda").
#include <QCoreApplication>
#include <QThread>

#include <cstdio>

namespace {
int counter = 0;
}

class RacySlot : public QObject {
    Q_OBJECT
signals:
    void poke();
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
    const QByteArray how = argc > 1 ? argv[1] : "invoke";
    QThread worker;
    RacySlot racy;
    RacySlot poker;
    racy.moveToThread(&worker);
    if (how == "signal") {
        QObject::connect(&poker, &RacySlot::poke, &racy, &RacySlot::bump);
    } else if (how == "lambda") {
        QObject::connect(&poker, &RacySlot::poke, &racy, [] {
            ++counter;
            QThread::currentThread()->quit();
        });
    }
    worker.start();
    if (how == "invoke")
        QMetaObject::invokeMethod(&racy, "bump", Qt::QueuedConnection);
    else
        emit poker.poke();
    QThread::msleep(100);
    ++counter;
    worker.wait();
    std::printf("counter %d\n", counter);
    return 0;
}

#include "racyslot.moc"
