#include "canbus/servicedata/sendingservicedatarequest.h"

#include "canbus/frame/canmessaget.h"
#include "canbus/routing/canmessagefactory.h"

#include <QState>

namespace CanBus {

SendingServiceDataRequest::SendingServiceDataRequest(StateMachine& machine,
    CanMessageFactory& factory, const quint8& selector, QState* source, QAbstractState* target,
    unsigned address, const char* name)
    : BufferedSignalTransition(machine, source, SIGNAL(entered()), target, source)
    , m_factory(factory)
    , m_selector(selector)
    , m_address(address)
    , m_name(name)
{
}

void SendingServiceDataRequest::onTransition(QEvent* event)
{
    if (!isSignalEvent(event))
        return;
    CanMessageT<SCM_SERVICE_DATA_RD> request;
    request.setServiceDataSelector(m_selector);
    request.setAddress(m_address);
    m_factory.sendMessage(request);
}

} // namespace CanBus
