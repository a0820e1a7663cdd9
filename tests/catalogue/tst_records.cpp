#include "kubus/recordlist.h"
#include "kubus/records.h"

#include <QDebug>
#include <QRegularExpression>
#include <QtTest>

#include <cstring>
#include <functional>
#include <type_traits>

using Check = std::function<QString()>;
Q_DECLARE_METATYPE(Check)

namespace {

// Collects what records write through Qt's debug output while a test step runs.
class DebugCapture {
public:
    DebugCapture()
    {
        lines().clear();
        previous = qInstallMessageHandler(&DebugCapture::handler);
    }
    ~DebugCapture() { qInstallMessageHandler(previous); }
    static QStringList& lines()
    {
        static QStringList captured;
        return captured;
    }

private:
    static void handler(QtMsgType, const QMessageLogContext&, const QString& text)
    {
        lines().append(text);
    }
    QtMessageHandler previous;
};

const QString notInitialized = QStringLiteral("Error: NodeId not initialized! ");

// Header defaults per kind of row, and the complaint about a record destroyed unaddressed.
template <typename T> QString checkHeader(const char* kind)
{
    DebugCapture capture;
    const bool measured = std::strcmp(kind, "measured") == 0;
    {
        T record;
        if (record.nodeId != -1)
            return QString("default nodeId is %1").arg(record.nodeId);
        if (record.spontaneous != measured)
            return QString("default spontaneous is %1").arg(record.spontaneous);
        if constexpr (std::is_base_of_v<Kubus::ResponseHeader, T>) {
            if (record.status != 0)
                return QString("default status is %1").arg(record.status);
        }
    }
    if (DebugCapture::lines() != QStringList { notInitialized })
        return "destroyed unaddressed: " + DebugCapture::lines().join('|');
    DebugCapture::lines().clear();
    {
        T addressed;
        addressed.nodeId = -2;
        T copy = addressed;
        copy.nodeId = 0;
    }
    if (!DebugCapture::lines().isEmpty())
        return "destroyed addressed: " + DebugCapture::lines().join('|');
    return {};
}

template <typename T> void addHeaderRow(const char* name, const char* kind)
{
    if constexpr (std::is_base_of_v<Kubus::NodeId, T>)
        QTest::newRow(name) << Check([kind] { return checkHeader<T>(kind); });
}

QString debugText(const std::function<void(QDebug)>& print)
{
    DebugCapture capture;
    print(qDebug());
    return DebugCapture::lines().join('|');
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT

private slots:
    void header_data();
    void header();
    void nodeText_data();
    void nodeText();
    void measuredValues_data();
    void measuredValues();
    void unpackFloat_data();
    void unpackFloat();
    void tableFillsColumnsInTurn();
    void textForms_data();
    void textForms();
};

void TestRecords::header_data()
{
    QTest::addColumn<Check>("check");
#define ROW(kind, T) addHeaderRow<Kubus::T>(#T, #kind);
    KUBUS_RECORD_TYPES(ROW)
#undef ROW
}

void TestRecords::header()
{
    QFETCH(Check, check);
    const QString problem = check();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void TestRecords::nodeText_data()
{
    QTest::addColumn<int>("nodeId");
    QTest::addColumn<unsigned>("partNumber");
    QTest::addColumn<unsigned>("variant");
    QTest::addColumn<unsigned>("serial");
    QTest::addColumn<unsigned>("estimated");
    QTest::addColumn<QString>("text");
    QTest::newRow("short part number gets the range")
        << 3 << 1000u << 2u << 12345u << 53478376u << "3, (53478376.2.12345)";
    QTest::newRow("0 gets the range, unaddressed id signed, serial unsigned")
        << -2 << 0u << 4294967295u << 4294967295u << 53477376u
        << "-2, (53477376.4294967295.4294967295)";
    QTest::newRow("0xF49F is the last in range")
        << 1 << 62623u << 0u << 0u << 53539999u << "1, (53539999.0.0)";
    QTest::newRow("0xF4A0 is left alone")
        << 255 << 62624u << 0u << 7u << 62624u << "255, (62624.0.7)";
    QTest::newRow("full part number stays")
        << 1 << 53478376u << 0u << 0u << 53478376u << "1, (53478376.0.0)";
}

void TestRecords::nodeText()
{
    QFETCH(int, nodeId);
    QFETCH(unsigned, partNumber);
    QFETCH(unsigned, variant);
    QFETCH(unsigned, serial);
    QFETCH(unsigned, estimated);
    QCOMPARE(unsigned(Kubus::estimatedPartNumber(partNumber)), estimated);
    Kubus::CanDeviceInfo info;
    info.nodeId = nodeId;
    info.partNumber = partNumber;
    info.variant = variant;
    info.serialNumber = serial;
    QCOMPARE(unsigned(info.estimatedPartNumber()), estimated);
    QTEST(info.toString(), "text");
}

void TestRecords::measuredValues_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("valid");
    QTest::newRow("first") << 1 << true;
    QTest::newRow("last") << 4 << true;
    QTest::newRow("zero is outside") << 0 << false;
    QTest::newRow("one past the end") << 5 << false;
    QTest::newRow("negative") << -1 << false;
}

void TestRecords::measuredValues()
{
    QFETCH(int, index);
    QFETCH(bool, valid);
    Kubus::MainBoard_TP_VV_VOLT record;
    record.nodeId = 1;
    for (int i = 1; i <= 4; ++i)
        record.value(i) = static_cast<unsigned short>(1000 + i);

    DebugCapture capture;
    unsigned short& element = record.value(index);
    element = 7;
    if (valid) {
        QVERIFY(DebugCapture::lines().isEmpty());
        QCOMPARE(int(record.value(index)), 7);
    } else {
        QCOMPARE(DebugCapture::lines().size(), 1);
        const QRegularExpression pattern(QString(R"(^ERROR in .*MeasuredValues<.*value\(int\).*)"
                                                 R"(: invalid index %1$)")
                                             .arg(index));
        QVERIFY2(pattern.match(DebugCapture::lines().first()).hasMatch(),
            qPrintable(DebugCapture::lines().first()));
    }
    // Whatever was written, the other elements keep their values.
    for (int i = 1; i <= 4; ++i) {
        if (i != index)
            QCOMPARE(int(record.value(i)), 1000 + i);
    }
}

void TestRecords::unpackFloat_data()
{
    QTest::addColumn<qulonglong>("packed");
    QTest::addColumn<float>("value");
    QTest::newRow("1.0") << 0x0000803FULL << 1.0f;
    QTest::newRow("-10.0") << 0x000020C1ULL << -10.0f;
    QTest::newRow("all bytes count") << 0x78563412ULL << 5.6904566e-28f; // 0x12345678
    QTest::newRow("upper half of a long ignored") << 0xFFFFFFFF0000803FULL << 1.0f;
}

void TestRecords::unpackFloat()
{
    QFETCH(qulonglong, packed);
    QFETCH(float, value);
    Kubus::AmplFrqTable table;
    table.setFrqStart(static_cast<unsigned long>(packed));
    table.setStepSize(static_cast<unsigned long>(packed));
    QCOMPARE(table.frqStart, value);
    QCOMPARE(table.stepSize, value);
}

void TestRecords::tableFillsColumnsInTurn()
{
    Kubus::AmplFrqTable table;
    for (int call = 0; call < 9; ++call) {
        Kubus::AmplFrqTablePartData part;
        for (int row = 0; row < Kubus::AmplFrqTablePartData::rowCount; ++row)
            part.setValue(row, static_cast<quint16>(call * 1000 + row));
        table.setTable(part);
    }
    // The ninth part overwrote column 0; columns 1 to 7 hold parts 2 to 8.
    for (int row : { 0, 1, 127 }) {
        QCOMPARE(int(table.table.getValue(row, 0)), 8000 + row);
        for (int column = 1; column < 8; ++column)
            QCOMPARE(int(table.table.getValue(row, column)), column * 1000 + row);
    }
}

void TestRecords::textForms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    Kubus::CanDeviceInfo node;
    node.nodeId = 3;
    node.partNumber = 1000;
    node.variant = 2;
    node.serialNumber = 12345;
    QTest::newRow("CanDeviceInfo") << debugText([&](QDebug d) { d << node; })
                                   << "\n info.nodeId = 3 \n info.estimatedPartNumber() = 53478376 "
                                      "\n info.variant() = 2 \n info.serialNumber() = 12345 \n";

    Kubus::AmplFrqTableCheckSum sum;
    sum.setCheckSum(0xBEEF);
    QTest::newRow("AmplFrqTableCheckSum") << debugText([&](QDebug d) { d << sum; })
                                          << "a_rAMPL_FRQ_TABLE_CHECK_SUM.uiCheckSum = 48879";

    Kubus::DeviceInfoBoard board;
    board.setEncoding({ true });
    board.setDeviceName("Main");
    board.setPartNumber(53478376);
    board.setVariant(2);
    board.setProductIndex(4);
    board.setSerialNumber(12345);
    const QDate date(2021, 3, 4);
    board.setProductionDate(date);
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
    const QString dateText = debugText([&](QDebug d) { d << date; });
    const QString deviceInfo = "info.encoding.isBcd = true \n info.deviceName = \"Main\" \n "
                               "info.partNumber() = 53478376 \n info.variant() = 2 \n "
                               "info.productIndex = 4 \n info.serialNumber() = 12345 \n "
                               "info.productionDate = "
        + dateText;
    QTest::newRow("DeviceInfo") << debugText([&](QDebug d) {
        d << static_cast<const Kubus::DeviceInfo&>(board);
    }) << deviceInfo;
    QTest::newRow("DeviceInfoBoard") << debugText([&](QDebug d) { d << board; })
                                     << deviceInfo
            + " \n info.type = 6 \n info.hardwareCode = 7 \n info.swBundlePartNumber = 8 \n "
              "info.swBundleVersion = \"B1\" \n info.deviceFwVersion = \"F2\" \n "
              "info.deviceSwVersion = \"S3\" \n info.powerUpCycles = 9 \n info.check = 10 \n "
              "info.readCode = 11 \n info.hours = 12";
    QTest::newRow("DeviceInfo on a nospace, noquote stream") << debugText([&](QDebug d) {
        d.nospace().noquote() << static_cast<const Kubus::DeviceInfo&>(board);
    }) << deviceInfo;

    Kubus::AmplFrqTable table;
    table.setBlockId(1);
    table.setCheckSum(2);
    table.setFrqStart(0x0000803F);
    table.setStepSize(0x00000040);
    table.setStepCount(3);
    table.setDbStart(4);
    table.setDbStep(5);
    table.setDbCount(6);
    table.setDbOutputFactor(7);
    Kubus::AmplFrqTablePartData part;
    part.setValue(1, 42);
    table.setTable(part); // column 0
    table.setTable(part); // column 1
    QString expectedTable
        = "a_rAMPL_FRQ_TABLE.uiBlockId = 1 \n a_rAMPL_FRQ_TABLE.uiCheckSum = 2 "
          "\n a_rAMPL_FRQ_TABLE.fFrqStart = 1 \n a_rAMPL_FRQ_TABLE.fStepSize = 2 "
          "\n a_rAMPL_FRQ_TABLE.uiStepCount = 3 \n a_rAMPL_FRQ_TABLE.ucDbStart = 4 "
          "\n a_rAMPL_FRQ_TABLE.ucDbStep = 5 \n a_rAMPL_FRQ_TABLE.ucDbCount = 6 "
          "\n a_rAMPL_FRQ_TABLE.uiDbOutputFactor = 7";
    for (int row = 0; row < 128; ++row) {
        for (int column = 0; column < 8; ++column) {
            expectedTable
                += QString(" \n a_rAMPL_FRQ_TABLE.table.getValue( iIndex1, iIndex2 ) = %1")
                       .arg(row == 1 && column < 2 ? 42 : 0);
        }
    }
    QTest::newRow("AmplFrqTable") << debugText([&](QDebug d) { d << table; }) << expectedTable;
}

void TestRecords::textForms()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(text, expected);
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
