#include "app/firmwareimage.h"
#include "canbus/nodes/firmwareimagecluster.h"

#include <QtTest>

using CanBus::FirmwareImageCluster;

// Image files of a release read through the root, then cut into blocks.
class TestFirmwareImage : public QObject {
    Q_OBJECT
private slots:
    void images_data();
    void images();
};

namespace {
// file: where the row's file goes ("": none, "make-root": the script's releases); the file is
// the tag filled to 8 bytes, 8 unused bytes, the version and its NUL, the payload ("short":
// only "ZEF4"). tag and version are what reads back; blocks -1: not checked.
struct Row {
    const char *name, *release, *file, *fileTag, *tag, *version;
    int type, blocks, lastBlockCrc;
    QByteArray payload;
};
const Row rows[] = {
    { "check value; payload at 23", "", "BO/91204500_AT90.bin", "ZEF400", "ZEF400", "1.14.0", 0, 1,
        0x488C, "123456789" },
    { "600: 88 + 168 x 0xFF", "", "BO/91204500_FPGA.bin", "T", "T", "1.13.1", 1, 3, 0x1532,
        QByteArray(600, 0) },
    { "512: two blocks, no padding", "", "PA/91204700_AT90.bin", "T", "T", "2", 2, 2, 0x64BF,
        QByteArray(512, 0) },
    { "1000 in 1.13.1: 232 + 24 x 0xFF", "1.13.1", "1.13.1/PA/91204700_FPGA.bin", "T", "T",
        "1.12.5", 3, 4, 0x178B, QByteArray(1000, 0) },
    { "type 9 as 3; 257: one over a block", "", "PA/91204700_FPGA.bin", "T", "T", "1", 9, 2, 0x648F,
        QByteArray(257, 0) },
    { "tag of 8, version of 16", "", "BO/91204500_AT90.bin", "ABCDEFGHIJ", "ABCDEFGH",
        "1234567890abcdef", 0, 1, 0xA823, "\x01\x02" },
    { "shorter than the header", "", "short", "", "", "", 0, 0, 0, "" },
    { "missing file", "1.11.2", "", "", "", "", 0, 0, 0, "" },
    { "made by make-root", "1.13.1", "make-root", "", "ZEF400", "1.13.1", 3, -1, 0, "" },
};
} // namespace

void TestFirmwareImage::images_data()
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(rows)); ++i)
        QTest::newRow(rows[i].name) << i;
}

void TestFirmwareImage::images()
{
    QFETCH(int, row);
    const Row& r = rows[row];
    QTemporaryDir root;
    qputenv("ZEF400_ROOT", root.path().toLocal8Bit());
    const QString releases = root.path() + "/usr/local/FwUpdate/";
    const QString file = r.file == QString("short") ? "BO/91204500_AT90.bin" : r.file;
    QFile out(releases + file);
    if (file == "make-root") {
        QProcess make;
        make.start(ZEF_SOURCE_DIR "/scripts/make-root", { root.path() });
        QVERIFY(make.waitForFinished(60000) && make.exitCode() == 0);
    } else if (!file.isEmpty()) {
        QVERIFY(QDir().mkpath(QFileInfo(out).path()) && out.open(QIODevice::WriteOnly));
        out.write(r.file != file ? QByteArray("ZEF4")
                                 : QByteArray(r.fileTag).leftJustified(8, 0, true) + "xxxxxxxx"
                    + r.version + QByteArray(1, 0) + r.payload);
        out.close();
    }

    CanBus::FirmwareImage image { Kubus::FirmwareUpdateInfo::FirmwareUpdateType(r.type) };
    if (*r.release)
        image.setImageDirectory(releases + r.release);
    QCOMPARE(image.version(), QString(r.version));
    QCOMPARE(image.fileTag(), QString(r.tag));
    QCOMPARE(image.data().isEmpty(), r.blocks == 0);
    const auto blocks = FirmwareImageCluster(image.data()).blocks();
    QVERIFY(r.blocks < 0 || (image.data() == r.payload && blocks.size() == r.blocks));
    if (r.blocks > 0) {
        const int rest = r.payload.size() - (r.blocks - 1) * 256;
        QCOMPARE(blocks.last().data, r.payload.right(rest) + QByteArray(256 - rest, char(0xFF)));
        QCOMPARE(int(blocks.last().crc), r.lastBlockCrc);
    }
    QCOMPARE(FirmwareImageCluster::calcCrc16("123456789"), quint16(0x4B37));
    QCOMPARE(FirmwareImageCluster::calcCrc16(QByteArray()), quint16(0xFFFF));
}

QTEST_GUILESS_MAIN(TestFirmwareImage)
#include "tst_firmwareimage.moc"
