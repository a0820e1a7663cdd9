#include "canbus/nodes/ping.h"

namespace CanBus {

Ping::Ping(CanNodeEngine& engine, QObject* parent)
    : TimedReplyCommand(
        engine, [this](CanMessageT<SCM_IDENTIFY>& frame) { buildPing(frame); }, parent)
{
}

void Ping::setCurrentRequest(const Kubus::Ping& request)
{
    m_alive = false;
    m_nodeId = quint8(request.nodeId & 0xFF);
}

void Ping::buildPing(CanMessageT<SCM_IDENTIFY>& frame) const
{
    frame.setNodeId(CanIdentifier::BroadcastNodeId);
    frame.setScmPartNumber(quint16(91204400u & 0xFFFF));
    frame.setScmVariantNumber(1);
    frame.setScmSerialNumber(4711);
    frame.setNodeId(m_nodeId);
}

void Ping::dataWritten()
{
    m_response.alive = m_alive;
    StateMachineCommand<Kubus::Ping>::dataWritten();
}

void Ping::incomingMessage(const Kubus::Ping& request)
{
    queueRequest(request);
}

} // namespace CanBus
