// The engine's values without a bus: BCD parameters, command frame packing, frame routing,
// error codes as judged, time limits, a service-data answer for another selector, job ids.
#include "tests/common/logcapture.h"

#include "canbus/routing/candestinationsetter.h"
#include "canbus/routing/canfilter.h"
#include "canbus/routing/canmessagefactory.h"
#include "canbus/routing/canspontaneousmessagefactory.h"
#include "canbus/commands/commandclasses.h"
#include "canbus/nodes/canfwerrortransition.h"
#include "canbus/nodes/ping.h"
#include "canbus/nodes/reset.h"
#include "canbus/commands/paramconvert.h"
#include "canbus/engine/statemachine.h"

#include <QFinalState>

#include <QSignalSpy>
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

// Whether an error code ends a command, as judged by the reaction T.
template <class T> bool ends(unsigned code)
{
    struct Judge : T {
        using T::isError;
        using T::T;
    };
    CanNodeEngine engine(7);
    CanIdentifier rejected;
    rejected.setMessageType(SCM_CONTROL_2);
    return Judge(engine).isError(code, rejected);
}

// A command's time-out, then the intervals of its other timers, once its states are built.
template <class C> QList<int> timersOf()
{
    CanNodeEngine engine(7);
    C command(engine);
    std::unique_ptr<QState> states(command.commandState());
    QList<int> others;
    for (const QTimer* timer : command.template findChildren<QTimer*>())
        others << timer->interval();
    others.removeOne(command.timeoutInterval());
    return QList<int> { command.timeoutInterval() } + others;
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
    void jobsLeftWhenTheMachineFinishedAreAnswered();
    void errorCodes_data();
    void errorCodes();
    void timeLimits_data();
    void timeLimits();
    void serviceDataAnswerNeedsItsSelector();
    void jobIdsSkipZero();
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
    // Frames as a command builds them, before the factory puts the node id in.
    const auto row = [](const char* name, const QString& frame, const char* expected) {
        QTest::newRow(name) << frame << QString(expected);
    };
    const auto request = [](auto r, const auto& fill) {
        r.nodeId = 7;
        fill(r);
        return r;
    };
#define PACK(CLASS, FRAME, ...)                                                                    \
    packed<CLASS, FRAME>(request(CLASS::RequestType(), [](auto& r) { __VA_ARGS__; }))
    row("mainboard mute: two low bytes",
        PACK(MainBoardCommand_SetMute, SCM_CONTROL_2, r.value1 = 0x1234; r.value2 = 0x101),
        "040A8000#200F003401");
    row("attenuation: index in bits 6-7, value truncated",
        PACK(MainBoardCommand_SetAttenuation, SCM_CONTROL_2, r.value1 = 300.7f; r.value2 = 2),
        "040A8000#2005802C01");
    row("control loop parameter 3",
        PACK(MainBoardCommand_SetControlLoopParameter, SCM_CONTROL_2, r.parameterIndex = 3;
             r.value = 0xBEEF),
        "040A8000#2003C0EFBE");
    row("fan info: speed byte, active in bit 1",
        PACK(MainBoardCommand_SetFanInfo, SCM_CONTROL_2, r.fanSpeed = 0x1FF; r.fanActive = 1;
             r.fanControlSource = 0),
        "040A8000#C00B60FF02");
    row("output switch 1 set",
        PACK(MainBoardCommand_SetPosition_OutputSwitch, SCM_CONTROL_1, r.positionFlag = 1;
             r.switchNumber = 1),
        "04028000#D00B0008");
    row("output switch 0 clear",
        PACK(MainBoardCommand_SetPosition_OutputSwitch, SCM_CONTROL_1, r.positionFlag = 0;
             r.switchNumber = 0),
        "04028000#D00B0001");
    row("interlock confirmation",
        PACK(MainBoardCommand_SetInterlockLoopConfirmation, SCM_CONTROL_1, r.byte1 = 5),
        "04028000#C00BC005");
    row("frequency code 3: value, code + 0x40",
        PACK(MainBoardCommand_SetFrequency, SCM_CONTROL_3, r.settingCode = 3; r.value = 0x1234),
        "04068000#A00800341243");
    row("frequency code 20: value, code xor 0x80",
        PACK(MainBoardCommand_SetFrequency, SCM_CONTROL_3, r.settingCode = 20; r.value = 0x1234),
        "04068000#A00800341294");
    row("frequency code 0",
        PACK(MainBoardCommand_SetFrequency, SCM_CONTROL_3, r.settingCode = 0; r.value = 0x1234),
        "04068000#A008000000C0");
    row("frequency code 7: no value",
        PACK(MainBoardCommand_SetFrequency, SCM_CONTROL_3, r.settingCode = 7; r.value = 0x1234),
        "04068000#A00800000007");
    row("amplifier position: command value + 1",
        PACK(MainBoardCommand_SetPosition_PowerAmplifier, SCM_COMMAND, r.value1 = 2),
        "040C8000#0003");
    row("equipment poll", PACK(MainBoardCommand_GetEquipment, SCM_POLL, (void)r),
        "08018000#200700");
    row("temperature poll", PACK(PowerAmplifierCommand_GetTempValues, SCM_POLL, (void)r),
        "08018000#C00200");
    row("amplifier mode",
        PACK(PowerAmplifierCommand_SetMode, SCM_CONTROL_1, r.byte1 = 5; r.byte2 = 2; r.byte3 = 1),
        "04028000#C0090056");
    row("amplifier control loop",
        PACK(PowerAmplifierCommand_SetContLoop, SCM_CONTROL_1, r.byte1 = 0x0F; r.byte2 = 3;
             r.byte3 = 1),
        "04028000#C009207F");
    row("amplifier loop parameter 2",
        PACK(PowerAmplifierCommand_SetContLoopParam, SCM_CONTROL_2, r.parameterIndex = 2;
             r.value = 0x0102),
        "040A8000#C009800201");
    row("output power, minimum selector",
        PACK(PowerAmplifierCommand_SetContLoopOutputPower, SCM_CONTROL_2, r.value1 = 0x12345;
             r.value2 = 2),
        "040A8000#C00D404523");
    row("power correction truncated",
        PACK(PowerAmplifierCommand_SetPowerCorr, SCM_CONTROL_2, r.value1 = -1.9f),
        "040A8000#C00140FFFF");
    row("phase correction in BCD",
        PACK(PowerAmplifierCommand_SetPhaseCorr, SCM_CONTROL_2, r.value1 = 1.5f),
        "040A8000#C0010000D5");
    row("status: group 2, operate, power correction, power switch",
        PACK(PowerAmplifierCommand_SetStatus, SCM_CONTROL_1, r.value1 = 2; r.flag1 = 1; r.flag2 = 0;
             r.flag3 = 1; r.flag4 = 1),
        "04028000#C001E027");
    row("amplifier frequency 1000: mantissa FA00, exponent 10",
        PACK(PowerAmplifierCommand_SetFrequency, SCM_CONTROL_3, r.value1 = 1000.0f),
        "04068000#C0018000FA0A");
    row("amplifier frequency 0: exponent 1",
        PACK(PowerAmplifierCommand_SetFrequency, SCM_CONTROL_3, r.value1 = 0.0f),
        "04068000#C00180000001");
    row("calibration", PACK(PowerAmplifierCommand_Calibration, SCM_COMMAND, (void)r),
        "040C8000#0001");
#undef PACK
}

void TestEngineValues::packing()
{
    QFETCH(QString, frame);
    QFETCH(QString, expected);
    QCOMPARE(frame, expected);
}

void TestEngineValues::routing()
{
    CanSpontaneousMessageFactory spontaneous;
    CanFilter filter(spontaneous);
    CanMessageFactory five(5);
    CanMessageFactory late(5);
    filter.registerCanMessageFactory(5, five);
    filter.registerCanMessageFactory(5, late); // the first registration stays
    QSignalSpy identify(&filter, &CanFilter::identifyMessage);
    QSignalSpy spontaneousFrames(&filter, &CanFilter::spontaneousMessage);
    QSignalSpy errorsAtFive(five.signalObject<A_ERROR_ACK>(), &CanMessageType::canMessage);
    QSignalSpy errorsAtLate(late.signalObject<A_ERROR_ACK>(), &CanMessageType::canMessage);
    QSignalSpy readsAtFive(five.signalObject<SCM_SERVICE_DATA_RD>(), &CanMessageType::canMessage);

    filter.incommingMessage(*CanMessage::fromFrameText("00058005#80090005")); // error ack, node 5
    QCOMPARE(identify.count(), 1);
    QCOMPARE(errorsAtFive.count(), 1);
    QCOMPARE(errorsAtLate.count(), 0);
    filter.incommingMessage(
        *CanMessage::fromFrameText("0062C009#112233445566")); // AMP_TEMP, node 9
    QCOMPARE(spontaneousFrames.count(), 1);
    filter.incommingMessage(*CanMessage::fromFrameText("00008009#30000011223344")); // read, node 9
    QCOMPARE(identify.count() + spontaneousFrames.count() + readsAtFive.count(), 2);

    // Out: the node id from the factory (a broadcast keeps 255), the destination from the bus.
    CanDestinationSetter setter(CanIdentifier::PowerAmplifier);
    QObject::connect(
        &five, &CanMessageFactory::writeMessage, &setter, &CanDestinationSetter::inMessage);
    QSignalSpy out(&setter, &CanDestinationSetter::outMessage);
    five.sendMessage(CanMessageT<SCM_RESET_MODULE>());
    CanMessageT<SCM_RESET_MODULE> broadcast;
    broadcast.setNodeId(255);
    five.sendMessage(broadcast);
    QCOMPARE(out.count(), 2);
    QCOMPARE(out.at(0).at(0).value<CanMessage>().toFrameText(), QString("00600005#"));
    QCOMPARE(out.at(1).at(0).value<CanMessage>().toFrameText(), QString("006000FF#"));
}

void TestEngineValues::jobsLeftWhenTheMachineFinishedAreAnswered()
{
    CanNodeEngine engine(4);
    MainBoardCommand_SetMute mute(engine);
    StateMachine& machine = engine.stateMachine();
    auto* idle = new QState(&machine);
    idle->addTransition(idle, &QState::entered, new QFinalState(&machine));
    machine.setInitialState(idle);
    QSignalSpy answers(&mute, &MainBoardCommand_SetMute::message);
    LogCapture log;
    machine.start();
    QTRY_VERIFY(machine.isFinished());
    Kubus::MainBoard_SetMute request;
    request.nodeId = 9;
    mute.incomingMessage(request);
    machine.addJob(&mute, nullptr);
    // Answered, not left waiting: as timed out, with the engine's node id.
    QTRY_COMPARE(answers.count(), 2);
    for (const auto& answer : answers) {
        QCOMPARE(answer.at(0).value<Kubus::MainBoard_SetMute::Response>().status, 1);
        QCOMPARE(answer.at(0).value<Kubus::MainBoard_SetMute::Response>().nodeId, 4);
    }
    QVERIFY(log.stop().contains("Error in StateMachineCommand: request is null"));
}

void TestEngineValues::errorCodes_data()
{
    QTest::addColumn<unsigned>("code");
    QTest::addColumn<bool>("endsCommand");
    QTest::addColumn<bool>("endsTransfer");
    QTest::newRow("1: first of the rejections") << 1u << true << true;
    QTest::newRow("3: last of the rejections") << 3u << true << true;
    QTest::newRow("4: unknown, but a transfer error") << 4u << false << true;
    QTest::newRow("39: unknown") << 39u << false << false;
    QTest::newRow("40: first of the node errors") << 40u << true << true;
    QTest::newRow("44: last of the node errors") << 44u << true << true;
    QTest::newRow("45: unknown") << 45u << false << false;
    QTest::newRow("48: no error") << 48u << false << false;
}

void TestEngineValues::errorCodes()
{
    QFETCH(unsigned, code);
    QFETCH(bool, endsCommand);
    QFETCH(bool, endsTransfer);
    QCOMPARE(ends<CanErrorTransition>(code), endsCommand);
    QCOMPARE(ends<CanFwErrorTransition>(code), endsTransfer);
}

void TestEngineValues::timeLimits_data()
{
    QTest::addColumn<QList<int>>("limits");
    QTest::addColumn<QList<int>>("expected");
    QTest::newRow("amplitude-frequency table: 60 s")
        << timersOf<MainBoardCommand_GetAmplFrqTable>() << QList<int> { 60000 };
    QTest::newRow("ping: 100 ms for the answer") << timersOf<Ping>() << QList<int> { 15000, 100 };
    QTest::newRow("reset: 100 ms for the answer") << timersOf<Reset>() << QList<int> { 15000, 100 };
}

void TestEngineValues::timeLimits()
{
    QFETCH(QList<int>, limits);
    QFETCH(QList<int>, expected);
    QCOMPARE(limits, expected);
}

void TestEngineValues::serviceDataAnswerNeedsItsSelector()
{
    CanNodeEngine engine(4);
    MainBoardCommand_GetAmplFrqTableCheckSum sum(engine);
    StateMachine& machine = engine.stateMachine();
    auto* idle = new QState(&machine);
    machine.setInitialState(idle);
    QState* outer = sum.commandState();
    machine.addState(outer);
    idle->addTransition(&sum, &StateMachineCommandBase::triggered, outer);
    outer->addTransition(outer, &QState::finished, idle);
    connect(idle, &QState::entered, &machine, &StateMachine::setIdle);
    // The node answers each read twice at the asked address: first for the table with its
    // flag clear (selector 147), then for the asked one.
    CanMessageFactory& factory = engine.canMessageFactory();
    QStringList asked;
    connect(
        &factory, &CanMessageFactory::writeMessage, &factory,
        [&](const CanMessage& request) {
            asked << request.toFrameText();
            CanMessageT<SCM_SERVICE_DATA_RD> answer(request);
            answer.setServiceDataSelector(147);
            answer.setData(QByteArray::fromHex("11110000"));
            factory.interpretIncomingCanMessage(answer);
            answer.setServiceDataSelector(
                CanMessageT<SCM_SERVICE_DATA_RD>(request).serviceDataSelector());
            answer.setData(QByteArray::fromHex("CDAB0000"));
            factory.interpretIncomingCanMessage(answer);
        },
        Qt::QueuedConnection);
    QSignalSpy answers(&sum, &MainBoardCommand_GetAmplFrqTableCheckSum::message);
    machine.start();
    Kubus::MainBoard_GetAmplFrqTableCheckSum request;
    request.nodeId = 4;
    request.index = 0;
    request.flag = 1;
    sum.incomingMessage(request);
    QTRY_COMPARE(answers.count(), 1);
    const auto response
        = answers.first().first().value<Kubus::MainBoard_GetAmplFrqTableCheckSum::Response>();
    QCOMPARE(response.status, 0);
    QCOMPARE(response.checkSum, 0xABCDu);
    // One read: selector 145, word 1 (byte address 4).
    QCOMPARE(asked, QStringList { "10008004#910100" });
    // Stopped while the command is alive: its transitions still name it.
    machine.stop();
    QTRY_VERIFY(!machine.isRunning());
}

void TestEngineValues::jobIdsSkipZero()
{
    QCOMPARE(StateMachine::nextJobId(0), 1u);
    QCOMPARE(StateMachine::nextJobId(4294967294u), 4294967295u);
    QCOMPARE(StateMachine::nextJobId(4294967295u), 1u);
}

QTEST_MAIN(TestEngineValues)
#include "tst_enginevalues.moc"
