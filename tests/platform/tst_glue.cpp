#include "app/deviceresetline.h"
#include "app/zef400widget.h"
#include "platform/scmhardware.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <linux/fb.h>
#include <unistd.h>

// The board glue against a stand-in root: register bits in the uio file, the framebuffer
// preparation and its failures, the crash handler and the hand-over to maintenance.
class TestGlue : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void resetControl_data();
    void resetControl();
    void resetLine_data();
    void resetLine();
    void framebuffer_data();
    void framebuffer();
    void fatalSignal_data();
    void fatalSignal();
    void externalPrograms();

private:
    QString makeRoot(const QString& name, const QStringList& options);
    QProcessEnvironment environment(const QString& rootDir) const;

    QTemporaryDir work;
    QString root;
};

namespace {
const qint64 page = ::sysconf(_SC_PAGESIZE);
const qint64 resetRegister = page + 0xC08;
constexpr quint32 mainboardLine = 1u << 30;
constexpr quint32 amplifierLine = 1u << 29;
constexpr quint32 released = 0xE0000000;

// A 32-bit register of the uio file, mapped shared as the program maps it.
class Register {
public:
    Register(const QString& rootDir, qint64 offset, bool bigEndian)
        : file(rootDir + "/dev/uio0")
        , bigEndian(bigEndian)
    {
        if (file.open(QIODevice::ReadWrite))
            word = reinterpret_cast<quint32*>(file.map(offset, 4));
    }
    bool isValid() const { return word; }
    quint32 read() const
    {
        const quint32 raw = *static_cast<volatile quint32*>(word);
        return bigEndian ? qFromBigEndian(raw) : qFromLittleEndian(raw);
    }
    void write(quint32 value)
    {
        *static_cast<volatile quint32*>(word)
            = bigEndian ? qToBigEndian(value) : qToLittleEndian(value);
    }

private:
    QFile file;
    bool bigEndian;
    quint32* word = nullptr;
};

fb_var_screeninfo storedScreenInfo(const QString& rootDir)
{
    fb_var_screeninfo info {};
    QFile file(rootDir + "/dev/fb0");
    if (file.open(QIODevice::ReadOnly) && file.size() >= qint64(sizeof info))
        file.read(reinterpret_cast<char*>(&info), sizeof info);
    return info;
}

QString calls(const QString& rootDir)
{
    QFile log(rootDir + "/var/log/calls.log");
    return log.open(QIODevice::ReadOnly) ? QString::fromLatin1(log.readAll()) : QString();
}

const QString errorLine = QString(72, QLatin1Char('-'));
} // namespace

QString TestGlue::makeRoot(const QString& name, const QStringList& options)
{
    const QString dir = work.filePath(name);
    QProcess make;
    make.start(QStringLiteral(ZEF_SOURCE_DIR "/scripts/make-root"), QStringList { dir } + options);
    if (!make.waitForFinished(60000) || make.exitCode() != 0)
        return QString();
    return dir;
}

QProcessEnvironment TestGlue::environment(const QString& rootDir) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZEF400_ROOT"), rootDir);
    env.insert(QStringLiteral("ZEF400_LOG_PORT"), QStringLiteral("0"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), work.path());
    return env;
}

void TestGlue::initTestCase()
{
    QVERIFY(work.isValid());
    root = makeRoot(QStringLiteral("root"), {});
    QVERIFY(!root.isEmpty());
    qputenv("ZEF400_ROOT", QFile::encodeName(root));
}

void TestGlue::resetControl_data()
{
    QTest::addColumn<unsigned>("bits");
    QTest::addColumn<quint32>("before");
    QTest::addColumn<quint32>("after");

    QTest::newRow("releasing all keeps the other register bits")
        << 7u << 0x00001234u << 0xE0001234u;
    QTest::newRow("254 holds only the mainboard line") << 254u << released << 0xA0000000u;
}

void TestGlue::resetControl()
{
    QFETCH(unsigned, bits);
    QFETCH(quint32, before);
    QFETCH(quint32, after);

    Register reg(root, resetRegister, true);
    QVERIFY(reg.isValid());
    reg.write(before);
    QVERIFY(DeviceResetLine().resetControl(bits));
    QCOMPARE(QString::number(reg.read(), 16), QString::number(after, 16));
}

void TestGlue::resetLine_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<quint32>("heldLow");

    QTest::newRow("0 pulses the mainboard line") << QStringLiteral("0") << mainboardLine;
    QTest::newRow("6 pulses the amplifier line") << QStringLiteral("6") << amplifierLine;
}

void TestGlue::resetLine()
{
    QFETCH(QString, value);
    QFETCH(quint32, heldLow);

    Register reg(root, resetRegister, true);
    QVERIFY(reg.isValid());
    reg.write(released);

    QProcess helper;
    helper.setProcessEnvironment(environment(root));
    helper.start(QStringLiteral(GLUE_HELPER), { QStringLiteral("resetline"), value });
    QVERIFY(helper.waitForStarted());
    // Watch the line bits while the helper runs: a line is low for a couple of 100 ms units.
    quint32 everLow = 0;
    QElapsedTimer clock;
    clock.start();
    while (!helper.waitForFinished(2)) {
        const quint32 lines = reg.read() & (mainboardLine | amplifierLine);
        everLow |= ~lines & (mainboardLine | amplifierLine);
        QVERIFY2(clock.elapsed() < 20000, "reset pulse does not end");
    }
    QCOMPARE(helper.exitCode(), 0);
    QCOMPARE(QString::number(everLow, 16), QString::number(heldLow, 16));
    QCOMPARE(QString::number(reg.read(), 16), QString::number(released, 16));
    QCOMPARE(QString::fromLatin1(helper.readAllStandardError()),
        QStringLiteral("_reset_line, begin()\n_reset_line, 0xFF\n_reset_line, end()\n"));
}

void TestGlue::framebuffer_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    QTest::newRow("prepared framebuffer enables display") << QString() << 0 << QString();
    QTest::newRow("missing framebuffer")
        << QStringLiteral("--fb-missing") << 1
        << QStringLiteral("Error: cannot open framebuffer device: No such file or directory");
    QTest::newRow("refused screen information")
        << QStringLiteral("--fb-refuse-put") << 4
        << QStringLiteral("Error writing variable information: Invalid argument");
    QTest::newRow("missing uio after the framebuffer")
        << QStringLiteral("--uio-missing") << 1 << QString();
}

void TestGlue::framebuffer()
{
    QFETCH(QString, option);
    QFETCH(int, code);
    QFETCH(QString, message);

    const QString dir = makeRoot(
        QTest::currentDataTag(), option.isEmpty() ? QStringList() : QStringList { option });
    QVERIFY(!dir.isEmpty());
    const bool haveUio = option != QLatin1String("--uio-missing");

    const QByteArray savedRoot = qgetenv("ZEF400_ROOT");
    qputenv("ZEF400_ROOT", QFile::encodeName(dir));
    const int result = Common::initScmFramebuffer();
    const int keypad = Common::initScmKeypad();
    qputenv("ZEF400_ROOT", savedRoot);
    QCOMPARE(result, code);
    QCOMPARE(keypad >= 0, haveUio);

    const fb_var_screeninfo info = storedScreenInfo(dir);
    if (haveUio) {
        QCOMPARE(Register(dir, 0x800, false).read() & (1u << 7), code == 0 ? 1u << 7 : 0u);
        QCOMPARE(Register(dir, 0x107C, false).read(), 1u << 17);
    }
    if (code == 0) {
        QCOMPARE(info.bits_per_pixel, 32u);
        QCOMPARE(info.activate, unsigned(FB_ACTIVATE_NOW));
    } else if (code == 4) {
        QCOMPARE(info.bits_per_pixel, 16u);
    }

    QProcess program;
    program.setProcessEnvironment(environment(dir));
    program.start(QStringLiteral(ZEF_BIN_DIR "/zef400-fwupdate"), { QStringLiteral("--readonly") });
    // A prepared screen starts the run; with no board on either bus it ends 30 s after the
    // start, through the watchdog.
    QVERIFY(program.waitForFinished(code == 0 ? 90000 : 30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    const QString err = QString::fromLatin1(program.readAllStandardError());
    const QString out = QString::fromLatin1(program.readAllStandardOutput());
    if (code == 0) {
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(err.contains(QLatin1String("Read only mode")));
        QVERIFY(out.contains(QLatin1String("Screen: Not all devices could be found.")));
        return;
    }
    QCOMPARE(program.exitCode(), 1);
    QCOMPARE(err, message.isEmpty() ? QString() : message + QLatin1Char('\n'));
    QVERIFY2(out.isEmpty(), qPrintable(out));
}

void TestGlue::fatalSignal_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("text");

    QTest::newRow("segmentation fault") << "segv" << 11 << "Segmentation violation (ANSI).  ";
    QTest::newRow("abort") << "abort" << 6 << "Abort (ANSI).  ";
    QTest::newRow("signal outside the table") << "unknown" << 10 << "Unknown signal: 10";
}

void TestGlue::fatalSignal()
{
    QFETCH(QString, mode);
    QFETCH(int, signal);
    QFETCH(QString, text);

    QProcess helper;
    helper.start(QStringLiteral(GLUE_HELPER), { mode });
    QVERIFY(helper.waitForFinished(30000));
    QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
    QCOMPARE(helper.exitCode(), signal);

    const QString out = QString::fromLatin1(helper.readAllStandardOutput());
    const QString head = QStringLiteral("<signal>") + text
        + QStringLiteral("!!!!!!!!!!!!!!!!!!!! Signal !!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!Callstack:");
    QVERIFY2(out.startsWith(head), qPrintable(out));
    QVERIFY2(out.endsWith(errorLine + QStringLiteral("\n</signal>")), qPrintable(out));
    const QStringList frames
        = out.mid(head.size(), out.size() - head.size() - errorLine.size() - 10)
              .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(frames.size() >= 2);
    bool crashFrame = false;
    for (int i = 0; i < frames.size(); ++i) {
        QVERIFY2(frames.at(i).startsWith(QStringLiteral("[bt]: (%1) ").arg(i + 1)),
            qPrintable(frames.at(i)));
        crashFrame |= frames.at(i).contains(QLatin1String(" glueHelperCrash(char const*)"));
    }
    QVERIFY2(crashFrame, qPrintable(out));
}

void TestGlue::externalPrograms()
{
    QFile::remove(root + "/var/log/calls.log");

    QProcess helper;
    helper.setProcessEnvironment(environment(root));
    helper.start(QStringLiteral(GLUE_HELPER), { QStringLiteral("maintenance") });
    QVERIFY(helper.waitForFinished(30000));
    QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
    QCOMPARE(helper.exitCode(), 255);
    const QString out = QString::fromLatin1(helper.readAllStandardOutput());
    QVERIFY2(out.contains(QLatin1String("[bt]: (1) ")) && out.contains(errorLine), qPrintable(out));
    // The script runs in the child, which may outlive the program.
    QTRY_COMPARE_WITH_TIMEOUT(calls(root), QStringLiteral("ZefSw stop4Maintenance\n"), 10000);

    Zef400Widget window;
    window.reboot();
    QCOMPARE(calls(root), QStringLiteral("ZefSw stop4Maintenance\nreboot\n"));
}

QTEST_MAIN(TestGlue)
#include "tst_glue.moc"
