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

    // Reads the rack, applies the faults, opens trace and sockets. On failure the reason is in
    // error and nothing listens.
    bool start(const Options& options, QString* error);
    bool writeDump();
    QList<SimBus*> buses() const { return m_buses; }

private:
    void onSignal();
    static void signalHandler(int signal);

    Options m_options;
    QElapsedTimer m_clock;
    TraceWriter m_trace;
    QList<SimBus*> m_buses;
    QSocketNotifier* m_signalNotifier = nullptr;
    static int s_signalPipe[2];
};

} // namespace Sim
