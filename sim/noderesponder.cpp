#include "sim/noderesponder.h"

#include "canbus/frame/canmessaget.h"
#include "kubus/log/kulog.h"
#include "sim/controlbehaviour.h"
#include "sim/firmwarebehaviour.h"
#include "sim/identifybehaviour.h"
#include "sim/messagebehaviour.h"
#include "sim/positionbehaviour.h"
#include "sim/servicedatabehaviour.h"

namespace Sim {

using namespace CanBus;

namespace {

// xorshift32: small, and the same sequence on every machine for a given seed.
quint32 nextRandom(quint32& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

bool matches(const SimNode::ActiveFault& active, const CanMessage& frame)
{
    const NodeFault& f = active.fault;
    if (f.messageType >= 0 && unsigned(f.messageType) != frame.identifier().messageTypeCode())
        return false;
    return f.count < 0 || active.used < f.count;
}

} // namespace

const QVector<const NodeBehaviour*>& NodeResponder::behaviours()
{
    // In order: the first behaviour that accepts a frame handles it. Firmware access, node
    // control and the position finder go before the message behaviour, which would otherwise
    // take an SCM_COMMAND meant for them.
    static const IdentifyBehaviour identify;
    static const FirmwareBehaviour firmware;
    static const ControlBehaviour control;
    static const PositionBehaviour position;
    static const ServiceDataBehaviour serviceData;
    static const MessageBehaviour messages;
    static const QVector<const NodeBehaviour*> all { &identify, &firmware, &control, &position,
        &serviceData, &messages };
    return all;
}

void NodeResponder::updatePresence(SimNode& node, qint64 wallUs)
{
    ControlBehaviour::updateRestart(node, wallUs);
    for (SimNode::ActiveFault& active : node.faults) {
        const NodeFault& f = active.fault;
        if (f.kind != NodeFault::Vanish || active.used > 0)
            continue;
        if (node.present) {
            const bool due = f.vanishAfter.frames ? node.framesHeard >= f.vanishAfter.value
                                                  : wallUs >= f.vanishAfter.value;
            if (!due)
                continue;
            node.present = false;
            active.vanishedAtUs = wallUs;
            active.vanishedAtFrames = node.framesHeard;
            Kubus::kuPrint(
                QString("%1 drops off the bus (%2)").arg(node.name(), f.spec), Q_FUNC_INFO);
        }
        if (active.vanishedAtUs < 0)
            continue;
        const bool back = f.vanishFor.frames
            ? node.framesHeard - active.vanishedAtFrames >= f.vanishFor.value
            : wallUs - active.vanishedAtUs >= f.vanishFor.value;
        if (back) {
            // A board that comes back has restarted: it has no node id until it gets one.
            node.present = true;
            node.nodeId = SimNode::noNodeId;
            node.firmware.accessSelector = -1;
            node.firmwareAccess = false;
            node.firmware.openBlock = -1;
            active.used = 1;
            Kubus::kuPrint(
                QString("%1 is back on the bus without node id").arg(node.name()), Q_FUNC_INFO);
        }
    }
}

CanMessage NodeResponder::errorAck(const SimNode& node, const CanMessage& frame, int code)
{
    CanMessageT<A_ERROR_ACK> ack;
    ack.identifier().setDestination(unsigned(node.destinationClass()));
    ack.identifier().setNodeId(unsigned(node.nodeId));
    ack.setRejectedIdentifier(frame.identifier());
    ack.setErrorCode(quint8(code));
    return ack;
}

QVector<NodeAnswer> NodeResponder::receive(SimNode& node, const CanMessage& frame, qint64 wallUs)
{
    QVector<NodeAnswer> answers;
    ++node.framesHeard;
    node.heardAtUs = wallUs;
    updatePresence(node, wallUs);
    if (!node.present) {
        ++node.framesLost;
        return answers;
    }

    const NodeBehaviour* behaviour = nullptr;
    for (const NodeBehaviour* candidate : behaviours()) {
        if (candidate->accepts(node, frame)) {
            behaviour = candidate;
            break;
        }
    }
    // A frame that no behaviour takes is still the node's when it is addressed to it: the node
    // rejects it, and faults bend that answer like any other.
    if (!behaviour && !NodeBehaviour::addressedTo(node, frame))
        return answers;

    qint64 extraDelayUs = 0;
    for (SimNode::ActiveFault& active : node.faults) {
        if (active.fault.kind == NodeFault::Vanish || active.fault.kind == NodeFault::Send
            || active.fault.kind == NodeFault::Corrupt || active.fault.kind == NodeFault::PowerLoss
            || !matches(active, frame))
            continue; // corrupt and powerloss act inside the firmware behaviour
        switch (active.fault.kind) {
        case NodeFault::Drop: {
            const double draw = double(nextRandom(active.random)) / 4294967296.0;
            if (draw < active.fault.share) {
                ++active.used;
                ++node.framesLost;
                return answers;
            }
            break;
        }
        case NodeFault::Silent:
            ++active.used;
            ++node.framesLost;
            return answers;
        case NodeFault::ErrorAck:
            ++active.used;
            ++node.framesAnswered;
            answers.append({ errorAck(node, frame, active.fault.errorCode), extraDelayUs });
            return answers;
        case NodeFault::Delay:
            ++active.used;
            extraDelayUs += active.fault.delayUs;
            break;
        case NodeFault::Vanish:
        case NodeFault::Corrupt:
        case NodeFault::PowerLoss:
        case NodeFault::Send:
            break;
        }
    }

    if (behaviour) {
        behaviour->handle(node, frame, answers);
    } else if (frame.nodeId() != CanIdentifier::BroadcastNodeId) {
        // A broadcast the board does not know is ignored: every board answering it at once
        // would only flood the bus.
        ++node.framesRejected;
        answers.append({ errorAck(node, frame, NodeBehaviour::ErrorUnknownType), 0 });
    }
    for (NodeAnswer& answer : answers)
        answer.extraDelayUs += extraDelayUs;
    if (!answers.isEmpty())
        ++node.framesAnswered;
    return answers;
}

} // namespace Sim
