#include "app/deviceupdater.h"

#include <QTest>

using CanBus::FirmwareImage;

// The updater's decisions that need no bus: version texts, the type text, forced firmwares.
class TestDeviceUpdater : public QObject {
    Q_OBJECT

private slots:
    void versionTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("good");
        QTest::newRow("three numbers") << "1.14.0" << true;
        QTest::newRow("dashes inside a part are dropped") << "1-2.3.4" << true;
        QTest::newRow("two parts") << "1.14" << false;
        QTest::newRow("a letter") << "1.x.0" << false;
        QTest::newRow("four parts") << "1.2.3.4" << false;
        QTest::newRow("an empty part counts as a part") << "1..0" << false;
        QTest::newRow("empty") << "" << false;
    }
    void versionTexts()
    {
        QFETCH(QString, text);
        QFETCH(bool, good);
        QCOMPARE(DeviceUpdater::checkVersionString(text), good);
    }

    void typeText()
    {
        QCOMPARE(DeviceUpdater::typeText(91204500, 1), QString("9120.4500.01"));
        // Only the low 8 bits of the variant count.
        QCOMPARE(DeviceUpdater::typeText(91204700, 0x1FF), QString("9120.4700.255"));
        QCOMPARE(DeviceUpdater::typeText(1234, 7), QString("0000.1234.07"));
    }

    // A node in an id set is forced whatever the flag; otherwise the flag decides.
    void forcedFirmwares()
    {
        DeviceUpdater updater(FirmwareImage::PowerAmplifier);
        updater.setForceUpdateFPGA(QSet<int> { 3 });
        QVERIFY(updater.isForced(3, FirmwareImage::FPGA));
        QVERIFY(!updater.isForced(3, FirmwareImage::AT90));
        QVERIFY(!updater.isForced(4, FirmwareImage::FPGA));
        updater.setForceUpdateAT90(true);
        QVERIFY(updater.isForced(4, FirmwareImage::AT90));
        QVERIFY(!updater.isForced(4, FirmwareImage::FPGA));
        updater.setForceUpdateDevice(false);
        QVERIFY(!updater.isForced(4, FirmwareImage::AT90));
        QVERIFY(updater.isForced(3, FirmwareImage::FPGA));
        updater.setForceUpdateDevice(QSet<int> { 5 });
        QVERIFY(updater.isForced(5, FirmwareImage::AT90));
        QVERIFY(updater.isForced(5, FirmwareImage::FPGA));
        QVERIFY(!updater.isForced(3, FirmwareImage::FPGA));
        QVERIFY(!updater.isForced(5, FirmwareImage::FirmwareType(2)));
    }
};

QTEST_GUILESS_MAIN(TestDeviceUpdater)
#include "tst_deviceupdater.moc"
