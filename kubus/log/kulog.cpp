#include "kubus/log/kulog.h"

#include "kubus/log/logfile.h"
#include "kubus/log/networklogger.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>

#include <cstdio>

namespace Kubus {

namespace {

// One mutex for the whole line: it keeps lines whole across threads, makes the delta the time
// between consecutive lines of the process, and gives every sink the same line order.
struct LogState {
    QMutex mutex;
    // Qt 4 used an elapsed QTime here; QElapsedTimer is its replacement.
    QElapsedTimer clock;
    qint64 previous = 0;
};

LogState& logState()
{
    // Never destroyed: threads and static destructors may still log while the process exits.
    static LogState* state = new LogState;
    return *state;
}

void writeStdout(const QByteArray& bytes)
{
    std::fputs(bytes.constData(), stdout);
    std::fflush(stdout);
}

} // namespace

void kuPrint(const char* text, const char* function)
{
    LogState& state = logState();
    QMutexLocker lock(&state.mutex);
    if (!state.clock.isValid())
        state.clock.start();
    const qint64 elapsed = state.clock.elapsed();
    const qint64 delta = elapsed - state.previous;
    state.previous = elapsed;

    QString line;
    line.reserve(160);
    line += QDateTime::currentDateTime().toString(QStringLiteral("yyMMdd-hh:mm:ss.zzz"));
    line += QLatin1String(" | ");
    line += QString::number(delta).rightJustified(5, QLatin1Char(' '));
    line += QLatin1String("ms | ");
    line += QString::fromLatin1(text ? text : "").leftJustified(60, QLatin1Char(' '));
    if (function && *function) {
        line += QLatin1String(" | ");
        line += QLatin1String(function);
    }
    line += QLatin1Char('\n');
    // Progress records come for every firmware block; they show as a row of dots.
    if (line.contains(QLatin1String("FirmwareUpdateProgress")))
        line = QStringLiteral(".");

    // Qt 4's toAscii() kept Latin-1 bytes; toLatin1() is its replacement.
    const QByteArray bytes = line.toLatin1();
    if (!LogFile::log(bytes))
        writeStdout(bytes);
    if (QCoreApplication::instance())
        NetworkLogger::log(line);
}

void kuPrint(const QString& text, const char* function)
{
    kuPrint(text.toLatin1().constData(), function);
}

void kuErrorLine(bool toLog)
{
    const QByteArray dashes(72, '-');
    if (toLog) {
        kuPrint(dashes.constData(), "");
    } else {
        std::puts(dashes.constData());
        std::fflush(stdout);
    }
}

} // namespace Kubus

void qprintf(const QString& text)
{
    std::fputs(text.toLatin1().constData(), stdout);
    std::fflush(stdout);
}
