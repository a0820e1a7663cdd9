#include "sim/identifybehaviour.h"

#include "canbus/frame/canmessaget.h"

namespace Sim {

using namespace CanBus;

bool IdentifyBehaviour::namesNode(const SimNode& node, const CanMessage& frame)
{
    const CanPayload& p = frame.payload();
    return p.length() >= 8 && p.uint16At(0) == (node.partNumber & 0xFFFFu)
        && p.at(2) == node.variant && p.uint32At(3) == node.serial;
}

bool IdentifyBehaviour::accepts(const SimNode& node, const CanMessage& frame) const
{
    switch (frame.identifier().messageTypeCode()) {
    case SCM_IDENTIFY:
        return addressedTo(node, frame);
    case SCM_SET_ADDR_CO:
    case SCM_SET_ADDR_OP: {
        const unsigned destination = frame.destination();
        const bool classMatches
            = destination == unsigned(node.destinationClass()) || destination == 0xFu;
        return classMatches && namesNode(node, frame);
    }
    default:
        return false;
    }
}

void IdentifyBehaviour::handle(
    SimNode& node, const CanMessage& frame, QVector<NodeAnswer>& answers) const
{
    const unsigned type = frame.identifier().messageTypeCode();
    if (type == SCM_IDENTIFY) {
        CanMessageT<SCM_IDENTIFY> answer;
        answer.setIdentifier(nodeIdentifier(node, SCM_IDENTIFY, answerPriority));
        answer.identifier().setAckRequest(true);
        answer.setScmPartNumber(quint16(node.partNumber & 0xFFFFu));
        answer.setScmVariantNumber(node.variant);
        answer.setScmSerialNumber(node.serial);
        answer.setCanProtocolVersion(node.protocolVersion);
        answers.append({ answer, 0 });
        return;
    }

    node.nodeId = frame.payload().at(7);
    CanMessage answer(nodeIdentifier(node, type, answerPriority), frame.payload());
    answers.append({ answer, 0 });
}

} // namespace Sim
