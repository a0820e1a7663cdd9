#include "app/commandline.h"
#include "common/programrun.h"
#include "common/simulatorprocess.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

// The start-up of the built program on a stand-in root: printed lines, the settings the window
// receives and the exit status.
class TestCli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void nodesScan_data();
    void nodesScan();
    void startup_data();
    void startup();

private:
    QTemporaryDir root;
    QTemporaryDir runtime;
    std::unique_ptr<SimulatorProcess> sim;
};

namespace {
const QString helpLine = QStringLiteral("Show help with --help or -h");

QStringList helpText()
{
    const QString text = QStringLiteral("ID/all       force update of ");
    return {
        helpLine,
        QStringLiteral("--readonly                        don't update automatically"),
        QStringLiteral("--force-update-mainboard ") + text
            + QStringLiteral("complete mainboard with given node id, option could be repeated, "
                             "overwrites AT90/FPGA option"),
        QStringLiteral("--force-update-amplifier ") + text
            + QStringLiteral("complete power amplifier with given node id, option could be "
                             "repeated, overwrites AT90/FPGA option"),
        QStringLiteral("--force-update-mainboard-at90 ") + text
            + QStringLiteral("mainboard's AT90 with given node id, option could be repeated"),
        QStringLiteral("--force-update-mainboard-fpga ") + text
            + QStringLiteral("mainboard's FPGA with given node id, option could be repeated"),
        QStringLiteral("--force-update-amplifier-at90 ") + text
            + QStringLiteral("power amplifier's AT90 with given node id, option could be repeated"),
        QStringLiteral("--force-update-amplifier-fpga ") + text
            + QStringLiteral("power amplifier's FPGA with given node id, option could be repeated"),
    };
}

// The ids of a printed set come in hash order; sort them to compare.
QString sortedSet(QString line)
{
    static const QRegularExpression set(QStringLiteral("QSet\\(([^)]*)\\)"));
    const QRegularExpressionMatch match = set.match(line);
    if (!match.hasMatch())
        return line;
    QList<int> ids;
    for (const QString& id : match.captured(1).split(QLatin1String(", "), Qt::SkipEmptyParts))
        ids << id.toInt();
    std::sort(ids.begin(), ids.end());
    QStringList texts;
    for (int id : ids)
        texts << QString::number(id);
    line.replace(match.capturedStart(), match.capturedLength(),
        QStringLiteral("QSet(%1)").arg(texts.join(QLatin1String(", "))));
    return line;
}

struct LogLine {
    QString text;
    QString function;
};

// Log lines are "time | delta | text | function".
QList<LogLine> logLines(const QByteArray& out)
{
    QList<LogLine> lines;
    for (const QString& line : QString::fromLatin1(out).split(QLatin1Char('\n'))) {
        const QStringList parts = line.split(QLatin1String(" | "));
        if (parts.size() >= 4)
            lines << LogLine { parts.at(2).trimmed(), parts.mid(3).join(QLatin1String(" | ")) };
    }
    return lines;
}
} // namespace

void TestCli::initTestCase()
{
    QVERIFY(root.isValid());
    QVERIFY(runtime.isValid());
    QProcess make;
    make.start(QStringLiteral(ZEF_SOURCE_DIR "/scripts/make-root"),
        { root.path(), "--amplifiers", "1" });
    QVERIFY(make.waitForFinished(60000));
    QCOMPARE(make.exitCode(), 0);
    // A rack already at the latest release: a run that forces nothing ends as soon as both
    // boards are read.
    QFile rack(root.path() + "/current.rack");
    QVERIFY(rack.open(QIODevice::WriteOnly));
    rack.write("bus can0\n"
               "mainboard part=91204500 variant=1 serial=1001 slots=1 at90=1.14.0 fpga=1.14.0\n"
               "bus can1\n"
               "amplifier part=91204700 variant=1 serial=2001 slot=1 at90=1.14.0 fpga=1.14.0\n");
    rack.close();
    sim = std::make_unique<SimulatorProcess>(root.path());
    QVERIFY2(sim->start({ "--rack", rack.fileName() }), qPrintable(sim->output()));
}

void TestCli::nodesScan_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("allBefore");
    QTest::addColumn<QList<int>>("ids");
    QTest::addColumn<bool>("all");

    const QString opt = QStringLiteral("--force-update-mainboard");
    QTest::newRow("the option as its own value is an occurrence")
        << QStringList { "prog", opt, opt, "5" } << false << QList<int> { 5 } << false;
    QTest::newRow("all keeps the ids found before it") << QStringList { "prog", opt, "2", opt,
        "all", opt, "5" } << false << QList<int> { 2 } << true;
    QTest::newRow("all is cleared when the option is absent")
        << QStringList { "prog", "--readonly" } << true << QList<int> {} << false;
}

void TestCli::nodesScan()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, allBefore);
    QFETCH(QList<int>, ids);
    QFETCH(bool, all);

    bool gotAll = allBefore;
    const QSet<int> got = nodes(arguments, QStringLiteral("--force-update-mainboard"), &gotAll);
    QCOMPARE(got, QSet<int>(ids.begin(), ids.end()));
    QCOMPARE(gotAll, all);
}

void TestCli::startup_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("printed");
    // The window's setter calls in order; empty for a run that ends with the help.
    QTest::addColumn<QStringList>("setters");

    const QString readOnly = QStringLiteral("Read only mode");
    const QString noRead = QStringLiteral("setReadOnly(false)");
    const QStringList mbParts
        = { "setForceMainboardUpdateAT90({})", "setForceMainboardUpdateFPGA({})" };
    const QStringList ampParts
        = { "setForceAmplifierUpdateAT90({})", "setForceAmplifierUpdateFPGA({})" };

    QTest::newRow("help ends before any window")
        << QStringList { "--help" } << helpText() << QStringList {};
    QTest::newRow("-h anywhere wins over other options")
        << QStringList { "--force-update-mainboard", "3", "--readonly", "-h" } << helpText()
        << QStringList {};
    QTest::newRow("no options pass empty AT90 and FPGA sets")
        << QStringList {} << QStringList { helpLine, readOnly }
        << (QStringList { noRead } + mbParts + ampParts);
    QTest::newRow("all stops the scan")
        << QStringList { "--force-update-amplifier", "2", "--force-update-amplifier", "all",
               "--force-update-amplifier", "5" }
        << QStringList { helpLine, "Forcing update of all amplifiers", readOnly }
        << (QStringList { noRead } + mbParts + QStringList { "setForceAmplifierUpdate(true)" });
    QTest::newRow("non-numeric value leaves the AT90 and FPGA options in force")
        << QStringList { "--force-update-mainboard", "abc", "--force-update-mainboard-fpga", "4" }
        << QStringList { helpLine, "Forcing update of FPGA on mainboards with nodeId:  QSet(4)",
               readOnly }
        << (QStringList {
                noRead, "setForceMainboardUpdateAT90({})", "setForceMainboardUpdateFPGA({4})" }
               + ampParts);
    QTest::newRow("complete device overrides AT90 but both lines print")
        << QStringList { "--force-update-mainboard", "4", "--force-update-mainboard-at90", "9" }
        << QStringList { helpLine, "Forcing update on mainboards with nodeId:  QSet(4)",
               "Forcing update of AT90 on mainboards with nodeId:  QSet(9)", readOnly }
        << (QStringList { noRead, "setForceMainboardUpdate({4})" } + ampParts);
    QTest::newRow("complete all mainboards, amplifier ids")
        << QStringList { "--force-update-amplifier", "1", "--force-update-mainboard", "all",
               "--force-update-amplifier", "0" }
        << QStringList { helpLine, "Forcing update of all mainboards",
               "Forcing update on amplifier with nodeId:  QSet(0, 1)", readOnly }
        << QStringList { noRead, "setForceMainboardUpdate(true)",
               "setForceAmplifierUpdate({0, 1})" };
}

void TestCli::startup()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, printed);
    QFETCH(QStringList, setters);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZEF400_ROOT"), root.path());
    env.insert(QStringLiteral("ZEF400_LOG_PORT"), QStringLiteral("0"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    QProcess program;
    program.setProcessEnvironment(env);
    startTargetProgram(program, QStringLiteral("zef400-fwupdate"), arguments);
    QVERIFY(program.waitForFinished(90000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    const QByteArray out = program.readAllStandardOutput();
    QStringList debugLines;
    for (const QString& line : QString::fromLatin1(program.readAllStandardError())
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        // The offscreen platform's note when the window shows its log; not the program's.
        if (line != QLatin1String("This plugin does not support propagateSizeHints()"))
            debugLines << sortedSet(line);
    QCOMPARE(debugLines, printed);

    QStringList calls;
    bool exitLogged = false;
    for (const LogLine& line : logLines(out)) {
        if (line.function.contains(QLatin1String("Zef400Widget::set")))
            calls << line.text;
        if (line.text == QLatin1String("About to exit app.")) {
            QCOMPARE(line.function, QStringLiteral("int main(int, char**)"));
            exitLogged = true;
        }
    }
    QCOMPARE(calls, setters);
    // A help run ends before the event loop; every other run leaves it through the window.
    QCOMPARE(exitLogged, !setters.isEmpty());
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
