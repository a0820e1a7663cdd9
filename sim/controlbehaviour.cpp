#include "sim/controlbehaviour.h"

#include "canbus/frame/canmessaget.h"
#include "kubus/log/kulog.h"

namespace Sim {

using namespace CanBus;

bool ControlBehaviour::accepts(const SimNode& node, const CanMessage& frame) const
{
    const unsigned type = frame.identifier().messageTypeCode();
    return (type == SCM_RESET_MODULE || type == SCM_SET_OPERATE) && addressedTo(node, frame);
}

void ControlBehaviour::handle(
    SimNode& node, const CanMessage& frame, QVector<NodeAnswer>& answers) const
{
    const unsigned type = frame.identifier().messageTypeCode();
    const bool toAll = frame.nodeId() == CanIdentifier::BroadcastNodeId;
    if (!toAll) {
        CanIdentifier id = frame.identifier();
        id.setDestination(unsigned(node.destinationClass()));
        id.setNodeId(unsigned(node.nodeId));
        id.setAckRequest(false);
        answers.append({ CanMessage(id, frame.payload()), 0 });
    }
    if (type == SCM_SET_OPERATE) {
        node.firmware.operating = true;
        return;
    }
    ++node.firmware.resets;
    goDown(node, "restarts");
}

void ControlBehaviour::goDown(SimNode& node, const QString& why)
{
    FirmwareState& fw = node.firmware;
    node.present = false;
    fw.restartAtUs = node.heardAtUs + restartUs;
    fw.accessSelector = -1;
    node.firmwareAccess = false;
    fw.openBlock = -1;
    fw.operating = false;
    fw.signalledSlots.clear();
    Kubus::kuPrint(
        QString("%1 %2, off the bus for %3 ms").arg(node.name(), why).arg(restartUs / 1000),
        Q_FUNC_INFO);
}

void ControlBehaviour::updateRestart(SimNode& node, qint64 wallUs)
{
    FirmwareState& fw = node.firmware;
    if (fw.restartAtUs < 0 || wallUs < fw.restartAtUs)
        return;
    fw.restartAtUs = -1;
    node.present = true;
    node.nodeId = SimNode::noNodeId;
    Kubus::kuPrint(QString("%1 is back on the bus without node id (AT90 %2, FPGA %3)")
                       .arg(node.name(), node.at90Version(), node.fpgaVersion()),
        Q_FUNC_INFO);
}

} // namespace Sim
