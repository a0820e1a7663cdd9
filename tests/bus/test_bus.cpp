#include "logcapture.h"
#include "responder.h"

#include "kubus/mainboardbus.h"
#include "kubus/poweramplifierbus.h"
#include "kubus/request.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

using namespace Kubus;

namespace {

// Counts the announcements of one record type on one bus, from whichever thread emits them.
template <class BUS, class R> class Announcements {
public:
    explicit Announcements(BUS* bus)
    {
        connection = QObject::connect(
            bus, qOverload<const R&>(&BUS::message), bus, [this](const R&) { ++count; },
            Qt::DirectConnection);
    }
    ~Announcements() { QObject::disconnect(connection); }
    int value() const { return count; }

private:
    QMetaObject::Connection connection;
    std::atomic<int> count { 0 };
};

template <class BUS, class T> ResponseBufferBase::State bufferState(BUS* bus)
{
    return static_cast<BufferOneResponse<T, Channel<T>>&>(*bus).currentState();
}

// Runs one blocking request in a thread of its own (a standard thread, whose end the thread
// checker sees).
template <class BUS, class T> class Requester {
public:
    explicit Requester(const T& request)
        : thread([this, request] {
            auto result = Kubus::Request<BUS, T>(nullptr, request).execute();
            std::lock_guard<std::mutex> lock(mutex);
            response = result;
            done = true;
            ended.notify_all();
        })
    {
    }
    ~Requester() { thread.join(); }
    bool finish(int ms = 5000)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return ended.wait_for(lock, std::chrono::milliseconds(ms), [this] { return done; });
    }
    bool isRunning()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return !done;
    }

    typename T::Response response;

private:
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::thread thread;
};

MainBoard_TP_TEMP temp(int nodeId, int sender, int seq)
{
    MainBoard_TP_TEMP record;
    record.nodeId = nodeId;
    record.value(1) = sender;
    record.value(2) = seq;
    return record;
}

PowerAmplifier_AMP_POSITION position(int nodeId, int sender, int seq)
{
    PowerAmplifier_AMP_POSITION record;
    record.nodeId = nodeId;
    record.slot = sender * 100000 + seq;
    return record;
}

constexpr int Senders = 3;
constexpr int PerSender = 300;
constexpr int Marker = 65535;
constexpr int EveryOneWay = 50;

} // namespace

// Keeps what one listener heard.
class Collector : public QObject {
    Q_OBJECT
public:
    QList<QPair<int, int>> temps; // (node id, sender * 100000 + seq)
    QList<QPair<int, int>> positions;
    int found = 0;
    int progress = 0;
    int markers = 0;

public slots:
    void onTemp(const Kubus::MainBoard_TP_TEMP& record)
    {
        MainBoard_TP_TEMP copy = record;
        if (copy.value(2) == Marker)
            ++markers;
        else
            temps.append({ copy.nodeId, copy.value(1) * 100000 + copy.value(2) });
    }
    void onPosition(const Kubus::PowerAmplifier_AMP_POSITION& record)
    {
        if (record.slot % 100000 == 99999)
            ++markers;
        else
            positions.append({ record.nodeId, record.slot });
    }
    void onFound(const Kubus::IdentifyFoundNodes&) { ++found; }
    void onProgress(const Kubus::FirmwareUpdateProgress&) { ++progress; }
};

// Emits records into the buses' send slots from the thread it lives in, as a proxy does.
class Emitter : public QObject {
    Q_OBJECT
signals:
    void temp(const Kubus::MainBoard_TP_TEMP& record);
    void position(const Kubus::PowerAmplifier_AMP_POSITION& record);
    void found(const Kubus::IdentifyFoundNodes& record);
    void progress(const Kubus::FirmwareUpdateProgress& record);
};

// Makes a blocking request from a slot and notes how it went.
class SlotRequester : public QObject {
    Q_OBJECT
public:
    std::atomic<bool> done { false };
    std::atomic<int> status { -1 };
    std::atomic<qint64> elapsedMs { -1 };

public slots:
    void attempt()
    {
        QElapsedTimer timer;
        timer.start();
        Ping ping;
        ping.nodeId = 1;
        status = Kubus::Request<MainBoardBus, Ping>(sender(), ping).execute().status;
        elapsedMs = timer.elapsed();
        done = true;
    }
};

class TestBus : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void recordsReachTheirListenersOnceInOrder();
    void unknownNodeIsAnnouncedAndLogged();
    void responseBuffering_data();
    void responseBuffering();
    void requestFromBusDeliveryIsRefused_data();
    void requestFromBusDeliveryIsRefused();
    void onlyOneRequestPerTypeAndBusIsPending();
    void answerInsideTheRequestersSendDoesNotDeadlock();
};

void TestBus::initTestCase()
{
    MainBoardBus::instance()->start();
    PowerAmplifierBus::instance()->start();
    // Every node the tests address has its bus, so that the log shows only what a test provokes.
    for (int node : { 1, 2, 5, 6, 105 }) {
        MainBoardBus::instance()->supportNode(node);
        PowerAmplifierBus::instance()->supportNode(node);
    }
    QVERIFY(MainBoardBus::bus_thread().isRunning());
    QVERIFY(&MainBoardBus::bus_thread() != &PowerAmplifierBus::bus_thread());
}

void TestBus::cleanupTestCase()
{
    MainBoardBus::instance()->stop();
    PowerAmplifierBus::instance()->stop();
    QVERIFY(!MainBoardBus::bus_thread().isRunning());
}

void TestBus::recordsReachTheirListenersOnceInOrder()
{
    MainBoardBus* mb = MainBoardBus::instance();
    PowerAmplifierBus* pa = PowerAmplifierBus::instance();
    Collector mbAll, mbNode3, mbNode4, paAll, paNode3;

    const char* mbLinks[][2] = {
        { SIGNAL(message(Kubus::MainBoard_TP_TEMP)), SLOT(onTemp(Kubus::MainBoard_TP_TEMP)) },
        { SIGNAL(message(Kubus::IdentifyFoundNodes)), SLOT(onFound(Kubus::IdentifyFoundNodes)) },
        { SIGNAL(message(Kubus::FirmwareUpdateProgress)),
            SLOT(onProgress(Kubus::FirmwareUpdateProgress)) },
    };
    // Node -1: the bus for all nodes.
    for (auto [node, collector] :
        { qMakePair(-1, &mbAll), qMakePair(3, &mbNode3), qMakePair(4, &mbNode4) }) {
        for (const auto& link : mbLinks)
            QVERIFY(node < 0
                    ? mb->connectToAllNodes(link[0], collector, link[1], Qt::AutoConnection)
                    : mb->connectToNode(node, link[0], collector, link[1], Qt::AutoConnection));
    }
    QVERIFY(pa->connectToAllNodes(SIGNAL(message(Kubus::PowerAmplifier_AMP_POSITION)), &paAll,
        SLOT(onPosition(Kubus::PowerAmplifier_AMP_POSITION)), Qt::AutoConnection));
    QVERIFY(pa->connectToNode(3, SIGNAL(message(Kubus::PowerAmplifier_AMP_POSITION)), &paNode3,
        SLOT(onPosition(Kubus::PowerAmplifier_AMP_POSITION)), Qt::AutoConnection));
    pa->supportNode(4);

    LogCapture log;
    // Senders 0 and 1 call send directly in their own thread; sender 2 goes through queued
    // signal-slot connections into the bus thread.
    std::vector<std::unique_ptr<QThread>> senders;
    for (int s = 0; s < Senders; ++s) {
        senders.emplace_back(QThread::create([s, mb, pa] {
            Emitter emitter;
            const auto type = s == 2 ? Qt::QueuedConnection : Qt::DirectConnection;
            QObject::connect(&emitter, SIGNAL(temp(Kubus::MainBoard_TP_TEMP)), mb,
                SLOT(send(Kubus::MainBoard_TP_TEMP)), type);
            QObject::connect(&emitter, SIGNAL(position(Kubus::PowerAmplifier_AMP_POSITION)), pa,
                SLOT(send(Kubus::PowerAmplifier_AMP_POSITION)), type);
            QObject::connect(&emitter, SIGNAL(found(Kubus::IdentifyFoundNodes)), mb,
                SLOT(send(Kubus::IdentifyFoundNodes)), type);
            QObject::connect(&emitter, SIGNAL(progress(Kubus::FirmwareUpdateProgress)), mb,
                SLOT(send(Kubus::FirmwareUpdateProgress)), type);
            for (int seq = 0; seq < PerSender; ++seq) {
                emit emitter.temp(temp(seq % 2 ? 3 : 4, s, seq));
                emit emitter.position(position(seq % 3 ? 3 : 4, s, seq));
                if (seq % EveryOneWay == 0) {
                    emit emitter.found(IdentifyFoundNodes());
                    emit emitter.progress(FirmwareUpdateProgress());
                }
            }
            emit emitter.temp(temp(3, s, Marker));
            emit emitter.temp(temp(4, s, Marker));
            emit emitter.position(position(3, s, 99999));
        }));
        senders.back()->start();
    }
    for (auto& sender : senders)
        QVERIFY(sender->wait(10000));

    // A sender's marker comes after all its records on every path, duplicates included.
    QTRY_COMPARE_WITH_TIMEOUT(mbAll.markers, 2 * Senders, 10000);
    for (Collector* one : { &mbNode3, &mbNode4, &paAll, &paNode3 })
        QTRY_COMPARE_WITH_TIMEOUT(one->markers, Senders, 10000);
    QVERIFY(!log.stop().contains("unknown key"));

    auto check = [](const QList<QPair<int, int>>& heard, QList<int> nodes,
                     std::function<bool(int, int)> sentTo) {
        for (int s = 0; s < Senders; ++s) {
            QList<int> expected, got;
            for (int seq = 0; seq < PerSender; ++seq)
                for (int node : nodes)
                    if (sentTo(seq, node))
                        expected.append(s * 100000 + seq);
            for (const auto& [node, value] : heard) {
                if (value / 100000 != s)
                    continue;
                if (!nodes.contains(node) || !sentTo(value % 100000, node))
                    return false;
                got.append(value);
            }
            if (got != expected)
                return false;
        }
        return true;
    };
    auto tempTo = [](int seq, int node) { return (seq % 2 ? 3 : 4) == node; };
    auto positionTo = [](int seq, int node) { return (seq % 3 ? 3 : 4) == node; };
    QVERIFY(check(mbAll.temps, { 3, 4 }, tempTo));
    QVERIFY(check(mbNode3.temps, { 3 }, tempTo));
    QVERIFY(check(mbNode4.temps, { 4 }, tempTo));
    QVERIFY(check(paAll.positions, { 3, 4 }, positionTo));
    QVERIFY(check(paNode3.positions, { 3 }, positionTo));

    const int oneWay = Senders * ((PerSender + EveryOneWay - 1) / EveryOneWay);
    QCOMPARE(mbAll.found, oneWay);
    QCOMPARE(mbAll.progress, oneWay);
    for (Collector* node : { &mbNode3, &mbNode4 }) {
        QCOMPARE(node->found, 0);
        QCOMPARE(node->progress, 0);
    }
}

void TestBus::unknownNodeIsAnnouncedAndLogged()
{
    MainBoardBus* mb = MainBoardBus::instance();
    Collector all;
    QVERIFY(mb->connectToAllNodes(SIGNAL(message(Kubus::MainBoard_TP_TEMP)), &all,
        SLOT(onTemp(Kubus::MainBoard_TP_TEMP)), Qt::AutoConnection));
    LogCapture log;
    mb->send(temp(77, 1, 2));
    const QString text = log.stop();
    QTRY_COMPARE(all.temps.size(), 1);
    QCOMPARE(all.temps.first().first, 77);
    QVERIFY(text.contains("BusPerKey -> unknown key 77"));
    QVERIFY(text.contains("[bt]: (1)"));
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
    Announcements<MainBoardBus, Ping::Response> announced(mb);

    for (int i = 0; i < unsolicited; ++i) {
        Ping::Response stray;
        stray.nodeId = 9;
        mb->send(stray);
        QCOMPARE((bufferState<MainBoardBus, Ping>(mb)), ResponseBufferBase::Ready);
    }

    Responder responder;
    // Every copy but the first carries other contents, so a wrongly buffered copy shows.
    responder.onRequest<MainBoardBus, Ping>(mb, [mb, copies](const Ping& request) {
        for (int c = 0; c < copies; ++c) {
            Ping::Response response;
            response.nodeId = request.nodeId + 100 * c;
            response.alive = c == 0 && request.value == 42;
            Responder::deliver(mb, response);
        }
    });

    for (int round = 1; round <= 2; ++round) {
        Ping ping;
        ping.nodeId = 5;
        ping.value = 42;
        Requester<MainBoardBus, Ping> requester(ping);
        QVERIFY(requester.finish());
        QCOMPARE(requester.response.status, 0);
        QCOMPARE(requester.response.nodeId, 5);
        QVERIFY(requester.response.alive);
        QTRY_COMPARE(announced.value(), unsolicited + round * copies);
        QCOMPARE((bufferState<MainBoardBus, Ping>(mb)), ResponseBufferBase::Ready);
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
    Announcements<MainBoardBus, Ping> pings(mb);
    // Answers, so that a request wrongly let through ends instead of hanging the test.
    Responder responder;
    responder.answer<MainBoardBus, Ping>(mb);

    auto* slot = new SlotRequester;
    LogCapture log;
    if (how == 0) {
        QVERIFY(mb->connectToAllNodes(SIGNAL(message(Kubus::IdentifyFoundNodes)), slot,
            SLOT(attempt()), Qt::DirectConnection));
        mb->send(IdentifyFoundNodes());
    } else if (how == 1) {
        QVERIFY(mb->connectToNode(8, SIGNAL(message(Kubus::MainBoard_TP_TEMP)), slot,
            SLOT(attempt()), Qt::DirectConnection));
        mb->send(temp(8, 0, 0));
    } else {
        slot->moveToThread(&MainBoardBus::bus_thread());
        QMetaObject::invokeMethod(slot, "attempt", Qt::QueuedConnection);
    }
    QTRY_VERIFY_WITH_TIMEOUT(slot->done, 5000);
    const QString text = log.stop();
    QCOMPARE(slot->status.load(), 3);
    QVERIFY(slot->elapsedMs < 1000);
    QCOMPARE(pings.value(), 0);
    QVERIFY(text.contains(QString(73, '-')
        + "\n ERROR in Kubus Request: Request called while "
          "processing a Kubus message.\n"
        + QString(73, '-')));
    QCOMPARE((bufferState<MainBoardBus, Ping>(mb)), ResponseBufferBase::Ready);
    slot->deleteLater();
}

void TestBus::onlyOneRequestPerTypeAndBusIsPending()
{
    MainBoardBus* mb = MainBoardBus::instance();
    PowerAmplifierBus* pa = PowerAmplifierBus::instance();
    Announcements<MainBoardBus, MainBoard_GetLabel_Board> sent(mb);
    Responder responder;
    responder.hold();
    responder.answer<MainBoardBus, MainBoard_GetLabel_Board>(mb,
        [](const MainBoard_GetLabel_Board& request, MainBoard_GetLabel_Board::Response& response) {
            response.setSerialNumber(1000 + request.index);
        });
    auto alive = [](const Ping&, Ping::Response& response) { response.alive = true; };
    responder.answer<MainBoardBus, Ping>(mb, alive);
    responder.answer<MainBoardBus, Reset>(mb);
    responder.answer<PowerAmplifierBus, Ping>(pa, alive);

    // Other types and the other bus are pending next to the label request.
    MainBoard_GetLabel_Board first;
    first.nodeId = 2;
    first.index = 7;
    Ping ping;
    ping.nodeId = 1;
    Reset reset;
    reset.nodeId = 2;
    Requester<MainBoardBus, MainBoard_GetLabel_Board> waiting(first);
    Requester<MainBoardBus, Ping> mbPing(ping);
    Requester<MainBoardBus, Reset> mbReset(reset);
    Requester<PowerAmplifierBus, Ping> paPing(ping);
    QTRY_COMPARE(responder.requests(), 4);

    LogCapture log;
    MainBoard_GetLabel_Board second;
    second.nodeId = 5;
    Requester<MainBoardBus, MainBoard_GetLabel_Board> refused(second);
    QVERIFY(refused.finish());
    const QString text = log.stop();
    QCOMPARE(refused.response.status, 4);
    QCOMPARE(refused.response.nodeId, -1);
    QVERIFY(text.contains(QString(72, '-')));
    QVERIFY(text.contains("ERROR in Kubus Request: Nested requests are not supported by Kubus."));
    QVERIFY(text.contains("Current state: 'WaitingForResponse'"));
    QVERIFY(text.contains("[bt]: (1)"));
    QVERIFY(waiting.isRunning() && mbPing.isRunning() && mbReset.isRunning() && paPing.isRunning());

    responder.release();
    QVERIFY(waiting.finish() && mbPing.finish() && mbReset.finish() && paPing.finish());
    QCOMPARE(waiting.response.status, 0);
    QCOMPARE(waiting.response.nodeId, 2);
    QCOMPARE(waiting.response.serialNumber, 1007u);
    QCOMPARE(sent.value(), 1);
    QCOMPARE(responder.requests(), 4);
    QCOMPARE(mbPing.response.status, 0);
    QVERIFY(mbPing.response.alive);
    QCOMPARE(mbReset.response.status, 0);
    QCOMPARE(mbReset.response.nodeId, 2);
    QCOMPARE(paPing.response.status, 0);
    QVERIFY(paPing.response.alive);
}

void TestBus::answerInsideTheRequestersSendDoesNotDeadlock()
{
    // Misuse: the answer comes synchronously from within the requester's own send.
    MainBoardBus* mb = MainBoardBus::instance();
    const auto connection = QObject::connect(
        mb, qOverload<const Operate&>(&MainBoardBus::message), mb,
        [mb](const Operate& request) {
            Operate::Response response;
            response.nodeId = request.nodeId;
            mb->send(response);
        },
        Qt::DirectConnection);
    LogCapture log;
    Operate operate;
    operate.nodeId = 6;
    Requester<MainBoardBus, Operate> requester(operate);
    const bool finished = requester.finish();
    QObject::disconnect(connection);
    QVERIFY(finished);
    QCOMPARE(requester.response.status, 0);
    QCOMPARE(requester.response.nodeId, 6);
    QVERIFY(log.stop().contains("ERROR in Kubus Request: waiting for reponse not possible."));
    QCOMPARE((bufferState<MainBoardBus, Operate>(mb)), ResponseBufferBase::Ready);
}

QTEST_GUILESS_MAIN(TestBus)
#include "test_bus.moc"
