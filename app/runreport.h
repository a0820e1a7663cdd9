#pragma once

#include "app/firmwareoutcome.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The machine-readable record of one update run, for the production line to file per rack: the
// result, the run's length and per node what became of its two firmwares. Written only when the
// environment variable ZEF400_RUN_REPORT names a file.
class RunReport {
public:
    static constexpr const char* EnvironmentVariable = "ZEF400_RUN_REPORT";

    // A later outcome of the same node and firmware (a forced pass) replaces the earlier one.
    void add(const FirmwareOutcome& outcome);
    void clear() { outcomes.clear(); }
    bool isEmpty() const { return outcomes.isEmpty(); }

    QByteArray toJson(bool result, double seconds) const;
    // Writes to path through a temporary file in the same folder and a rename, so a reader
    // never sees half a record. False, with the reason in error, when it cannot.
    bool write(const QString& path, bool result, double seconds, QString* error) const;

private:
    QList<FirmwareOutcome> outcomes;
};
