#pragma once

#include <QMetaType>
#include <QString>

// What one run did to one firmware of one node: the run record's unit. Travels from the updater
// thread to the orchestrator in a queued signal.
struct FirmwareOutcome {
    static const char* staticTypeName() { return "FirmwareOutcome"; }

    int deviceType = 0; // 0 mainboard, 1 power amplifier
    int nodeId = -1;
    quint32 partNumber = 0;
    quint32 variant = 0;
    quint32 serialNumber = 0;
    int firmwareType = 0; // 0 AT90, 1 FPGA
    QString before; // the node's version before the run
    QString after; // the version the node carries now, as far as the run knows
    // ok, updated, forced, readonly, failed, invalid
    QString action;
    double seconds = 0; // time spent in the transfer
};

Q_DECLARE_METATYPE(FirmwareOutcome)
