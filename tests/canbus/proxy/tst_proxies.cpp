#include "canbus/device/canconfiguration.h"
#include "canbus/device/candevicescm.h"
#include "canbus/nodes/poweramplifierpositionfinder.h"
#include "canbus/proxy/mainboardproxy.h"
#include "canbus/proxy/poweramplifierproxy.h"
#include "common/rawcanclient.h"
#include "common/simulatorprocess.h"
#include "kubus/catalogue/mainboardbus.h"
#include "kubus/catalogue/poweramplifierbus.h"
#include "kubus/request/request.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSignalSpy>
#include <QTest>

using namespace CanBus;

// Both proxies in this process against the simulator's built-in rack (one mainboard, four
// amplifiers in slots 1-4): discovery reports, spontaneous frames, the position search and a
// transfer's progress.
class TestProxies : public QObject {
    Q_OBJECT

    SimulatorProcess sim;
    std::unique_ptr<CanDeviceScm> mainBoardDevice;
    std::unique_ptr<CanDeviceScm> amplifierDevice;
    std::unique_ptr<MainBoardProxy> mainBoards;
    std::unique_ptr<PowerAmplifierProxy> amplifiers;
    QMap<int, unsigned> serialById; // amplifiers
    int mainBoardId = -1;

private slots:
    void initTestCase()
    {
        QDir(sim.root()).mkpath("dev");
        QFile(sim.root() + "/dev/uio0").open(QIODevice::WriteOnly);
        qputenv("ZEF400_ROOT", sim.root().toLocal8Bit());
        QVERIFY(sim.start());
        mainBoardDevice
            = std::make_unique<CanDeviceScm>(CanConfiguration(CanConfiguration::MainBoardBus));
        amplifierDevice
            = std::make_unique<CanDeviceScm>(CanConfiguration(CanConfiguration::PowerAmplifierBus));
        mainBoards = std::make_unique<MainBoardProxy>(mainBoardDevice.get());
        amplifiers = std::make_unique<PowerAmplifierProxy>(amplifierDevice.get());
        amplifiers->setFirmwareTimeout(30000);
    }
    void cleanupTestCase()
    {
        amplifiers.reset();
        mainBoards.reset();
    }

    void discoveryReachesTheBus()
    {
        QSignalSpy mainFound(Kubus::MainBoardBus::instance(),
            qOverload<const Kubus::IdentifyNewNodes&>(&Kubus::MainBoardBus::message));
        QSignalSpy ampFound(Kubus::PowerAmplifierBus::instance(),
            qOverload<const Kubus::IdentifyNewNodes&>(&Kubus::PowerAmplifierBus::message));
        Kubus::IdentifyInfo info;
        info.waitForReplyInterval = 300;
        info.repeatInterval = 300;
        Kubus::MainBoardBus::instance()->send(info);
        Kubus::PowerAmplifierBus::instance()->send(info);
        QMetaObject::invokeMethod(mainBoards.get(), "startApiService", Qt::DirectConnection);
        QMetaObject::invokeMethod(amplifiers.get(), "startApiService", Qt::DirectConnection);
        QTRY_VERIFY_WITH_TIMEOUT(mainFound.count() >= 1 && ampFound.count() >= 1, 10000);
        const auto boards = mainFound.first().first().value<Kubus::IdentifyNewNodes>();
        QCOMPARE(boards.nodes.size(), 1);
        QCOMPARE(boards.nodes.first().serialNumber, 1001u);
        mainBoardId = boards.nodes.first().nodeId;
        // The four amplifiers may come in one or two reports.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                serialById.clear();
                for (const QList<QVariant>& report : std::as_const(ampFound))
                    for (const auto& node : report.first().value<Kubus::IdentifyNewNodes>().nodes)
                        serialById.insert(node.nodeId, node.serialNumber);
                return serialById.size() == 4;
            }(),
            10000);
    }

    // A node's test-point frame that asks for an acknowledge gets one and becomes a record.
    void spontaneousFrameIsAcknowledgedAndDecoded()
    {
        RawCanClient node;
        QVERIFY(node.connectTo(sim.socketPath(0)));
        QVERIFY(sim.waitForConfigured(0, 2));
        QSignalSpy volts(Kubus::MainBoardBus::instance(),
            qOverload<const Kubus::MainBoard_TP_VV_VOLT&>(&Kubus::MainBoardBus::message));
        // TP_VV_VOLT (0xFC0) from node 9 with the acknowledge-request bit.
        const quint32 id = (1u << 24) | (0xFC0u << 8) | 9;
        QVERIFY(node.sendFrame(id, QByteArray::fromHex("3412785601000200")));
        QTRY_COMPARE_WITH_TIMEOUT(volts.count(), 1, 5000);
        const auto record = volts.first().first().value<Kubus::MainBoard_TP_VV_VOLT>();
        QCOMPARE(record.nodeId, 9);
        QVERIFY(record.spontaneous);
        QCOMPARE(record.value(1), quint16(0x1234));
        QCOMPARE(record.value(2), quint16(0x5678));
        const auto frames = node.receive(1, 3000);
        bool acknowledged = false;
        for (const auto& frame : frames)
            acknowledged |= ((frame.id >> 8) & 0xFFF) == 0x980 && (frame.id & 0xFF) == 9
                && frame.data == QByteArray::fromHex("C00F01");
        QVERIFY(acknowledged);
    }

    void positionSearch()
    {
        PowerAmplifierPositionFinder finder;
        QObject::connect(Kubus::PowerAmplifierBus::instance(),
            qOverload<const Kubus::PowerAmplifier_AMP_POSITION&>(
                &Kubus::PowerAmplifierBus::message),
            &finder, [&](const Kubus::PowerAmplifier_AMP_POSITION& record) {
                finder.newSlotInfo(record.nodeId, record.slot);
            });
        QSignalSpy found(&finder, &PowerAmplifierPositionFinder::positionOfPowerAmplifierFound);
        PowerAmplifierPositionFinder::SearchJob job({ true, false, true, true });
        job.mainBoardNodeId = mainBoardId;
        job.rack = 1;
        job.unit = 1;
        finder.addSearchJob(job);
        QTRY_COMPARE_WITH_TIMEOUT(found.count(), 3, 5000);
        QMap<unsigned, int> slotBySerial;
        for (const auto& args : std::as_const(found))
            slotBySerial.insert(serialById.value(args.at(0).toInt()),
                args.at(1).value<PowerAmplifierPositionFinder::Position>().slot);
        // The built-in rack: amplifier 200N in slot N, slot indexes counting from 0.
        QCOMPARE(slotBySerial, (QMap<unsigned, int> { { 2001, 0 }, { 2003, 2 }, { 2004, 3 } }));
    }

    // 1000 bytes of AT90: four erase units, then blocks 1, 2, 3 and 0; every report reaches the
    // bus, in order, before the response; the version goes into the label behind two characters
    // of the prefix.
    void transferReportsProgress()
    {
        QMutex mutex;
        QStringList reports;
        auto* bus = Kubus::PowerAmplifierBus::instance();
        const auto connection = connect(
            bus,
            qOverload<const Kubus::FirmwareUpdateProgress&>(&Kubus::PowerAmplifierBus::message),
            bus,
            [&](const Kubus::FirmwareUpdateProgress& p) {
                QMutexLocker lock(&mutex);
                reports << QString("%1:%2/%3").arg(p.phase).arg(p.current).arg(p.count);
            },
            Qt::DirectConnection);
        Kubus::FirmwareUpdate request;
        request.nodeId = serialById.key(2002, -1);
        request.type = Kubus::FirmwareUpdateInfo::PowerAmplifierAT90;
        request.version = "1.2.3";
        request.versionPrefix = "0123456789AB";
        request.data = QByteArray(1000, 'x');
        QCOMPARE((Kubus::Request<Kubus::PowerAmplifierBus, Kubus::FirmwareUpdate>(nullptr, request)
                         .execute()
                         .status),
            0);
        disconnect(connection);
        QMutexLocker lock(&mutex);
        QCOMPARE(reports,
            QStringList(
                { "0:0/4", "0:1/4", "0:2/4", "0:3/4", "1:0/4", "1:1/4", "1:2/4", "1:4/4" }));
        // Before the version: the ninth and tenth characters of the prefix.
        QVERIFY(sim.requestDump());
        QCOMPARE(sim.label("can1_2002", 0).mid(124, 12), QByteArray("891.2.3\0\0\0\0\0", 12));
    }
};

QTEST_GUILESS_MAIN(TestProxies)
#include "tst_proxies.moc"
