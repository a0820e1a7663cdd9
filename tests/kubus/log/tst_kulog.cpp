// The log line format, the log port and the TCP log server under load, driven through
// kulog_helper so that its standard output can be read whole.
#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>
#include <vector>

namespace {

const QString helperPath = QStringLiteral(ZEF_BIN_DIR "/kulog_helper");

// A log line up to its text: time stamp, " | ", delta right-justified to 5, "ms | ".
const QRegularExpression linePrefix(
    QStringLiteral("^(\\d{6}-\\d\\d:\\d\\d:\\d\\d\\.\\d{3}) \\| ([ \\d]{4}\\d)ms \\| "));

// A null port leaves ZEF400_LOG_PORT unset.
void setLogPort(QProcess& helper, const QString& port)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("ZEF400_LOG_PORT"));
    if (!port.isNull())
        env.insert(QStringLiteral("ZEF400_LOG_PORT"), port);
    helper.setProcessEnvironment(env);
}

QByteArray runHelper(
    const QStringList& args, const QString& logPort = QStringLiteral("0"), int* exitCode = nullptr)
{
    QProcess helper;
    setLogPort(helper, logPort);
    helper.start(helperPath, args);
    if (!helper.waitForFinished(30000)) {
        helper.kill();
        helper.waitForFinished();
    }
    if (exitCode)
        *exitCode = helper.exitStatus() == QProcess::NormalExit ? helper.exitCode() : -1000;
    return helper.readAllStandardOutput();
}

int connectedSocket(quint16 port, int receiveBuffer)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Closes a descriptor when it goes out of scope.
struct Fd {
    Fd(int fd)
        : fd(fd)
    {
    }
    Fd(Fd&& other)
        : fd(std::exchange(other.fd, -1))
    {
    }
    int fd;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

class TestKuLog : public QObject {
    Q_OBJECT

private slots:
    void lineFormat_data();
    void lineFormat();
    void deltaIsTimeSincePreviousLine();
    void logPort_data();
    void logPort();
    void slowAndStalledClientsInBoundedMemory();
};

void TestKuLog::lineFormat_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("logLine");
    QTest::addColumn<QByteArray>("tail");

    const QByteArray waiting = "Waiting for devices ...";
    QTest::newRow("short text padded to 60 before the function")
        << QStringList { "line", QString::fromLatin1(waiting), "void Zef400::startup()" } << true
        << waiting + QByteArray(37, ' ') + " | void Zef400::startup()\n";
    const QByteArray sixty(60, 'a');
    QTest::newRow("60 characters need no padding")
        << QStringList { "line", QString::fromLatin1(sixty), "f()" } << true << sixty + " | f()\n";
    const QByteArray long75 = QByteArray(70, 'b') + "12345";
    QTest::newRow("longer text is printed whole")
        << QStringList { "line", QString::fromLatin1(long75), "f()" } << true
        << long75 + " | f()\n";
    QTest::newRow("empty function text leaves out the separator") << QStringList { "line", "abc",
        "" } << true << QByteArray("abc") + QByteArray(57, ' ') + "\n";
    QTest::newRow("null function text like empty") << QStringList { "line", "abc",
        "@null" } << true << QByteArray("abc") + QByteArray(57, ' ') + "\n";
    QTest::newRow("text goes out as Latin-1")
        << QStringList { "line", QString::fromUtf8("25\u00b0C"), "f()" } << true
        << QByteArray("25\xb0"
                      "C")
            + QByteArray(56, ' ') + " | f()\n";
    QTest::newRow("progress in the text becomes one dot")
        << QStringList { "line", "FirmwareUpdateProgress 12", "f()" } << false << QByteArray(".");
    QTest::newRow("progress in the function becomes one dot") << QStringList { "line", "x",
        "void Bar::slotFirmwareUpdateProgress(int)" } << false << QByteArray(".");
    QTest::newRow("error line to the log has no function part")
        << QStringList { "errorline", "1" } << true << QByteArray(72, '-') + "\n";
    QTest::newRow("error line to standard output has no time stamp")
        << QStringList { "errorline", "0" } << false << QByteArray(72, '-') + "\n";
}

void TestKuLog::lineFormat()
{
    QFETCH(QStringList, args);
    QFETCH(bool, logLine);
    QFETCH(QByteArray, tail);

    const QDateTime before = QDateTime::currentDateTime();
    const QByteArray out = runHelper(args);
    if (!logLine) {
        QCOMPARE(out, tail);
        return;
    }
    const QRegularExpressionMatch m = linePrefix.match(QString::fromLatin1(out));
    QVERIFY2(m.hasMatch(), out.constData());
    QCOMPARE(out.mid(m.capturedLength()), tail);
    // The first line of a run: the clock was only just started.
    QVERIFY2(m.captured(2).trimmed().toInt() < 100, out.constData());
    // "yy" reads as 19yy.
    const QDateTime stamp
        = QDateTime::fromString(m.captured(1), "yyMMdd-hh:mm:ss.zzz").addYears(100);
    QVERIFY2(stamp.isValid(), out.constData());
    QVERIFY2(qAbs(before.msecsTo(stamp)) < 60000, out.constData());
}

void TestKuLog::deltaIsTimeSincePreviousLine()
{
    const int spacing = 150;
    const QByteArray out = runHelper({ "spaced", "4", QString::number(spacing) });
    const QList<QByteArray> lines = out.split('\n');
    QCOMPARE(lines.size(), 5);
    QDateTime previous;
    for (int i = 0; i < 4; ++i) {
        const QRegularExpressionMatch m = linePrefix.match(QString::fromLatin1(lines[i]));
        QVERIFY2(m.hasMatch(), lines[i].constData());
        const int delta = m.captured(2).trimmed().toInt();
        const QDateTime stamp = QDateTime::fromString(m.captured(1), "yyMMdd-hh:mm:ss.zzz");
        if (i > 0) {
            QVERIFY2(delta >= spacing && delta < spacing + 1000, lines[i].constData());
            QVERIFY2(qAbs(previous.msecsTo(stamp) - delta) < 50, lines[i].constData());
        }
        previous = stamp;
    }
}

void TestKuLog::logPort_data()
{
    QTest::addColumn<QString>("env");
    QTest::addColumn<bool>("withApp");
    QTest::addColumn<bool>("blockIt");
    QTest::addColumn<int>("expected"); // -1: any free port

    QTest::newRow("unset listens on 5000") << QString() << true << false << 5000;
    QTest::newRow("0 picks a free port") << "0" << true << false << -1;
    QTest::newRow("not a number falls back to 5000") << "50x" << true << false << 5000;
    QTest::newRow("a taken port gives 0 and a log line") << "taken" << true << true << 0;
    QTest::newRow("no application object exits cleanly") << "0" << false << false << -1;
}

void TestKuLog::logPort()
{
    QFETCH(QString, env);
    QFETCH(bool, withApp);
    QFETCH(bool, blockIt);
    QFETCH(int, expected);

    QTcpServer blocker;
    if (blockIt) {
        QVERIFY(blocker.listen(QHostAddress::Any, 0));
        env = QString::number(blocker.serverPort());
    }
    QStringList args { "port" };
    if (!withApp)
        args << "noapp";
    int exitCode = -1;
    const QByteArray out = runHelper(args, env, &exitCode);
    QCOMPARE(exitCode, 0);
    const QRegularExpressionMatch m
        = QRegularExpression(QStringLiteral("^port (\\d+)$"), QRegularExpression::MultilineOption)
              .match(QString::fromLatin1(out));
    QVERIFY2(m.hasMatch(), out.constData());
    const int port = m.captured(1).toInt();
    if (expected < 0)
        QVERIFY2(port != 0 && port != 5000, out.constData());
    else if (expected == 5000 && port == 0)
        // Another program on this machine holds 5000: the attempt itself is what counts.
        QVERIFY2(out.contains("Log server cannot listen on port 5000"), out.constData());
    else
        QCOMPARE(port, expected);
    if (blockIt)
        QVERIFY2(
            out.contains("Log server cannot listen on port " + env.toLatin1()), out.constData());
}

void TestKuLog::slowAndStalledClientsInBoundedMemory()
{
    // 20 clients never read, one reads only after the flood: the server keeps a bounded backlog,
    // the slow one keeps its connection and is told how many lines it missed.
    const int lines = 400000;
    QProcess helper;
    setLogPort(helper, QStringLiteral("0"));
    helper.start(helperPath, { "flood", "21", QString::number(lines) });
    QByteArray err;
    static const QRegularExpression portLine(QStringLiteral("port (\\d+)\\n"));
    QRegularExpressionMatch m;
    QVERIFY(QTest::qWaitFor(
        [&] {
            err += helper.readAllStandardError();
            return (m = portLine.match(QString::fromLatin1(err))).hasMatch();
        },
        20000));
    const quint16 port = quint16(m.captured(1).toUInt());
    std::vector<Fd> stalled;
    for (int i = 0; i < 20; ++i)
        stalled.push_back({ connectedSocket(port, 4096) });
    const Fd slow { connectedSocket(port, 4096) };
    QVERIFY(slow.fd >= 0);
    QVERIFY(QTest::qWaitFor(
        [&] {
            err += helper.readAllStandardError();
            return err.contains("skipped");
        },
        120000));
    QByteArray data;
    char buffer[65536];
    while (!data.contains("flood done")) {
        const ssize_t n = ::recv(slow.fd, buffer, sizeof buffer, 0);
        QVERIFY2(n > 0, "the slow client was dropped");
        data.append(buffer, int(n));
    }
    helper.closeWriteChannel();
    QVERIFY(helper.waitForFinished(5000));
    err += helper.readAllStandardError();
    // 20 stalled clients do not hold up the exit: the server gives them a fraction of a second.
    const QRegularExpressionMatch took
        = QRegularExpression(QStringLiteral("exit handlers took (\\d+) ms"))
              .match(QString::fromLatin1(err));
    QVERIFY2(took.hasMatch(), err.constData());
    QVERIFY2(took.captured(1).toInt() < 1000, qPrintable(took.captured(0)));
    QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
    QCOMPARE(helper.exitCode(), 0);
    // With a log file open (here /dev/null), nothing goes to standard output.
    QCOMPARE(helper.readAllStandardOutput(), QByteArray());
    QVERIFY2(!err.contains("QReadWriteLock") && !err.contains("did not stop"), err.constData());

    // The lines themselves are 90 MB. Under the thread checker its own bookkeeping grows with them,
    // and the address checker keeps freed memory in quarantine, so only a plain build measures it.
    const qint64 grewKb = QRegularExpression("grew (-?\\d+) kB").match(err).captured(1).toLongLong();
#if !defined(__SANITIZE_ADDRESS__)
    if (!qEnvironmentVariableIsSet("TSAN_OPTIONS"))
        QVERIFY2(grewKb < 16384, err.constData());
#else
    Q_UNUSED(grewKb);
#endif

    int received = 0, skipped = 0;
    int next[2] = { 0, 1 }; // each flood thread logs every second line
    static const QRegularExpression marker(
        "^--- (\\d+) log lines skipped: this client reads slower than the log is written ---$");
    static const QRegularExpression floodLine(" \\| flood (\\d+) x+ \\| void flood\\(\\)$");
    for (const QByteArray& bytes : data.split('\n')) {
        const QString line = QString::fromLatin1(bytes);
        if (const auto mm = marker.match(line); mm.hasMatch()) {
            skipped += mm.captured(1).toInt();
        } else if (const auto fm = floodLine.match(line); fm.hasMatch()) {
            const int n = fm.captured(1).toInt();
            QVERIFY2(n >= next[n % 2], qPrintable(line));
            next[n % 2] = n + 2;
            ++received;
        } else {
            // Lines from two threads at once stay whole.
            QVERIFY2(bytes.isEmpty() || line.contains("flood done"), qPrintable(line));
        }
    }
    QVERIFY(skipped > 0);
    // The last lines before "flood done" were kept for it.
    QVERIFY(qMax(next[0], next[1]) >= lines);
    QCOMPARE(received + skipped, lines);
}

QTEST_MAIN(TestKuLog)
#include "tst_kulog.moc"
