#pragma once

#include "sim/nodefault.h"
#include "sim/simnode.h"

#include <QString>
#include <QVector>

namespace Sim {

// The boards of both buses, read from a rack file (format in sim/README.md) or built in.
// Errors are data: the first faulty line stops the parse with its line number and a reason.
class RackDescription {
public:
    static RackDescription parse(const QString& text);
    static RackDescription fromFile(const QString& path);
    // One mainboard on can0, four power amplifiers on can1, all at version 1.13.1.
    static RackDescription defaultRack();
    static QString defaultRackText();

    bool ok() const { return m_errorLine == 0 && m_errorMessage.isEmpty(); }
    int errorLine() const { return m_errorLine; }
    QString errorMessage() const { return m_errorMessage; }
    // "line N: reason", or the reason alone for errors that have no line.
    QString errorText() const;

    QVector<SimNode> nodes;
    // Faults of the file, each with the line it came from.
    QVector<NodeFault> faults;
    QVector<int> faultLines;

    // Hands every fault to the node(s) it names; false with a reason if one names no node.
    static bool applyFault(QVector<SimNode>& nodes, const NodeFault& fault, QString* error);

private:
    int m_errorLine = 0;
    QString m_errorMessage;
};

} // namespace Sim
