// Cost of the Kubus bus against a bare queued signal between the same two threads:
//  1. records per second from a sender thread through the bus to a listener thread;
//  2. round trip of a blocking request against a responder thread.
// Prints the figures and ends with the request round trip over the bare signal round trip.

#include "kubus/mainboardbus.h"
#include "kubus/request.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>

#include <atomic>
#include <cstdio>

using namespace Kubus;

namespace {
constexpr int Records = 100000;
constexpr int RoundTrips = 10000;
constexpr int Node = 3;
} // namespace

// The bare path: one signal carrying the same record.
class Emitter : public QObject {
    Q_OBJECT
signals:
    void record(const Kubus::MainBoard_TP_TEMP& record);
    void ping(int n);
};

// Counts what arrives and opens the semaphore once all have come.
class Listener : public QObject {
    Q_OBJECT
public:
    QSemaphore all;
    int expected = 0;
    int count = 0;

public slots:
    void onRecord(const Kubus::MainBoard_TP_TEMP&)
    {
        if (++count == expected)
            all.release();
    }
};

// The far side of the bare round trip: answers each ping with a pong.
class Echo : public QObject {
    Q_OBJECT
signals:
    void pong(int n);
public slots:
    void onPing(int n) { emit pong(n); }
};

// The near side: sends the next ping when the pong arrives.
class Pinger : public QObject {
    Q_OBJECT
public:
    QSemaphore done;
    int remaining = 0;
signals:
    void ping(int n);
public slots:
    void onPong(int n)
    {
        if (--remaining == 0)
            done.release();
        else
            emit ping(n + 1);
    }
};

static double seconds(const QElapsedTimer& t)
{
    return t.nsecsElapsed() / 1e9;
}

// Records through `send` from the thread of `senderContext` to `listener`, in seconds.
template <class Send> static double pump(QObject* senderContext, Listener& listener, Send send)
{
    listener.count = 0;
    listener.expected = Records;
    QElapsedTimer timer;
    QSemaphore started;
    QMetaObject::invokeMethod(
        senderContext,
        [&] {
            timer.start();
            started.release();
            MainBoard_TP_TEMP temp;
            temp.nodeId = Node;
            for (int i = 0; i < Records; ++i) {
                temp.value(1) = i;
                send(temp);
            }
        },
        Qt::QueuedConnection);
    started.acquire();
    listener.all.acquire();
    return seconds(timer);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    MainBoardBus* bus = MainBoardBus::instance();
    bus->supportNode(Node);
    bus->start();

    QThread senderThread, listenerThread;
    senderThread.start();
    listenerThread.start();
    auto* senderContext = new QObject;
    senderContext->moveToThread(&senderThread);

    // 1. Throughput.
    Listener listener;
    listener.moveToThread(&listenerThread);
    auto* emitter = new Emitter;
    emitter->moveToThread(&senderThread);
    QObject::connect(emitter, &Emitter::record, &listener, &Listener::onRecord);
    const double bare = pump(senderContext, listener,
        [emitter](const MainBoard_TP_TEMP& r) { emit emitter->record(r); });
    QObject::disconnect(emitter, &Emitter::record, &listener, &Listener::onRecord);

    QObject::connect(bus, qOverload<const MainBoard_TP_TEMP&>(&MainBoardBus::message), &listener,
        &Listener::onRecord);
    const double viaBus
        = pump(senderContext, listener, [bus](const MainBoard_TP_TEMP& r) { bus->send(r); });
    std::printf("records through the bus:        %10.0f per second\n", Records / viaBus);
    std::printf("records through a bare signal:  %10.0f per second\n", Records / bare);

    // 2. Round trips. Bare: a ping from the sender thread's object to an echo in the listener
    // thread and its pong back.
    auto* pinger = new Pinger;
    pinger->moveToThread(&senderThread);
    auto* echo = new Echo;
    echo->moveToThread(&listenerThread);
    QObject::connect(pinger, &Pinger::ping, echo, &Echo::onPing);
    QObject::connect(echo, &Echo::pong, pinger, &Pinger::onPong);
    pinger->remaining = RoundTrips;
    QElapsedTimer timer;
    timer.start();
    QMetaObject::invokeMethod(
        pinger, [pinger] { emit pinger->ping(0); }, Qt::QueuedConnection);
    pinger->done.acquire();
    const double bareTrip = seconds(timer) / RoundTrips;

    // Request: the requester blocks in the sender thread; the responder in the listener thread
    // answers through the bus thread, as a node's command does.
    auto* responder = new QObject;
    responder->moveToThread(&listenerThread);
    QObject::connect(
        bus, qOverload<const Ping&>(&MainBoardBus::message), responder, [bus](const Ping& request) {
            Ping::Response response;
            response.nodeId = request.nodeId;
            QMetaObject::invokeMethod(
                bus, [bus, response] { bus->send(response); }, Qt::QueuedConnection);
        });
    std::atomic<int> failures { 0 };
    QSemaphore requestsDone;
    timer.start();
    QMetaObject::invokeMethod(
        senderContext,
        [&] {
            Ping ping;
            ping.nodeId = Node;
            for (int i = 0; i < RoundTrips; ++i)
                if (Request<MainBoardBus, Ping>(nullptr, ping).execute().status != 0)
                    ++failures;
            requestsDone.release();
        },
        Qt::QueuedConnection);
    requestsDone.acquire();
    const double requestTrip = seconds(timer) / RoundTrips;
    std::printf("blocking request round trip:    %10.2f us\n", requestTrip * 1e6);
    std::printf("bare queued signal round trip:  %10.2f us\n", bareTrip * 1e6);
    std::printf("bus throughput cost per record: %10.2f x bare signal\n", viaBus / bare);
    if (failures)
        std::printf("failed requests:                %10d\n", failures.load());

    delete senderContext;
    delete responder;
    delete pinger;
    delete echo;
    delete emitter;
    senderThread.quit();
    listenerThread.quit();
    senderThread.wait();
    listenerThread.wait();
    bus->stop();
    std::printf("ratio: %.2f blocking request round trip / bare queued signal round trip\n",
        requestTrip / bareTrip);
    return failures ? 1 : 0;
}

#include "bus.moc"
