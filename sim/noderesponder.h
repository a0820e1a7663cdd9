#pragma once

#include "sim/nodebehaviour.h"

#include <QVector>

namespace Sim {

// Everything a node does with a controller's frame: whether it is there at all (vanish), which
// behaviour takes the frame, and how its faults bend the answer (lost, late, rejected, none).
class NodeResponder {
public:
    // The answers of node to frame heard at wallUs (microseconds since start).
    static QVector<NodeAnswer> receive(
        SimNode& node, const CanBus::CanMessage& frame, qint64 wallUs);
    // Brings node.present up to date at wallUs (a node whose absence has run out comes back).
    static void updatePresence(SimNode& node, qint64 wallUs);
    // The A_ERROR_ACK with which node rejects frame.
    static CanBus::CanMessage errorAck(
        const SimNode& node, const CanBus::CanMessage& frame, int code);

private:
    static const QVector<const NodeBehaviour*>& behaviours();
};

} // namespace Sim
