#pragma once

#include "canbus/canmessage.h"
#include "sim/simnode.h"

#include <QVector>

namespace Sim {

// A frame a node sends in reply, with any wall-clock delay a fault added to it.
struct NodeAnswer {
    CanBus::CanMessage frame;
    qint64 extraDelayUs = 0;
    qint64 workUs = 0; // node-side work before the answer (flash erase, program): bus time only
};

// One thing a board does on the bus (identification, service data, firmware access, ...).
// Behaviours keep no state of their own: everything lives in the SimNode, so the state dump
// shows it and a node's behaviours never disagree about it.
class NodeBehaviour {
public:
    virtual ~NodeBehaviour() = default;

    // True when this node takes the controller's frame as meant for itself.
    virtual bool accepts(const SimNode& node, const CanBus::CanMessage& frame) const = 0;
    // Acts on an accepted frame; appends the node's answers.
    virtual void handle(
        SimNode& node, const CanBus::CanMessage& frame, QVector<NodeAnswer>& answers) const = 0;

protected:
    // The identifier every frame of this node carries: its class, its node id.
    static CanBus::CanIdentifier nodeIdentifier(
        const SimNode& node, unsigned type, unsigned priority);
    // Addressed to this node's class (or all classes) and to its node id (or all nodes).
    static bool addressedTo(const SimNode& node, const CanBus::CanMessage& frame);
};

} // namespace Sim
