#include "responder.h"
#include "tests/common/logcapture.h"

#include "kubus/catalogue/mainboardbus.h"
#include "kubus/catalogue/poweramplifierbus.h"
#include "kubus/request/request.h"
#include "tests/common/blockedcall.h"

#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

using namespace Kubus;
using namespace std::chrono_literals;

namespace {

// One blocking request in a thread of its own; the future holds its response.
template <class BUS, class T> std::future<typename T::Response> request(const T& record)
{
    return std::async(std::launch::async,
        [record] { return Kubus::Request<BUS, T>(nullptr, record).execute(); });
}

template <class F> bool done(F& future, std::chrono::milliseconds within = 5s)
{
    return future.wait_for(within) == std::future_status::ready;
}

// What a thread sleeps in: the call's number and its fourth argument (a futex wait's timeout).
QString sleepOf(const QList<QByteArray>& call)
{
    return call.size() > 4 ? QString::fromLatin1(call[0] + " timeout " + call[4])
                           : QString::fromLatin1(call.value(0, "unreadable"));
}

// The same for a thread parked in a condition wait without a time limit: what "asleep with no
// deadline" looks like here, natively or under an emulator.
QString untimedWait()
{
    std::mutex mutex;
    std::condition_variable condition;
    bool go = false;
    return sleepOf(BlockedCall::whileParked(
        [&] {
            std::unique_lock<std::mutex> lock(mutex);
            condition.wait(lock, [&] { return go; });
        },
        [&] {
            {
                std::lock_guard<std::mutex> lock(mutex);
                go = true;
            }
            condition.notify_one();
        }));
}

template <class BUS, class T> ResponseBufferBase::State bufferState(BUS* bus)
{
    return static_cast<BufferOneResponse<T, Channel<T>>&>(*bus).currentState();
}

template <class R> R addressed(int nodeId)
{
    R record;
    record.nodeId = nodeId;
    return record;
}

const QString banner = QString(73, '-');

} // namespace

// Notes what it hears, and makes a blocking request when asked to from a slot.
class Listener : public QObject {
    Q_OBJECT
public:
    QList<int> temps; // value(1) of each MainBoard_TP_TEMP
    int found = 0;
    std::atomic<int> status { -1 };

public slots:
    void onTemp(const Kubus::MainBoard_TP_TEMP& record)
    {
        temps.append(MainBoard_TP_TEMP(record).value(1));
    }
    void onFound(const Kubus::IdentifyFoundNodes&) { ++found; }
    void attempt()
    {
        status = Kubus::Request<MainBoardBus, Ping>(sender(), addressed<Ping>(1)).execute().status;
    }
};

class TestBus : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void recordsReachTheBusOfTheirNode();
    void responseBuffering_data();
    void responseBuffering();
    void requestFromBusDeliveryIsRefused_data();
    void requestFromBusDeliveryIsRefused();
    void onePendingRequestPerTypeAndBusWithoutTimeLimit();
    void unfetchedResponseRefusesTheNextRequest();
    void concurrentDeliveriesKeepTheBufferWhole();
};

void TestBus::initTestCase()
{
    MainBoardBus::instance()->start();
    PowerAmplifierBus::instance()->start();
    for (int node : { 1, 2, 3, 4, 5 }) {
        MainBoardBus::instance()->supportNode(node);
        PowerAmplifierBus::instance()->supportNode(node);
    }
}

void TestBus::cleanupTestCase()
{
    MainBoardBus::instance()->stop();
    PowerAmplifierBus::instance()->stop();
}

void TestBus::recordsReachTheBusOfTheirNode()
{
    MainBoardBus* mb = MainBoardBus::instance();
    Listener all, node3, node4;
    for (auto [node, listener] : { qMakePair(-1, &all), qMakePair(3, &node3), qMakePair(4, &node4) }) {
        const char* signal = SIGNAL(message(Kubus::MainBoard_TP_TEMP));
        const char* slot = SLOT(onTemp(Kubus::MainBoard_TP_TEMP));
        QVERIFY(node < 0 ? mb->connectToAllNodes(signal, listener, slot, Qt::AutoConnection)
                         : mb->connectToNode(node, signal, listener, slot, Qt::AutoConnection));
        QVERIFY(node < 0
                ? mb->connectToAllNodes(SIGNAL(message(Kubus::IdentifyFoundNodes)), listener,
                    SLOT(onFound(Kubus::IdentifyFoundNodes)), Qt::AutoConnection)
                : mb->connectToNode(node, SIGNAL(message(Kubus::IdentifyFoundNodes)), listener,
                    SLOT(onFound(Kubus::IdentifyFoundNodes)), Qt::AutoConnection));
    }
    LogCapture log;
    // Two threads send at once, one directly, one queued through the bus thread; each keeps its
    // order on every bus.
    auto sender = [mb](int from, bool queued) {
        for (int i = 0; i < 200; ++i) {
            auto temp = addressed<MainBoard_TP_TEMP>(3 + i % 2);
            temp.value(1) = from + i;
            if (queued)
                Responder::deliver(mb, temp);
            else
                mb->send(temp);
        }
        mb->send(IdentifyFoundNodes());
    };
    std::thread first(sender, 0, false), second(sender, 1000, true);
    first.join();
    second.join();
    auto stray = addressed<MainBoard_TP_TEMP>(77);
    stray.value(1) = 5000;
    mb->send(stray);

    QTRY_COMPARE(all.temps.size(), 401);
    QTRY_COMPARE(node3.temps.size() + node4.temps.size(), 400);
    QTRY_COMPARE(all.found, 2);
    QCOMPARE(node3.found + node4.found, 0);
    QVERIFY(all.temps.contains(5000));
    for (Listener* listener : { &all, &node3, &node4 }) {
        for (int from : { 0, 1000 }) {
            QList<int> seen;
            for (int value : listener->temps)
                if (value >= from && value < from + 200)
                    seen.append(value);
            QVERIFY(std::is_sorted(seen.begin(), seen.end()));
            if (listener != &all)
                QCOMPARE(seen.size(), 100);
        }
    }
    for (int value : node3.temps)
        QCOMPARE(value % 2, 0);
    const QString text = log.stop();
    QCOMPARE(text.count("BusPerKey -> unknown key"), 1);
    QVERIFY(text.contains("BusPerKey -> unknown key 77"));
}

void TestBus::responseBuffering_data()
{
    QTest::addColumn<int>("unsolicited");
    QTest::addColumn<int>("copies");
    QTest::newRow("one answer") << 0 << 1;
    QTest::newRow("answer delivered twice is buffered once") << 0 << 2;
    QTest::newRow("answer nobody waits for changes no buffer") << 1 << 1;
}

void TestBus::responseBuffering()
{
    QFETCH(int, unsolicited);
    QFETCH(int, copies);
    MainBoardBus* mb = MainBoardBus::instance();
    for (int i = 0; i < unsolicited; ++i) {
        mb->send(addressed<Ping::Response>(9));
        QCOMPARE((bufferState<MainBoardBus, Ping>(mb)), ResponseBufferBase::Ready);
    }
    Responder responder;
    // Every copy but the first carries other contents, so a wrongly buffered copy shows.
    responder.onRequest<MainBoardBus, Ping>(mb, [mb, copies](const Ping& request) {
        for (int c = 0; c < copies; ++c) {
            auto response = addressed<Ping::Response>(request.nodeId + 100 * c);
            response.alive = c == 0 && request.value == 42;
            Responder::deliver(mb, response);
        }
    });
    // A second copy may still be on its way when the next request starts waiting, and a one-slot
    // buffer cannot tell it from that request's answer: the double delivery runs one round only.
    const int rounds = copies > 1 ? 1 : 2;
    for (int round = 0; round < rounds; ++round) {
        auto ping = addressed<Ping>(5);
        ping.value = 42;
        auto future = request<MainBoardBus>(ping);
        QVERIFY(done(future));
        const Ping::Response response = future.get();
        QCOMPARE(response.status, 0);
        QCOMPARE(response.nodeId, 5);
        QVERIFY(response.alive);
    }
}

void TestBus::requestFromBusDeliveryIsRefused_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("direct slot of the bus for all nodes") << 0;
    QTest::newRow("direct slot of a node bus") << 1;
    QTest::newRow("any slot running in the bus thread") << 2;
}

void TestBus::requestFromBusDeliveryIsRefused()
{
    QFETCH(int, how);
    MainBoardBus* mb = MainBoardBus::instance();
    // Answers, so that a request wrongly let through ends instead of hanging the test.
    Responder responder;
    responder.answer<MainBoardBus, Ping>(mb);
    auto* listener = new Listener;
    LogCapture log;
    if (how == 0) {
        QVERIFY(mb->connectToAllNodes(SIGNAL(message(Kubus::IdentifyFoundNodes)), listener,
            SLOT(attempt()), Qt::DirectConnection));
        mb->send(IdentifyFoundNodes());
    } else if (how == 1) {
        QVERIFY(mb->connectToNode(2, SIGNAL(message(Kubus::MainBoard_TP_TEMP)), listener,
            SLOT(attempt()), Qt::DirectConnection));
        mb->send(addressed<MainBoard_TP_TEMP>(2));
    } else {
        listener->moveToThread(&MainBoardBus::bus_thread());
        QMetaObject::invokeMethod(listener, "attempt", Qt::QueuedConnection);
    }
    QTRY_VERIFY_WITH_TIMEOUT(listener->status != -1, 5000);
    QCOMPARE(listener->status.load(), 3);
    QCOMPARE(responder.requests(), 0);
    QVERIFY(log.stop().contains(banner
        + "\n ERROR in Kubus Request: Request called while processing a Kubus message.\n"
        + banner));
    listener->deleteLater();
}

void TestBus::onePendingRequestPerTypeAndBusWithoutTimeLimit()
{
    MainBoardBus* mb = MainBoardBus::instance();
    PowerAmplifierBus* pa = PowerAmplifierBus::instance();
    Responder responder;
    responder.hold();
    responder.answer<MainBoardBus, MainBoard_GetLabel_Board>(mb,
        [](const MainBoard_GetLabel_Board& request, MainBoard_GetLabel_Board::Response& response) {
            response.setSerialNumber(1000 + request.index);
        });
    responder.answer<MainBoardBus, Ping>(mb);
    responder.answer<PowerAmplifierBus, Ping>(pa);

    // Another type and the other bus are pending next to the label request.
    auto label = addressed<MainBoard_GetLabel_Board>(2);
    label.index = 7;
    std::atomic<pid_t> waiter { 0 };
    auto waiting = std::async(std::launch::async, [label, &waiter] {
        waiter = BlockedCall::currentThread();
        return Kubus::Request<MainBoardBus, MainBoard_GetLabel_Board>(nullptr, label).execute();
    });
    auto mbPing = request<MainBoardBus>(addressed<Ping>(1));
    auto paPing = request<PowerAmplifierBus>(addressed<Ping>(1));
    QTRY_COMPARE(responder.requests(), 3);

    LogCapture log;
    auto refused = request<MainBoardBus>(addressed<MainBoard_GetLabel_Board>(5));
    QVERIFY(done(refused));
    const QString text = log.stop();
    const auto response = refused.get();
    QCOMPARE(response.status, 4);
    QCOMPARE(response.nodeId, -1);
    QVERIFY(text.contains(QString(72, '-')));
    QVERIFY(text.contains("ERROR in Kubus Request: Nested requests are not supported by Kubus."));
    QVERIFY(text.contains("Current state: 'WaitingForResponse'"));
    QVERIFY(text.contains("[bt]: (1)"));

    // The Kubus side waits as long as the CAN side takes (a transfer runs up to 150 s): still
    // waiting after a few seconds, and asleep in the kernel with no deadline at all.
    QVERIFY(!done(waiting, 3s));
    const QString untimed = untimedWait();
    QVERIFY2(untimed.endsWith(QLatin1String("timeout 0x0")), qPrintable(untimed));
    QCOMPARE(sleepOf(BlockedCall::of(waiter)), untimed);
    QVERIFY(!done(mbPing, 0ms) && !done(paPing, 0ms));
    responder.release();
    QVERIFY(done(waiting) && done(mbPing) && done(paPing));
    const auto labelResponse = waiting.get();
    QCOMPARE(labelResponse.status, 0);
    QCOMPARE(labelResponse.nodeId, 2);
    QCOMPARE(labelResponse.serialNumber, 1007u);
    QCOMPARE(mbPing.get().status, 0);
    QCOMPARE(paPing.get().status, 0);
    QCOMPARE(responder.requests(), 3);
}

void TestBus::unfetchedResponseRefusesTheNextRequest()
{
    // A response was stored, and before its requester wakes to fetch it, another requester of
    // the same type comes: the deliverer itself asks right after delivering, which usually wins
    // the race to the buffer against the waking requester.
    MainBoardBus* mb = MainBoardBus::instance();
    auto& buffer = static_cast<BufferOneResponse<Operate, Channel<Operate>>&>(*mb);
    std::atomic<int> pending { 0 };
    // Node 3's requests wait for the test; any other is answered, so one let through ends.
    const auto connection = QObject::connect(
        mb, qOverload<const Operate&>(&MainBoardBus::message), mb,
        [mb, &pending](const Operate& request) {
            if (request.nodeId == 3)
                ++pending;
            else
                Responder::deliver(mb, addressed<Operate::Response>(request.nodeId));
        },
        Qt::DirectConnection);
    bool seen = false;
    for (int attempt = 0; attempt < 20 && !seen; ++attempt) {
        auto first = request<MainBoardBus>(addressed<Operate>(3));
        QTRY_COMPARE(pending.load(), attempt + 1);
        LogCapture log;
        int status = -1;
        std::thread deliverer([&] {
            buffer.deliverResponse(addressed<Operate::Response>(3));
            status = Kubus::Request<MainBoardBus, Operate>(nullptr, addressed<Operate>(4))
                         .execute()
                         .status;
        });
        deliverer.join();
        QVERIFY(done(first));
        QCOMPARE(first.get().nodeId, 3);
        const QString text = log.stop();
        if (status == 4) {
            QVERIFY(text.contains("ERROR in Kubus Request: Last response wasn't fechted.\n"));
            QVERIFY(text.contains("Current state: 'WaitingForResponseFetch'"));
            seen = true;
        } else {
            QCOMPARE(status, 0); // the requester fetched first
        }
    }
    QObject::disconnect(connection);
    QVERIFY2(seen, "a request met an unfetched response 20 times without being refused");
    QCOMPARE((bufferState<MainBoardBus, Operate>(mb)), ResponseBufferBase::Ready);
}

void TestBus::concurrentDeliveriesKeepTheBufferWhole()
{
    // Three threads deliver label responses without pause while one thread requests: each
    // fetched response must be one delivery, whole, and no request may be left waiting.
    MainBoardBus* mb = MainBoardBus::instance();
    std::atomic<bool> stop { false };
    std::vector<std::thread> deliverers;
    for (int d = 0; d < 3; ++d) {
        deliverers.emplace_back([mb, d, &stop] {
            for (unsigned k = 1; !stop; ++k) {
                auto response = addressed<MainBoard_GetLabel_Board::Response>(5);
                const unsigned serial = k * 4 + unsigned(d);
                response.setSerialNumber(serial);
                response.setPartNumber(serial * 3);
                response.setDeviceName(QString("device %1 of a long enough name").arg(serial));
                mb->send(response);
            }
        });
    }
    int answered = 0;
    QString problem;
    for (int i = 0; i < 2000 && problem.isEmpty(); ++i) {
        auto future = request<MainBoardBus>(addressed<MainBoard_GetLabel_Board>(5));
        if (!done(future))
            qFatal("request %d still waits after 5 s while responses keep coming", i);
        const auto r = future.get();
        if (r.status != 0)
            problem = QString("status %1").arg(r.status);
        else if (r.partNumber != r.serialNumber * 3
            || r.deviceName != QString("device %1 of a long enough name").arg(r.serialNumber))
            problem = QString("torn response %1/%2").arg(r.serialNumber).arg(r.partNumber);
        ++answered;
    }
    stop = true;
    for (auto& deliverer : deliverers)
        deliverer.join();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(answered, 2000);
    QCOMPARE((bufferState<MainBoardBus, MainBoard_GetLabel_Board>(mb)), ResponseBufferBase::Ready);
}

QTEST_GUILESS_MAIN(TestBus)
#include "tst_bus.moc"
