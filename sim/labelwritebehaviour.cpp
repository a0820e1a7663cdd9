#include "sim/labelwritebehaviour.h"

#include "canbus/canmessaget.h"
#include "sim/noderesponder.h"

namespace Sim {

using namespace CanBus;

bool LabelWriteBehaviour::accepts(const SimNode& node, const CanMessage& frame) const
{
    return frame.identifier().messageTypeCode() == SCM_SERVICE_DATA_WR
        && frame.nodeId() == unsigned(node.nodeId) && node.nodeId != SimNode::noNodeId
        && frame.destination() == unsigned(node.destinationClass());
}

void LabelWriteBehaviour::handle(
    SimNode& node, const CanMessage& frame, QVector<NodeAnswer>& answers) const
{
    const CanMessageT<SCM_SERVICE_DATA_WR> write(frame);
    if (frame.payload().length() < 4 || !node.labels.contains(write.serviceDataSelector())) {
        answers.append({ NodeResponder::errorAck(node, frame, UnknownSelector), 0 });
        return;
    }
    const QByteArray data = write.data();
    const int size
        = qMax(SimNode::labelAreaSize, node.labels.value(write.serviceDataSelector()).size());
    if (int(write.address()) + data.size() > size) {
        answers.append({ NodeResponder::errorAck(node, frame, OutsideLabel), 0 });
        return;
    }
    node.writeLabel(write.serviceDataSelector(), int(write.address()), data);
    CanIdentifier id = frame.identifier();
    id.setAckRequest(false);
    answers.append({ CanMessage(id, frame.payload()), 0 });
}

} // namespace Sim
