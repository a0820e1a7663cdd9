#include "canbus/device/candevicescm.h"
#include "canbus/frame/canmessaget.h"
#include "common/rawcanclient.h"
#include "common/simulatorprocess.h"
#include "sim/framebits.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>

namespace {

// Identify request as the controller broadcasts it: priority 0, node id 255, the bus's class,
// part number 91204400 (low 16 bits), variant 1, serial number 4711.
const QString identifyMainboards = "000800FF#30AB0167120000";
const QString identifyAmplifiers = "006800FF#30AB0167120000";

// The default rack's answers: priority 3, acknowledge request, class, node id 255; part number
// low 16 bits, variant 1, serial number, protocol version 31.
const QString mainboard1001 = "0D0800FF#94AB01E90300001F";
const QString amplifier2001 = "0D6800FF#5CAC01D10700001F";
const QString amplifier2002 = "0D6800FF#5CAC01D20700001F";
const QString amplifier2003 = "0D6800FF#5CAC01D30700001F";
const QString amplifier2004 = "0D6800FF#5CAC01D40700001F";

QStringList texts(const QVector<RawCanClient::Frame>& frames)
{
    QStringList result;
    for (const RawCanClient::Frame& frame : frames)
        result << frame.text();
    return result;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

// Connects the clients to one bus in turn, each configured before the next one comes.
bool connectAll(SimulatorProcess& sim, int bus, std::initializer_list<RawCanClient*> clients)
{
    int n = 0;
    for (RawCanClient* client : clients) {
        if (!client->connectTo(sim.socketPath(bus)) || !sim.waitForConfigured(bus, ++n))
            return false;
    }
    return true;
}

// Declares `sim` and starts the simulator with the given arguments.
#define START_SIMULATOR(...)                                                                       \
    SimulatorProcess sim;                                                                          \
    QVERIFY2(sim.start(__VA_ARGS__), qPrintable(sim.output()))

struct TraceLine {
    qint64 endUs = 0;
    quint32 id = 0;
    QByteArray data;
    bool fromController = false;
};

} // namespace

class TestSimBus : public QObject {
    Q_OBJECT

private slots:
    void nodeIdAssignment_data();
    void nodeIdAssignment();
    void wrongConfiguration_data();
    void wrongConfiguration();
    void connectionsHearEachOther();
    void malformedPackets_data();
    void malformedPackets();
    void traceFormatAndBusTime();
    void faults_data();
    void faults();
    void vanishedNodeComesBackWithoutId();
    void nodeProtocol_data();
    void nodeProtocol();
    void spontaneousFramesAndAcknowledges();
    void realtimeTakesTheBusTime();
    void floodingControllerIsHeldBack();
    void deviceLayerTalksToTheSimulator();
    void startErrors_data();
    void startErrors();
};

void TestSimBus::nodeIdAssignment_data()
{
    QTest::addColumn<QString>("assignment");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("nodeId");
    QTest::newRow("configuration mode names 2003") << "006400FF#5CAC01D307000009"
                                                   << "0C640009#5CAC01D307000009" << 9;
    QTest::newRow("operation mode names 2003") << "006C00FF#5CAC01D30700000C"
                                               << "0C6C000C#5CAC01D30700000C" << 12;
    QTest::newRow("another variant names no node")
        << "006400FF#5CAC02D307000009" << QString() << 255;
    QTest::newRow("a short frame names no node") << "006400FF#5CAC01D3070000" << QString() << 255;
}

void TestSimBus::nodeIdAssignment()
{
    QFETCH(QString, assignment);
    QFETCH(QString, answer);
    QFETCH(int, nodeId);
    START_SIMULATOR();
    RawCanClient client;
    QVERIFY(client.connectTo(sim.socketPath(1)));
    QVERIFY(client.sendFrame(assignment));
    if (!answer.isEmpty())
        QCOMPARE(texts(client.receive(1)), QStringList { answer });

    // The node uses its new id from now on: in its identify answer and in the model.
    QVERIFY(client.sendFrame(identifyAmplifiers));
    QString expected2003 = amplifier2003;
    expected2003.replace(6, 2, QString("%1").arg(nodeId, 2, 16, QLatin1Char('0')).toUpper());
    QCOMPARE(sorted(texts(client.receive(4))),
        sorted({ amplifier2001, amplifier2002, expected2003, amplifier2004 }));

    QVERIFY(sim.requestDump());
    QCOMPARE(sim.dumpValue("can1_2003", "nodeid").toInt(), nodeId);
    QCOMPARE(sim.dumpValue("can1_2002", "nodeid").toInt(), 255);
    QCOMPARE(sim.dumpValue("can1_2003", "at90_version").toString(), QString("1.13.1"));
    QCOMPARE(sim.flash("can1_2003", "at90"), QByteArray(128 * 1024, char(0xFF)));

    const QStringList trace = sim.traceLines();
    QVERIFY(!trace.isEmpty());
    QVERIFY2(trace.first().endsWith(" can1 " + assignment + " T"), qPrintable(trace.first()));
    if (!answer.isEmpty())
        QVERIFY2(trace.at(1).endsWith(" can1 " + answer + " R"), qPrintable(trace.at(1)));
}

void TestSimBus::wrongConfiguration_data()
{
    QTest::addColumn<bool>("configure");
    QTest::addColumn<quint32>("configuration");
    QTest::addColumn<QString>("why");
    QTest::newRow("50 kbit/s") << true << RawCanClient::config50k29Bit
                               << "bit timing for 50 kbit/s";
    QTest::newRow("11-bit identifiers")
        << true << RawCanClient::config125k11Bit << "11-bit identifiers";
    QTest::newRow("never configured") << false << 0u << "controller not configured";
}

void TestSimBus::wrongConfiguration()
{
    QFETCH(bool, configure);
    QFETCH(quint32, configuration);
    QFETCH(QString, why);
    START_SIMULATOR();
    RawCanClient good, wrong;
    QVERIFY(good.connectTo(sim.socketPath(1)));
    QVERIFY(wrong.connectTo(sim.socketPath(1), configuration, configure));

    // Its frame reaches neither the nodes nor the other controller.
    QVERIFY(wrong.sendFrame(identifyAmplifiers));
    QVERIFY2(sim.waitForOutput("reaches nobody: " + why), qPrintable(sim.output()));

    // And it hears nothing of a working exchange.
    QVERIFY(good.sendFrame(identifyAmplifiers));
    QCOMPARE(good.receive(4).size(), 4);
    QVERIFY(good.receiveNow().isEmpty());
    QVERIFY(wrong.receiveNow().isEmpty());
    QCOMPARE(sim.traceLines().size(), 5);
}

void TestSimBus::connectionsHearEachOther()
{
    START_SIMULATOR();
    RawCanClient first, second, other;
    QVERIFY(connectAll(sim, 0, { &first, &second }));

    // A frame no node answers (operate to an unknown node id) goes only to the other one.
    QVERIFY(first.sendFrame("00A00005#"));
    QCOMPARE(texts(second.receive(1)), QStringList { "00A00005#" });
    QVERIFY(second.sendFrame("00A00006#"));
    QCOMPARE(texts(first.receive(1)), QStringList { "00A00006#" });

    // Node answers reach every controller; nobody gets their own frame back.
    QVERIFY(first.sendFrame(identifyMainboards));
    QCOMPARE(texts(second.receive(2)), QStringList({ identifyMainboards, mainboard1001 }));
    QCOMPARE(texts(first.receive(1)), QStringList { mainboard1001 });
    QVERIFY(first.receiveNow().isEmpty());

    // Each bus keeps to itself.
    QVERIFY(connectAll(sim, 1, { &other }));
    QVERIFY(first.sendFrame("00A00007#"));
    QCOMPARE(second.receive(1).size(), 1);
    QVERIFY(other.receiveNow().isEmpty());
}

void TestSimBus::malformedPackets_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QString>("reason");
    QTest::newRow("two stray bytes") << QByteArray::fromHex("0102") << "packet of 2 bytes: 01 02";
    QTest::newRow("payload length 9")
        << RawCanClient::writeRecord(0x000800FF, QByteArray(8, '\0')).replace(0, 1, "\x09")
        << "write record with payload length 9";
    QTest::newRow("empty packet") << QByteArray() << "empty packet";
    QTest::newRow("oversized packet") << QByteArray(300, 'x') << "packet of 300 bytes";
}

void TestSimBus::malformedPackets()
{
    QFETCH(QByteArray, packet);
    QFETCH(QString, reason);
    START_SIMULATOR();
    RawCanClient sender, listener;
    QVERIFY(connectAll(sim, 0, { &sender, &listener }));
    QVERIFY(sender.sendPacket(packet));
    QVERIFY(sender.sendFrame(identifyMainboards));
    QVERIFY2(sim.waitForOutput("can0 connection 1: dropped malformed packet: " + reason),
        qPrintable(sim.output()));
    // The sender stays connected and configured; the others never see the bad packet.
    QCOMPARE(texts(sender.receive(1)), QStringList { mainboard1001 });
    QCOMPARE(texts(listener.receive(2)), QStringList({ identifyMainboards, mainboard1001 }));
    QVERIFY(sim.isRunning());
}

void TestSimBus::traceFormatAndBusTime()
{
    START_SIMULATOR();
    RawCanClient bus0, bus1;
    QVERIFY(bus0.connectTo(sim.socketPath(0)));
    QVERIFY(bus1.connectTo(sim.socketPath(1)));
    QVERIFY(bus1.sendFrame(identifyAmplifiers));
    QCOMPARE(bus1.receive(4).size(), 4);
    QVERIFY(bus0.sendFrame(identifyMainboards));
    QCOMPARE(bus0.receive(1).size(), 1);
    // A burst from the controller queues up behind itself on the bus.
    for (int i = 0; i < 5; ++i)
        QVERIFY(bus1.sendFrame(0x18070000u | quint32(i), QByteArray(8, char(i))));
    QCOMPARE(sim.stop(), 0);

    static const QRegularExpression form(
        "^\\((\\d{10})\\.(\\d{6})\\) (can[01]) ([0-9A-F]{8})#((?:[0-9A-F]{2}){0,8}) ([TR])$");
    const QStringList trace = sim.traceLines();
    QCOMPARE(trace.size(), 12);
    QVector<TraceLine> amplifierBus;
    for (const QString& text : trace) {
        const QRegularExpressionMatch m = form.match(text);
        QVERIFY2(m.hasMatch(), qPrintable(text));
        if (m.captured(3) == "can1")
            amplifierBus.append({ m.captured(1).toLongLong() * 1000000 + m.captured(2).toLongLong(),
                m.captured(4).toUInt(nullptr, 16), QByteArray::fromHex(m.captured(5).toLatin1()),
                m.captured(6) == "T" });
    }
    QCOMPARE(amplifierBus.size(), 10);
    auto duration
        = [](const TraceLine& line) { return Sim::FrameBits::frameDurationUs(line.id, line.data); };
    // The request, then four answers: the first after the 100 us processing delay, the others
    // back to back, each lasting exactly its bit length at 8 us per bit.
    QVERIFY(amplifierBus.at(0).fromController);
    QCOMPARE(
        amplifierBus.at(1).endUs - amplifierBus.at(0).endUs, 100 + duration(amplifierBus.at(1)));
    for (int i = 2; i <= 4; ++i) {
        QVERIFY(!amplifierBus.at(i).fromController);
        QCOMPARE(
            amplifierBus.at(i).endUs - amplifierBus.at(i - 1).endUs, duration(amplifierBus.at(i)));
    }
    // The burst: each frame waits for the bus, so none overlaps the one before it (whether it
    // follows back to back depends on when the controller's frames arrive).
    for (int i = 5; i < amplifierBus.size(); ++i) {
        QVERIFY(amplifierBus.at(i).fromController);
        QVERIFY(amplifierBus.at(i).endUs - amplifierBus.at(i - 1).endUs
            >= duration(amplifierBus.at(i)));
    }
}

void TestSimBus::faults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("bus");
    QTest::addColumn<QString>("request");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<int>("minimumMs");
    const QStringList all { amplifier2001, amplifier2002, amplifier2003, amplifier2004 };
    QTest::newRow("amplifier bus") << QString() << 1 << identifyAmplifiers << all << 0;
    QTest::newRow("broadcast class reaches the amplifiers too")
        << QString() << 1 << "00F800FF#30AB0167120000" << all << 0;
    QTest::newRow("the other bus's class gets no answer")
        << QString() << 1 << identifyMainboards << QStringList() << 0;
    QTest::newRow("a silent node does not answer")
        << "can1/2002,silent" << 1 << identifyAmplifiers
        << QStringList { amplifier2001, amplifier2003, amplifier2004 } << 0;
    QTest::newRow("an error acknowledgement names the rejected broadcast")
        << "can1/2003,errorack=5" << 1 << identifyAmplifiers
        << QStringList { amplifier2001, amplifier2002, "006580FF#00680105", amplifier2004 } << 0;
    QTest::newRow("an error acknowledgement for one type leaves the others")
        << "can1/2003,errorack=7,type=400" << 1 << identifyAmplifiers << all << 0;
    QTest::newRow("an assignment rejected")
        << "can1/2003,errorack=7,type=400" << 1 << "006400FF#5CAC01D307000009"
        << QStringList { "006580FF#00640107" } << 0;
    QTest::newRow("a node dropping every frame")
        << "can1/2001,drop=1" << 1 << identifyAmplifiers
        << QStringList { amplifier2002, amplifier2003, amplifier2004 } << 0;
    QTest::newRow("a late node") << "can1/2004,delay=300ms" << 1 << identifyAmplifiers << all
                                 << 300;
    QTest::newRow("a bus-wide fault")
        << "can1,silent" << 1 << identifyAmplifiers << QStringList() << 0;
}

void TestSimBus::faults()
{
    QFETCH(QString, fault);
    QFETCH(int, bus);
    QFETCH(QString, request);
    QFETCH(QStringList, answers);
    QFETCH(int, minimumMs);
    START_SIMULATOR(fault.isEmpty() ? QStringList() : QStringList { "--fault", fault });
    RawCanClient client;
    QVERIFY(client.connectTo(sim.socketPath(bus)));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(client.sendFrame(request));
    QCOMPARE(sorted(texts(client.receive(answers.size()))), sorted(answers));
    QVERIFY(clock.elapsed() >= minimumMs);
    // Nothing beyond: a frame that would follow is on the bus by the time the trace shows it.
    QTRY_VERIFY_WITH_TIMEOUT(sim.traceLines().size() == answers.size() + 1, 3000);
    QVERIFY(client.receiveNow().isEmpty());
}

void TestSimBus::vanishedNodeComesBackWithoutId()
{
    // 2001 goes after the second frame it hears and stays away for two frames.
    START_SIMULATOR({ "--fault", "can1/2001,vanish=2frames,after=2frames" });
    RawCanClient client;
    QVERIFY(client.connectTo(sim.socketPath(1)));
    QVERIFY(client.sendFrame("006400FF#5CAC01D107000003")); // 2001 gets node id 3
    QCOMPARE(texts(client.receive(1)), QStringList { "0C640003#5CAC01D107000003" });
    QVERIFY(client.sendFrame(identifyAmplifiers)); // heard as the second: gone
    QCOMPARE(client.receive(3).size(), 3);
    QVERIFY(client.sendFrame(identifyAmplifiers)); // third: still away
    QCOMPARE(client.receive(3).size(), 3);
    QVERIFY(client.sendFrame(identifyAmplifiers)); // fourth: back, without its id
    QCOMPARE(sorted(texts(client.receive(4))),
        sorted({ amplifier2001, amplifier2002, amplifier2003, amplifier2004 }));
    QVERIFY(client.receiveNow().isEmpty());
}

void TestSimBus::nodeProtocol_data()
{
    // Exchanges with amplifier 2001 (node id 5) or mainboard 1001 (node id 1) of protocol.rack:
    // "> FRAME" is sent, the lines after it are the answers expected in order.
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("bus");
    QTest::addColumn<QStringList>("exchange");
    QTest::newRow("label word: selector, word address, four bytes")
        << QString() << 1 << QStringList { "> 10608005#010300", "10608005#01030078563453" };
    QTest::newRow("production date and read code")
        << QString() << 1 << QStringList { "> 10608005#010600", "10608005#010600213A0000" };
    QTest::newRow("write confirmed, then read back")
        << QString() << 1
        << QStringList { "> 10688005#001F0031323334", "10688005#001F0031323334",
               "> 10608005#001F00", "10608005#001F0031323334" };
    QTest::newRow("a selector the board lacks")
        << QString() << 1 << QStringList { "> 10608005#070000", "00658005#80600004" };
    QTest::newRow("a word past the label")
        << QString() << 1 << QStringList { "> 10608005#004000", "00658005#80600002" };
    QTest::newRow("table word on the mainboard")
        << QString() << 0
        << QStringList { "> 10008001#91040000", "00058001#80000002", "> 10008001#910400",
               "10008001#9104003F800000" };
    QTest::newRow("poll: the message with its values")
        << QString() << 1 << QStringList { "> 08618005#C00200", "0062C005#00D550620000" };
    QTest::newRow("poll of location and equipment")
        << QString() << 0 << QStringList { "> 08018001#200700", "00072001#0060000021" };
    QTest::newRow("poll of a message of the other board kind")
        << QString() << 1 << QStringList { "> 08618005#C00F00", "00658005#80610002" };
    QTest::newRow("setting confirmed and shown by the next poll")
        << QString() << 1
        << QStringList { "> 046A8005#C00140", "00658005#806A0002", "> 046A8005#C001403412",
               "046A8005#C001403412", "> 08618005#C00100", "0061C005#0000341200000000" };
    QTest::newRow("mute setting shown by a poll")
        << QString() << 0
        << QStringList { "> 040A8001#200F000102", "040A8001#200F000102", "> 08018001#200F00",
               "000F2001#0102" };
    QTest::newRow("amplifier frequency 1000: mantissa 0xFA00, exponent 10")
        << QString() << 1
        << QStringList { "> 04668005#C0018000FA0A", "04668005#C0018000FA0A", "> 08618005#C00100",
               "0061C005#0000000000FA0A00" };
    QTest::newRow("command confirmed")
        << QString() << 1 << QStringList { "> 046C8005#0001", "046C8005#0001" };
    QTest::newRow("command to a sub-unit the board lacks")
        << QString() << 1 << QStringList { "> 046C8005#0301", "00658005#806C0002" };
    QTest::newRow("a type the board does not handle")
        << QString() << 1 << QStringList { "> 00620005#", "00658005#00620001" };
    QTest::newRow("an unknown broadcast is ignored")
        << QString() << 1 << QStringList { "> 006200FF#" };
    QTest::newRow("error fault on a type no behaviour takes")
        << "can1/2001,errorack=37,type=900" << 1
        << QStringList { "> 18690005#000000", "00658005#00690025" };
}

void TestSimBus::nodeProtocol()
{
    QFETCH(QString, fault);
    QFETCH(int, bus);
    QFETCH(QStringList, exchange);
    QStringList args { "--rack", QString(ZEF_TEST_DATA) + "/protocol.rack" };
    if (!fault.isEmpty())
        args << "--fault" << fault;
    START_SIMULATOR(args);
    RawCanClient client;
    QVERIFY(client.connectTo(sim.socketPath(bus)));
    int frames = 0;
    for (int i = 0; i < exchange.size(); ++i) {
        QVERIFY(client.sendFrame(exchange.at(i).mid(2)));
        QStringList expected;
        while (i + 1 < exchange.size() && !exchange.at(i + 1).startsWith("> "))
            expected << exchange.at(++i);
        frames += 1 + int(expected.size());
        QCOMPARE(texts(client.receive(int(expected.size()))), expected);
    }
    // Nothing beyond: a frame that would follow is on the bus by the time the trace shows it.
    QTRY_COMPARE_WITH_TIMEOUT(sim.traceLines().size(), frames, 3000);
    QVERIFY(client.receiveNow().isEmpty());
}

void TestSimBus::spontaneousFramesAndAcknowledges()
{
    START_SIMULATOR({ "--rack", QString(ZEF_TEST_DATA) + "/protocol.rack", "--fault",
        "can1/2001,send=AMP_STATUS_AND_EXCEPT,every=10ms,ack" });
    RawCanClient client;
    QVERIFY(client.connectTo(sim.socketPath(1)));
    // Status frames of node 5 with the acknowledge-request bit; two are acknowledged.
    QCOMPARE(texts(client.receive(3)).mid(0, 3), QStringList(3, "0164C005#00000000"));
    QVERIFY(client.sendFrame("00698005#C06401"));
    QVERIFY(client.sendFrame("00698005#C06401"));
    QTRY_VERIFY_WITH_TIMEOUT(
        sim.requestDump() && sim.dumpValue("can1_2001", "message_acks_received").toInt() == 2,
        3000);
    QCOMPARE(sim.dumpValue("can1_2001", "unacknowledged").toInt(),
        sim.dumpValue("can1_2001", "spontaneous_sent").toInt() - 2);
}

void TestSimBus::realtimeTakesTheBusTime()
{
    START_SIMULATOR({ "--realtime" });
    // 50 frames of 8 bytes need at least 50 * 131 bits * 8 us = 52.4 ms on the bus.
    RawCanClient client, listener;
    QVERIFY(connectAll(sim, 1, { &client, &listener }));
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 50; ++i)
        QVERIFY(client.sendFrame(0x18070000u, QByteArray(8, char(0x55))));
    QCOMPARE(listener.receive(50, 5000).size(), 50);
    QVERIFY2(clock.nsecsElapsed() >= 52400000, qPrintable(QString::number(clock.nsecsElapsed())));
}

void TestSimBus::floodingControllerIsHeldBack()
{
    START_SIMULATOR({ "--realtime" });
    RawCanClient client, listener;
    QVERIFY(connectAll(sim, 1, { &client, &listener }));
    // Writing far faster than the bus takes frames (about one a millisecond), the controller
    // is held back once 64 of its frames wait, as by a full driver send buffer.
    for (int i = 0; i < 300; ++i)
        QVERIFY(client.sendFrame(0x18070000u, QByteArray(8, char(i))));
    QVERIFY(sim.requestDump());
    QCOMPARE(sim.dumpValue("simulator", "can1_most_frames_waiting").toInt(), 64);
    // None of the frames is lost, and they keep their order.
    const QVector<RawCanClient::Frame> frames = listener.receive(300, 10000);
    QCOMPARE(frames.size(), 300);
    for (int i = 0; i < 300; ++i)
        QCOMPARE(frames.at(i).data, QByteArray(8, char(i)));
}

void TestSimBus::deviceLayerTalksToTheSimulator()
{
    START_SIMULATOR();
    QFile uio(sim.root() + "/dev/uio0");
    QVERIFY(uio.open(QIODevice::WriteOnly));
    uio.close();
    qputenv("ZEF400_ROOT", QFile::encodeName(sim.root()));

    CanBus::CanDeviceScm device { CanBus::CanConfiguration(
        CanBus::CanConfiguration::PowerAmplifierBus) };
    device.open(CanBus::CanDevice::Blocking);
    CanBus::CanMessageT<CanBus::SCM_IDENTIFY> request;
    request.identifier().setDestination(CanBus::CanIdentifier::PowerAmplifier);
    request.identifier().setNodeId(CanBus::CanIdentifier::BroadcastNodeId);
    request.setScmPartNumber(quint16(91204400 & 0xFFFF));
    request.setScmVariantNumber(1);
    request.setScmSerialNumber(4711);
    device.writeMessage(request);
    // Once the trace holds the answers they are on their way, so the blocking read returns.
    QTRY_VERIFY_WITH_TIMEOUT(sim.traceLines().size() == 5, 5000);
    QStringList got;
    while (got.size() < 4) {
        for (const CanBus::CanMessage& message : device.readMessages())
            got << message.toFrameText();
    }
    device.close();
    qunsetenv("ZEF400_ROOT");
    QCOMPARE(sorted(got), sorted({ amplifier2001, amplifier2002, amplifier2003, amplifier2004 }));
    QVERIFY(sim.traceLines().first().endsWith(" can1 " + identifyAmplifiers + " T"));
}

void TestSimBus::startErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("withRoot");
    QTest::addColumn<QString>("message");
    QTest::newRow("no root") << QStringList() << false << "ZEF400_ROOT is not set";
    QTest::newRow("faulty rack file")
        << QStringList { "--rack", QString(ZEF_TEST_DATA) + "/invalid_unknown_key.rack" } << true
        << "invalid_unknown_key.rack: line 3: unknown key \"colour\" for a mainboard";
    QTest::newRow("fault naming a missing node")
        << QStringList { "--fault", "can0/4242,silent" } << true
        << "--fault can0/4242,silent: fault names serial 4242, which is not on can0";
    QTest::newRow("rack check with a faulty fault")
        << QStringList { "--check-rack", "--fault", "can1/2001,delay=9999s" } << true
        << "--fault can1/2001,delay=9999s: delay \"9999s\" is not a time from 0 to 600s";
}

void TestSimBus::startErrors()
{
    QFETCH(QStringList, args);
    QFETCH(bool, withRoot);
    QFETCH(QString, message);
    QTemporaryDir root(QDir::tempPath() + "/zefsim-XXXXXX");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("ZEF400_ROOT");
    if (withRoot)
        env.insert("ZEF400_ROOT", root.path());
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(SimulatorProcess::binary(), args);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 2);
    const QString output = QString::fromLocal8Bit(process.readAll());
    QVERIFY2(output.contains(message), qPrintable(output));
    QVERIFY(!QFile::exists(root.path() + "/dev/can0"));
}

QTEST_GUILESS_MAIN(TestSimBus)
#include "tst_simbus.moc"
