#include "canbus/frame/canexception.h"
#include "canbus/frame/canidentifier.h"
#include "canbus/frame/canmessage.h"
#include "canbus/frame/canmessaget.h"
#include "canbus/frame/canmessagetype.h"
#include "canbus/frame/canpayload.h"

#include <QSet>
#include <QtTest>

#include <cmath>
#include <functional>
#include <optional>

using namespace CanBus;

using Builder = std::function<CanMessage()>;
Q_DECLARE_METATYPE(Builder)

namespace {

CanMessage frame(const char* text)
{
    const std::optional<CanMessage> parsed = CanMessage::fromFrameText(QString::fromLatin1(text));
    if (!parsed)
        qFatal("bad fixture %s", text);
    return *parsed;
}

} // namespace

class TestFrame : public QObject {
    Q_OBJECT

private slots:
    void identifierSetters_data();
    void identifierSetters();
    void identifierFields_data();
    void identifierFields();
    void payloadBounds_data();
    void payloadBounds();
    void typedSetters_data();
    void typedSetters();
    void typedGetters();
    void errorAckRebuild_data();
    void errorAckRebuild();
    void bcdDecoding_data();
    void bcdDecoding();
    void textForm_data();
    void textForm();
    void frameTextParsing_data();
    void frameTextParsing();
    void typeTableRow_data();
    void typeTableRow();
    void typeTableAsWhole();
};

void TestFrame::identifierSetters_data()
{
    QTest::addColumn<Builder>("build");
    QTest::addColumn<unsigned>("raw");

    QTest::newRow("poll priority 2 sits in bits 26-28")
        << Builder([] { return CanMessage(CanIdentifier(SCM_POLL, 2), CanPayload()); })
        << 0x08018000u;
    QTest::newRow("priority above 7 stays within 29 bits")
        << Builder([] { return CanMessage(CanIdentifier(TP_EXT_SWITCH, 15), CanPayload()); })
        << 0x1C0BD000u;
    QTest::newRow("broadcast destination is 15 and sets no ack bit") << Builder([] {
        CanMessage m;
        m.setDestination(CanIdentifier::Broadcast);
        return m;
    }) << 0x00F00000u;
    QTest::newRow("ack request is bit 24 only") << Builder([] {
        CanMessage m(0x1C0BD0FFu, QByteArray());
        m.identifier().setAckRequest(true);
        return m;
    }) << 0x1D0BD0FFu;
}

void TestFrame::identifierSetters()
{
    QFETCH(Builder, build);
    QFETCH(unsigned, raw);
    QCOMPARE(build().rawIdentifier(), raw);
}

void TestFrame::identifierFields_data()
{
    QTest::addColumn<unsigned>("raw");
    QTest::addColumn<unsigned>("nodeId");
    QTest::addColumn<unsigned>("type");
    QTest::addColumn<unsigned>("destination");
    QTest::addColumn<bool>("ack");
    QTest::addColumn<unsigned>("priority");

    QTest::newRow("identify answer of an amplifier")
        << 0x0D680012u << 0x12u << 0x800u << 6u << true << 3u;
    QTest::newRow("all ones") << 0x1FFFFFFFu << 0xFFu << 0xFFFu << 0xFu << true << 7u;
}

void TestFrame::identifierFields()
{
    QFETCH(unsigned, raw);
    const CanIdentifier id(raw);
    QTEST(id.nodeId(), "nodeId");
    QTEST(unsigned(id.messageType()), "type");
    QTEST(id.destination(), "destination");
    QTEST(id.ackRequest(), "ack");
    QTEST(id.priority(), "priority");
}

void TestFrame::payloadBounds_data()
{
    QTest::addColumn<Builder>("build");
    QTest::addColumn<int>("length"); // -1: throws UNDEFINED

    QTest::newRow("length 8 is allowed") << Builder([] { return CanMessage(SCM_POLL, 2, 8); }) << 8;
    QTest::newRow("length 9 throws") << Builder([] { return CanMessage(SCM_POLL, 2, 9); }) << -1;
    QTest::newRow("writing byte 7 grows an empty payload") << Builder([] {
        CanMessage m;
        m.payload().setByte(7, 1);
        return m;
    }) << 8;
    QTest::newRow("writing byte 8 throws") << Builder([] {
        CanMessage m;
        m.payload().setByte(8, 1);
        return m;
    }) << -1;
    QTest::newRow("serial number needs 7 bytes") << Builder([] {
        const CanMessageT<SCM_IDENTIFY> m(frame("00080000#010203040506"));
        return CanMessage(m.componentSerialNumber(), QByteArray());
    }) << -1;
    QTest::newRow("service data of a request is missing") << Builder([] {
        const CanMessageT<SCM_SERVICE_DATA_RD> m;
        return CanMessage(0u, m.data());
    }) << -1;
    QTest::newRow("measured value index beyond its count throws") << Builder([] {
        const CanMessageT<TP_TEMP> m;
        return CanMessage(m.value(2), QByteArray());
    }) << -1;
}

void TestFrame::payloadBounds()
{
    QFETCH(Builder, build);
    QFETCH(int, length);
    if (length < 0) {
        try {
            build();
            QFAIL("no exception");
        } catch (const CanException& e) {
            QCOMPARE(e.code(), int(CanException::UNDEFINED));
        }
    } else {
        QCOMPARE(build().length(), length);
    }
}

void TestFrame::typedSetters_data()
{
    QTest::addColumn<Builder>("build");
    QTest::addColumn<QString>("expected");

    QTest::newRow("set address carries the new node id in byte 7") << Builder([] {
        CanMessageSetAddress<SCM_SET_ADDR_CO> m;
        m.setPartNumber(0x1234);
        m.setVariantNumber(0x56);
        m.setSerialNumber(0x89ABCDEF);
        m.setCanNodeId(5);
        return CanMessage(m);
    }) << "00040000#341256EFCDAB8905";
    QTest::newRow("service data write puts data from byte 3") << Builder([] {
        CanMessageT<SCM_SERVICE_DATA_WR> m;
        m.setServiceDataSelector(2);
        m.setAddress(124);
        m.setData(QByteArray::fromHex("31323334"));
        return CanMessage(m);
    }) << "10088000#021F0031323334";
    QTest::newRow("erase: start block, zero, block count, selector") << Builder([] {
        CanMessageT<SCM_FW_ACC_ERASE> m;
        m.setStartBlock(0x0102);
        m.setNoOfBlocksToErase(0x0304);
        m.setFwSelector(7);
        return CanMessage(m);
    }) << "180E0000#020100040307";
    QTest::newRow("poll carries identifier bits 8-28 of the default target") << Builder([] {
        CanMessageT<SCM_POLL> m;
        m.setId(CanMessageT<AMP_TEMP>().rawIdentifier());
        return CanMessage(m);
    }) << "08018000#C00200";
    QTest::newRow("setting frame: selector set before the target survives") << Builder([] {
        CanMessageT<SCM_CONTROL_2> m;
        m.setSelector(0x40);
        m.setTargetId(0x1C0BC000u);
        return CanMessage(m);
    }) << "040A8000#C00B5C0000";
    QTest::newRow("measured 16-bit values sit side by side") << Builder([] {
        CanMessageT<TP_VV_VOLT> m;
        m.setValue(1, 0x1234);
        m.setValue(3, 0xABCD);
        return CanMessage(m);
    }) << "000FC000#000034120000CDAB";
    QTest::newRow("acknowledge goes back to the sender, flags cleared")
        << Builder([] { return CanMessage(CanMessageT<SCM_MSG_ACK>(frame("1F6BD003#01"))); })
        << "00698003#D06B1F";
}

void TestFrame::typedSetters()
{
    QFETCH(Builder, build);
    QFETCH(QString, expected);
    QCOMPARE(build().toFrameText(), expected);
}

void TestFrame::typedGetters()
{
    const CanMessageT<SCM_IDENTIFY> identify(frame("0D680012#8CE30778563412FE"));
    QCOMPARE(identify.componentPartNumber(), quint16(0xE38C));
    QCOMPARE(identify.componentVariantNumber(), quint8(7));
    QCOMPARE(identify.componentSerialNumber(), quint32(0x12345678));
    QCOMPARE(identify.canProtocolVersion(), quint8(0xFE));

    const CanMessageT<SCM_SERVICE_DATA_RD> answer(frame("10008005#02FF0111223344"));
    QCOMPARE(answer.serviceDataSelector(), quint8(2));
    QCOMPARE(answer.address(), 0x1FFu * 4);
    QCOMPARE(answer.data(), QByteArray::fromHex("11223344"));

    const CanMessageT<TP_VV_VOLT> volt(frame("000FC001#0100FF7F0080FFFF"));
    QCOMPARE(volt.value(0), quint16(1));
    QCOMPARE(volt.value(1), quint16(0x7FFF));
    QCOMPARE(volt.value(2), quint16(0x8000));
    QCOMPARE(volt.value(3), quint16(0xFFFF));

    const CanMessageT<TP_TACHO> tacho(frame("0007C001#80FF"));
    QCOMPARE(tacho.value(1), quint8(0xFF));
}

void TestFrame::errorAckRebuild_data()
{
    QTest::addColumn<QString>("errorFrame");
    QTest::addColumn<unsigned>("rejected");
    QTest::addColumn<int>("code");

    QTest::newRow("node's own id when the rejected frame was addressed")
        << "00058003#80090005" << 0x00098003u << 5;
    QTest::newRow("broadcast marker gives node id 255") << "00058003#80090105" << 0x000980FFu << 5;
    QTest::newRow("destination comes from the error frame itself")
        << "00658007#C00C0000" << 0x006CC007u << 0;
}

void TestFrame::errorAckRebuild()
{
    QFETCH(QString, errorFrame);
    const CanMessageT<A_ERROR_ACK> error(*CanMessage::fromFrameText(errorFrame));
    QTEST(error.errorMessageCanIdentifier().raw(), "rejected");
    QTEST(int(error.errorCode()), "code");
}

void TestFrame::bcdDecoding_data()
{
    QTest::addColumn<quint16>("word");
    QTest::addColumn<float>("value"); // NaN: no value

    const float nan = std::numeric_limits<float>::quiet_NaN();
    QTest::newRow("zero pattern") << quint16(0x0AAA) << 0.0f;
    QTest::newRow("overflow") << quint16(0x0EEE) << 9999.9f;
    QTest::newRow("no value") << quint16(0x0FFF) << nan;
    QTest::newRow("thousands bit and three decimals") << quint16(0xD500) << 1.5f;
    QTest::newRow("sign and one decimal") << quint16(0x6250) << -25.0f;
    QTest::newRow("two decimals") << quint16(0x8123) << 1.23f;
}

void TestFrame::bcdDecoding()
{
    QFETCH(quint16, word);
    QFETCH(float, value);
    // The word sits at byte 2, low byte first, behind bytes that must not leak into it.
    CanPayload payload(QByteArray::fromHex("FFFF"));
    payload.setUint16(2, word);
    const float decoded = payload.convert<CanBcdType<Voltage>>(2);
    if (std::isnan(value))
        QVERIFY(std::isnan(decoded));
    else
        QCOMPARE(decoded, value);

    try {
        payload.convert<CanBcdType<Power>>(3);
        QFAIL("read beyond the payload");
    } catch (const CanException& e) {
        QCOMPARE(e.code(), int(CanException::UNDEFINED));
    }
}

void TestFrame::textForm_data()
{
    QTest::addColumn<QString>("frameText");
    QTest::addColumn<QString>("expected");

    QTest::newRow("known type, lower-case hex")
        << "08018005#C002AB"
        << "CanMessage: ID: 8018005 ( \"SCM_POLL\" ) - c002ab";
}

void TestFrame::textForm()
{
    QFETCH(QString, frameText);
    QFETCH(QString, expected);
    const CanMessage message = *CanMessage::fromFrameText(frameText);
    QCOMPARE(message.toString(), expected);
    QString streamed;
    QDebug(&streamed) << message;
    QCOMPARE(streamed.trimmed(), expected.trimmed());
}

void TestFrame::frameTextParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("canonical"); // null: rejected

    QTest::newRow("empty payload") << "00000000#"
                                   << "00000000#";
    QTest::newRow("full payload, largest identifier") << "1FFFFFFF#0102030405060708"
                                                      << "1FFFFFFF#0102030405060708";
    QTest::newRow("lower case is read, upper case is written") << "1c0123ff#0a0b"
                                                               << "1C0123FF#0A0B";
    const QString rejected;
    QTest::newRow("empty") << "" << rejected;
    QTest::newRow("no separator") << "1C0123FF" << rejected;
    QTest::newRow("9 payload bytes") << "1C0123FF#010203040506070809" << rejected;
}

void TestFrame::frameTextParsing()
{
    QFETCH(QString, text);
    QFETCH(QString, canonical);
    QString error;
    const std::optional<CanMessage> parsed = CanMessage::fromFrameText(text, &error);
    if (canonical.isNull()) {
        QVERIFY(!parsed);
        QVERIFY(!error.isEmpty());
        return;
    }
    QVERIFY2(parsed, qPrintable(error));
    QCOMPARE(parsed->toFrameText(), canonical);
    QCOMPARE(*CanMessage::fromFrameText(parsed->toFrameText()), *parsed);
}

void TestFrame::typeTableRow_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<unsigned>("code");
    QTest::addColumn<int>("priority");
    QTest::addColumn<int>("length");
    QTest::newRow("identify") << "SCM_IDENTIFY" << 0x800u << 0 << 7;
    QTest::newRow("named only") << "SCM_SET_CONFIG" << 0x200u << -1 << -1;
    QTest::newRow("erase") << "SCM_FW_ACC_ERASE" << 0xE00u << 6 << 6;
    QTest::newRow("service data read") << "SCM_SERVICE_DATA_RD" << 0x080u << 4 << 3;
    QTest::newRow("control 2") << "SCM_CONTROL_2" << 0xA80u << 1 << 5;
}

void TestFrame::typeTableRow()
{
    QFETCH(QString, name);
    QFETCH(unsigned, code);
    eCanMessageType byName;
    QVERIFY(canMessageTypeFromName(name, &byName));
    QCOMPARE(unsigned(byName), code);
    QCOMPARE(canMessageTypeName(code), name);
    const CanMessageTypeInfo* info = canMessageTypeInfo(code);
    QVERIFY(info);
    QTEST(info->priority, "priority");
    QTEST(info->length, "length");
}

void TestFrame::typeTableAsWhole()
{
    const QList<CanMessageTypeInfo>& types = canMessageTypes();
    QCOMPARE(types.size(), 74);
    QCOMPARE(canMessageTypeCount, 74);
    QSet<unsigned> codes;
    QSet<QString> names;
    int spontaneous = 0;
    for (const CanMessageTypeInfo& info : types) {
        codes.insert(info.type);
        names.insert(QString::fromLatin1(info.name));
        spontaneous += info.spontaneous;
    }
    QCOMPARE(codes.size(), 74);
    QCOMPARE(names.size(), 74);
    QCOMPARE(spontaneous, 34);

    // Defaults that other parts build frames with.
    const CanMessageTypeInfo* poll = canMessageTypeInfo(SCM_POLL);
    QCOMPARE(poll->priority, 2);
    QCOMPARE(poll->length, 3);
    QCOMPARE(canMessageTypeInfo(SCM_SERVICE_DATA_RD)->priority, 4);
    QCOMPARE(canMessageTypeInfo(SCM_FW_ACC_PA_WR)->length, 8);
    QCOMPARE(canMessageTypeInfo(TP_TACHO)->priority, -1);
    QCOMPARE(canMessageTypeInfo(TP_TACHO)->length, 2);
    QVERIFY(!canMessageTypeInfo(SCM_SET_CONFIG)->hasDefaults());

    QVERIFY(!canMessageTypeInfo(0x123));
    QCOMPARE(canMessageTypeName(0x123), QStringLiteral("UNKNOWN_MESSAGE"));
    QVERIFY(!canMessageTypeFromName(QStringLiteral("UNKNOWN_MESSAGE"), nullptr));
}

QTEST_GUILESS_MAIN(TestFrame)
#include "tst_frame.moc"
