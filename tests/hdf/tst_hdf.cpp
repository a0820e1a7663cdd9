#include "hdf/hdffileparser.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sstream>

using HdfParser::Board;
using HdfParser::HdfFileParser;

namespace {

QString fixture(const char* name)
{
    return QStringLiteral(ZEF_TEST_DATA "/") + QLatin1String(name);
}

// Boards as "(rack,unit)..." in list order, from the parser or from the tool's JSON.
QString boardsOf(const std::vector<Board>& boards)
{
    QString text;
    for (const Board& b : boards)
        text += QStringLiteral("(%1,%2)").arg(b.rack).arg(b.unit);
    return text;
}

QString boardsOf(const QJsonValue& value)
{
    QString text;
    for (const QJsonValue& b : value.toArray())
        text += QStringLiteral("(%1,%2)").arg(b[0].toInt()).arg(b[1].toInt());
    return text;
}

struct Run {
    int exitCode = -1;
    QByteArray out, err;
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
};

Run run(const QString& program, const QStringList& arguments, const QString& root = QString())
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZEF400_ROOT"), root);
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Run result;
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit)
        result = { process.exitCode(), process.readAllStandardOutput(),
            process.readAllStandardError() };
    return result;
}

} // namespace

class TestHdf : public QObject {
    Q_OBJECT

private slots:
    void rejected_data();
    void rejected();
    void oneRack();
    void twoRacks();
    void checker();
};

void TestHdf::rejected_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("value");
    // The log line where its text is fixed.
    QTest::addColumn<QString>("text");

    const QString head = QStringLiteral("Amp=type(A),rack(1),unit(1),");
    QTest::newRow("record without '='")
        << "invalid_missing_equals.hdf" << 1 << 2 << 0
        << "HdfFileParser::selectLineCommand: missing '=' in line 2: HDFInfo "
           "filedate(2026-01-01),syntaxversion(1.74),createdby(test);";
    QTest::newRow("unknown component")
        << "invalid_unknown_component.hdf" << 1 << 1 << 0
        << "HdfFileParser::selectLineCommand: unknown component found in line 1: "
           "Amplifier=type(A),rack(1),unit(1),position(1),rf_path(1);";
    QTest::newRow("missing '('") << "invalid_missing_open.hdf" << 1 << 1 << 0
                                 << "HdfFileParser::isValidLine: missing '(' in line 1: "
                                    "Amp=type(A),rack(1),unit 1),position(1),rf_path(1);";
    QTest::newRow("missing ')'") << "invalid_missing_close.hdf" << 1 << 1 << 0
                                 << "HdfFileParser::isValidLine: missing ')' in line 1: "
                                    "Amp=type(A,rack(1),unit(1),position(1),rf_path(1);";
    QTest::newRow("last record without ';'")
        << "invalid_missing_semicolon.hdf" << 1 << 1 << 0
        << "HdfFileParser::isValidLine: missing ';' in line 1: " + head + "position(1),rf_path(1)";
    QTest::newRow("output(11)") << "invalid_output_range.hdf" << 1 << 4 << 0 << "";
    QTest::newRow("RF path above the number of paths")
        << "invalid_rf_path_range.hdf" << 1 << 4 << 0 << "";
    QTest::newRow("fan on a unit without board")
        << "invalid_fan_without_board.hdf" << 1 << 8 << 0 << "";
    QTest::newRow("missing file") << "does_not_exist.hdf" << 2 << 0 << 0 << "";
    QTest::newRow("empty path") << "" << 3 << 0 << 0 << "";
    QTest::newRow("only line empty")
        << "invalid_empty.hdf" << 3 << 0 << 0 << "HdfFileParser::isEmptyFile: empty HDF!";
    // Over two lines: the CR of the first is no part of the record.
    QTest::newRow("missing parameter")
        << "invalid_missing_parameter.hdf" << 4 << 2 << 0
        << "HdfFileParser::isValidLine: missing 'position' in line 2: " + head + "rf_path(1);";
    // Spread over five lines with a comment, an indented line and a lone CR between.
    QTest::newRow("same Amp slot twice") << "invalid_duplicate_amp.hdf" << 5 << 11 << 0 << "";
    QTest::newRow("same PreAmp slot, other type and path")
        << "invalid_duplicate_preamp.hdf" << 5 << 9 << 0 << "";
    QTest::newRow("no HDFInfo") << "invalid_no_hdfinfo.hdf" << 6 << 0 << 0 << "";
    QTest::newRow("no OrderInfo") << "invalid_no_orderinfo.hdf" << 7 << 0 << 0 << "";
    // Without CR no record ends: every line joins the HDFInfo record.
    QTest::newRow("LF-only line ends") << "invalid_lf_only.hdf" << 7 << 0 << 0 << "";
    QTest::newRow("no BaseUnit") << "invalid_no_baseunit.hdf" << 8 << 0 << 0 << "";
    QTest::newRow("no RF_Path_Cooling") << "invalid_no_rf_path_cooling.hdf" << 9 << 0 << 0 << "";
    QTest::newRow("no Amp") << "invalid_no_amp.hdf" << 10 << 0 << 0 << "";
    QTest::newRow("RF path 2 without amplifier")
        << "invalid_rf_path_without_amp.hdf" << 11 << 0 << 2 << "";
    QTest::newRow("RF path 2 without PreAmp")
        << "invalid_rf_path_without_preamp.hdf" << 12 << 0 << 2 << "";
    QTest::newRow("Radiall 1-2 with one port")
        << "invalid_switch_without_ports.hdf" << 14 << 7 << 0 << "";
    QTest::newRow("coupler on undefined RF path 3")
        << "invalid_undefined_rf_path.hdf" << 15 << 7 << 3 << "";
    QTest::newRow("InputSwitch7-1 with empty type() on undefined RF path 3")
        << "invalid_input_switch_untyped.hdf" << 15 << 9 << 3 << "";
}

void TestHdf::rejected()
{
    QFETCH(QString, file);
    QFETCH(int, code);
    QFETCH(int, line);
    QFETCH(int, value);
    QFETCH(QString, text);

    HdfFileParser parser;
    parser.setHdf(file.isEmpty() ? std::string() : fixture(qPrintable(file)).toStdString());
    QCOMPARE(parser.getErrorCode(), code);
    QCOMPARE(int(parser.getErrorLine()), line);
    QCOMPARE(int(parser.getErrorValue()), value);
    const QString logged = QString::fromStdString(parser.getErrorText());
    QVERIFY2(text.isEmpty() ? !logged.isEmpty() : logged == text, qPrintable(logged));
}

void TestHdf::oneRack()
{
    HdfFileParser parser;
    parser.setHdf(fixture("valid_one_rack.hdf").toStdString());
    QCOMPARE(parser.getErrorCode(), 0);
    QCOMPARE(boardsOf(parser.getBoards()), QString("(1,1)"));
    // The record over lines 12 to 16 counts once, with its last line.
    QCOMPARE(int(parser.getPowerAmplifiers().size()), 4);
    QCOMPARE(int(parser.getPowerAmplifiers().at(2).position), 3);
    QCOMPARE(parser.getPowerAmplifiers().at(2).line, 16u);
    // RF path 1 uses the last output, 10; path 2 has only an external amplifier and its
    // output(0) means its own output 2.
    QCOMPARE(int(parser.getRfPathCoolings().at(0).output), 10);
    QVERIFY(parser.doesRfPathHaveExternalAmplifier(2));
    QCOMPARE(int(parser.getRfPathCoolings().at(1).output), 2);
    QCOMPARE(parser.getHdfInfo().fileDate.toString(), std::string("2026-02-10 14:05:00"));
    QCOMPARE(int(parser.getHdfInfo().syntaxVersionNumerical.minor), 74);
}

void TestHdf::twoRacks()
{
    HdfFileParser parser;
    parser.setHdf(fixture("valid_two_racks.hdf").toStdString());
    QCOMPARE(parser.getErrorCode(), 0);
    QCOMPARE(int(parser.getPowerAmplifiers().size()), 32);
    // Base unit first, then the pre-amplifiers' units, then the amplifiers' in file order.
    QCOMPARE(boardsOf(parser.getBoards()), QString("(1,1)(2,1)(1,2)(1,3)(1,4)(2,2)(2,3)(2,4)"));
    QCOMPARE(boardsOf(parser.getBoardsForRfPath(3)), QString("(2,1)(2,2)(2,4)"));
    QVERIFY(parser.getPreAmplifiers().at(1).slave);

    // No file named: code 3, and what was read stays.
    parser.setHdf(std::string());
    QCOMPARE(parser.getErrorCode(), 3);
    QCOMPARE(int(parser.getPowerAmplifiers().size()), 32);
    QCOMPARE(int(parser.getBoards().size()), 8);

    // Reading again replaces everything.
    parser.setHdf(fixture("invalid_no_amp.hdf").toStdString());
    QCOMPARE(parser.getErrorCode(), 10);
    QVERIFY(parser.getBoards().empty());
}

void TestHdf::checker()
{
    const QString tool = QStringLiteral(ZEF_BIN_DIR "/zef400-hdfcheck");
    const Run accepted = run(tool, { "--json", fixture("valid_two_racks.hdf") });
    QCOMPARE(accepted.exitCode, 0);
    QCOMPARE(accepted.json().value("errorCode").toInt(-1), 0);
    QCOMPARE(accepted.json().value("amps").toInt(), 32);
    QCOMPARE(accepted.json().value("boards").toArray().size(), 8);

    // Log lines go to standard error; standard output is the object alone.
    const Run rejected = run(tool, { "--json", fixture("invalid_undefined_rf_path.hdf") });
    QCOMPARE(rejected.exitCode, 1);
    QJsonParseError error;
    QJsonDocument::fromJson(rejected.out, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(rejected.json().value("errorCode").toInt(), 15);
    QCOMPARE(rejected.json().value("errorLine").toInt(), 7);
    QCOMPARE(rejected.json().value("errorValue").toInt(), 3);
    QVERIFY(rejected.err.contains("RF path 3"));

    const Run text = run(tool, { fixture("invalid_undefined_rf_path.hdf") });
    QCOMPARE(text.exitCode, 1);
    QVERIFY(text.out.contains("verdict: rejected\nerror: code 15, line 7, value 3\n"));
    QVERIFY(text.out.contains("\nline ends: CR LF\n"));
    const Run lf = run(tool, { "--json", fixture("invalid_lf_only.hdf") });
    QCOMPARE(lf.json().value("lineEnds").toString(), QString("LF"));
    QCOMPARE(lf.json().value("firstLfOnlyLine").toInt(), 1);
    QVERIFY(run(tool, { fixture("invalid_lf_only.hdf") })
                .out.contains("\nline ends: LF (first line without CR: 1): "));

    QCOMPARE(run(tool, { fixture("does_not_exist.hdf") }).exitCode, 1);
    QCOMPARE(run(tool, { "--bogus", fixture("valid_two_racks.hdf") }).exitCode, 2);
    QCOMPARE(
        run(tool, { fixture("invalid_no_amp.hdf"), fixture("invalid_no_amp.hdf") }).exitCode, 2);

    // Without FILE the tool reads the program's own description, here from make-root.
    for (const QStringList& options :
        { QStringList(), { "--mainboards", "2", "--amplifiers", "6" } }) {
        QTemporaryDir root;
        QCOMPARE(
            run(ZEF_SOURCE_DIR "/scripts/make-root", QStringList(root.path()) + options).exitCode,
            0);
        const QJsonObject made = run(tool, { "--json" }, root.path()).json();
        QCOMPARE(made.value("errorCode").toInt(-1), 0);
        QCOMPARE(boardsOf(made.value("boards")), options.isEmpty() ? "(1,1)" : "(1,1)(1,2)");
        QCOMPARE(made.value("amps").toInt(), options.isEmpty() ? 4 : 6);
    }
}

QTEST_GUILESS_MAIN(TestHdf)
#include "tst_hdf.moc"
