#include "common/targetprogram.h"

void startTargetProgram(QProcess& process, const QString& name, const QStringList& arguments)
{
    QStringList runner = QProcess::splitCommand(qEnvironmentVariable("ZEF400_TARGET_RUNNER"));
    if (runner.isEmpty()) {
        process.start(QStringLiteral(ZEF_BIN_DIR "/") + name, arguments);
        return;
    }
    const QString dir = qEnvironmentVariable("ZEF400_TARGET_BIN_DIR", QStringLiteral(ZEF_BIN_DIR));
    const QString runnerProgram = runner.takeFirst();
    process.start(runnerProgram, runner + QStringList { dir + QLatin1Char('/') + name } + arguments);
}
