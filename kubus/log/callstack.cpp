#include "kubus/log/callstack.h"

#include "kubus/log/kulog.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <execinfo.h>
#include <unistd.h>

namespace {

constexpr int MaxFrames = 50;

// "module(mangled+0x1f) [0x...]" -> "[bt]: (i) module demangled", or the whole symbol line when
// the name cannot be demangled.
QByteArray frameLine(int index, const char* symbol)
{
    const QByteArray line(symbol);
    const int open = line.indexOf('(');
    const int plus = open >= 0 ? line.indexOf('+', open) : -1;
    if (open >= 0 && plus > open + 1) {
        const QByteArray mangled = line.mid(open + 1, plus - open - 1);
        int status = -1;
        char* demangled = abi::__cxa_demangle(mangled.constData(), nullptr, nullptr, &status);
        if (status == 0 && demangled) {
            const QByteArray text = QByteArray("[bt]: (") + QByteArray::number(index) + ") "
                + line.left(open) + ' ' + demangled;
            std::free(demangled);
            return text;
        }
        std::free(demangled);
    }
    return QByteArray("[bt]: (") + QByteArray::number(index) + ") " + line;
}

// The frames of the caller of the printer (frame 0 is the printer itself).
template <typename Print> void forEachFrame(void** frames, int count, Print print)
{
    if (count <= 1)
        return;
    char** symbols = backtrace_symbols(frames, count);
    if (!symbols)
        return;
    for (int i = 1; i < count; ++i)
        print(frameLine(i, symbols[i]));
    std::free(symbols);
}

struct SignalEntry {
    int number;
    const char* text;
};

const QHash<int, const char*>& signalTable()
{
    static const QHash<int, const char*> table = [] {
        const SignalEntry entries[] = {
            { SIGTRAP, "Trace trap (POSIX).  " },
            { SIGABRT, "Abort (ANSI).  " },
            { SIGFPE, "Floating-point exception (ANSI).  " },
            { SIGSEGV, "Segmentation violation (ANSI).  " },
            { SIGTERM, "Termination (ANSI).  " },
            { SIGSTKFLT, "Stack fault.  " },
        };
        QHash<int, const char*> built;
        for (const SignalEntry& entry : entries)
            built.insert(entry.number, entry.text);
        return built;
    }();
    return table;
}

} // namespace

void printCallStack()
{
    void* frames[MaxFrames];
    const int count = backtrace(frames, MaxFrames);
    forEachFrame(frames, count,
        [](const QByteArray& line) { Kubus::kuPrint(QString::fromLatin1(line), ""); });
    Kubus::kuErrorLine(true);
}

void printfCallStack()
{
    void* frames[MaxFrames];
    const int count = backtrace(frames, MaxFrames);
    forEachFrame(frames, count, [](const QByteArray& line) {
        std::fputs(line.constData(), stdout);
        std::fputc('\n', stdout);
    });
    std::fflush(stdout);
    Kubus::kuErrorLine(false);
}

void fatalSignalHandler(int signalNumber)
{
    qprintf(QStringLiteral("<signal>"));
    const QHash<int, const char*>& table = signalTable();
    const char* text = "";
    const auto entry = table.constFind(signalNumber);
    if (entry != table.constEnd())
        text = entry.value();
    else
        qprintf(QStringLiteral("Unknown signal: %1").arg(signalNumber));
    qprintf(QString::fromLatin1(text));
    qprintf(QStringLiteral("!!!!!!!!!!!!!!!!!!!! Signal !!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!"));
    qprintf(QStringLiteral("Callstack:"));
    printfCallStack();
    qprintf(QStringLiteral("</signal>"));
    std::fflush(stdout);
    // The process is broken: leave without running destructors that could hang on its state.
    ::_exit(signalNumber);
}

void printCallStackOnCrash()
{
    for (auto it = signalTable().constBegin(); it != signalTable().constEnd(); ++it)
        std::signal(it.key(), fatalSignalHandler);
}
