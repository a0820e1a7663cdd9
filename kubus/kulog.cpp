#include "kubus/kulog.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>

#include <cstdio>

namespace Kubus {

namespace {
struct LogState {
    QMutex mutex;
    // Qt 4 used an elapsed QTime here; QElapsedTimer is its replacement.
    QElapsedTimer* clock = nullptr;
    qint64 previous = 0;
};

LogState& logState()
{
    static LogState state;
    return state;
}
} // namespace

void kuPrint(const char* text, const char* function)
{
    LogState& state = logState();
    QMutexLocker lock(&state.mutex);
    if (!state.clock) {
        state.clock = new QElapsedTimer;
        state.clock->start();
    }
    const qint64 elapsed = state.clock->elapsed();
    const qint64 delta = elapsed - state.previous;
    state.previous = elapsed;

    QString line;
    line.reserve(128);
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
    if (line.contains(QLatin1String("FirmwareUpdateProgress")))
        line = QStringLiteral(".");
    qprintf(line);
}

void kuPrint(const QString& text, const char* function)
{
    kuPrint(text.toLatin1().constData(), function);
}

void kuErrorLine(bool toLog)
{
    const QByteArray dashes(72, '-');
    if (toLog)
        kuPrint(dashes.constData(), "");
    else
        std::puts(dashes.constData());
}

} // namespace Kubus

void qprintf(const QString& text)
{
    std::fputs(text.toLatin1().constData(), stdout);
    std::fflush(stdout);
}
