#include "sim/positionbehaviour.h"

#include "canbus/frame/canmessaget.h"

namespace Sim {

using namespace CanBus;

bool PositionBehaviour::accepts(const SimNode& node, const CanMessage& frame) const
{
    if (node.kind != SimNode::MainBoard || !addressedTo(node, frame)
        || frame.nodeId() == CanIdentifier::BroadcastNodeId)
        return false;
    const CanPayload& p = frame.payload();
    return frame.identifier().messageTypeCode() == SCM_COMMAND && p.length() >= 2 && p.at(0) == 0
        && p.at(1) >= 1 && p.at(1) <= 4;
}

void PositionBehaviour::handle(
    SimNode& node, const CanMessage& frame, QVector<NodeAnswer>& answers) const
{
    if (node.firmwareAccess) {
        reject(node, frame, ErrorWrongState, answers);
        return;
    }
    ++node.commandsReceived;
    node.lastCommand = QString("0/%1").arg(frame.payload().at(1));
    CanIdentifier id = frame.identifier();
    id.setAckRequest(false);
    answers.append({ CanMessage(id, frame.payload()), 0 });
    node.firmware.signalledSlots.append(frame.payload().at(1));
}

bool PositionBehaviour::sitsIn(const SimNode& amplifier, int rack, int unit, int slot)
{
    return amplifier.kind == SimNode::PowerAmplifier && amplifier.rack == rack
        && amplifier.unit == unit && amplifier.slot == slot;
}

CanMessage PositionBehaviour::positionFrame(const SimNode& amplifier)
{
    CanMessage frame(nodeIdentifier(amplifier, AMP_POSITION, 0), CanPayload(1));
    frame.payload().setByte(0, quint8((amplifier.slot - 1) & 3));
    return frame;
}

} // namespace Sim
