#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>

// Runs build/bin/zef400-sim for an end-to-end test: a root folder (a fresh temporary one
// unless given), the simulator started with ZEF400_ROOT on it, a trace and a state dump in that
// root, and read-back of its output, trace and node model.
class SimulatorProcess {
public:
    // root: an existing root folder (e.g. laid out by scripts/make-root); empty: a temporary one.
    explicit SimulatorProcess(const QString& root = QString());
    ~SimulatorProcess();

    QString root() const { return m_root; }
    QString socketPath(int bus) const;
    QString tracePath() const { return m_root + "/sim-trace.log"; }
    QString dumpPath() const { return m_root + "/sim-state.ini"; }

    // Starts the simulator with args plus --trace and --dump (unless args name their own) and
    // waits until both device sockets listen. False (with output() telling why) on failure.
    bool start(const QStringList& args = QStringList(), int timeoutMs = 10000);
    bool isRunning() const;
    // SIGTERM and wait; the exit code, or -1 if it crashed or did not end in time.
    int stop(int timeoutMs = 10000);

    // Everything the simulator printed so far (standard output and error).
    QString output();
    bool waitForOutput(const QString& text, int timeoutMs = 5000);
    // Waits until the simulator has taken the configuration of the n-th connection (counting
    // from 1) on bus: configuration packets are not answered, so a test that needs a
    // controller on the bus before the next frame waits for this.
    bool waitForConfigured(int bus, int connection, int timeoutMs = 5000);

    QStringList traceLines() const;
    // Writes the dump now (SIGUSR1) and waits until it is there.
    bool requestDump(int timeoutMs = 5000);
    // A value of the last dump; node is "can1_2001" (bus and serial number) or "simulator".
    QVariant dumpValue(const QString& node, const QString& key) const;
    QByteArray flash(const QString& node, const QString& which) const; // which: at90, fpga
    QByteArray label(const QString& node, int selector) const;

    static QString binary();

private:
    std::unique_ptr<QTemporaryDir> m_tempDir;
    QString m_root;
    QProcess m_process;
    QByteArray m_output;
};
