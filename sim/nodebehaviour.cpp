#include "sim/nodebehaviour.h"

#include "sim/noderesponder.h"

namespace Sim {

CanBus::CanIdentifier NodeBehaviour::nodeIdentifier(
    const SimNode& node, unsigned type, unsigned priority)
{
    CanBus::CanIdentifier id;
    id.setMessageType(type);
    id.setPriority(priority);
    id.setDestination(unsigned(node.destinationClass()));
    id.setNodeId(unsigned(node.nodeId));
    return id;
}

bool NodeBehaviour::addressedTo(const SimNode& node, const CanBus::CanMessage& frame)
{
    const unsigned destination = frame.destination();
    if (destination != unsigned(node.destinationClass()) && destination != 0xFu)
        return false;
    return frame.nodeId() == CanBus::CanIdentifier::BroadcastNodeId
        || frame.nodeId() == unsigned(node.nodeId);
}

void NodeBehaviour::reject(const SimNode& node, const CanBus::CanMessage& frame, ErrorCode code,
    QVector<NodeAnswer>& answers)
{
    answers.append({ NodeResponder::errorAck(node, frame, code), 0 });
}

} // namespace Sim
