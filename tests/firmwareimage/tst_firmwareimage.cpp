#include "app/firmwareimage.h"
#include "app/firmwareimagecluster.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using CanBus::FirmwareImage;
using CanBus::FirmwareImageCluster;

// Image files as a release carries them, read through the root and cut into blocks.
class TestFirmwareImage : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("ZEF400_ROOT", m_root.path().toLocal8Bit()); }
    void readAndCluster_data();
    void readAndCluster();
    void madeRootReleases();

private:
    QTemporaryDir m_root;
};

static QByteArray header(const QByteArray& tag, const QByteArray& version)
{
    return tag.leftJustified(8, '\0', true) + QByteArray(8, 'x') + version + '\0';
}

void TestFirmwareImage::readAndCluster_data()
{
    QTest::addColumn<int>("updateType");
    QTest::addColumn<QString>("release"); // empty: the latest, straight in FwUpdate
    QTest::addColumn<QString>("file"); // where the row puts its file; empty: none
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<int>("lastBlockCrc"); // -1: no block

    const QByteArray digits("123456789");
    QTest::newRow("check value, payload at offset 23 after version 1.14.0")
        << 0 << ""
        << "BO/91204500_AT90.bin" << header("ZEF400", "1.14.0") + digits << digits << "1.14.0"
        << "ZEF400" << 1 << 0x488C;
    const QByteArray b600(600, '\0');
    QTest::newRow("600 bytes: 88 bytes and 168 of 0xFF in block 3")
        << 1 << ""
        << "BO/91204500_FPGA.bin" << header("T", "1.13.1") + b600 << b600 << "1.13.1"
        << "T" << 3 << 0x1532;
    const QByteArray b512(512, '\0');
    QTest::newRow("512 bytes: two blocks, none padded")
        << 2 << ""
        << "PA/91204700_AT90.bin" << header("T", "2") + b512 << b512 << "2"
        << "T" << 2 << 0x64BF;
    const QByteArray b1000(1000, '\0');
    QTest::newRow("1000 bytes: 232 bytes and 24 of 0xFF in block 4")
        << 3 << "1.13.1"
        << "1.13.1/PA/91204700_FPGA.bin" << header("T", "1.12.5") + b1000 << b1000 << "1.12.5"
        << "T" << 4 << 0x178B;
    const QByteArray b257(257, '\0');
    QTest::newRow("type above 3 as 3, 257 bytes: one byte over a block")
        << 9 << ""
        << "PA/91204700_FPGA.bin" << header("T", "1") + b257 << b257 << "1"
        << "T" << 2 << 0x648F;
    QTest::newRow("tag of 8 and version of 16 characters without NUL")
        << 0 << ""
        << "BO/91204500_AT90.bin"
        << header("ABCDEFGHIJ", "1234567890abcdef") + QByteArray("\x01\x02")
        << QByteArray("\x01\x02") << "1234567890abcdef"
        << "ABCDEFGH" << 1 << 0xA823;
    QTest::newRow("file shorter than the header")
        << 0 << ""
        << "BO/91204500_AT90.bin" << QByteArray("ZEF4") << QByteArray() << ""
        << "" << 0 << -1;
    QTest::newRow("missing file") << 0 << "1.11.2"
                                  << "" << QByteArray() << QByteArray() << ""
                                  << "" << 0 << -1;
}

void TestFirmwareImage::readAndCluster()
{
    QFETCH(int, updateType);
    QFETCH(QString, release);
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, payload);
    QFETCH(QString, version);
    QFETCH(QString, tag);
    QFETCH(int, blocks);
    QFETCH(int, lastBlockCrc);

    const QString releases = m_root.path() + "/usr/local/FwUpdate";
    QDir(releases).removeRecursively();
    if (!file.isEmpty()) {
        QVERIFY(QDir().mkpath(QFileInfo(releases + "/" + file).path()));
        QFile out(releases + "/" + file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(content);
    }

    FirmwareImage image { Kubus::FirmwareUpdateInfo::FirmwareUpdateType(updateType) };
    if (!release.isEmpty())
        image.setImageDirectory(releases + "/" + release);
    QCOMPARE(image.version(), version);
    QCOMPARE(image.fileTag(), tag);
    QCOMPARE(image.data(), payload);

    const FirmwareImageCluster cluster(image.data());
    QCOMPARE(cluster.blocks().size(), blocks);
    for (const FirmwareImageCluster::tUpdateBlock& block : cluster.blocks())
        QCOMPARE(block.data.size(), 256);
    if (blocks > 0) {
        const QByteArray last = cluster.blocks().last().data;
        const int rest = payload.size() - (blocks - 1) * 256;
        QCOMPARE(last.left(rest), payload.right(rest));
        QCOMPARE(last.mid(rest), QByteArray(256 - rest, char(0xFF)));
        QCOMPARE(int(cluster.blocks().last().crc), lastBlockCrc);
    }
    if (payload == "123456789")
        QCOMPARE(FirmwareImageCluster::calcCrc16(payload), quint16(0x4B37));
    QCOMPARE(FirmwareImageCluster::calcCrc16(QByteArray()), quint16(0xFFFF));
}

// Every image scripts/make-root lays out reads back with its release as version.
void TestFirmwareImage::madeRootReleases()
{
    QTemporaryDir root;
    QProcess make;
    make.start(QStringLiteral(ZEF_SOURCE_DIR "/scripts/make-root"), { root.path() });
    QVERIFY(make.waitForFinished(60000) && make.exitCode() == 0);
    const QString releases = root.path() + "/usr/local/FwUpdate";
    for (const QString& release : { "", "/1.14.0", "/1.13.1", "/1.12.5", "/1.11.2" }) {
        for (int type = 0; type < 4; ++type) {
            FirmwareImage image { Kubus::FirmwareUpdateInfo::FirmwareUpdateType(type) };
            image.setImageDirectory(releases + release);
            QCOMPARE(image.version(), release.isEmpty() ? QString("1.14.0") : release.mid(1));
            QVERIFY(!image.data().isEmpty());
        }
    }
}

QTEST_GUILESS_MAIN(TestFirmwareImage)
#include "tst_firmwareimage.moc"
