#include "canbus/servicedata/receivingservicedata.h"

#include "canbus/frame/canmessaget.h"
#include "canbus/routing/canmessagefactory.h"

#include <QState>

namespace CanBus {

ReceivingServiceData::ReceivingServiceData(StateMachine& machine, CanMessageFactory& factory,
    const quint8& selector, QByteArray& buffer, QState* source, QAbstractState* target,
    unsigned address, int skip)
    : BufferedSignalTransition(machine, factory.signalObject<SCM_SERVICE_DATA_RD>(),
        CanMessageType::signalName(), target, source)
    , m_selector(selector)
    , m_buffer(buffer)
    , m_wordAddress(address & ~3u)
    , m_skip(skip)
{
}

bool ReceivingServiceData::eventTest(QEvent* event)
{
    if (!QSignalTransition::eventTest(event))
        return false;
    CanMessage message;
    if (!canMessageArgument(event, &message))
        return false;
    // Too short to name its word: not an answer to anything.
    if (message.length() < 3)
        return false;
    const CanMessageT<SCM_SERVICE_DATA_RD> answer(message);
    return answer.address() == m_wordAddress && answer.serviceDataSelector() == m_selector;
}

void ReceivingServiceData::onTransition(QEvent* event)
{
    CanMessage message;
    if (!canMessageArgument(event, &message))
        return;
    m_buffer.append(message.bytes().mid(3).left(4).mid(m_skip));
}

} // namespace CanBus
