#pragma once

#include "sim/nodefault.h"
#include "sim/tracewriter.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QSocketNotifier;

namespace Sim {

class SimBus;

// The whole simulator: both buses with their nodes, the trace, the state dump and the signal
// handling (SIGUSR1 writes the dump, SIGTERM and SIGINT write it and end the run).
//
// The three signals are never handled asynchronously: they stay blocked in every thread and are
// read from a signal descriptor in the event loop. A handler that merely wakes the loop can be
// late forever: the thread checker defers a handler until the thread next passes one of its
// checkpoints, and a loop that went to sleep in poll without one (glib's poll, called from a
// library the checker ignores, is not one) sleeps on with the signal owed to it.
class Simulator : public QObject {
    Q_OBJECT

public:
    struct Options {
        QString rackFile; // empty: the built-in rack
        QString traceFile;
        QString dumpFile;
        bool realtime = false;
        QStringList faults; // command-line fault specs
    };

    explicit Simulator(QObject* parent = nullptr);
    ~Simulator() override;

    // Blocks SIGUSR1, SIGTERM and SIGINT in the calling thread and in every thread started from
    // it later. Call first thing in main, before any thread starts (the log server's thread comes
    // with the first log line): a thread that left them open would take them with their default
    // action, which ends the process.
    static void blockControlSignals();

    // Reads the rack, applies the faults, opens trace and sockets. On failure the reason is in
    // error and nothing listens.
    bool start(const Options& options, QString* error);
    bool writeDump();
    QList<SimBus*> buses() const { return m_buses; }

private:
    void onSignal();

    Options m_options;
    QElapsedTimer m_clock;
    TraceWriter m_trace;
    QList<SimBus*> m_buses;
    int m_signalFd = -1;
    QSocketNotifier* m_signalNotifier = nullptr;
};

} // namespace Sim
