#include "common/programrun.h"
#include "common/rawcanclient.h"
#include "common/simulatorprocess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Result {
    int exit = -1;
    QByteArray out;
    QString err;
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
};

// meanwhile: run once the tool has started, e.g. to disturb it.
Result runTool(const QString& root, const QStringList& args, int firmwareTimeoutMs = 0,
    const std::function<void()>& meanwhile = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZEF400_ROOT", root);
    if (firmwareTimeoutMs > 0)
        env.insert("ZEF400_NODE_FIRMWARE_TIMEOUT_MS", QString::number(firmwareTimeoutMs));
    process.setProcessEnvironment(env);
    startTargetProgram(process, "zef400-node", args);
    if (meanwhile)
        meanwhile();
    Result result;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
    }
    result.exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    if (result.err.contains("Sanitizer"))
        qWarning().noquote() << result.err;
    return result;
}

// Node id by serial number, from a scan.
QMap<qint64, int> idsBySerial(const Result& scan)
{
    QMap<qint64, int> ids;
    for (const QJsonValue& node : scan.json().value("nodes").toArray())
        ids.insert(
            node.toObject().value("serial").toInteger(), node.toObject().value("nodeId").toInt());
    return ids;
}

QByteArray imageFile(const QString& path, const QByteArray& version, const QByteArray& payload)
{
    QByteArray header(16, '\0');
    header.replace(0, 4, "ZEFI");
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(header + version + '\0' + payload);
    return payload;
}

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char& c : bytes)
        c = char(random.bounded(256));
    // The flash dump ends at the last byte that is not erased.
    bytes[size - 1] = 0x5A;
    return bytes;
}

// The flash holds the image and, behind it, only erased bytes (the padding of the last block
// included).
bool holds(const QByteArray& flash, const QByteArray& image)
{
    return flash.left(image.size()) == image
        && flash.mid(image.size()).count(char(0xFF)) == flash.size() - image.size();
}

void touchUio(const QString& root)
{
    QDir(root).mkpath("dev");
    QFile(root + "/dev/uio0").open(QIODevice::WriteOnly);
}

} // namespace

class TestNodeTool : public QObject {
    Q_OBJECT

private slots:
    // Outcomes decided before the bus is touched: one JSON object with the reason every time.
    void misuse_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("error");
        auto row = [](const char* name, const QStringList& args, int exit = 2,
                       const QString& error = QString()) {
            QTest::newRow(name) << args << exit << error;
        };
        row("nothing", {});
        row("unknown bus", { "can7", "scan" }, 2, "unknown bus");
        row("unknown command", { "amplifier", "erase", "1" });
        row("node id out of range", { "amplifier", "ping", "255" });
        row("missing node id", { "mainboard", "label" });
        row("kind not in the file name", { "amplifier", "update", "1", "/tmp/image.bin" });
        row("unreadable image", { "amplifier", "update", "1", "/nonexistent/PA_AT90.bin" });
        row("no device to open", { "amplifier", "scan" }, 2, "cannot open");
        row("FIFO as image", { "amplifier", "update", "1", "ROOT/fifo_AT90.bin" }, 2,
            "not a regular file");
        row("mainboard image by part number on the amplifier bus",
            { "amplifier", "update", "1", "ROOT/91204500_AT90.bin" }, 1, "for the mainboard bus");
    }
    void misuse()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exit);
        QFETCH(QString, error);
        QTemporaryDir root;
        touchUio(root.path());
        QCOMPARE(QProcess::execute("mkfifo", { root.filePath("fifo_AT90.bin") }), 0);
        imageFile(root.filePath("91204500_AT90.bin"), "1.14.0", "payload");
        args.replaceInStrings("ROOT", root.path());
        const Result result = runTool(root.path(), QStringList { "--json" } + args);
        QCOMPARE(result.exit, exit);
        QVERIFY(result.err.contains("zef400-node: "));
        QVERIFY(result.json().value("error").toString().contains(error));
        QVERIFY(!result.json().value("error").toString().isEmpty());
    }

    // Scan, label, control and a second program run against the built-in rack.
    void scanLabelControl()
    {
        SimulatorProcess sim;
        touchUio(sim.root());
        QVERIFY(sim.start());
        const Result scan = runTool(sim.root(), { "--json", "amplifier", "scan" });
        QCOMPARE(scan.exit, 0);
        const QMap<qint64, int> ids = idsBySerial(scan);
        QCOMPARE(ids.keys(), QList<qint64>({ 2001, 2002, 2003, 2004 }));
        QCOMPARE(QSet<int>(ids.begin(), ids.end()).size(), 4);

        const int id = ids.value(2003);
        const Result label
            = runTool(sim.root(), { "--json", "amplifier", "label", QString::number(id) });
        QCOMPARE(label.exit, 0);
        QCOMPARE(label.json().value("serial").toInt(), 2003);
        QCOMPARE(label.json().value("at90Version").toString(), QString("1.13.1"));
        QCOMPARE(label.json().value("fpgaVersion").toString(), QString("1.13.1"));
        QVERIFY(label.json().contains("bundleVersion"));

        for (const char* command : { "ping", "operate", "reset" }) {
            const Result control
                = runTool(sim.root(), { "--json", "amplifier", command, QString::number(id) });
            QCOMPARE(control.exit, 0);
            QCOMPARE(control.json().value("status").toInt(), 0);
        }
        QVERIFY(sim.requestDump());
        QCOMPARE(sim.dumpValue("can1_2003", "resets").toInt(), 1);

        // A node that is not there.
        const Result absent = runTool(sim.root(), { "--json", "amplifier", "ping", "200" });
        QCOMPARE(absent.exit, 1);
        QCOMPARE(absent.json().value("error").toString(), QString("node 200 not found"));

        // After the reset and across program runs every node keeps its id.
        QCOMPARE(idsBySerial(runTool(sim.root(), { "--json", "amplifier", "scan" })), ids);
    }

    void transferAwkwardSizes_data()
    {
        QTest::addColumn<QString>("bus");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("version");
        // Ten characters, so that its own last two would show in front of it.
        QTest::newRow("AT90 of 1000 bytes") << "amplifier"
                                            << "PA_AT90.bin" << 1000 << QByteArray("1.14.0-r12");
        QTest::newRow("FPGA one byte over an erase unit")
            << "mainboard"
            << "BO_FPGA.bin" << 65537 << QByteArray("1.14.0");
    }
    void transferAwkwardSizes()
    {
        QFETCH(QString, bus);
        QFETCH(QString, fileName);
        QFETCH(int, size);
        QFETCH(QByteArray, version);
        SimulatorProcess sim;
        touchUio(sim.root());
        QVERIFY(sim.start());
        const Result scan = runTool(sim.root(), { "--json", bus, "scan" });
        QCOMPARE(scan.exit, 0);
        const QMap<qint64, int> ids = idsBySerial(scan);
        const qint64 serial = ids.firstKey();
        const QString node = QString("%1_%2").arg(bus == "amplifier" ? "can1" : "can0").arg(serial);
        const bool fpga = fileName.contains("FPGA");
        const QByteArray image
            = imageFile(sim.root() + "/" + fileName, version, randomBytes(size, quint32(size)));

        const Result update = runTool(sim.root(),
            { "--json", bus, "update", QString::number(ids.value(serial)),
                sim.root() + "/" + fileName });
        QCOMPARE(update.exit, 0);
        QCOMPARE(update.json().value("status").toInt(), 0);
        QCOMPARE(update.json().value("blocks").toInt(), (size + 255) / 256);
        QCOMPARE(update.json().value("firmware").toString(), QString(fpga ? "fpga" : "at90"));

        QVERIFY(sim.requestDump());
        QVERIFY(holds(sim.flash(node, fpga ? "fpga" : "at90"), image));
        QCOMPARE(sim.dumpValue(node, fpga ? "fpga_valid" : "at90_valid").toBool(), true);
        // The node's bundle version goes in front: 8 characters at most, so its last two of ten
        // are zero bytes.
        if (!fpga)
            QCOMPARE(sim.label(node, 0).mid(124, 12), QByteArray(2, '\0') + version);
        const Result label
            = runTool(sim.root(), { "--json", bus, "label", QString::number(ids.value(serial)) });
        QCOMPARE(label.exit, 0);
        QCOMPARE(
            label.json().value(fpga ? "fpgaVersion" : "at90Version").toString(), QString(version));
        QCOMPARE(
            label.json().value(fpga ? "at90Version" : "fpgaVersion").toString(), QString("1.13.1"));
        QCOMPARE(idsBySerial(runTool(sim.root(), { "--json", bus, "scan" })), ids);
    }

    void faults()
    {
        SimulatorProcess sim;
        touchUio(sim.root());
        QVERIFY(sim.start({ "--fault", "can1/2002,corrupt=2", "--fault", "can1/2003,powerloss=3",
            "--fault", "can1/2004,errorack=34,type=E00" }));
        const QMap<qint64, int> ids
            = idsBySerial(runTool(sim.root(), { "--json", "amplifier", "scan" }));
        QCOMPARE(ids.size(), 4);
        const QString file = sim.root() + "/PA_FPGA.bin";
        const QByteArray image = imageFile(file, "1.14.0", randomBytes(3000, 7));

        // A block damaged on the way is written again.
        const Result corrupt = runTool(sim.root(),
            { "--json", "amplifier", "update", QString::number(ids.value(2002)), file });
        QCOMPARE(corrupt.exit, 0);
        QCOMPARE(corrupt.json().value("rewrittenBlocks").toInt(), 1);
        QVERIFY(sim.requestDump());
        QVERIFY(holds(sim.flash("can1_2002", "fpga"), image));

        // A node that refuses the erase (34: malformed) ends the transfer with its code.
        const Result refused = runTool(sim.root(),
            { "--json", "amplifier", "update", QString::number(ids.value(2004)), file });
        QCOMPARE(refused.exit, 1);
        QCOMPARE(refused.json().value("status").toInt(), 2);
        QCOMPARE(refused.json().value("errorCode").toInt(), 34);
        QVERIFY(refused.json().value("error").toString().contains("A_ERROR_ACK with code 34"));

        // A node losing power mid-transfer fails the transfer and nobody else is touched.
        const Result lost = runTool(sim.root(),
            { "--json", "amplifier", "update", QString::number(ids.value(2003)), file }, 5000);
        QCOMPARE(lost.exit, 1);
        QCOMPARE(lost.json().value("status").toInt(), 1);
        QVERIFY(lost.err.contains("time-out"));
        QVERIFY(sim.requestDump());
        QCOMPARE(sim.dumpValue("can1_2003", "fpga_valid").toBool(), false);
        for (const char* other : { "can1_2001", "can1_2004" }) {
            QCOMPARE(sim.dumpValue(other, "fw_blocks_written").toInt(), 0);
            QCOMPARE(sim.dumpValue(other, "fpga_version").toString(), QString("1.13.1"));
        }
        // A later transfer completes it, under its old id.
        const Result again = runTool(sim.root(),
            { "--json", "amplifier", "update", QString::number(ids.value(2003)), file });
        QCOMPARE(again.exit, 0);
        QVERIFY(sim.requestDump());
        QVERIFY(holds(sim.flash("can1_2003", "fpga"), image));
        QCOMPARE(sim.dumpValue("can1_2003", "fpga_valid").toBool(), true);
        QCOMPARE(idsBySerial(runTool(sim.root(), { "--json", "amplifier", "scan" })), ids);
    }

    // 32 boards on each bus with the same serial numbers on both: distinct ids per bus, the same
    // after the boards restart and after the program restarts, and also when the cache is damaged.
    void manyNodes()
    {
        QTemporaryDir rackDir;
        QFile rack(rackDir.filePath("many.rack"));
        QVERIFY(rack.open(QIODevice::WriteOnly));
        QByteArray text = "bus can0\n";
        for (int i = 0; i < 32; ++i)
            text += QByteArray("mainboard part=91204500 variant=1 serial=")
                + QByteArray::number(5000 + i) + " rack=" + QByteArray::number(1 + i / 16)
                + " unit=" + QByteArray::number(1 + i % 16) + " slots=none\n";
        text += "bus can1\n";
        for (int i = 0; i < 32; ++i)
            text += QByteArray("amplifier part=91204700 variant=1 serial=")
                + QByteArray::number(5000 + i) + " slot=" + QByteArray::number(1 + i % 4) + "\n";
        rack.write(text);
        rack.close();
        SimulatorProcess sim;
        touchUio(sim.root());
        QVERIFY(sim.start({ "--rack", rack.fileName() }));

        QMap<QString, QMap<qint64, int>> ids;
        for (const QString bus : { "mainboard", "amplifier" }) {
            const Result scan = runTool(sim.root(), { "--json", bus, "scan" });
            QCOMPARE(scan.exit, 0);
            ids[bus] = idsBySerial(scan);
            QCOMPARE(ids[bus].size(), 32);
            QCOMPARE(QSet<int>(ids[bus].begin(), ids[bus].end()).size(), 32);
        }
        // Restart every amplifier: they come back without id and get their old ones.
        for (int serial : { 5000, 5017, 5031 }) {
            const Result reset = runTool(sim.root(),
                { "amplifier", "reset", QString::number(ids["amplifier"].value(serial)) });
            QVERIFY2(reset.exit == 0, qPrintable(reset.err));
        }
        QCOMPARE(
            idsBySerial(runTool(sim.root(), { "--json", "amplifier", "scan" })), ids["amplifier"]);

        // A garbled cache is reported, not trusted, and written anew.
        const QString cache = sim.root() + "/var/etc/CanNodesPowerAmplifier.ini";
        QFile file(cache);
        QVERIFY(file.open(QIODevice::ReadWrite));
        const QByteArray whole = file.readAll();
        file.resize(whole.size() / 2);
        file.close();
        const Result rebuilt = runTool(sim.root(), { "--json", "amplifier", "scan" });
        QCOMPARE(rebuilt.exit, 0);
        QVERIFY(rebuilt.err.contains("is damaged"));
        QCOMPARE(idsBySerial(rebuilt), ids["amplifier"]);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("size=32"));
        QCOMPARE(
            idsBySerial(runTool(sim.root(), { "--json", "mainboard", "scan" })), ids["mainboard"]);
    }

    // A node back on exactly the fourth report is found; a board that finds every id taken is
    // listed all the same, without id.
    void lateNodeAndNoFreeId()
    {
        SimulatorProcess sim;
        touchUio(sim.root());
        QFile rack(sim.root() + "/one.rack");
        QVERIFY(rack.open(QIODevice::WriteOnly));
        rack.write("bus can1\namplifier part=91204700 variant=1 serial=3001 slot=1\n");
        rack.close();
        // Off the bus from the first identify request on, back with the fourth.
        QVERIFY(sim.start(
            { "--rack", rack.fileName(), "--fault", "can1/3001,vanish=3frames,after=1frames" }));
        QCOMPARE(runTool(sim.root(), { "amplifier", "ping", "0" }).exit, 0);
        QCOMPARE(runTool(sim.root(), { "amplifier", "reset", "0" }).exit, 0);

        // Ids 0-254 all held by other boards in the node cache.
        QSettings cache(sim.root() + "/var/etc/CanNodesPowerAmplifier.ini", QSettings::IniFormat);
        cache.beginWriteArray("CanNodes");
        for (int id = 0; id < 255; ++id) {
            cache.setArrayIndex(id);
            for (const char* key : { "nodeId", "partNumber", "variant", "serialNumber" })
                cache.setValue(key, QByteArray(key) == "nodeId" ? id : 9000 + id);
        }
        cache.endArray();
        cache.sync();
        const Result scan = runTool(sim.root(), { "--json", "amplifier", "scan" });
        QCOMPARE(scan.exit, 1);
        const QJsonArray nodes = scan.json().value("nodes").toArray();
        QCOMPARE(nodes.size(), 1);
        QVERIFY(nodes.at(0).toObject().value("nodeId").isNull());
        QCOMPARE(nodes.at(0).toObject().value("serial").toInt(), 3001);
        QVERIFY(scan.json().value("error").toString().contains("got no node id"));
    }

    // An identify request of another controller on the bus ends the tool (the program would stop
    // for maintenance); a device that goes away mid-transfer ends it at once.
    void secondBusMaster()
    {
        SimulatorProcess sim;
        touchUio(sim.root());
        QVERIFY(sim.start({ "--fault", "can1/2001,delay=20ms,type=900" }));
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZEF400_ROOT", sim.root());
        tool.setProcessEnvironment(env);
        startTargetProgram(tool, "zef400-node", { "--json", "amplifier", "ping", "200" });
        // The tool opens the device once to check it, then for good: its second connection.
        QVERIFY(sim.waitForConfigured(1, 2, 10000));
        RawCanClient other;
        QVERIFY(other.connectTo(sim.socketPath(1)));
        QVERIFY(sim.waitForConfigured(1, 3));
        // SCM_IDENTIFY, priority 0, broadcast class, no acknowledge request, node id 255.
        QVERIFY(other.sendFrame("00F800FF#30AB0167120000"));
        QVERIFY(tool.waitForFinished(20000));
        QCOMPARE(tool.exitCode(), 1);
        QVERIFY(QJsonDocument::fromJson(tool.readAllStandardOutput())["error"].toString().contains(
            "another controller"));

        const QMap<qint64, int> ids
            = idsBySerial(runTool(sim.root(), { "--json", "amplifier", "scan" }));
        const QString file = sim.root() + "/PA_FPGA.bin";
        imageFile(file, "1.14.0", randomBytes(20000, 3));
        const Result lost = runTool(sim.root(),
            { "--json", "amplifier", "update", QString::number(ids.value(2001)), file }, 0, [&] {
                QTRY_VERIFY_WITH_TIMEOUT(sim.requestDump()
                        && sim.dumpValue("can1_2001", "fw_blocks_written").toInt() > 0,
                    20000);
                sim.stop();
            });
        QCOMPARE(lost.exit, 1);
        QCOMPARE(lost.json().value("status").toInt(), 2);
        QVERIFY(lost.json().value("error").toString().startsWith("CAN device lost"));
        // Not the transfer's 150 s time-out.
        QVERIFY(lost.json().value("seconds").toDouble() < 60);
    }
};

QTEST_GUILESS_MAIN(TestNodeTool)
#include "tst_nodetool.moc"
