// The engine's values without a bus: BCD parameters, command frame packing, frame routing.
#include "tests/bus/logcapture.h"

#include "canbus/candestinationsetter.h"
#include "canbus/canfilter.h"
#include "canbus/canmessagefactory.h"
#include "canbus/canspontaneousmessagefactory.h"
#include "canbus/commandclasses.h"
#include "canbus/paramconvert.h"

#include <QtTest>

#include <cmath>
#include <functional>

using namespace CanBus;
using Common::ParamConvert;

namespace {

float decode(quint16 word)
{
    CanPayload payload(2);
    payload.setUint16(0, word);
    return payload.convert<CanBcdType<Power>>(0);
}

// The frame a setting or poll command builds for a request.
template <class C, eCanMessageType F> QString packed(const typename C::RequestType& request)
{
    CanNodeEngine engine(7);
    C command(engine);
    command.nextRequest(1, new Kubus::RequestInfoOf<typename C::RequestType>(request));
    CanMessageT<F> frame;
    command.prepareMessage(frame);
    return frame.toFrameText();
}

} // namespace

class TestEngineValues : public QObject {
    Q_OBJECT

private slots:
    void bcdWholeRangeRoundTrips();
    void bcdBoundaries_data();
    void bcdBoundaries();
    void packing_data();
    void packing();
    void routing();
};

void TestEngineValues::bcdWholeRangeRoundTrips()
{
    // Every word the format can hold with its most decimals: 0.001-1.999, 2.00-19.99,
    // 20.0-199.9, 200-1999, both signs.
    struct Scale {
        quint16 bits;
        int first;
    };
    int checked = 0;
    for (const Scale scale : { Scale { 0xC000, 1 }, Scale { 0x8000, 200 }, Scale { 0x4000, 200 },
             Scale { 0x0000, 200 } })
        for (int n = scale.first; n <= 1999; ++n)
            for (quint16 sign : { 0, 0x2000 }) {
                const quint16 word = quint16(scale.bits | sign | ((n / 1000) << 12)
                    | (((n / 100) % 10) << 8) | (((n / 10) % 10) << 4) | (n % 10));
                const float value = decode(word);
                const quint16 again = ParamConvert::convertFloatTo3And1FourthBcd(value);
                if (again != word)
                    QFAIL(qPrintable(QString("%1 -> %2 -> %3")
                                         .arg(word, 4, 16, QChar('0'))
                                         .arg(double(value))
                                         .arg(again, 4, 16, QChar('0'))));
                ++checked;
            }
    QCOMPARE(checked, 2 * (1999 + 3 * 1800));
}

void TestEngineValues::bcdBoundaries_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<int>("word");
    QTest::addColumn<QString>("line");
    QTest::newRow("1.5") << 1.5f << 0xD500 << "";
    QTest::newRow("-25.0") << -25.0f << 0x6250 << "";
    QTest::newRow("1999.6 rounds beyond the format")
        << 1999.6f << 0xFFFF << "ValueConverter::convertFloatTo3And1FourthBcd: should never shown";
    QTest::newRow("0.0004 is zero") << 0.0004f << 0x0AAA << "";
    QTest::newRow("-0.0004 is negative zero") << -0.0004f << 0x2AAA << "";
    QTest::newRow("2500 overflows") << 2500.0f << 0x0EEE << "";
    QTest::newRow("-2000 overflows") << -2000.0f << 0x2EEE << "";
    QTest::newRow("not a number") << std::nanf("") << 0xFFFF << "";
    QTest::newRow("0.001 smallest") << 0.001f << 0xC001 << "";
    QTest::newRow("1.9996 rounds up to 2.00") << 1.9996f << 0x8200 << "";
    QTest::newRow("19.996 rounds up to 20.0") << 19.996f << 0x4200 << "";
    QTest::newRow("199.96 rounds up to 200") << 199.96f << 0x0200 << "";
    QTest::newRow("1999.4 largest") << 1999.4f << 0x1999 << "";
}

void TestEngineValues::bcdBoundaries()
{
    QFETCH(float, value);
    QFETCH(int, word);
    QFETCH(QString, line);
    LogCapture log;
    QCOMPARE(int(ParamConvert::convertFloatTo3And1FourthBcd(value)), word);
    const QString text = log.stop();
    if (!line.isEmpty())
        QVERIFY(text.contains(line + QString(60 - line.size() > 0 ? "" : ""))
            && text.contains(
                "static UINT16 Common::ParamConvert::convertFloatTo3And1FourthBcd(float)"));
    else
        QVERIFY2(text.isEmpty(), qPrintable(text));
    // Decoding the reserved patterns.
    QCOMPARE(decode(0x2EEE), -9999.9f);
    QCOMPARE(decode(0x0AAA), 0.0f);
    QVERIFY(std::isnan(decode(0x0FFF)));
}

void TestEngineValues::packing_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("expected");
    using namespace Kubus;

    MainBoard_SetMute mute;
    mute.nodeId = 7;
    mute.value1 = 0x1234;
    mute.value2 = 0x101;
    QTest::newRow("mainboard mute: two low bytes")
        << packed<MainBoardCommand_SetMute, SCM_CONTROL_2>(mute) << "040A8000#200F003401";
}

void TestEngineValues::packing()
{
    QFETCH(QString, frame);
    QFETCH(QString, expected);
    QCOMPARE(frame, expected);
}

void TestEngineValues::routing() { }

QTEST_MAIN(TestEngineValues)
#include "tst_enginevalues.moc"
