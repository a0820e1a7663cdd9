#include "canbus/frame/canmessagetype.h"
#include "sim/nodefault.h"
#include "sim/rackdescription.h"

#include <QDir>
#include <QFile>
#include <QTest>

using Sim::NodeFault;
using Sim::RackDescription;
using Sim::SimNode;

class TestSimRack : public QObject {
    Q_OBJECT

private slots:
    void defaultRack();
    void fullRack();
    void fieldLines_data();
    void fieldLines();
    void tooManyNodes();
    void invalidRack_data();
    void invalidRack();
    void faultSpec_data();
    void faultSpec();
    void invalidFaultSpec_data();
    void invalidFaultSpec();
};

void TestSimRack::defaultRack()
{
    // Identity, versions and the board label show in test_sim_bus answers; here the position.
    const RackDescription rack = RackDescription::defaultRack();
    QVERIFY2(rack.ok(), qPrintable(rack.errorText()));
    QCOMPARE(rack.nodes.size(), 5);
    const SimNode& mainboard = rack.nodes.at(0);
    QCOMPARE(mainboard.rack, 1);
    QCOMPARE(mainboard.unit, 1);
    QCOMPARE(mainboard.equippedSlots, QVector<bool>(4, true));
    for (int i = 1; i <= 4; ++i)
        QCOMPARE(rack.nodes.at(i).slot, i);
}

void TestSimRack::fullRack()
{
    const RackDescription rack = RackDescription::fromFile(QString(ZEF_TEST_DATA) + "/full.rack");
    QVERIFY2(rack.ok(), qPrintable(rack.errorText()));
    QCOMPARE(rack.nodes.size(), 3);
    const SimNode& mainboard = rack.nodes.at(0);
    QCOMPARE(mainboard.rack, 2);
    QCOMPARE(mainboard.unit, 3);
    QCOMPARE(mainboard.equippedSlots, QVector<bool>({ true, false, true, false }));
    QCOMPARE(mainboard.at90Flash, QByteArray(4096, char(0xFF)));
    QCOMPARE(mainboard.fpgaFlash.size(), 131072);
    QCOMPARE(mainboard.processingDelayUs, qint64(250));
    // Rack 2, unit 3 and slots 1 and 3 as the location message carries them.
    QCOMPARE(
        mainboard.message(CanBus::TP_COMPONENTS_AND_POSITION).toHex(), QByteArray("00a0000012"));

    // The bus-wide delay reaches every node of can1, the error acknowledgement only 2002.
    QCOMPARE(rack.nodes.at(1).faults.size(), 1);
    const NodeFault& errorAck = rack.nodes.at(2).faults.at(0).fault;
    QCOMPARE(int(errorAck.kind), int(NodeFault::ErrorAck));
    QCOMPARE(errorAck.messageType, 0x800);
    QCOMPARE(errorAck.count, 2);
}

void TestSimRack::fieldLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("selector");
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("date") << "field 1 ProductionDate 2009-01-01" << 1 << 24 << QByteArray("213a");
    QTest::newRow("BCD part number")
        << "field 2 PartNumber bcd:53345678" << 2 << 12 << QByteArray("78563453");
    QTest::newRow("name") << "field 0 Name \"PS 4\"" << 0 << 30
                          << QByteArray("50532034000000000000");
    QTest::newRow("counter") << "field 2 OnCount 0x1234" << 2 << 100 << QByteArray("3412");
    QTest::newRow("measured values in BCD")
        << "message AMP_TEMP bcd:1.5 bcd:-25 0102" << -1 << 0 << QByteArray("00d550620102");
}

void TestSimRack::fieldLines()
{
    QFETCH(QString, line);
    QFETCH(int, selector);
    QFETCH(int, address);
    QFETCH(QByteArray, bytes);
    const RackDescription rack = RackDescription::parse(
        "bus can1\namplifier part=91204700 variant=1 serial=2001\n" + line + "\n");
    QVERIFY2(rack.ok(), qPrintable(rack.errorText()));
    const SimNode& node = rack.nodes.at(0);
    if (selector < 0)
        QCOMPARE(node.message(CanBus::AMP_TEMP).toHex(), bytes);
    else
        QCOMPARE(node.labelBytes(selector, address, int(bytes.size()) / 2).toHex(), bytes);
}

void TestSimRack::tooManyNodes()
{
    QString text = "bus can1\n";
    for (int serial = 1; serial <= 255; ++serial)
        text += QString("amplifier part=1 variant=1 serial=%1\n").arg(serial);
    const RackDescription rack = RackDescription::parse(text);
    QCOMPARE(rack.errorText(),
        QString("line 256: can1 already has 254 boards, the most a bus can hold"));
}

void TestSimRack::invalidRack_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    const QDir dir(ZEF_TEST_DATA);
    const QStringList files = dir.entryList({ "invalid_*.rack" }, QDir::Files, QDir::Name);
    QVERIFY(files.size() >= 10);
    for (const QString& name : files) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        // Each fixture names its exact message on its first line.
        const QString first = QString::fromUtf8(file.readLine()).trimmed();
        QVERIFY2(first.startsWith("# expect: "), qPrintable(name));
        QTest::newRow(qPrintable(name)) << dir.filePath(name) << first.mid(10);
    }
}

void TestSimRack::invalidRack()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    const RackDescription rack = RackDescription::fromFile(path);
    QVERIFY(!rack.ok());
    QCOMPARE(rack.errorText(), expected);
}

void TestSimRack::faultSpec_data()
{
    QTest::addColumn<QString>("spec");
    QTest::addColumn<int>("bus");
    QTest::addColumn<qint64>("serial");
    QTest::addColumn<int>("kind");
    QTest::addColumn<qint64>("amount"); // share in thousandths, delay/vanish in us or frames
    QTest::newRow("a silent node")
        << "can1/2003,silent" << 1 << qint64(2003) << int(NodeFault::Silent) << qint64(0);
    QTest::newRow("a lossy bus") << "can0,drop=0.25,seed=9" << 0 << qint64(-1)
                                 << int(NodeFault::Drop) << qint64(250);
    QTest::newRow("late answers in seconds")
        << "can1/2001,delay=2s" << 1 << qint64(2001) << int(NodeFault::Delay) << qint64(2000000);
    QTest::newRow("gone for a number of frames")
        << "can1/2004,vanish=12frames,after=3frames" << 1 << qint64(2004) << int(NodeFault::Vanish)
        << qint64(12);
    QTest::newRow("error code in hex") << "can0/1001,errorack=0x25,type=900" << 0 << qint64(1001)
                                       << int(NodeFault::ErrorAck) << qint64(0x25);
    QTest::newRow("a damaged block")
        << "can1/2001,corrupt=7" << 1 << qint64(2001) << int(NodeFault::Corrupt) << qint64(7);
    QTest::newRow("power lost after blocks") << "can1/2002,powerloss=5blocks" << 1 << qint64(2002)
                                             << int(NodeFault::PowerLoss) << qint64(5);
}

void TestSimRack::faultSpec()
{
    QFETCH(QString, spec);
    QFETCH(int, bus);
    QFETCH(qint64, serial);
    QFETCH(int, kind);
    QFETCH(qint64, amount);
    NodeFault fault;
    QString error;
    QVERIFY2(NodeFault::parse(spec, &fault, &error), qPrintable(error));
    QCOMPARE(fault.bus, bus);
    QCOMPARE(fault.serial, serial);
    QCOMPARE(int(fault.kind), kind);
    switch (fault.kind) {
    case NodeFault::Drop:
        QCOMPARE(qRound64(fault.share * 1000), amount);
        QCOMPARE(fault.seed, 9u);
        break;
    case NodeFault::Delay:
        QCOMPARE(fault.delayUs, amount);
        break;
    case NodeFault::Vanish:
        QCOMPARE(fault.vanishFor.value, amount);
        QVERIFY(fault.vanishFor.frames);
        QCOMPARE(fault.vanishAfter.value, qint64(3));
        break;
    case NodeFault::ErrorAck:
        QCOMPARE(qint64(fault.errorCode), amount);
        QCOMPARE(fault.messageType, 0x900);
        break;
    case NodeFault::Corrupt:
        QCOMPARE(qint64(fault.block), amount);
        break;
    case NodeFault::PowerLoss:
        QCOMPARE(qint64(fault.afterBlocks), amount);
        break;
    case NodeFault::Silent:
    case NodeFault::Send:
        break;
    }
}

void TestSimRack::invalidFaultSpec_data()
{
    QTest::addColumn<QString>("spec");
    QTest::addColumn<QString>("message");
    QTest::newRow("no kind") << "can1/2001"
                             << "fault \"can1/2001\" needs a target and a kind";
    QTest::newRow("unknown bus")
        << "can2,silent"
        << "fault target \"can2\" is not can0, can1, can0/SERIAL or can1/SERIAL";
    QTest::newRow("two kinds") << "can1,silent,delay=3ms"
                               << "fault \"can1,silent,delay=3ms\" names more than one kind";
    QTest::newRow("delay counted in frames")
        << "can1,delay=3frames"
        << "delay \"3frames\" is not a time from 0 to 600s such as 250ms";
    QTest::newRow("delay beyond minutes")
        << "can1,delay=9223372036855s"
        << "delay \"9223372036855s\" is not a time from 0 to 600s such as 250ms";
    QTest::newRow("serial of 23 digits")
        << "can1/12345678901234567890123,silent"
        << "fault target \"can1/123456789012345...\" is not can0, can1, can0/SERIAL or can1/SERIAL";
    QTest::newRow("send of a message nodes do not send")
        << "can1,send=SCM_POLL"
        << "send \"SCM_POLL\" is not a TP_ or AMP_ message";
    QTest::newRow("type beyond 12 bits") << "can1,silent,type=1000"
                                         << "message type \"1000\" is not 1 to 3 hex digits";
    QTest::newRow("options without a kind")
        << "can1,count=2"
        << "fault \"can1,count=2\" names no kind (drop, delay, errorack, silent, vanish, send)";
}

void TestSimRack::invalidFaultSpec()
{
    QFETCH(QString, spec);
    QFETCH(QString, message);
    NodeFault fault;
    QString error;
    QVERIFY(!NodeFault::parse(spec, &fault, &error));
    QCOMPARE(error, message);
}

QTEST_GUILESS_MAIN(TestSimRack)
#include "tst_simrack.moc"
