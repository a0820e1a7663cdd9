#pragma once

#include <QString>

namespace Sim {

class SimBus;

// Writes the node model of both buses for tests and people: an INI file with one group per
// node ("can1_2001") and, next to it, one binary file per flash memory that holds anything
// ("<dump>.can1_2001.at90.bin", cut after the last byte that is not 0xFF).
class StateDump {
public:
    static bool write(
        const QString& path, const QList<SimBus*>& buses, qint64 wallUs, QString* error);
    static QString groupName(int bus, quint32 serial);
    static QString flashFileName(
        const QString& dumpPath, int bus, quint32 serial, const QString& which);
};

} // namespace Sim
