#include "canbus/servicedata/sendmessage_scm_service_data_wr.h"

#include "canbus/routing/canmessagefactory.h"
#include "kubus/log/kulog.h"

namespace CanBus {

SendMessage_SCM_SERVICE_DATA_WR::SendMessage_SCM_SERVICE_DATA_WR(
    CanMessageFactory& factory, Source source)
    : m_factory(factory)
    , m_source(std::move(source))
{
}

CanMessageT<SCM_SERVICE_DATA_WR> SendMessage_SCM_SERVICE_DATA_WR::build(const Word& word)
{
    CanMessageT<SCM_SERVICE_DATA_WR> frame;
    frame.setServiceDataSelector(word.selector);
    frame.setAddress(word.byteAddress);
    frame.setData(word.data.left(4));
    return frame;
}

void SendMessage_SCM_SERVICE_DATA_WR::sendCanMessage()
{
    const Word word = m_source ? m_source() : Word();
    if (word.byteAddress % 4 != 0)
        Kubus::kuPrint("Error: wrong address: % 4 != 0", Q_FUNC_INFO);
    m_factory.sendMessage(build(word));
}

} // namespace CanBus
