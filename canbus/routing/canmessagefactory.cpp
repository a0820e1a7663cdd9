#include "canbus/routing/canmessagefactory.h"

#include <QThread>

namespace CanBus {

CanMessageFactory::CanMessageFactory(unsigned nodeId, QObject* parent)
    : QObject(parent)
    , m_nodeId(nodeId)
{
    for (const CanMessageTypeInfo& info : canMessageTypes())
        addCommand(info.type, new CanMessageType(info.type));
}

void CanMessageFactory::addCommand(eCanMessageType type, CanMessageType* signalObject)
{
    Entry& entry = m_entries[unsigned(type)];
    if (entry.signalObject && entry.signalObject != signalObject)
        entry.signalObject->deleteLater();
    entry.identifier = CanIdentifier(type, 0);
    entry.signalObject = signalObject;
    if (signalObject)
        signalObject->setParent(this);
}

CanMessageType* CanMessageFactory::signalObject(eCanMessageType type) const
{
    const auto it = m_entries.constFind(unsigned(type));
    return it == m_entries.constEnd() ? nullptr : it->signalObject;
}

CanMessageType* CanMessageFactory::findSignalObject(const CanMessage& message) const
{
    return signalObject(message.messageType());
}

void CanMessageFactory::interpretIncomingCanMessage(const CanMessage& message)
{
    // A command sends its frame while the machine makes a step and starts listening for the
    // answer at the end of that step. Emitted in the I/O thread, a fast answer could fall into
    // that gap and be lost; emitted in the node's own thread it comes after the step, always.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, message] { interpretIncomingCanMessage(message); }, Qt::QueuedConnection);
        return;
    }
    if (CanMessageType* object = findSignalObject(message))
        object->canMessageReceived(message);
    else
        emit unknownMessage();
}

void CanMessageFactory::sendMessage(CanMessage message)
{
    if (message.nodeId() < CanIdentifier::BroadcastNodeId)
        message.setNodeId(m_nodeId);
    emit writeMessage(message);
}

QString CanMessageFactory::messageDescription(eCanMessageType type)
{
    // The type table is built once and shared by all threads.
    return canMessageTypeName(unsigned(type));
}

} // namespace CanBus
