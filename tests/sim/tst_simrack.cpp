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
    void invalidRack_data();
    void invalidRack();
    void faultSpec_data();
    void faultSpec();
    void invalidFaultSpec_data();
    void invalidFaultSpec();
};

void TestSimRack::defaultRack()
{
    const RackDescription rack = RackDescription::defaultRack();
    QVERIFY2(rack.ok(), qPrintable(rack.errorText()));
    QCOMPARE(rack.nodes.size(), 5);
    // Variant, serial, protocol version, node id and bus class show in the identify answers
    // that test_sim_bus checks; here the fields those answers do not carry.

    const SimNode& mainboard = rack.nodes.at(0);
    QCOMPARE(int(mainboard.kind), int(SimNode::MainBoard));
    QCOMPARE(mainboard.bus, 0);
    QCOMPARE(mainboard.partNumber, 91204500u);
    QCOMPARE(mainboard.rack, 1);
    QCOMPARE(mainboard.unit, 1);
    QCOMPARE(mainboard.equippedSlots, QVector<bool>(4, true));
    QCOMPARE(mainboard.at90Version(), QString("1.13.1"));
    QCOMPARE(mainboard.fpgaVersion(), QString("1.13.1"));

    for (int i = 1; i <= 4; ++i) {
        const SimNode& amplifier = rack.nodes.at(i);
        QCOMPARE(int(amplifier.kind), int(SimNode::PowerAmplifier));
        QCOMPARE(amplifier.bus, 1);
        QCOMPARE(amplifier.partNumber, 91204700u);
        QCOMPARE(amplifier.slot, i);
        QCOMPARE(amplifier.at90Version(), QString("1.13.1"));
        QCOMPARE(amplifier.fpgaVersion(), QString("1.13.1"));
        // The board label carries the identity the controller reads back.
        QCOMPARE(amplifier.labelBytes(0, 12, 4), QByteArray::fromHex("5CAC6F05"));
        const char* serials[] = { "D1070000", "D2070000", "D3070000", "D4070000" };
        QCOMPARE(amplifier.labelBytes(0, 20, 4), QByteArray::fromHex(serials[i - 1]));
    }
}

void TestSimRack::fullRack()
{
    const RackDescription rack = RackDescription::fromFile(QString(ZEF_TEST_DATA) + "/full.rack");
    QVERIFY2(rack.ok(), qPrintable(rack.errorText()));
    QCOMPARE(rack.nodes.size(), 3);

    const SimNode& mainboard = rack.nodes.at(0);
    QCOMPARE(int(mainboard.variant), 2);
    QCOMPARE(int(mainboard.protocolVersion), 6);
    QCOMPARE(mainboard.nodeId, 4);
    QCOMPARE(mainboard.rack, 2);
    QCOMPARE(mainboard.unit, 3);
    QCOMPARE(mainboard.equippedSlots, QVector<bool>({ true, false, true, false }));
    QCOMPARE(mainboard.at90Version(), QString("1.12.0"));
    QCOMPARE(mainboard.fpgaVersion(), QString("2.0.1"));
    QCOMPARE(mainboard.at90Flash, QByteArray(4096, char(0xFF)));
    QCOMPARE(mainboard.fpgaFlash.size(), 131072);
    QCOMPARE(mainboard.processingDelayUs, qint64(250));
    QCOMPARE(mainboard.labelText(48, 30, 10), QString("MB#7"));
    QVERIFY(mainboard.faults.isEmpty());

    const SimNode& first = rack.nodes.at(1);
    QCOMPARE(first.slot, 2);
    QCOMPARE(first.labelBytes(1, 12, 4), QByteArray::fromHex("78563453"));
    // The bus-wide delay reaches every node of can1, the error acknowledgement only 2002.
    QCOMPARE(first.faults.size(), 1);
    QCOMPARE(int(first.faults.at(0).fault.kind), int(NodeFault::Delay));
    QCOMPARE(first.faults.at(0).fault.delayUs, qint64(20000));

    const SimNode& second = rack.nodes.at(2);
    QCOMPARE(second.faults.size(), 2);
    const NodeFault& errorAck = second.faults.at(0).fault;
    QCOMPARE(int(errorAck.kind), int(NodeFault::ErrorAck));
    QCOMPARE(errorAck.errorCode, 5);
    QCOMPARE(errorAck.messageType, 0x800);
    QCOMPARE(errorAck.count, 2);
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
    case NodeFault::Silent:
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
    QTest::newRow("delay counted in frames") << "can1,delay=3frames"
                                             << "delay \"3frames\" is not a time such as 250ms";
    QTest::newRow("type beyond 12 bits") << "can1,silent,type=1000"
                                         << "message type \"1000\" is not 1 to 3 hex digits";
    QTest::newRow("options without a kind")
        << "can1,count=2"
        << "fault \"can1,count=2\" names no kind (drop, delay, errorack, silent, vanish)";
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
