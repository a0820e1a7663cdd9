// Cost of the Kubus bus against bare queued signals over the same threads, interleaved in rounds
// so that a noisy machine slows both alike:
//  1. records per second from a sender thread through the bus to a listener thread, beside a
//     bare signal between the same two threads (one hop each);
//  2. round trip of a blocking request: requester -> responder thread -> bus thread -> requester,
//     beside a bare round trip over the very same three threads in the same order, the requester
//     blocked on a semaphore. The two trips alternate one by one.
// Each round compares the two sides measured in it (ratio of the round's medians); the figures
// are the medians over the rounds, with the spread of the rounds, after one round of warm-up.
//
// All threads share one core. Spread over cores, a hop's cost is mostly how soon a sleeping core
// wakes up, which on a shared virtual machine changes from minute to minute (hops of 6, 11 or
// 23 us), and the request's extra work partly overlaps those waits: the ratio went from 1.25 to
// 1.05 with the machine's mood. On one core every hop is a plain switch and the comparison is of
// the work per trip.
#include "kubus/catalogue/mainboardbus.h"
#include "kubus/request/request.h"
#include "kubus/thread/threadutils.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <tuple>
#include <utility>
#include <vector>

using namespace Kubus;

namespace {
// Many short rounds: a burst of load from elsewhere then spoils a few rounds of both paths
// rather than the whole of one, and the median over the rounds passes over those.
constexpr int Rounds = 41;
constexpr int Records = 10000;
// Trips of each kind per round: enough that a round's median is not one scheduler accident.
constexpr int RoundTrips = 400;
constexpr int Node = 3;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// One figure per round; printed as the median over the rounds with the quartiles and extremes.
struct Figures {
    std::vector<double> values;
    void add(double value) { values.push_back(value); }
    double median() const { return ::median(values); }
    double quantile(double q) const
    {
        std::vector<double> v = values;
        std::sort(v.begin(), v.end());
        return v[size_t(q * (v.size() - 1) + 0.5)];
    }
    void print(const char* what, const char* unit, double scale) const
    {
        std::printf("%-44s median %9.2f %s, quartiles %.2f to %.2f, spread %.2f to %.2f\n", what,
            median() * scale, unit, quantile(0.25) * scale, quantile(0.75) * scale,
            quantile(0) * scale, quantile(1) * scale);
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
// thread of `context`, so that both meet the same load; gives the median trip of each in seconds.
template <class A, class B>
static std::pair<double, double> alternate(QObject* context, A tripA, B tripB)
{
    std::vector<double> a, b;
    a.reserve(RoundTrips);
    b.reserve(RoundTrips);
    QSemaphore done;
    QMetaObject::invokeMethod(
        context,
        [&] {
            QElapsedTimer timer;
            for (int i = 0; i < RoundTrips; ++i) {
                timer.start();
                tripA();
                a.push_back(seconds(timer));
                timer.start();
                tripB();
                b.push_back(seconds(timer));
            }
            done.release();
        },
        Qt::QueuedConnection);
    done.acquire();
    return { median(a), median(b) };
}

int main(int argc, char** argv)
{
    // Before any thread starts, so that every thread inherits it.
    const int cpu = sched_getcpu();
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    const bool pinned = cpu >= 0 && sched_setaffinity(0, sizeof one, &one) == 0;

    // The program's own setting, so that the hand-overs measured are the program's.
    Kubus::useQtEventDispatcher();
    QCoreApplication app(argc, argv);
    MainBoardBus* bus = MainBoardBus::instance();
    bus->supportNode(Node);
    bus->start();

    QThread senderThread, listenerThread;
    senderThread.start();
    listenerThread.start();
    QObject senderContext, listenerContext;
    senderContext.moveToThread(&senderThread);
    listenerContext.moveToThread(&listenerThread);
    // The bare trip's last hop runs in the bus thread itself, as the response's does.
    auto* busContext = new QObject;
    busContext->moveToThread(bus->thread());

    Listener listener;
    listener.moveToThread(&listenerThread);
    Emitter emitter;
    emitter.moveToThread(&senderThread);
    QObject::connect(&emitter, &Emitter::record, &listener, &Listener::onRecord);

    // The responder answers through the bus thread, as a node's command does.
    QObject responder;
    responder.moveToThread(&listenerThread);
    QObject::connect(bus, qOverload<const Ping&>(&MainBoardBus::message), &responder,
        [bus](const Ping& request) {
            Ping::Response response;
            response.nodeId = request.nodeId;
            QMetaObject::invokeMethod(
                bus, [bus, response] { bus->send(response); }, Qt::QueuedConnection);
        });
    std::atomic<int> failures { 0 };
    QSemaphore bareAnswer;
    const auto bareTrip = [&] {
        QMetaObject::invokeMethod(
            &listenerContext,
            [&] {
                QMetaObject::invokeMethod(
                    busContext, [&] { bareAnswer.release(); }, Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
        bareAnswer.acquire();
    };
    const auto requestTrip = [&] {
        Ping ping;
        ping.nodeId = Node;
        if (Request<MainBoardBus, Ping>(nullptr, ping).execute().status != 0)
            ++failures;
    };

    Figures bareRate, busRate, rateRatio, bareTrips, requestTrips, tripRatio;
    // Round 0 warms up (allocations, first wake-ups, clock ramp) and is not counted.
    for (int round = 0; round <= Rounds; ++round) {
        const double bare = pump(&senderContext, listener,
            [&emitter](const MainBoard_TP_TEMP& r) { emit emitter.record(r); });
        const auto connection
            = QObject::connect(bus, qOverload<const MainBoard_TP_TEMP&>(&MainBoardBus::message),
                &listener, &Listener::onRecord);
        const double viaBus
            = pump(&senderContext, listener, [bus](const MainBoard_TP_TEMP& r) { bus->send(r); });
        QObject::disconnect(connection);

        // Which trip leads changes from round to round, so neither always follows the other.
        double request = 0, bareRound = 0;
        if (round % 2)
            std::tie(request, bareRound) = alternate(&senderContext, requestTrip, bareTrip);
        else
            std::tie(bareRound, request) = alternate(&senderContext, bareTrip, requestTrip);
        if (round == 0)
            continue;
        bareRate.add(Records / bare);
        busRate.add(Records / viaBus);
        rateRatio.add(bare / viaBus);
        bareTrips.add(bareRound);
        requestTrips.add(request);
        tripRatio.add(request / bareRound);
    }
    std::printf("%d rounds after one of warm-up; %d records and %d round trips of each kind per "
                "round; %s\n",
        Rounds, Records, RoundTrips,
        pinned ? qPrintable(QString("all threads on CPU %1").arg(cpu))
               : "threads NOT held to one CPU (sched_setaffinity failed)");
    busRate.print("records through the bus:", "k/s", 1e-3);
    bareRate.print("records through a bare signal:", "k/s", 1e-3);
    rateRatio.print("bus / bare throughput, per round:", "x", 1);
    requestTrips.print("blocking request round trip:", "us", 1e6);
    bareTrips.print("bare round trip, same three threads:", "us", 1e6);
    tripRatio.print("request / bare round trip, per round:", "x", 1);
    if (failures)
        std::printf("failed requests: %d\n", failures.load());

    QMetaObject::invokeMethod(
        busContext, [busContext] { delete busContext; }, Qt::BlockingQueuedConnection);
    senderThread.quit();
    listenerThread.quit();
    senderThread.wait();
    listenerThread.wait();
    bus->stop();
    std::printf("ratio: %.2f blocking request round trip / bare round trip over the same three "
                "threads (median of the per-round ratios)\n",
        tripRatio.median());
    return failures ? 1 : 0;
}

#include "bus.moc"
