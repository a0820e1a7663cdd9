#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// One run of build/bin/zef400-fwupdate on a root, to its end: exit status, everything printed,
// the front-panel texts ("Screen:" lines) and the run record it wrote.
struct ProgramRun {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
    // The texts the program showed on its front panel, in order, each as logged (trimmed).
    QStringList screen;
    QJsonObject report;

    // Runs with ZEF400_ROOT=root, a free log port and the offscreen platform; extra goes into
    // the environment. timeoutMs bounds the run; a run still going then is killed.
    static ProgramRun run(const QString& root, const QStringList& arguments, int timeoutMs,
        const QProcessEnvironment& extra = QProcessEnvironment());

    // Everything shown, joined by newlines, for QVERIFY2 messages.
    QString screenText() const { return screen.join(QLatin1Char('\n')); }
    // Exit status, where standard error was kept, and the front panel, for a failed check
    // (Qt Test cuts long messages, so standard error goes to a file that outlives the root).
    QString failure() const;
    // The run record's entry for the node with this serial number, and one firmware of it.
    QJsonObject node(int serial) const;
    QJsonObject firmware(int serial, const char* which) const;
};

// Starts zef400-fwupdate or zef400-node: this build's, or with ZEF400_TARGET_RUNNER set the
// target build's from ZEF400_TARGET_BIN_DIR through that command, e.g. "qemu-arm -L /" to drive
// the controller's ARM programs with the PC's tests and simulator.
void startTargetProgram(QProcess& process, const QString& name, const QStringList& arguments);
