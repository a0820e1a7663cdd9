#include "sim/positionbehaviour.h"

#include "canbus/canmessaget.h"

namespace Sim {

using namespace CanBus;

bool PositionBehaviour::accepts(const SimNode& node, const CanMessage& frame) const
{
    if (node.kind != SimNode::MainBoard || !addressedTo(node, frame)
        || frame.nodeId() == CanIdentifier::BroadcastNodeId)
        return false;
    const CanPayload& p = frame.payload();
    switch (frame.identifier().messageTypeCode()) {
    case SCM_COMMAND:
        return p.length() >= 2 && p.at(0) == 0 && p.at(1) >= 1 && p.at(1) <= 4;
    case SCM_POLL:
        return p.length() >= 3
            && CanMessageT<SCM_POLL>(frame).polledIdentifier().messageTypeCode()
            == unsigned(TP_COMPONENTS_AND_POSITION);
    default:
        return false;
    }
}

void PositionBehaviour::handle(
    SimNode& node, const CanMessage& frame, QVector<NodeAnswer>& answers) const
{
    if (frame.identifier().messageTypeCode() == SCM_COMMAND) {
        CanIdentifier id = frame.identifier();
        id.setAckRequest(false);
        answers.append({ CanMessage(id, frame.payload()), 0 });
        node.firmware.signalledSlots.append(frame.payload().at(1));
        return;
    }
    CanMessage answer(nodeIdentifier(node, TP_COMPONENTS_AND_POSITION, 0), CanPayload(5));
    CanPayload& p = answer.payload();
    const QVector<bool>& equipped = node.equippedSlots;
    quint8 byte1 = 0;
    for (int i = 0; i < 3 && i < equipped.size(); ++i)
        byte1 |= equipped.at(i) ? quint8(1u << (i + 5)) : 0;
    p.setByte(1, byte1);
    p.setByte(2, equipped.size() > 3 && equipped.at(3) ? 1 : 0);
    p.setByte(4, quint8((((node.rack - 1) & 0x0F) << 4) | ((node.unit - 1) & 0x0F)));
    answers.append({ answer, 0 });
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
