#include "common/programrun.h"
#include "common/simulatorprocess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// Whole runs of zef400-fwupdate against zef400-sim on a root laid out by scripts/make-root: what
// the front panel shows, what reaches the nodes' flash and labels, the node caches, the run record
// and the exit status. One simulator serves the runs of a test, so each run starts from what the
// previous one left on the nodes.
class TestRun : public QObject {
    Q_OBJECT

    static bool makeRoot(const QString& dir, const QStringList& options = QStringList())
    {
        return QProcess::execute(QStringLiteral(ZEF_SOURCE_DIR "/scripts/make-root"),
                   QStringList { dir } + options)
            == 0;
    }

    // The payload of a release image: everything after the version text's NUL at offset 16.
    static QByteArray payload(const QString& root, const QString& file)
    {
        QFile image(root + "/usr/local/FwUpdate/" + file);
        if (!image.open(QIODevice::ReadOnly))
            return QByteArray();
        const QByteArray bytes = image.readAll();
        return bytes.mid(bytes.indexOf('\0', 16) + 1);
    }

    static QString node(int serial)
    {
        return QString("can%1_%2").arg(serial < 2000 ? 0 : 1).arg(serial);
    }

    static bool flashHolds(
        const SimulatorProcess& sim, int serial, const QString& which, const QByteArray& image)
    {
        return !image.isEmpty() && sim.flash(node(serial), which).left(image.size()) == image;
    }

    static int blocksWritten(const SimulatorProcess& sim, int serial)
    {
        return sim.dumpValue(node(serial), "fw_blocks_written").toInt();
    }

    static const QList<int>& amplifiers()
    {
        static const QList<int> serials { 2001, 2002, 2003, 2004 };
        return serials;
    }

private slots:
    // The built-in rack (1 mainboard, 4 amplifiers at 1.13.1) against the latest release 1.14.0:
    // the first run writes everything, the next ones find it current, force what the command
    // line names and nothing else.
    void outOfDateThenCurrentThenForced()
    {
        QTemporaryDir dir;
        QVERIFY(makeRoot(dir.path()));
        SimulatorProcess sim(dir.path());
        // The mainboard answers after 2 ms, as over a real bus: both buses' first reports are
        // in before the mainboard's label is read, so a force for "all" amplifiers holds (it is
        // cleared when every node known so far is processed).
        QVERIFY2(sim.start({ "--fault", "can0/1001,delay=2ms" }), qPrintable(sim.output()));

        const ProgramRun first = ProgramRun::run(dir.path(), {}, 240000);
        QVERIFY2(first.finished, qPrintable(first.screenText()));
        QCOMPARE(first.exitCode, 0);
        const QStringList& shown = first.screen;
        QCOMPARE(shown.first(), QStringLiteral("Starting ZEF400 Firmware Update ..."));
        for (const char* text : { "-------------------------",
                 "New Mainboard with id 1:\n  - Type 9120.4500.01 (serial: 1001)",
                 "- Firmware AT90: 1.13.1 \n  - Firmware FPGA: 1.13.1",
                 "Mainboard 1 AT90: actual 1.13.1", "Mainboard 1 AT90: but 1.14.0 needed",
                 "Mainboard 1 AT90: Updating to 1.14.0", "Mainboard 1 AT90: Updating OK",
                 "Mainboard 1 FPGA: Updating OK",
                 "New Power amplifier with id 4:\n  - Type 9120.4700.01 (serial: 2004)",
                 "Power amplifier 4 FPGA: Updating OK" })
            QVERIFY2(shown.contains(QLatin1String(text)), text);
        QCOMPARE(shown.last(), QStringLiteral("All firmwares successfully processed."));
        // One header line and two reports a node: nothing handled twice.
        QCOMPARE(shown.count("-------------------------"), 5);
        QCOMPARE(shown.filter("Updating OK").size(), 10);

        QVERIFY(sim.requestDump());
        const QString release = dir.path() + "/usr/local/FwUpdate";
        for (int serial : QList<int> { 1001 } + amplifiers()) {
            const QString kind = serial == 1001 ? "BO/91204500" : "PA/91204700";
            QCOMPARE(sim.dumpValue(node(serial), "at90_version").toString(), QString("1.14.0"));
            QCOMPARE(sim.dumpValue(node(serial), "fpga_version").toString(), QString("1.14.0"));
            QVERIFY(flashHolds(sim, serial, "at90", payload(dir.path(), kind + "_AT90.bin")));
            QVERIFY(flashHolds(sim, serial, "fpga", payload(dir.path(), kind + "_FPGA.bin")));
            const QJsonObject at90 = first.firmware(serial, "at90");
            QCOMPARE(at90.value("action").toString(), QString("updated"));
            QCOMPARE(at90.value("before").toString(), QString("1.13.1"));
            QCOMPARE(at90.value("after").toString(), QString("1.14.0"));
            QVERIFY(at90.value("seconds").toDouble() > 0);
            QCOMPARE(first.firmware(serial, "fpga").value("action").toString(), QString("updated"));
        }
        QCOMPARE(first.report.value("result").toBool(), true);
        QCOMPARE(first.report.value("nodes").toArray().size(), 5);
        QCOMPARE(first.node(1001).value("bus").toString(), QString("mainboard"));
        QCOMPARE(first.node(1001).value("partNumber").toInt(), 91204500);
        // The caches remember every node for the next start.
        QFile ampCache(dir.path() + "/var/etc/CanNodesPowerAmplifier.ini");
        QVERIFY(ampCache.open(QIODevice::ReadOnly));
        const QByteArray cached = ampCache.readAll();
        for (int serial : amplifiers())
            QVERIFY(cached.contains(QByteArray::number(serial)));
        QVERIFY(QFile::exists(dir.path() + "/var/etc/CanNodesMainBoard.ini"));

        QMap<int, int> written;
        for (int serial : QList<int> { 1001 } + amplifiers())
            written.insert(serial, blocksWritten(sim, serial));

        const ProgramRun second = ProgramRun::run(dir.path(), {}, 60000);
        QVERIFY2(second.finished && second.exitCode == 0, qPrintable(second.screenText()));
        QVERIFY(second.screen.contains("Mainboard 1 AT90: OK"));
        QVERIFY(second.screen.contains("Power amplifier 3 FPGA: OK"));
        QVERIFY2(second.screen.filter("Updating").isEmpty(), qPrintable(second.screenText()));
        QCOMPARE(second.screen.last(), QStringLiteral("All firmwares successfully processed."));
        QCOMPARE(second.firmware(2002, "fpga").value("action").toString(), QString("ok"));

        // Read-only with everything forced by "all": the reasons show, nothing is written.
        const ProgramRun readOnly = ProgramRun::run(dir.path(),
            { "--readonly", "--force-update-amplifier", "all", "--force-update-mainboard-at90",
                "all" },
            60000);
        QVERIFY2(readOnly.finished && readOnly.exitCode == 0, qPrintable(readOnly.screenText()));
        QVERIFY(readOnly.screen.contains("Mainboard 1 AT90: Forcing update"));
        QVERIFY(readOnly.screen.contains("Mainboard 1 FPGA: OK"));
        QCOMPARE(readOnly.screen
                     .filter(QRegularExpression("^Power amplifier . (AT90|FPGA): Forcing update$"))
                     .size(),
            8);
        QVERIFY(readOnly.screen.filter("Updating").isEmpty());
        QCOMPARE(readOnly.firmware(2001, "at90").value("action").toString(), QString("readonly"));
        QCOMPARE(readOnly.firmware(1001, "fpga").value("action").toString(), QString("ok"));

        // Forced by node id: the complete mainboard, one amplifier's AT90, another's FPGA.
        QVERIFY(sim.requestDump());
        const int id2002 = second.node(2002).value("nodeId").toInt();
        const int id2003 = second.node(2003).value("nodeId").toInt();
        const ProgramRun forced = ProgramRun::run(dir.path(),
            { "--force-update-mainboard", "0", "--force-update-amplifier-at90",
                QString::number(id2002), "--force-update-amplifier-fpga", QString::number(id2003) },
            120000);
        QVERIFY2(forced.finished && forced.exitCode == 0, qPrintable(forced.screenText()));
        QCOMPARE(forced.screen.filter("Updating OK").size(), 4);
        QCOMPARE(forced.firmware(1001, "at90").value("action").toString(), QString("forced"));
        QCOMPARE(forced.firmware(1001, "fpga").value("action").toString(), QString("forced"));
        QCOMPARE(forced.firmware(2002, "at90").value("action").toString(), QString("forced"));
        QCOMPARE(forced.firmware(2002, "fpga").value("action").toString(), QString("ok"));
        QCOMPARE(forced.firmware(2003, "at90").value("action").toString(), QString("ok"));
        QCOMPARE(forced.firmware(2003, "fpga").value("action").toString(), QString("forced"));
        QVERIFY(sim.requestDump());
        for (int serial : QList<int> { 1001 } + amplifiers()) {
            const bool rewritten = serial == 1001 || serial == 2002 || serial == 2003;
            QCOMPARE(blocksWritten(sim, serial) > written.value(serial), rewritten);
        }
    }

    // Faults on the amplifier bus in one run, then a second run without them. The hardware
    // description promises a second mainboard and a fifth amplifier that never answer.
    void faultsThenSecondRun()
    {
        QTemporaryDir dir;
        QVERIFY(makeRoot(dir.path(), { "--mainboards", "2", "--amplifiers", "5" }));
        QFile rack(dir.path() + "/faults.rack");
        QVERIFY(rack.open(QIODevice::WriteOnly));
        rack.write("bus can0\n"
                   "mainboard part=91204500 variant=1 serial=1001 slots=1,2,3,4 at90=1.13.1 "
                   "fpga=1.14.0\n"
                   "bus can1\n"
                   // Every label read fails: six reads, then the node is given up.
                   "amplifier part=91204700 variant=1 serial=2001 slot=1 at90=1.14.0 fpga=1.14.0\n"
                   "fault can1/2001,errorack=2,type=080,count=6\n"
                   // Drops off the bus in the middle of its transfer.
                   "amplifier part=91204700 variant=1 serial=2002 slot=2 at90=1.13.1 fpga=1.14.0\n"
                   "fault can1/2002,vanish=2s,after=250frames\n"
                   // Refuses firmware access once.
                   "amplifier part=91204700 variant=1 serial=2003 slot=3 at90=1.13.1 fpga=1.14.0\n"
                   "fault can1/2003,errorack=2,type=600,count=1\n"
                   // Loses power after its fifth block.
                   "amplifier part=91204700 variant=1 serial=2004 slot=4 at90=1.13.1 fpga=1.14.0\n"
                   "fault can1/2004,powerloss=5blocks\n");
        rack.close();
        SimulatorProcess sim(dir.path());
        QVERIFY2(sim.start({ "--rack", rack.fileName() }), qPrintable(sim.output()));
        QProcessEnvironment env;
        env.insert("ZEF400_NODE_FIRMWARE_TIMEOUT_MS", "8000");

        const ProgramRun first = ProgramRun::run(dir.path(), {}, 240000, env);
        QVERIFY2(first.finished, qPrintable(first.screenText()));
        QCOMPARE(first.exitCode, 0);
        QVERIFY(sim.requestDump());
        const QString again = QString("Reading label for Power amplifier id %1 again")
                                  .arg(sim.dumpValue(node(2001), "nodeid").toInt() + 1);
        QCOMPARE(first.screen.count(again), 5);
        QCOMPARE(first.screen.count(QString("ERROR; Could not read label for Power amplifier id %1")
                                        .arg(sim.dumpValue(node(2001), "nodeid").toInt() + 1)),
            1);
        QCOMPARE(first.screen.last(), QStringLiteral("Not all devices could be found."));
        QVERIFY(!first.screen.contains("All firmwares successfully processed."));
        QCOMPARE(first.report.value("result").toBool(), false);
        QCOMPARE(first.firmware(2001, "at90").value("action").toString(), QString("failed"));
        for (int serial : { 2002, 2003, 2004 }) {
            QCOMPARE(first.firmware(serial, "at90").value("action").toString(), QString("failed"));
            QCOMPARE(first.firmware(serial, "fpga").value("action").toString(), QString("ok"));
        }
        // The others are not harmed.
        QCOMPARE(first.firmware(1001, "at90").value("action").toString(), QString("updated"));
        QCOMPARE(first.firmware(1001, "fpga").value("action").toString(), QString("ok"));
        QVERIFY(flashHolds(sim, 1001, "at90", payload(dir.path(), "BO/91204500_AT90.bin")));
        for (int serial : amplifiers())
            QCOMPARE(sim.dumpValue(node(serial), "fpga_version").toString(), QString("1.14.0"));

        // The rack as described, faults used up: the second run completes every update.
        QTemporaryDir other;
        QVERIFY(makeRoot(other.path()));
        QFile::remove(dir.path() + "/var/etc/Hdf.hdf");
        QVERIFY(QFile::copy(other.path() + "/var/etc/Hdf.hdf", dir.path() + "/var/etc/Hdf.hdf"));
        const ProgramRun second = ProgramRun::run(dir.path(), {}, 240000, env);
        QVERIFY2(second.finished && second.exitCode == 0, qPrintable(second.screenText()));
        QCOMPARE(second.screen.last(), QStringLiteral("All firmwares successfully processed."));
        QCOMPARE(second.report.value("result").toBool(), true);
        QCOMPARE(second.firmware(2001, "at90").value("action").toString(), QString("ok"));
        QCOMPARE(second.firmware(2003, "at90").value("action").toString(), QString("updated"));
        QCOMPARE(second.firmware(2004, "at90").value("action").toString(), QString("invalid"));
        QVERIFY(second.screen.contains(QString("Power amplifier %1 AT90: Firmware is invalid")
                                           .arg(second.node(2004).value("nodeId").toInt() + 1)));
        QVERIFY(sim.requestDump());
        for (int serial : amplifiers()) {
            QCOMPARE(sim.dumpValue(node(serial), "at90_version").toString(), QString("1.14.0"));
            QCOMPARE(sim.dumpValue(node(serial), "at90_valid").toString(), QString("true"));
        }
        for (int serial : { 2002, 2003, 2004 })
            QVERIFY(flashHolds(sim, serial, "at90", payload(dir.path(), "PA/91204700_AT90.bin")));
    }
};

QTEST_GUILESS_MAIN(TestRun)
#include "tst_run.moc"
