#include "canbus/frame/canidentifier.h"
#include "canbus/nodes/firmwareimagecluster.h"
#include "common/rawcanclient.h"
#include "common/simulatorprocess.h"

#include <QTest>

#include <memory>

using namespace CanBus;

namespace {

const QString amplifier = "can1_2001";
const QString identify = "006800FF#30AB0167120000";

// A frame from the controller to amplifier node 5, in text form.
QString toNode5(eCanMessageType type, const QByteArray& data)
{
    CanIdentifier id(type, type == SCM_RESET_MODULE ? 0 : type == SCM_SERVICE_DATA_WR ? 4 : 6);
    id.setDestination(6);
    id.setNodeId(5);
    return QString("%1#%2").arg(id.raw(), 8, 16, QChar('0')).arg(QString(data.toHex()));
}

// Block number (or start block), a zero byte, the second 16-bit field.
QByteArray fields(int a, int b)
{
    const char bytes[] = { char(a & 0xFF), char(a >> 8), 0, char(b & 0xFF), char(b >> 8) };
    return QByteArray(bytes, 5);
}

} // namespace

// A board's firmware access through raw frames, as the program's transfer sends them: amplifier
// 2001 of the built-in rack gets node id 5 first.
class TestSimFirmware : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        m_can.reset();
        if (m_sim)
            QCOMPARE(m_sim->stop(), 0);
    }
    void transferAndReset();
    void blockFaults_data();
    void blockFaults();
    void positionSearch();

private:
    static int crc(const QByteArray& bytes) { return FirmwareImageCluster::calcCrc16(bytes); }
    void start(const QStringList& args)
    {
        m_sim = std::make_unique<SimulatorProcess>();
        m_can = std::make_unique<RawCanClient>();
        QVERIFY2(m_sim->start(args), qPrintable(m_sim->output()));
        QVERIFY(m_can->connectTo(m_sim->socketPath(1)) && m_sim->waitForConfigured(1, 1));
        QCOMPARE(exchange("006400FF#5CAC01D107000005"), QString("0C640005#5CAC01D107000005"));
    }
    // Sends one frame and gives the first answer ("" when none comes in time).
    QString exchange(const QString& frame, int timeoutMs = 2000)
    {
        m_can->receiveNow();
        m_can->sendFrame(frame);
        const auto got = m_can->receive(1, timeoutMs);
        return got.isEmpty() ? QString() : got.first().text();
    }
    // Announce, 37 packages in one burst, block end: the answer to the block end.
    QString writeBlock(int block, const QByteArray& bytes, int checksum)
    {
        if (exchange(toNode5(SCM_FW_ACC_BL_WRITE, fields(block, 256))).isEmpty())
            return "announce unanswered";
        for (int k = 0; k * 7 < 256; ++k)
            m_can->sendFrame(
                toNode5(SCM_FW_ACC_PA_WR, char(k) + bytes.mid(k * 7, 7).leftJustified(7, 0)));
        return exchange(toNode5(SCM_FW_ACC_BL_W_END, fields(block, checksum)), 1000);
    }

    std::unique_ptr<SimulatorProcess> m_sim;
    std::unique_ptr<RawCanClient> m_can;
};

void TestSimFirmware::transferAndReset()
{
    start({});
    QByteArray image;
    for (int i = 0; i < 512; ++i)
        image += char(i * 7 % 251);
    const QByteArray old(256, char(0x0F));
    const QByteArray block1 = image.mid(256);

    // Rejections name the frame's type: bits 8-23 of its identifier, then the code.
    QCOMPARE(exchange(toNode5(SCM_FW_ACC_BL_WRITE, fields(1, 256))), QString("00658005#00610020"));
    QCOMPARE(exchange(toNode5(SCM_FW_ACC_CONTROL, QByteArray::fromHex("3300"))),
        QString("18660005#3300"));
    QVERIFY(writeBlock(1, old, crc(old)).startsWith("18690005#010000"));
    // Programming only clears bits: over the old block the read-back differs until an erase.
    QCOMPARE(writeBlock(1, block1, crc(block1)), QString("00658005#00690024"));
    QCOMPARE(
        exchange(toNode5(SCM_FW_ACC_ERASE, fields(0, 2) + '\0')), QString("186E0005#000000020000"));
    QCOMPARE(writeBlock(1, block1, crc(block1) ^ 1), QString("00658005#00690025"));
    QVERIFY(writeBlock(1, block1, crc(block1)).startsWith("18690005#"));
    QVERIFY(writeBlock(0, image.left(256), crc(image.left(256))).startsWith("18690005#"));
    QCOMPARE(exchange(toNode5(SCM_FW_ACC_CONTROL, QByteArray::fromHex("CC00"))),
        QString("18660005#CC00"));
    const QByteArray version = QByteArray(2, '\0') + QByteArray("1.14.0").leftJustified(10, '\0');
    for (char word = 31; word < 34; ++word) {
        const QByteArray data = QByteArray(1, '\0') + word + '\0' + version.mid((word - 31) * 4, 4);
        QVERIFY(exchange(toNode5(SCM_SERVICE_DATA_WR, data)).startsWith("10688005#"));
    }

    QVERIFY(m_sim->requestDump());
    QCOMPARE(m_sim->flash(amplifier, "at90").left(1024), image + QByteArray(512, char(0xFF)));
    QCOMPARE(m_sim->dumpValue(amplifier, "at90_valid").toString(), QString("true"));
    QCOMPARE(m_sim->dumpValue(amplifier, "fw_erase_wait_us").toInt(), 2 * 4500);

    // Reset: confirmed with the old id, off the bus, back without id and with the new version.
    QCOMPARE(exchange(toNode5(SCM_RESET_MODULE, {})), QString("00600005#"));
    m_can->sendFrame(identify);
    for (const RawCanClient::Frame& f : m_can->receive(4, 200))
        QVERIFY(!f.text().contains("D107"));
    QTRY_COMPARE_WITH_TIMEOUT(exchange(identify, 200), QString("0D6800FF#5CAC01D10700001F"), 5000);
    QVERIFY(m_sim->requestDump());
    QCOMPARE(m_sim->dumpValue(amplifier, "at90_version").toString(), QString("1.14.0"));
}

void TestSimFirmware::blockFaults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("blockEnd"); // the answer to the first block end
    QTest::addColumn<QString>("identifyAfter"); // 2001's identify answer afterwards
    // After the erase the AT90 firmware is invalid (protocol 0x1D) until block 0 is written.
    QTest::newRow("corrupt block 1: rewrite asked for, node stays") << "can1/2001,corrupt=1"
                                                                    << "00658005#00690025"
                                                                    << "0D680005#5CAC01D10700001D";
    QTest::newRow("power lost after one block: no answer, back without id")
        << "can1/2001,powerloss=1blocks"
        << ""
        << "0D6800FF#5CAC01D10700001D";
    QTest::newRow("silent to block ends only") << "can1/2001,silent,type=900"
                                               << ""
                                               << "0D680005#5CAC01D10700001D";
}

void TestSimFirmware::blockFaults()
{
    QFETCH(QString, fault);
    QFETCH(QString, blockEnd);
    QFETCH(QString, identifyAfter);
    start({ "--fault", fault });
    const QByteArray block(256, 'x');
    QVERIFY(!exchange(toNode5(SCM_FW_ACC_CONTROL, QByteArray::fromHex("3300"))).isEmpty());
    QVERIFY(!exchange(toNode5(SCM_FW_ACC_ERASE, fields(0, 2) + '\0')).isEmpty());
    QCOMPARE(writeBlock(1, block, crc(block)), blockEnd);
    QTRY_COMPARE_WITH_TIMEOUT(exchange(identify, 200), identifyAfter, 5000);
}

// Mainboard 1001 (node 1) signals slot 3 of rack 1 unit 1: amplifier 2003 names its slot index.
void TestSimFirmware::positionSearch()
{
    start({});
    RawCanClient can0;
    QVERIFY(can0.connectTo(m_sim->socketPath(0)) && m_sim->waitForConfigured(0, 1));
    can0.sendFrame("000400FF#94AB01E903000001");
    QCOMPARE(can0.receive(1).first().text(), QString("0C040001#94AB01E903000001"));
    can0.sendFrame("08018001#200700"); // poll of the equipment and position
    QCOMPARE(can0.receive(1).first().text(), QString("00072001#00E0010000"));
    m_can->receiveNow();
    can0.sendFrame("040C8001#0003");
    QCOMPARE(can0.receive(1).first().text(), QString("040C8001#0003"));
    QCOMPARE(m_can->receive(1).first().text(), QString("006CC0FF#02"));
}

QTEST_GUILESS_MAIN(TestSimFirmware)
#include "tst_simfirmware.moc"
