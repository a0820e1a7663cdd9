#include "sim/driverpacket.h"
#include "sim/framebits.h"

#include <QRandomGenerator>
#include <QTest>

using Sim::DriverPacket;
using Sim::FrameBits;

namespace {

QVector<bool> bitsOf(const QString& text)
{
    QVector<bool> bits;
    for (QChar c : text) {
        if (c != QLatin1Char(' '))
            bits.append(c == QLatin1Char('1'));
    }
    return bits;
}

} // namespace

class TestSimFrames : public QObject {
    Q_OBJECT

private slots:
    void crcCheckValue();
    void stuffBits_data();
    void stuffBits();
    void frameLength_data();
    void frameLength();
    void frameLengthWithinBounds();
    void decode_data();
    void decode();
    void configuration_data();
    void configuration();
};

void TestSimFrames::crcCheckValue()
{
    // The catalogued check value of CRC-15/CAN over the ASCII digits 1 to 9.
    QCOMPARE(FrameBits::crc15(QByteArray("123456789")), quint16(0x059E));
}

void TestSimFrames::stuffBits_data()
{
    QTest::addColumn<QString>("bits");
    QTest::addColumn<int>("stuffed");
    QTest::newRow("four equal bits need none") << "0000" << 0;
    QTest::newRow("five equal bits need one") << "00000" << 1;
    QTest::newRow("nine zeros: the stuff bit starts a new run") << "000000000" << 1;
    QTest::newRow("ten zeros need two") << "0000000000" << 2;
    QTest::newRow("stuff bit counts towards the following run") << "0000011111" << 2;
    QTest::newRow("alternating bits need none") << "0101010101010101" << 0;
    QTest::newRow("worst case: a stuff bit every four bits") << "00000111100001111" << 4;
}

void TestSimFrames::stuffBits()
{
    QFETCH(QString, bits);
    QFETCH(int, stuffed);
    QCOMPARE(FrameBits::stuffBitCount(bitsOf(bits)), stuffed);
}

void TestSimFrames::frameLength_data()
{
    QTest::addColumn<quint32>("id");
    QTest::addColumn<QByteArray>("payload");
    // SOF, base identifier (bits 28-18), SRR, IDE, extension (17-0), RTR, r1, r0, DLC, data.
    QTest::addColumn<QString>("header");
    QTest::newRow("identifier 0 without data")
        << 0u << QByteArray() << "0 00000000000 11 000000000000000000 000 0000";
    QTest::newRow("identifier 1C0123FF with one byte A5")
        << 0x1C0123FFu << QByteArray::fromHex("A5")
        << "0 11100000000 11 010010001111111111 000 0001 10100101";
    QTest::newRow("eight bytes keep their order, most significant bit first")
        << 0x000800FFu << QByteArray::fromHex("0102030405060708")
        << "0 00000000010 11 000000000011111111 000 1000 00000001 00000010 00000011 00000100 "
           "00000101 00000110 00000111 00001000";
}

void TestSimFrames::frameLength()
{
    QFETCH(quint32, id);
    QFETCH(QByteArray, payload);
    QFETCH(QString, header);
    QVector<bool> expected = bitsOf(header);
    const quint16 crc = FrameBits::crc15(expected);
    for (int bit = 14; bit >= 0; --bit)
        expected.append((crc >> bit) & 1u);
    QCOMPARE(FrameBits::stuffedRegion(id, payload), expected);
    const int bits = expected.size() + FrameBits::stuffBitCount(expected) + 13;
    QCOMPARE(FrameBits::frameBitLength(id, payload), bits);
    QCOMPARE(FrameBits::frameDurationUs(id, payload), qint64(bits) * 8);
}

void TestSimFrames::frameLengthWithinBounds()
{
    QCOMPARE(FrameBits::minimumBitLength(0), 67);
    QCOMPARE(FrameBits::minimumBitLength(8), 131);
    QCOMPARE(FrameBits::maximumBitLength(0), 80);
    QCOMPARE(FrameBits::maximumBitLength(8), 160);

    QRandomGenerator random(4711);
    bool sawStuffing = false;
    for (int i = 0; i < 2000; ++i) {
        const quint32 id = random.generate() & 0x1FFFFFFFu;
        QByteArray payload(int(random.bounded(9)), '\0');
        for (char& c : payload)
            c = char(random.bounded(256));
        const int length = FrameBits::frameBitLength(id, payload);
        QVERIFY(length >= FrameBits::minimumBitLength(payload.size()));
        QVERIFY(length <= FrameBits::maximumBitLength(payload.size()));
        sawStuffing |= length > FrameBits::minimumBitLength(payload.size());
        // The CRC closes the frame: over the frame bits followed by their CRC it is zero.
        QCOMPARE(FrameBits::crc15(FrameBits::stuffedRegion(id, payload)), quint16(0));
    }
    QVERIFY(sawStuffing);
}

void TestSimFrames::decode_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<quint32>("id");
    QTest::addColumn<QByteArray>("payload");

    const QByteArray three = QByteArray::fromHex("03 18070012 00030201 00000000");
    QTest::newRow("write record with three payload bytes")
        << three << int(DriverPacket::WriteRecord) << QString() << 0x18070012u
        << QByteArray::fromHex("010203");
    QTest::newRow("write record with eight payload bytes")
        << QByteArray::fromHex("08 000800FF 04030201 08070605") << int(DriverPacket::WriteRecord)
        << QString() << 0x000800FFu << QByteArray::fromHex("0102030405060708");
    QTest::newRow("payload length above 8")
        << QByteArray::fromHex("09 000800FF 00000000 00000000") << int(DriverPacket::Malformed)
        << "write record with payload length 9" << 0u << QByteArray();
    QTest::newRow("identifier beyond 29 bits")
        << QByteArray::fromHex("00 200800FF 00000000 00000000") << int(DriverPacket::Malformed)
        << "write record with identifier 200800ff beyond 29 bits" << 0u << QByteArray();
    QTest::newRow("truncated write record")
        << three.left(12) << int(DriverPacket::Malformed)
        << "packet of 12 bytes with unknown request code 00071803" << 0u << QByteArray();
    QTest::newRow("start request") << QByteArray::fromHex("00620020 00000000")
                                   << int(DriverPacket::Ioctl) << QString() << 0u << QByteArray();
    QTest::newRow("configuration block cut short")
        << QByteArray::fromHex("04620480 C4BA07E0") << int(DriverPacket::Malformed)
        << "ioctl 80046204 with 4 argument bytes, expected 36" << 0u << QByteArray();
    QTest::newRow("unknown request code")
        << QByteArray::fromHex("01620020 00000000") << int(DriverPacket::Malformed)
        << "packet of 8 bytes with unknown request code 20006201" << 0u << QByteArray();
}

void TestSimFrames::decode()
{
    QFETCH(QByteArray, packet);
    QFETCH(int, kind);
    QFETCH(QString, reason);
    QFETCH(quint32, id);
    QFETCH(QByteArray, payload);
    const DriverPacket decoded = DriverPacket::decode(packet);
    QCOMPARE(int(decoded.kind()), kind);
    QCOMPARE(decoded.reason(), reason);
    if (kind == DriverPacket::WriteRecord) {
        QCOMPARE(decoded.identifier(), id);
        QCOMPARE(decoded.payload(), payload);
        // Encoding gives the same record back.
        QCOMPARE(DriverPacket::encodeWriteRecord(id, payload), packet);
    }
}

void TestSimFrames::configuration_data()
{
    QTest::addColumn<quint32>("word");
    QTest::addColumn<QString>("problem");
    QTest::newRow("125 kbit/s, 29 bit") << 0xE007BAC4u << QString();
    QTest::newRow("50 kbit/s") << 0xE0029958u << "bit timing for 50 kbit/s";
    QTest::newRow("11-bit identifiers") << 0x6007BAC4u << "11-bit identifiers";
    QTest::newRow("all zero block")
        << 0u << "unknown bit timing 0, unknown identifier format bits 00000000";
}

void TestSimFrames::configuration()
{
    QFETCH(quint32, word);
    QFETCH(QString, problem);
    QCOMPARE(DriverPacket::configurationProblem(word), problem);
}

QTEST_GUILESS_MAIN(TestSimFrames)
#include "tst_simframes.moc"
