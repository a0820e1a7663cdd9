// The command engine end to end: Kubus requests through node engines, the device and the
// simulator (engine.rack) and back.
#include "noderig.h"
#include "tests/common/logcapture.h"
#include "tests/common/simulatorprocess.h"

#include "canbus/commands/commandclasses.h"
#include "canbus/commands/sendmessageandwaitforacknowledgestate.h"
#include "canbus/routing/canmessagefactory.h"
#include "canbus/servicedata/sendmessage_scm_service_data_wr.h"
#include "kubus/catalogue/mainboardbus.h"
#include "kubus/catalogue/poweramplifierbus.h"
#include "kubus/request/request.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <thread>

using namespace CanBus;
using Commands = std::vector<std::unique_ptr<StateMachineCommandBase>>;

namespace {

template <class C>
std::unique_ptr<StateMachineCommandBase> make(CanNodeEngine& e, int timeoutMs = 0)
{
    auto command = std::make_unique<C>(e);
    if (timeoutMs > 0)
        command->setTimeoutInterval(timeoutMs);
    return command;
}

template <class R> R addressed(int nodeId)
{
    R request;
    request.nodeId = nodeId;
    return request;
}

// Responses of one type for the given nodes as they come off the bus, in order, collected in the
// test's thread. The bus may publish a previous test's response just after its blocking caller
// woke, so other nodes' responses are left out.
template <class BUS, class T> class Responses : public QObject {
public:
    explicit Responses(QList<int> nodes)
    {
        connect(BUS::instance(),
            static_cast<void (BUS::*)(const typename T::Response&)>(&BUS::message), this,
            [this, nodes](const typename T::Response& r) {
                if (nodes.contains(r.nodeId))
                    list.append({ r.nodeId, r.status });
            });
    }
    QList<QPair<int, int>> list;
};

// "can0 T 0A80010B..." -> lines of one bus and node, in trace order, as "T 280" / "R 280".
QStringList traceOf(const QStringList& trace, const QString& bus, int nodeId)
{
    QStringList out;
    static const QRegularExpression line(R"(\) (can\d) ([0-9A-F]{8})#\S* ([TR]))");
    for (const QString& l : trace) {
        const auto m = line.match(l);
        if (!m.hasMatch() || m.captured(1) != bus)
            continue;
        const unsigned id = m.captured(2).toUInt(nullptr, 16);
        if (int(id & 0xFF) == nodeId)
            out << QString("%1 %2").arg(m.captured(3)).arg((id >> 8) & 0xFFF, 3, 16, QChar('0'));
    }
    return out;
}

// A command that writes one service-data word and waits for the node's confirmation; it serves
// the Reset record only to have a response type.
class WriteWord : public StateMachineCommand<Kubus::Reset> {
public:
    WriteWord(CanNodeEngine& engine, SendMessage_SCM_SERVICE_DATA_WR::Word word)
        : StateMachineCommand(engine)
        , sender(engine.canMessageFactory(), [word] { return word; })
    {
    }
    QState* state(QState* parent) override
    {
        auto* s = new SendMessageAndWaitForAcknowledgeState<SendMessage_SCM_SERVICE_DATA_WR,
            SCM_SERVICE_DATA_WR>(m_engine, sender, parent);
        connect(s, &QState::finished, this, &StateMachineCommandBase::slotDataWritten);
        return s;
    }
    void message(const Kubus::Reset::Response& r) override { status = r.status; }
    void incomingMessage(const Kubus::Reset& r) override { queueRequest(r); }

    SendMessage_SCM_SERVICE_DATA_WR sender;
    std::atomic<int> status { -1 };
};

} // namespace

class TestEngine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void labelsThroughBlockingRequests();
    void serviceDataWriteReachesLabelMemory();
    void pollsAndSettingsRoundTrip();
    void errorAcknowledgements_data();
    void errorAcknowledgements();
    void nodesRunInParallelEachStrictlyInOrder();
    void silentNodeTimesOutAfterDefaultThenNextJobRuns();

private:
    SimulatorProcess m_sim;
    std::unique_ptr<NodeRig> m_mb;
    std::unique_ptr<NodeRig> m_pa;
    WriteWord* m_writeWord = nullptr;
};

void TestEngine::initTestCase()
{
    QVERIFY(QDir(m_sim.root()).mkpath("dev"));
    QFile(m_sim.root() + "/dev/uio0").open(QIODevice::WriteOnly);
    qputenv("ZEF400_ROOT", QFile::encodeName(m_sim.root()));
    QVERIFY2(m_sim.start({ "--rack", ZEF_TEST_DATA "/engine.rack" }), qPrintable(m_sim.output()));
    m_mb = std::make_unique<NodeRig>(0);
    m_pa = std::make_unique<NodeRig>(1);
    QVERIFY(m_sim.waitForConfigured(0, 1));
    QVERIFY(m_sim.waitForConfigured(1, 1));

    m_mb->addNode(1, [this](CanNodeEngine& e) {
        Commands c;
        c.push_back(make<MainBoardCommand_GetLabel_Board>(e));
        c.push_back(make<MainBoardCommand_GetLabel_PreAmplifier>(e));
        c.push_back(make<MainBoardCommand_GetEquipment>(e));
        c.push_back(make<MainBoardCommand_SetMute>(e));
        c.push_back(make<MainBoardCommand_SetFrequency>(e));
        c.push_back(make<MainBoardCommand_GetAmplFrqTable>(e));
        c.push_back(make<MainBoardCommand_GetAmplFrqTableCheckSum>(e));
        auto write = std::make_unique<WriteWord>(
            e, SendMessage_SCM_SERVICE_DATA_WR::Word { 48, 136, "9.8." });
        m_writeWord = write.get();
        c.push_back(std::move(write));
        return c;
    });
    // Every command class of a bus: the rig connects each to the request of its name, and stops
    // the test for a class whose slot or signal does not match its request.
    const auto all = [](QList<StateMachineCommandBase*> list) {
        Commands c;
        for (StateMachineCommandBase* command : list)
            c.emplace_back(command);
        return c;
    };
    m_mb->addNode(2, [&](CanNodeEngine& e) { return all(createMainBoardCommands(e)); });
    // Node 3 answers no service-data read: its label read is the one that waits the full
    // default time-out.
    m_mb->addNode(3, [](CanNodeEngine& e) {
        Commands c;
        c.push_back(make<MainBoardCommand_GetLabel_Board>(e));
        c.push_back(make<MainBoardCommand_SetMute>(e));
        return c;
    });
    for (unsigned id = 11; id <= 15; ++id)
        m_mb->addNode(id, [](CanNodeEngine& e) {
            Commands c;
            c.push_back(make<MainBoardCommand_SetMute>(e, 1000));
            return c;
        });
    m_pa->addNode(1, [&](CanNodeEngine& e) { return all(createPowerAmplifierCommands(e)); });
}

void TestEngine::cleanupTestCase()
{
    m_mb.reset();
    m_pa.reset();
    Kubus::MainBoardBus::instance()->stop();
    Kubus::PowerAmplifierBus::instance()->stop();
    m_sim.stop();
}

void TestEngine::labelsThroughBlockingRequests()
{
    using namespace Kubus;
    const auto board = Request<MainBoardBus, MainBoard_GetLabel_Board>(
        nullptr, addressed<MainBoard_GetLabel_Board>(1))
                           .execute();
    QCOMPARE(board.status, 0);
    QCOMPARE(board.nodeId, 1);
    QCOMPARE(board.partNumber, 91204500u);
    QCOMPARE(board.variant, 3u);
    QCOMPARE(board.serialNumber, 1001u);
    QCOMPARE(board.productIndex, 7);
    QCOMPARE(board.productionDate, QDate(2009, 1, 1));
    QCOMPARE(board.deviceName, QString("MB-ONE"));
    QCOMPARE(board.hardwareCode, 42);
    QCOMPARE(board.readCode, 0x1234);
    QCOMPARE(board.check, 9);
    QCOMPARE(board.hours, 1000);
    QCOMPARE(board.powerUpCycles, 12);
    QCOMPARE(board.swBundlePartNumber, 123456);
    QCOMPARE(board.swBundleVersion, QString("B-2.1"));
    QCOMPARE(board.deviceSwVersion, QString("1.13.1"));
    QCOMPARE(board.deviceFwVersion, QString("2.0.7"));
    QVERIFY(!board.encoding.isBcd);

    // 'S' in the part number's top byte: a BCD label.
    auto pre = addressed<MainBoard_GetLabel_PreAmplifier>(1);
    pre.index = 0;
    const auto preAmp
        = Request<MainBoardBus, MainBoard_GetLabel_PreAmplifier>(nullptr, pre).execute();
    QCOMPARE(preAmp.status, 0);
    QVERIFY(preAmp.encoding.isBcd);
    QCOMPARE(preAmp.partNumber, 53345678u);
    QCOMPARE(preAmp.variant, 12u);
    QCOMPARE(preAmp.serialNumber, 12345678u);

    const auto amp = Request<PowerAmplifierBus, PowerAmplifier_GetLabel_Amplifier>(
        nullptr, addressed<PowerAmplifier_GetLabel_Amplifier>(1))
                         .execute();
    QCOMPARE(amp.status, 0);
    QVERIFY(amp.encoding.isBcd);
    QCOMPARE(amp.partNumber, 53345678u);
    QCOMPARE(amp.variant, 7u);
    QCOMPARE(amp.productIndex, 12);
    QCOMPARE(amp.serialNumber, 4321u);
    QCOMPARE(amp.productionDate, QDate(2009, 1, 1));
    QCOMPARE(amp.deviceName, QString("PA-AMP"));
    QCOMPARE(amp.hours, 4660);
    QCOMPARE(amp.powerUpCycles, 5);

    // The index and flag choose the table.
    auto tableRequest = addressed<MainBoard_GetAmplFrqTable>(1);
    tableRequest.index = 0;
    tableRequest.flag = 0;
    const auto table
        = Request<MainBoardBus, MainBoard_GetAmplFrqTable>(nullptr, tableRequest).execute();
    QCOMPARE(table.status, 0);
    QCOMPARE(table.blockId, 0x1234u);
    QCOMPARE(table.frqStart, 1.0f);
    QCOMPARE(table.table.getValue(0, 0), quint16(1));
    QCOMPARE(table.table.getValue(1, 0), quint16(2));
    QCOMPARE(table.table.getValue(127, 7), quint16(9));
    auto sumRequest = addressed<MainBoard_GetAmplFrqTableCheckSum>(1);
    sumRequest.index = 0;
    sumRequest.flag = 1;
    const auto sum
        = Request<MainBoardBus, MainBoard_GetAmplFrqTableCheckSum>(nullptr, sumRequest).execute();
    QCOMPARE(sum.status, 0);
    QCOMPARE(sum.checkSum, 0xABCDu);
}

void TestEngine::serviceDataWriteReachesLabelMemory()
{
    m_writeWord->stateMachine().addJob(
        m_writeWord, new Kubus::RequestInfoOf<Kubus::Reset>(addressed<Kubus::Reset>(1)));
    QTRY_COMPARE(m_writeWord->status.load(), 0);
    QVERIFY(m_sim.requestDump());
    QCOMPARE(m_sim.label("can0_1001", 48).mid(136, 4), QByteArray("9.8."));
}

void TestEngine::pollsAndSettingsRoundTrip()
{
    using namespace Kubus;
    QCOMPARE((Request<MainBoardBus, MainBoard_GetEquipment>(
                 nullptr, addressed<MainBoard_GetEquipment>(1))
                     .execute()
                     .status),
        0);
    auto mute = addressed<MainBoard_SetMute>(1);
    mute.value1 = 1;
    QCOMPARE((Request<MainBoardBus, MainBoard_SetMute>(nullptr, mute).execute().status), 0);
    QCOMPARE((Request<PowerAmplifierBus, PowerAmplifier_GetTempValues>(
                 nullptr, addressed<PowerAmplifier_GetTempValues>(1))
                     .execute()
                     .status),
        0);
    auto status = addressed<PowerAmplifier_SetStatus>(1);
    status.value1 = 2;
    status.flag1 = 1;
    QCOMPARE(
        (Request<PowerAmplifierBus, PowerAmplifier_SetStatus>(nullptr, status).execute().status),
        0);

    // The poll went out as asked and the settings came back confirmed by the node.
    const QStringList mb = traceOf(m_sim.traceLines(), "can0", 1);
    QVERIFY(mb.join(',').contains("T 180"));
    QVERIFY(mb.join(',').contains("T a80,R a80"));
    const QStringList pa = traceOf(m_sim.traceLines(), "can1", 1);
    QVERIFY(pa.join(',').contains("T 180"));
    QVERIFY(pa.join(',').contains("T 280,R 280"));
}

void TestEngine::errorAcknowledgements_data()
{
    QTest::addColumn<int>("nodeId");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("lines");
    // The rejected frame rebuilt: type 0xA80 (SCM_CONTROL_2), destination 0, the node's id.
    const auto from = [](int node) {
        return QString("           from CanMessage %1").arg((0xA80 << 8) | node);
    };
    QTest::newRow("code 2 on a setting frame: an error")
        << 11 << 2 << QStringList { "CAN Error: A_ERROR_ACK with code 2", from(11) };
    QTest::newRow("code 37: firmware retry, an error")
        << 12 << 2
        << QStringList { "CanFwErrorTransition: 0x25 (ERROR_FIRMWARE_RETRY)",
               "CAN Error: A_ERROR_ACK with code 25", from(12) };
    QTest::newRow("code 41: an error")
        << 13 << 2 << QStringList { "CAN Error: A_ERROR_ACK with code 29", from(13) };
    QTest::newRow("code 48: no error, the command runs into its time-out")
        << 14 << 1
        << QStringList { "          CanMessage: CanMessage: ID: 5800e", "Timeout in command " };
    QTest::newRow("code 5: unknown, logged, time-out")
        << 15 << 1
        << QStringList { "-- ", "CAN Error: unknown error A_ERROR_ACK with code 5", from(15),
               "Timeout in command " };
}

void TestEngine::errorAcknowledgements()
{
    QFETCH(int, nodeId);
    QFETCH(int, status);
    QFETCH(QStringList, lines);
    LogCapture log;
    const auto response = Kubus::Request<Kubus::MainBoardBus, Kubus::MainBoard_SetMute>(
        nullptr, addressed<Kubus::MainBoard_SetMute>(nodeId))
                              .execute();
    const QString text = log.stop();
    QCOMPARE(response.status, status);
    QCOMPARE(response.nodeId, nodeId);
    int at = 0;
    for (const QString& line : lines) {
        const int found = int(text.indexOf(line, at));
        QVERIFY2(found >= 0, qPrintable("missing in order: " + line));
        at = found + int(line.size());
    }
    if (status == 2)
        QVERIFY(!text.contains("Timeout in command "));
}

void TestEngine::nodesRunInParallelEachStrictlyInOrder()
{
    Responses<Kubus::MainBoardBus, Kubus::MainBoard_SetMute> mutes({ 1, 2 });
    Responses<Kubus::MainBoardBus, Kubus::MainBoard_SetFrequency> frequencies({ 1, 2 });
    const int before = m_sim.traceLines().size();
    // Node 2 answers 30 ms late: node 1 must not wait for it.
    for (int node : { 2, 1 }) {
        Kubus::MainBoardBus::instance()->send(addressed<Kubus::MainBoard_SetMute>(node));
        Kubus::MainBoardBus::instance()->send(addressed<Kubus::MainBoard_SetFrequency>(node));
    }
    QTRY_COMPARE(mutes.list.size() + frequencies.list.size(), 4);
    for (const auto& r : mutes.list + frequencies.list)
        QCOMPARE(r.second, 0);

    const QStringList trace = m_sim.traceLines().mid(before);
    // One command at a time per node, in arrival order: the second frame leaves after the
    // first one's answer.
    QCOMPARE(traceOf(trace, "can0", 1), QStringList({ "T a80", "R a80", "T 680", "R 680" }));
    QCOMPARE(traceOf(trace, "can0", 2), QStringList({ "T a80", "R a80", "T 680", "R 680" }));
    const auto position = [&](int node, const QString& what) {
        for (int i = 0; i < trace.size(); ++i)
            if (traceOf({ trace[i] }, "can0", node) == QStringList { what })
                return i;
        return -1;
    };
    QVERIFY2(position(1, "R 680") < position(2, "R a80"), qPrintable(trace.join('\n')));
}

void TestEngine::silentNodeTimesOutAfterDefaultThenNextJobRuns()
{
    Responses<Kubus::MainBoardBus, Kubus::MainBoard_GetLabel_Board> labels({ 1, 3 });
    Responses<Kubus::MainBoardBus, Kubus::MainBoard_SetMute> mutes({ 3 });
    QElapsedTimer clock;
    clock.start();
    Kubus::MainBoardBus::instance()->send(addressed<Kubus::MainBoard_GetLabel_Board>(3));
    Kubus::MainBoardBus::instance()->send(addressed<Kubus::MainBoard_SetMute>(3));
    // Meanwhile node 1 answers the same reads on the same bus: none of it may reach node 3.
    for (int i = 0; i < 3; ++i)
        Kubus::MainBoardBus::instance()->send(addressed<Kubus::MainBoard_GetLabel_Board>(1));
    QTRY_COMPARE_WITH_TIMEOUT(labels.list.size(), 4, 20000);
    QCOMPARE(labels.list.last(), qMakePair(3, 1));
    QVERIFY2(clock.elapsed() >= 15000, qPrintable(QString::number(clock.elapsed())));
    QTRY_COMPARE(mutes.list.size(), 1);
    QCOMPARE(mutes.list.first(), qMakePair(3, 0));
    QVERIFY(clock.elapsed() < 17000);
}

QTEST_MAIN(TestEngine)
#include "tst_engine.moc"
