#include "common/programrun.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>

ProgramRun ProgramRun::run(const QString& root, const QStringList& arguments, int timeoutMs,
    const QProcessEnvironment& extra)
{
    ProgramRun result;
    const QString reportPath = root + "/run-report.json";
    QFile::remove(reportPath);
    QDir(root).mkpath("run");
    QFile(root + "/run").setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZEF400_ROOT", root);
    env.insert("ZEF400_LOG_PORT", "0");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", root + "/run");
    env.insert("ZEF400_RUN_REPORT", reportPath);
    for (const QString& key : extra.keys())
        env.insert(key, extra.value(key));

    QProcess program;
    program.setProcessEnvironment(env);
    startTargetProgram(program, QStringLiteral("zef400-fwupdate"), arguments);
    result.finished = program.waitForFinished(timeoutMs);
    if (!result.finished) {
        program.kill();
        program.waitForFinished(5000);
    }
    result.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    result.out = QString::fromLocal8Bit(program.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(program.readAllStandardError());

    // A log line is "time | delta | text padded to 60 | function"; a text with line breaks
    // continues on the following lines, the last of which carries the function.
    static const QRegularExpression head(R"(^\d{6}-\d\d:\d\d:\d\d\.\d{3} \|\s+\d+ms \| (.*)$)");
    QString current;
    bool inScreen = false;
    auto flush = [&] {
        if (inScreen)
            result.screen << current.trimmed();
        inScreen = false;
        current.clear();
    };
    for (const QString& line : result.out.split(QLatin1Char('\n'))) {
        const auto match = head.match(line);
        QString text = match.hasMatch() ? match.captured(1) : line;
        if (match.hasMatch())
            flush();
        const int bar = int(text.lastIndexOf(QLatin1String(" | ")));
        const bool ends = bar >= 0;
        if (ends)
            text = text.left(bar);
        if (match.hasMatch()) {
            inScreen = text.startsWith(QLatin1String("Screen: "));
            current = inScreen ? text.mid(8) : QString();
        } else if (inScreen) {
            current += QLatin1Char('\n') + text;
        }
        if (ends)
            flush();
    }
    flush();

    QFile report(reportPath);
    if (report.open(QIODevice::ReadOnly))
        result.report = QJsonDocument::fromJson(report.readAll()).object();
    return result;
}

QJsonObject ProgramRun::node(int serial) const
{
    for (const QJsonValue& value : report.value("nodes").toArray())
        if (value.toObject().value("serial").toInt() == serial)
            return value.toObject();
    return QJsonObject();
}

QJsonObject ProgramRun::firmware(int serial, const char* which) const
{
    return node(serial).value(QLatin1String(which)).toObject();
}

QString ProgramRun::failure() const
{
    // The message is built for every check, passed or not: keep files only for failed runs.
    if (finished && exitCode == 0)
        return screenText();
    static int count = 0;
    const QString path = QStringLiteral("%1/zef400-run-%2-%3.err")
                             .arg(QDir::tempPath())
                             .arg(QCoreApplication::applicationPid())
                             .arg(++count);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(err.toLocal8Bit());
    return QStringLiteral("exit %1, standard error in %2\n%3").arg(exitCode).arg(path, screenText());
}

void startTargetProgram(QProcess& process, const QString& name, const QStringList& arguments)
{
    QStringList runner = QProcess::splitCommand(qEnvironmentVariable("ZEF400_TARGET_RUNNER"));
    if (runner.isEmpty())
        return process.start(QStringLiteral(ZEF_BIN_DIR "/") + name, arguments);
    const QString dir = qEnvironmentVariable("ZEF400_TARGET_BIN_DIR", QStringLiteral(ZEF_BIN_DIR));
    const QString program = runner.takeFirst();
    process.start(program, runner + QStringList { dir + QLatin1Char('/') + name } + arguments);
}
