#include "seqpacketpeer.h"

#include "canbus/device/canasyncreadwrite.h"
#include "canbus/device/candevicescm.h"
#include "canbus/frame/canexception.h"
#include "kubus/log/kulog.h"
#include "kubus/log/logfile.h"
#include "tests/common/blockedcall.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <vector>

#include <unistd.h>

using namespace CanBus;

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// The raw identifier, unmasked, so that bits a decoder should have dropped show.
QString frameText(const CanMessage& message)
{
    return QString::number(message.rawIdentifier(), 16).toUpper().rightJustified(8, '0') + '#'
        + QString::fromLatin1(message.bytes().toHex().toUpper());
}

const QByteArray startIoctl = hex("00620020 00000000");
const QByteArray stopIoctl = hex("03620020 00000000");

QByteArray configureIoctl(const char* word)
{
    return hex("04620480") + hex(word) + QByteArray(32, '\0');
}

QList<QByteArray> recordPackets(const QList<QByteArray>& packets)
{
    QList<QByteArray> records;
    for (const QByteArray& packet : packets)
        if (packet.size() == CanDeviceScm::WriteRecordSize)
            records.append(packet);
    return records;
}

CanException::eCode codeOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const CanException& exception) {
        return CanException::eCode(exception.code());
    }
    return CanException::UNDEFINED;
}

const int NoError = -1;

// True once the thread of that name sits in recv, i.e. the reader waits on the device. Where the
// kernel does not tell, it is taken as waiting.
bool threadWaitsInRecv(const QByteArray& name)
{
    // The number the kernel shows for recv here: recvfrom's on a PC, a 32-bit ARM kernel has a
    // recv of its own, and under an emulator the PC's shows.
    static const QByteArray recvCall = [] {
        int fds[2];
        char byte;
        ::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds);
        const QByteArray seen = BlockedCall::whileParked([&] { (void)::recv(fds[0], &byte, 1, 0); },
            [&] { (void)::send(fds[1], "x", 1, 0); }).value(0);
        ::close(fds[0]);
        ::close(fds[1]);
        return seen;
    }();
    const QDir tasks("/proc/self/task");
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + "/comm"));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != name)
            continue;
        const QList<QByteArray> call = BlockedCall::of(pid_t(tid.toInt()));
        if (call.isEmpty() || recvCall.isEmpty())
            return true;
        return call.value(0) == recvCall;
    }
    return false;
}

} // namespace

class TestCanDevice : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void openSequence_data();
    void openSequence();
    void writeRecords_data();
    void writeRecords();
    void readRecords_data();
    void readRecords();
    void closeEndsBlockedReadQuietly();
    void frameRoundTripThenPeerGone();
    void concurrentWritesStayWhole();

private:
    // The log lines written since the previous call.
    QString takeLog();
    QString readLog() const;

    QTemporaryDir m_logDir;
    int m_marker = 0;
    int m_logPos = 0;
};

void TestCanDevice::initTestCase()
{
    QVERIFY(m_logDir.isValid());
    Kubus::LogFile::init(m_logDir.filePath("test.log"));
    Kubus::LogFile::setAutoFlush(5);
}

void TestCanDevice::init()
{
    takeLog();
}

QString TestCanDevice::readLog() const
{
    QFile file(m_logDir.filePath("test.log"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(file.readAll());
}

QString TestCanDevice::takeLog()
{
    const QString marker = QString("log marker %1").arg(++m_marker);
    Kubus::kuPrint(marker, nullptr);
    if (!QTest::qWaitFor([&] { return readLog().contains(marker); }, 5000))
        QTest::qFail("the log file never got the marker", __FILE__, __LINE__);
    const QString all = readLog();
    const int end = int(all.indexOf(marker));
    const QString text = all.mid(m_logPos, end - m_logPos);
    m_logPos = end;
    return text;
}

void TestCanDevice::openSequence_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("withUio");
    QTest::addColumn<int>("socketDevice");
    QTest::addColumn<int>("error");
    QTest::addColumn<QList<QByteArray>>("packets");

    const QByteArray extended125 = configureIoctl("C4BA07E0");
    QTest::newRow("blocking: configure, start; close: stop, start")
        << int(CanDevice::Blocking) << 125 << 29 << true << 0 << NoError
        << QList<QByteArray> { extended125, startIoctl, stopIoctl, startIoctl };
    QTest::newRow("non-blocking stops the controller first")
        << int(CanDevice::NonBlocking) << 125 << 29 << true << 0 << NoError
        << QList<QByteArray> { stopIoctl, extended125, startIoctl, stopIoctl, startIoctl };
    QTest::newRow("missing uio0: not openable, nothing sent")
        << int(CanDevice::Blocking) << 125 << 29 << false << 0
        << int(CanException::CANT_OPEN_DEVICE) << QList<QByteArray>();
}

void TestCanDevice::openSequence()
{
    QFETCH(int, mode);
    QFETCH(int, speed);
    QFETCH(int, format);
    QFETCH(bool, withUio);
    QFETCH(int, socketDevice);
    QFETCH(int, error);
    QFETCH(QList<QByteArray>, packets);

    SeqPacketPeer::Options options;
    options.withUio = withUio;
    options.deviceNumber = socketDevice;
    SeqPacketPeer peer(options);
    QVERIFY(peer.isValid());
    CanDeviceScm device(CanConfiguration(CanConfiguration::MainBoardBus,
        CanConfiguration::eCanBusSpeed(speed), CanConfiguration::eCanIdFormat(format)));

    if (error != NoError) {
        QCOMPARE(int(codeOf([&] { device.open(CanDevice::eOpenMode(mode)); })), error);
        QCOMPARE(int(codeOf([&] { device.writeMessage(CanMessage(0x100, "x")); })),
            int(CanException::DEVICE_NOT_OPEN));
        QVERIFY(!peer.waitForClient(200));
        return;
    }
    device.open(CanDevice::eOpenMode(mode));
    device.close();
    QVERIFY(peer.waitForHangUp());
    const QList<QByteArray> got = peer.packets();
    QCOMPARE(got.size(), packets.size());
    for (int i = 0; i < got.size(); ++i)
        QCOMPARE(got.at(i).toHex(' '), packets.at(i).toHex(' '));
}

void TestCanDevice::writeRecords_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("probe");
    QTest::addColumn<uint>("identifier");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("record");

    QTest::newRow("three bytes: zero-padded, each group reversed")
        << 29 << false << 0x1C0123FFu << hex("010203") << hex("03 1C0123FF 00030201 00000000");
    QTest::newRow("11-bit identifier shifted left by 18")
        << 11 << false << 0x123u << hex("AA") << hex("01 048C0000 000000AA 00000000");
    QTest::newRow("isReady probes with an identify frame of node 1/1/1")
        << 29 << true << 0u << QByteArray() << hex("07 00080000 01010001 00000000");
}

void TestCanDevice::writeRecords()
{
    QFETCH(int, format);
    QFETCH(bool, probe);
    QFETCH(uint, identifier);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, record);

    SeqPacketPeer peer;
    QVERIFY(peer.isValid());
    CanDeviceScm device(CanConfiguration(CanConfiguration::MainBoardBus,
        CanConfiguration::Speed125kbit, CanConfiguration::eCanIdFormat(format)));
    device.open(CanDevice::Blocking);
    if (probe)
        QVERIFY(device.isReady());
    else
        device.writeMessage(CanMessage(identifier, payload));
    QVERIFY(peer.waitForPackets(3));
    QCOMPARE(peer.packets().at(2).toHex(' '), record.toHex(' '));
}

void TestCanDevice::readRecords_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QStringList>("frames");
    QTest::addColumn<int>("error");

    QTest::newRow("payload comes reversed") << 29 << hex("000000 1C0123FF 03 0000000000 0C0B0A")
                                            << QStringList { "1C0123FF#0A0B0C" } << NoError;
    QTest::newRow("40 bytes: two frames, the trailing 8 ignored")
        << 29
        << hex("000000 00080001 08 0807060504030201"
               "000000 00080002 00 0000000000000000"
               "FFFFFFFFFFFFFFFF")
        << QStringList { "00080001#0102030405060708", "00080002#" } << NoError;
    QTest::newRow("11-bit identifier from bits 18 to 28")
        << 11 << hex("000000 048C0000 01 00000000000000AA") << QStringList { "00000123#AA" }
        << NoError;
    QTest::newRow("length above 8 fails the whole read")
        << 29
        << hex("000000 00080001 01 0000000000000001"
               "000000 00080002 09 0000000000000000")
        << QStringList() << int(CanException::READ_ERROR);
}

void TestCanDevice::readRecords()
{
    QFETCH(int, format);
    QFETCH(QByteArray, packet);
    QFETCH(QStringList, frames);
    QFETCH(int, error);

    SeqPacketPeer peer;
    QVERIFY(peer.isValid());
    CanDeviceScm device(CanConfiguration(CanConfiguration::MainBoardBus,
        CanConfiguration::Speed125kbit, CanConfiguration::eCanIdFormat(format)));
    device.open(CanDevice::Blocking);
    QVERIFY(peer.waitForClient());
    QVERIFY(peer.send(packet));

    QStringList got;
    const int code = codeOf([&] {
        for (const CanMessage& message : device.readMessages())
            got.append(frameText(message));
    });
    QCOMPARE(got, frames);
    QCOMPARE(code, error == NoError ? int(CanException::UNDEFINED) : error);
}

void TestCanDevice::closeEndsBlockedReadQuietly()
{
    SeqPacketPeer peer;
    QVERIFY(peer.isValid());
    CanDeviceScm device { CanConfiguration(CanConfiguration::MainBoardBus) };
    CanAsyncReadWrite pair(&device);
    QSignalSpy frames(&pair, &CanAsyncReadWrite::ackRead);
    QSignalSpy errors(&pair, &CanAsyncReadWrite::readError);
    QVERIFY(peer.waitForClient());
    // One frame through proves the auto-read chain; the next read then waits on the device.
    QVERIFY(peer.send(hex("000000 00080001 01 00000000000000AA")));
    QVERIFY(frames.wait());
    QTRY_VERIFY(threadWaitsInRecv("CanReader"));

    QElapsedTimer timer;
    timer.start();
    pair.stop();
    // Far below the time close would give a read that ignores the wake-up.
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QTRY_COMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).value<CanException>().code(), int(CanException::DEVICE_NOT_OPEN));
    QVERIFY(peer.waitForHangUp());

    const QString log = takeLog();
    QVERIFY2(!log.contains("Error when reading"), qPrintable(log));
    QVERIFY2(!log.contains("did not end"), qPrintable(log));
}

void TestCanDevice::frameRoundTripThenPeerGone()
{
    SeqPacketPeer peer;
    QVERIFY(peer.isValid());
    CanDeviceScm device { CanConfiguration(CanConfiguration::MainBoardBus) };
    CanAsyncReadWrite pair(&device);
    QSignalSpy frames(&pair, &CanAsyncReadWrite::ackRead);
    QSignalSpy errors(&pair, &CanAsyncReadWrite::readError);
    QSignalSpy written(&pair, &CanAsyncReadWrite::ackWrite);
    QVERIFY(peer.waitForClient());

    // Reads of several records each must keep the chain going, frames in order.
    QVERIFY(
        peer.send(hex("000000 00080001 01 0000000000000001 000000 00080002 01 0000000000000002")));
    QVERIFY(
        peer.send(hex("000000 00080003 01 0000000000000003 000000 00080004 01 0000000000000004")));
    QTRY_COMPARE(frames.count(), 4);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(
            frameText(frames.at(i).at(0).value<CanMessage>()), QString("0008000%1#0%1").arg(i + 1));
    pair.write(CanMessage(0x1C0123FF, hex("0102")));
    QTRY_COMPARE(written.count(), 1);
    QVERIFY(peer.waitForPackets(3));
    QCOMPARE(peer.packets().at(2), hex("02 1C0123FF 00000201 00000000"));

    peer.dropClient();
    QVERIFY(errors.wait());
    QCOMPARE(errors.at(0).at(0).value<CanException>().code(), int(CanException::READ_ERROR));
    // Reported once, then the reader stays quiet rather than spinning on a dead connection.
    QVERIFY(!errors.wait(300));
    const QString log = takeLog();
    QCOMPARE(log.count("Error when reading CAN messages: READ_ERROR"), 1);

    pair.stop();
    QCOMPARE(errors.count(), 1);
}

void TestCanDevice::concurrentWritesStayWhole()
{
    SeqPacketPeer peer;
    QVERIFY(peer.isValid());
    CanDeviceScm device { CanConfiguration(CanConfiguration::MainBoardBus) };
    device.open(CanDevice::Blocking);

    // Every frame carries its identifier in its payload, so a record mixed from two frames
    // shows.
    const int writers = 6;
    const int perWriter = 400;
    const auto frameOf = [](int writer, int i) {
        const quint32 id = 0x10000000u | quint32(writer) << 12 | quint32(i);
        QByteArray payload(8, '\0');
        for (int b = 0; b < 4; ++b)
            payload[b] = payload[7 - b] = char(id >> (8 * b));
        return CanMessage(id, payload);
    };
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w)
        threads.emplace_back([&, w] {
            for (int i = 0; i < perWriter; ++i)
                device.writeMessage(frameOf(w, i));
        });
    // The owner's probe shares the write record with the writers.
    threads.emplace_back([&] {
        for (int i = 0; i < perWriter; ++i)
            device.isReady();
    });
    for (std::thread& thread : threads)
        thread.join();

    const int total = (writers + 1) * perWriter;
    QVERIFY(peer.waitForPackets(2 + total));
    const QList<QByteArray> records = recordPackets(peer.packets());
    QCOMPARE(records.size(), total);
    QHash<QByteArray, int> seen;
    for (const QByteArray& record : records)
        ++seen[record];
    char expected[CanDeviceScm::WriteRecordSize];
    for (int w = 0; w < writers; ++w)
        for (int i = 0; i < perWriter; ++i) {
            const CanMessage frame = frameOf(w, i);
            CanDeviceScm::encodeWriteRecord(
                frame.rawIdentifier(), frame.bytes(), CanConfiguration::Extended29Bit, expected);
            QCOMPARE(seen.take(QByteArray(expected, sizeof expected)), 1);
        }
    QCOMPARE(seen.size(), 1); // the probe frame, every time the same
    QCOMPARE(seen.begin().value(), perWriter);
    QCOMPARE(seen.begin().key(), hex("07 00080000 01010001 00000000"));
}

QTEST_GUILESS_MAIN(TestCanDevice)
#include "tst_candevice.moc"
