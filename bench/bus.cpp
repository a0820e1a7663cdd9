// Cost of the Kubus bus against bare queued signals over the same thread hops, interleaved in
// rounds so that a noisy machine slows both alike:
//  1. records per second from a sender thread through the bus to a listener thread, beside a
//     bare signal between the same two threads (one hop each);
//  2. round trip of a blocking request: requester -> responder thread -> bus thread -> requester,
//     beside a bare round trip over three threads in the same way, the requester blocked on a
//     semaphore (three hops each); the two trips alternate one by one.
// Prints the median and spread of each and ends with the ratio of the round-trip medians.

#include "kubus/mainboardbus.h"
#include "kubus/request.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

using namespace Kubus;

namespace {
// Many short rounds: a burst of load from elsewhere then spoils a few rounds of both paths
// rather than the whole of one.
constexpr int Rounds = 31;
constexpr int Records = 10000;
constexpr int RoundTrips = 500;
constexpr int Node = 3;

struct Figures {
    std::vector<double> values;
    double median() const
    {
        std::vector<double> v = values;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    }
    void print(const char* what, const char* unit, double scale) const
    {
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        std::printf("%-38s median %10.2f %s, spread %.2f to %.2f\n", what, median() * scale, unit,
            *low * scale, *high * scale);
    }
};
} // namespace

// The bare path: one signal carrying the same record.
class Emitter : public QObject {
    Q_OBJECT
signals:
    void record(const Kubus::MainBoard_TP_TEMP& record);
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

// Runs RoundTrips of each of the two trips in turn, one of one and then one of the other, in the
// thread of `context`, so that both meet the same load; adds each trip's seconds to its figures.
template <class A, class B>
static void alternate(QObject* context, A tripA, Figures& a, B tripB, Figures& b)
{
    QSemaphore done;
    QMetaObject::invokeMethod(
        context,
        [&] {
            QElapsedTimer timer;
            for (int i = 0; i < RoundTrips; ++i) {
                timer.start();
                tripA();
                a.values.push_back(seconds(timer));
                timer.start();
                tripB();
                b.values.push_back(seconds(timer));
            }
            done.release();
        },
        Qt::QueuedConnection);
    done.acquire();
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    MainBoardBus* bus = MainBoardBus::instance();
    bus->supportNode(Node);
    bus->start();

    QThread senderThread, listenerThread, relayThread;
    senderThread.start();
    listenerThread.start();
    relayThread.start();
    QObject senderContext, listenerContext, relayContext;
    senderContext.moveToThread(&senderThread);
    listenerContext.moveToThread(&listenerThread);
    relayContext.moveToThread(&relayThread);

    Listener listener;
    listener.moveToThread(&listenerThread);
    Emitter emitter;
    emitter.moveToThread(&senderThread);
    QObject::connect(&emitter, &Emitter::record, &listener, &Listener::onRecord);
    QObject busListener;
    busListener.moveToThread(&listenerThread);

    // The responder answers through the bus thread, as a node's command does.
    QObject responder;
    responder.moveToThread(&listenerThread);
    QObject::connect(
        bus, qOverload<const Ping&>(&MainBoardBus::message), &responder, [bus](const Ping& request) {
            Ping::Response response;
            response.nodeId = request.nodeId;
            QMetaObject::invokeMethod(
                bus, [bus, response] { bus->send(response); }, Qt::QueuedConnection);
        });
    std::atomic<int> failures { 0 };
    QSemaphore bareAnswer;

    Figures bareRate, busRate, bareTrip, requestTrip;
    for (int round = 0; round < Rounds; ++round) {
        const double bare = pump(&senderContext, listener,
            [&emitter](const MainBoard_TP_TEMP& r) { emit emitter.record(r); });
        const auto connection = QObject::connect(bus,
            qOverload<const MainBoard_TP_TEMP&>(&MainBoardBus::message), &listener,
            &Listener::onRecord);
        const double viaBus
            = pump(&senderContext, listener, [bus](const MainBoard_TP_TEMP& r) { bus->send(r); });
        QObject::disconnect(connection);
        bareRate.values.push_back(Records / bare);
        busRate.values.push_back(Records / viaBus);

        alternate(
            &senderContext,
            [&] {
                QMetaObject::invokeMethod(
                    &listenerContext,
                    [&] {
                        QMetaObject::invokeMethod(
                            &relayContext, [&] { bareAnswer.release(); }, Qt::QueuedConnection);
                    },
                    Qt::QueuedConnection);
                bareAnswer.acquire();
            },
            bareTrip,
            [&] {
                Ping ping;
                ping.nodeId = Node;
                if (Request<MainBoardBus, Ping>(nullptr, ping).execute().status != 0)
                    ++failures;
            },
            requestTrip);
    }
    busRate.print("records through the bus:", "k/s", 1e-3);
    bareRate.print("records through a bare signal:", "k/s", 1e-3);
    requestTrip.print("blocking request round trip:", "us", 1e6);
    bareTrip.print("bare three-hop round trip:", "us", 1e6);
    std::printf("bus throughput: %.2f x the bare signal's (medians)\n",
        busRate.median() / bareRate.median());
    if (failures)
        std::printf("failed requests: %d\n", failures.load());

    senderThread.quit();
    listenerThread.quit();
    relayThread.quit();
    senderThread.wait();
    listenerThread.wait();
    relayThread.wait();
    bus->stop();
    std::printf("ratio: %.2f blocking request round trip / bare three-hop round trip (medians)\n",
        requestTrip.median() / bareTrip.median());
    return failures ? 1 : 0;
}

#include "bus.moc"
