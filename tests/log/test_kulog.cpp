// The log line format and the three sinks (standard output, log file, TCP clients), driven
// through kulog_helper so that its standard output can be read whole.
#include <QDateTime>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <thread>
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

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

// What the stress mode of the helper wrote: every stress line must be whole and every thread's
// lines must come exactly once, in order. Other lines are handed back for the caller to judge.
struct StressCheck {
    QString error;
    QStringList otherLines;
};

StressCheck checkStress(const QByteArray& data, int threads, int lines, int width)
{
    static const QRegularExpression stressLine(linePrefix.pattern()
        + QStringLiteral("(stress t(\\d+) n(\\d+) x+) \\| void stressThread\\(\\)$"));
    StressCheck check;
    if (!data.endsWith('\n')) {
        check.error = QStringLiteral("output does not end with a whole line");
        return check;
    }
    std::vector<int> next(threads, 0);
    const QList<QByteArray> all = data.left(data.size() - 1).split('\n');
    for (const QByteArray& bytes : all) {
        const QString line = QString::fromLatin1(bytes);
        const QRegularExpressionMatch m = stressLine.match(line);
        if (!m.hasMatch()) {
            check.otherLines << line;
            continue;
        }
        const int t = m.captured(4).toInt();
        const int n = m.captured(5).toInt();
        if (m.captured(3).size() != width || t >= threads || next[t] != n) {
            check.error = QStringLiteral("out of order or damaged: ") + line;
            return check;
        }
        ++next[t];
    }
    for (int t = 0; t < threads; ++t) {
        if (next[t] != lines) {
            check.error = QString("thread %1: %2 of %3 lines").arg(t).arg(next[t]).arg(lines);
            return check;
        }
    }
    return check;
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

// A log client that reads in a thread of its own, with a large receive buffer, so that a busy
// test machine cannot make it look like a client that stopped reading.
class ReadingClient {
public:
    explicit ReadingClient(quint16 port)
        : m_fd(connectedSocket(port, 4 * 1024 * 1024))
    {
        if (m_fd >= 0)
            m_reader = std::thread([this] { readAll(); });
    }
    ~ReadingClient()
    {
        if (m_reader.joinable()) {
            ::shutdown(m_fd, SHUT_RDWR);
            m_reader.join();
        }
        if (m_fd >= 0)
            ::close(m_fd);
    }
    // Waits until the server has closed the connection; false when it broke off instead.
    bool finish()
    {
        if (!m_reader.joinable())
            return false;
        m_reader.join();
        return m_closedCleanly;
    }
    const QByteArray& data() const { return m_data; }

private:
    void readAll()
    {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                m_closedCleanly = n == 0;
                return;
            }
            m_data.append(buffer, int(n));
        }
    }

    int m_fd;
    std::thread m_reader;
    QByteArray m_data;
    bool m_closedCleanly = false;
};

// Closes a descriptor when it goes out of scope.
struct Fd {
    int fd;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Runs the helper's stress mode with reading clients (and optionally one that stalls) attached.
struct StressRun {
    QByteArray out;
    QByteArray err;
    std::vector<QByteArray> received;
    int exitCode = -1;
    QString failure;
};

StressRun runStress(const QStringList& args, int readingClients, bool stalledClient)
{
    StressRun run;
    QProcess helper;
    setLogPort(helper, QStringLiteral("0"));
    QObject::connect(&helper, &QProcess::readyReadStandardError,
        [&] { run.err += helper.readAllStandardError(); });
    QObject::connect(&helper, &QProcess::readyReadStandardOutput,
        [&] { run.out += helper.readAllStandardOutput(); });
    helper.start(helperPath, QStringList { QStringLiteral("stress") } + args);

    static const QRegularExpression portLine(QStringLiteral("port (\\d+)\\n"));
    QRegularExpressionMatch m;
    if (!QTest::qWaitFor(
            [&] { return (m = portLine.match(QString::fromLatin1(run.err))).hasMatch(); }, 20000)
        || m.captured(1).toInt() == 0) {
        helper.kill();
        helper.waitForFinished();
        run.failure = QStringLiteral("no port from the helper: ") + QString::fromLatin1(run.err);
        return run;
    }
    const quint16 port = quint16(m.captured(1).toUInt());

    std::vector<std::unique_ptr<ReadingClient>> clients;
    for (int i = 0; i < readingClients; ++i)
        clients.push_back(std::make_unique<ReadingClient>(port));
    // One that never reads, with a receive window as small as the system allows.
    const Fd stalled { stalledClient ? connectedSocket(port, 4096) : -1 };

    const bool finished
        = QTest::qWaitFor([&] { return helper.state() == QProcess::NotRunning; }, 90000);
    if (!finished) {
        helper.kill();
        helper.waitForFinished();
        run.failure = QStringLiteral("helper did not finish: ") + QString::fromLatin1(run.err);
        return run;
    }
    run.out += helper.readAllStandardOutput();
    run.err += helper.readAllStandardError();
    run.exitCode = helper.exitStatus() == QProcess::NormalExit ? helper.exitCode() : -1000;
    // The helper hands out what it still has queued and closes the clients when it exits.
    for (auto& client : clients) {
        if (!client->finish())
            run.failure = QStringLiteral("a log client was not closed cleanly at exit");
        run.received.push_back(client->data());
    }
    return run;
}

} // namespace

class TestKuLog : public QObject {
    Q_OBJECT

private slots:
    void lineFormat_data();
    void lineFormat();
    void deltaIsTimeSincePreviousLine();
    void logPort_data();
    void logPort();
    void concurrentSinks_data();
    void concurrentSinks();
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
    const quint16 port = freePort();
    QTest::newRow("a number is that port") << QString::number(port) << true << false << int(port);
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

    if (expected == 5000) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::AnyIPv4, 5000))
            QSKIP("port 5000 is taken by another program");
    }
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
    else
        QCOMPARE(port, expected);
    if (blockIt)
        QVERIFY2(
            out.contains("Log server cannot listen on port " + env.toLatin1()), out.constData());
}

void TestKuLog::concurrentSinks_data()
{
    QTest::addColumn<bool>("toFile");
    QTest::addColumn<bool>("stalled");
    QTest::newRow("standard output and two clients") << false << false;
    QTest::newRow("log file and two clients") << true << false;
    QTest::newRow("a client that stops reading is dropped") << false << true;
}

void TestKuLog::concurrentSinks()
{
    QFETCH(bool, toFile);
    QFETCH(bool, stalled);
    // With a stalled client: far more than the backlog limit plus what the kernel buffers hold.
    const int threads = 8, lines = 2000, width = stalled ? 600 : 70;
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/sub/dir/log.txt");
    QStringList args { QString::number(threads), QString::number(lines), QString::number(width),
        "2" };
    if (toFile)
        args << file;

    const StressRun run = runStress(args, stalled ? 1 : 2, stalled);
    QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure));
    QVERIFY2(run.exitCode == 0, run.err.constData());

    QByteArray sink = run.out;
    if (toFile) {
        // With a log file open, nothing goes to standard output.
        QCOMPARE(run.out, QByteArray());
        QFile log(file);
        QVERIFY(log.open(QIODevice::ReadOnly));
        sink = log.readAll();
    }
    const StressCheck check = checkStress(sink, threads, lines, width);
    QVERIFY2(check.error.isEmpty(), qPrintable(check.error));
    QVERIFY2(check.otherLines.size() == int(stalled), qPrintable(check.otherLines.join('\n')));
    if (stalled)
        QVERIFY2(check.otherLines[0].contains(
                     QRegularExpression(QStringLiteral("Log client 127\\.0\\.0\\.1:\\d+ dropped"))),
            qPrintable(check.otherLines[0]));
    // The reading clients get the same lines in the same order.
    for (const QByteArray& received : run.received)
        QVERIFY2(received == sink,
            qPrintable(QString("client got %1 of %2 bytes").arg(received.size()).arg(sink.size())));
}

QTEST_MAIN(TestKuLog)
#include "test_kulog.moc"
