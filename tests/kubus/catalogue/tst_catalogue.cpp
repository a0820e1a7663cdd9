#include "kubus/catalogue/mainboardbus.h"
#include "kubus/catalogue/poweramplifierbus.h"

#include <QtTest>

#include <thread>
#include <type_traits>

using namespace Kubus;

namespace {

// Collects what records write through Qt's debug output while a test step runs.
QStringList& captured()
{
    static QStringList lines;
    return lines;
}

class DebugCapture {
public:
    DebugCapture()
    {
        captured().clear();
        previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { captured() << text; });
    }
    ~DebugCapture() { qInstallMessageHandler(previous); }

private:
    QtMessageHandler previous;
};

template <class T> QString debugText(const T& value)
{
    DebugCapture capture;
    qDebug() << value;
    return captured().join('|');
}

int methodCount(const QMetaObject& meta, const char* name)
{
    int count = 0;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        count += meta.method(i).name() == name;
    return count;
}

} // namespace

class Receiver : public QObject {
    Q_OBJECT
public:
    IdentifyNewNodes arrived;
public slots:
    void take(const Kubus::IdentifyNewNodes& record) { arrived = record; }
};

#define SAME_TYPE(A, B) QVERIFY2((std::is_same_v<A, B>), #A " is not " #B)
#define DERIVES(A, ...) QVERIFY2((std::is_base_of_v<__VA_ARGS__, A>), #A " does not derive from " #__VA_ARGS__)

class TestCatalogue : public QObject {
    Q_OBJECT

private slots:
    void registeredByFullName_data();
    void registeredByFullName();
    void recordsCrossThreadsByTheirSignatureText();
    void busChannels_data();
    void busChannels();
    void fieldsAndBases();
    void defaults();
    void nodeText_data();
    void nodeText();
    void measuredValueIndex();
    void amplitudeFrequencyTable();
    void textForms();
};

void TestCatalogue::registeredByFullName_data()
{
    // The buses exist; nothing here registers anything.
    MainBoardBus::instance();
    PowerAmplifierBus::instance();
    QTest::addColumn<QByteArray>("name");
    for (const char* name : { "Kubus::CanDeviceInfo", "Kubus::DeviceInfoBoard", "Kubus::DeviceInfo",
             "Kubus::DeviceInfoPowerAmplifier", "Kubus::DeviceInfoPowerSupply",
             "Kubus::DeviceInfoVersion", "Kubus::AmplFrqTable", "Kubus::AmplFrqTableCheckSum",
             "Kubus::FirmwareUpdateInfo", "Kubus::IdentifyInfo", "Kubus::IdentifyFoundNodes",
             "Kubus::IdentifyNewNodes", "Kubus::IdentifyMissingNodes",
             "Kubus::FirmwareUpdateProgress", "Kubus::Reset", "Kubus::Reset::Response",
             "Kubus::FirmwareUpdate::Response", "Kubus::MainBoard_TP_TEMP",
             "Kubus::MainBoard_GetAmplFrqTable::Response", "Kubus::MainBoard_SCM_IDENTIFY",
             "Kubus::PowerAmplifier_SCM_IDENTIFY", "Kubus::PowerAmplifier_AMP_TRANSISTOR",
             "Kubus::PowerAmplifier_GetTransistorValues::Response" })
        QTest::newRow(name) << QByteArray(name);
}

void TestCatalogue::registeredByFullName()
{
    QFETCH(QByteArray, name);
    const QMetaType type = QMetaType::fromName(name);
    QVERIFY(type.isValid());
    QCOMPARE(QByteArray(type.name()), name);
}

void TestCatalogue::recordsCrossThreadsByTheirSignatureText()
{
    MainBoardBus* mb = MainBoardBus::instance();
    Receiver receiver;
    QVERIFY(QObject::connect(mb, SIGNAL(message(Kubus::IdentifyNewNodes)), &receiver,
        SLOT(take(Kubus::IdentifyNewNodes)), Qt::QueuedConnection));
    IdentifyNewNodes nodes;
    nodes.nodes.resize(1);
    nodes.nodes[0].nodeId = 7;
    nodes.nodes[0].serialNumber = 4711;
    std::thread([mb, nodes] { mb->send(nodes); }).join();
    QTRY_COMPARE(receiver.arrived.nodes.size(), 1);
    QCOMPARE(receiver.arrived.nodes[0].nodeId, 7);
    QCOMPARE(receiver.arrived.nodes[0].serialNumber, 4711u);
    nodes.nodes[0].nodeId = 0;
    receiver.arrived.nodes[0].nodeId = 0;
}

void TestCatalogue::busChannels_data()
{
    QTest::addColumn<bool>("mainBoard");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<bool>("present");
    QTest::newRow("mb Reset response") << true << QByteArray("message(Kubus::Reset::Response)") << true;
    QTest::newRow("mb interlock") << true
                                  << QByteArray("send(Kubus::MainBoard_SetInterlockLoopConfirmation)")
                                  << true;
    QTest::newRow("mb no amp temp") << true << QByteArray("message(Kubus::PowerAmplifier_AMP_TEMP)")
                                    << false;
    QTest::newRow("mb no identify frame")
        << true << QByteArray("message(Kubus::MainBoard_SCM_IDENTIFY)") << false;
    QTest::newRow("pa transistor response")
        << false << QByteArray("send(Kubus::PowerAmplifier_GetTransistorValues::Response)") << true;
    QTest::newRow("pa position") << false << QByteArray("message(Kubus::PowerAmplifier_AMP_POSITION)")
                                 << true;
    QTest::newRow("pa no equipment") << false << QByteArray("message(Kubus::MainBoard_GetEquipment)")
                                     << false;
}

void TestCatalogue::busChannels()
{
    QFETCH(bool, mainBoard);
    QFETCH(QByteArray, method);
    QFETCH(bool, present);
    const QMetaObject& meta
        = mainBoard ? MainBoardBus::staticMetaObject : PowerAmplifierBus::staticMetaObject;
    QCOMPARE(meta.indexOfMethod(method) >= 0, present);
    // Both: 4 requests and 5 one-way records; the mainboard adds 21 requests and 23 measured
    // records, the amplifier 21 and 10. A request has two records, its own and its response.
    const int records = mainBoard ? 2 * 25 + 5 + 23 : 2 * 25 + 5 + 10;
    QCOMPARE(methodCount(meta, "message"), records);
    QCOMPARE(methodCount(meta, "send"), records);
}

void TestCatalogue::fieldsAndBases()
{
    SAME_TYPE(decltype(Ping::value), qint32);
    SAME_TYPE(decltype(Ping::Response::alive), bool);
    SAME_TYPE(decltype(MainBoard_SetFrequency::settingCode), qint32);
    SAME_TYPE(decltype(MainBoard_SetFrequency::value), quint16);
    SAME_TYPE(decltype(MainBoard_SetPosition_OutputSwitch::positionFlag), quint8);
    SAME_TYPE(decltype(MainBoard_SetPosition_OutputSwitch::switchNumber), qint32);
    SAME_TYPE(decltype(MainBoard_SetFanInfo::fanSpeed), qint32);
    SAME_TYPE(decltype(MainBoard_SetFanInfo::fanControlSource), quint8);
    SAME_TYPE(decltype(MainBoard_GetAmplFrqTable::flag), qint32);
    SAME_TYPE(decltype(PowerAmplifier_SetStatus::value1), qint32);
    SAME_TYPE(decltype(PowerAmplifier_SetStatus::flag4), quint8);
    SAME_TYPE(decltype(PowerAmplifier_SetContLoopParam::value), quint16);
    SAME_TYPE(decltype(PowerAmplifier_AMP_POSITION::slot), qint32);
    SAME_TYPE(decltype(PowerAmplifier_AMP_TEMP::tempLaw), float);
    SAME_TYPE(decltype(PowerAmplifier_AMP_POWER::powerRefl), float);
    SAME_TYPE(decltype(FirmwareUpdateProgress::count), int);
    SAME_TYPE(decltype(IdentifyMissingNodes::nodes), QVector<CanDeviceInfo>);
    SAME_TYPE(decltype(CanDeviceInfo::serialNumber), quint32);
    SAME_TYPE(decltype(AmplFrqTable::frqStart), float);
    SAME_TYPE(decltype(AmplFrqTable::dbCount), quint8);
    SAME_TYPE(decltype(DeviceInfoBoard::readCode), int);
    SAME_TYPE(decltype(DeviceInfoVersion::deviceSwVersion), QString);
    DERIVES(MainBoard_TP_TEMP, MeasuredValues<unsigned short, 2>);
    DERIVES(MainBoard_TP_VV_VOLT, MeasuredValues<unsigned short, 4>);
    DERIVES(MainBoard_TP_TACHO, MeasuredValues<unsigned char, 2>);
    DERIVES(MainBoard_TP_CONT_LOOP_VAL, MeasuredValues<unsigned short, 1>);
    DERIVES(MainBoard_GetLabel_Board::Response, DeviceInfoBoard);
    DERIVES(MainBoard_GetLabel_PreAmplifier::Response, DeviceInfo);
    DERIVES(PowerAmplifier_GetLabel_Amplifier::Response, DeviceInfoPowerAmplifier);
    DERIVES(PowerAmplifier_GetLabel_PowerSupply::Response, DeviceInfoPowerSupply);
    DERIVES(MainBoard_GetAmplFrqTableCheckSum::Response, AmplFrqTableCheckSum);
    DERIVES(FirmwareUpdate, FirmwareUpdateInfo);
    DERIVES(DeviceInfoBoard, DeviceInfoVersion);
    DERIVES(DeviceInfoPowerAmplifier, DeviceInfo);
    QVERIFY(!(std::is_base_of_v<DeviceInfoVersion, DeviceInfoPowerAmplifier>));
}

void TestCatalogue::defaults()
{
    const IdentifyInfo identify;
    QCOMPARE(identify.waitForReplyInterval, -1);
    QCOMPARE(identify.repeatInterval, -1);
    QCOMPARE(identify.sendFoundNodes, false);
    QCOMPARE(identify.minimumFindNodes, -1);
    const FirmwareUpdateProgress progress;
    QVERIFY(progress.phase == 0 && progress.current == 0 && progress.count == 0);
    const DeviceInfoBoard board;
    QVERIFY(board.deviceName.isEmpty() && board.deviceFwVersion.isEmpty());
    QVERIFY(!board.encoding.isBcd && board.productionDate.isNull());

    DebugCapture capture;
    {
        const Reset request;
        const Ping::Response response;
        const PowerAmplifier_AMP_TEMP measured;
        const CanDeviceInfo node;
        QVERIFY(request.nodeId == -1 && !request.spontaneous);
        QVERIFY(response.nodeId == -1 && !response.spontaneous && response.status == 0);
        QVERIFY(measured.nodeId == -1 && measured.spontaneous);
        QVERIFY(node.nodeId == -1 && !node.spontaneous);
    }
    QCOMPARE(captured(), QStringList(4, "Error: NodeId not initialized! "));
    captured().clear();
    {
        MainBoard_TP_VV_VOLT addressed;
        addressed.nodeId = -2;
    }
    QVERIFY(captured().isEmpty());
}

void TestCatalogue::nodeText_data()
{
    QTest::addColumn<int>("nodeId");
    QTest::addColumn<unsigned>("partNumber");
    QTest::addColumn<unsigned>("estimated");
    QTest::addColumn<QString>("text");
    QTest::newRow("short part number") << 3 << 1000u << 53478376u << "3, (53478376.2.12345)";
    QTest::newRow("0xF49F in range") << -2 << 62623u << 53539999u << "-2, (53539999.2.12345)";
    QTest::newRow("0xF4A0 left alone") << 255 << 62624u << 62624u << "255, (62624.2.12345)";
    QTest::newRow("0") << 0 << 0u << 53477376u << "0, (53477376.2.12345)";
}

void TestCatalogue::nodeText()
{
    QFETCH(int, nodeId);
    QFETCH(unsigned, partNumber);
    CanDeviceInfo info;
    info.nodeId = nodeId;
    info.partNumber = partNumber;
    info.variant = 2;
    info.serialNumber = 12345;
    QTEST(unsigned(info.estimatedPartNumber()), "estimated");
    QTEST(unsigned(estimatedPartNumber(partNumber)), "estimated");
    QTEST(info.toString(), "text");
}

void TestCatalogue::measuredValueIndex()
{
    MainBoard_TP_VV_VOLT record;
    record.nodeId = 1;
    DebugCapture capture;
    record.value(4) = 44;
    QVERIFY(captured().isEmpty());
    for (int index : { 0, 5 })
        record.value(index) = 99;
    QCOMPARE(captured().size(), 2);
    QVERIFY(captured()[0].startsWith("ERROR in "));
    QVERIFY(captured()[0].contains("value(int"));
    QVERIFY(captured()[0].endsWith(": invalid index 0"));
    QVERIFY(captured()[1].endsWith(": invalid index 5"));
    QCOMPARE(int(record.value(4)), 44);
    QCOMPARE(int(record.value(1)), 0);
}

void TestCatalogue::amplitudeFrequencyTable()
{
    AmplFrqTable table;
    table.setFrqStart(0x0000803F);
    table.setStepSize(0x000020C1);
    QCOMPARE(table.frqStart, 1.0f);
    QCOMPARE(table.stepSize, -10.0f);
    for (int call = 0; call < 9; ++call) {
        AmplFrqTablePartData part;
        part.setValue(127, quint16(call + 1));
        table.setTable(part);
    }
    // The ninth part overwrote column 0; columns 1 to 7 hold parts 2 to 8.
    for (int column = 0; column < 8; ++column)
        QCOMPARE(int(table.table.getValue(127, column)), column == 0 ? 9 : column + 1);
    const QString text = debugText(table);
    QVERIFY(text.startsWith("a_rAMPL_FRQ_TABLE.uiBlockId = 0 \n a_rAMPL_FRQ_TABLE.uiCheckSum = 0 "
                            "\n a_rAMPL_FRQ_TABLE.fFrqStart = 1 \n"));
    QCOMPARE(text.count("a_rAMPL_FRQ_TABLE.table.getValue( iIndex1, iIndex2 ) = "), 1024);
    QVERIFY(text.endsWith("a_rAMPL_FRQ_TABLE.table.getValue( iIndex1, iIndex2 ) = 8"));
}

void TestCatalogue::textForms()
{
    CanDeviceInfo node;
    node.nodeId = 3;
    node.partNumber = 1000;
    node.variant = 2;
    node.serialNumber = 12345;
    QCOMPARE(debugText(node), "\n info.nodeId = 3 \n info.estimatedPartNumber() = 53478376 \n "
                              "info.variant() = 2 \n info.serialNumber() = 12345 \n");
    AmplFrqTableCheckSum sum;
    sum.setCheckSum(48879);
    QCOMPARE(debugText(sum), "a_rAMPL_FRQ_TABLE_CHECK_SUM.uiCheckSum = 48879");

    DeviceInfoBoard board;
    board.setEncoding({ true });
    board.setDeviceName("Main");
    board.setPartNumber(53478376);
    board.setVariant(2);
    board.setProductIndex(4);
    board.setSerialNumber(12345);
    board.setType(6);
    board.setHardwareCode(7);
    board.setSwBundlePartNumber(8);
    board.setSwBundleVersion("B1");
    board.setDeviceFwVersion("F2");
    board.setDeviceSwVersion("S3");
    board.setPowerUpCycles(9);
    board.setCheck(10);
    board.setReadCode(11);
    board.setHours(12);
    QCOMPARE(debugText(board),
        "info.encoding.isBcd = true \n info.deviceName = \"Main\" \n info.partNumber() = 53478376 "
        "\n info.variant() = 2 \n info.productIndex = 4 \n info.serialNumber() = 12345 \n "
        "info.productionDate = QDate(Invalid) \n info.type = 6 \n info.hardwareCode = 7 \n "
        "info.swBundlePartNumber = 8 \n info.swBundleVersion = \"B1\" \n info.deviceFwVersion = "
        "\"F2\" \n info.deviceSwVersion = \"S3\" \n info.powerUpCycles = 9 \n info.check = 10 \n "
        "info.readCode = 11 \n info.hours = 12");
}

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
