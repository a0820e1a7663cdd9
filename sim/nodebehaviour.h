#pragma once

#include "canbus/frame/canmessage.h"
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
// shows it and a node's behaviours never disagree about it. A new behaviour is one class here
// and one line in NodeResponder::behaviours(); the first behaviour that accepts a frame gets it.
class NodeBehaviour {
public:
    // The codes with which a node rejects a frame in A_ERROR_ACK. The controller ends the
    // running command with a communication error for 1 to 3. An unknown service-data selector
    // gets 4, which the command machine only logs: a label command for a selector no board has
    // then ends by its time-out, as the controller expects of it.
    enum ErrorCode : quint8 {
        ErrorUnknownType = 1, // a message type this board does not handle
        ErrorBadParameter = 2, // an address, length, target, field or sub-unit the board lacks
        ErrorWrongState = 3, // the frame does not fit what the board is doing
        ErrorUnknownSelector = 4, // a service-data selector the board does not have
    };

    virtual ~NodeBehaviour() = default;

    // True when this node takes the controller's frame as meant for itself.
    virtual bool accepts(const SimNode& node, const CanBus::CanMessage& frame) const = 0;
    // Acts on an accepted frame; appends the node's answers.
    virtual void handle(
        SimNode& node, const CanBus::CanMessage& frame, QVector<NodeAnswer>& answers) const = 0;

    // Addressed to this node's class (or all classes) and to its node id (or all nodes).
    static bool addressedTo(const SimNode& node, const CanBus::CanMessage& frame);

protected:
    // The identifier every frame of this node carries: its class, its node id.
    static CanBus::CanIdentifier nodeIdentifier(
        const SimNode& node, unsigned type, unsigned priority);
    // Appends the A_ERROR_ACK with which node rejects frame.
    static void reject(const SimNode& node, const CanBus::CanMessage& frame, ErrorCode code,
        QVector<NodeAnswer>& answers);
};

} // namespace Sim
