#pragma once

#include "canbus/engine/bufferedsignaltransition.h"
#include "canbus/frame/canmessaget.h"
#include "canbus/routing/canmessagefactory.h"

#include <QState>

#include <functional>

namespace CanBus {

// Sends one frame of TYPE when its source state is entered: the frame starts from the type's
// defaults and is filled by the prepare callback from the command's current request.
template <eCanMessageType TYPE, class Request>
class SendingRequest : public BufferedSignalTransition {
public:
    using Prepare = std::function<void(CanMessageT<TYPE>&)>;

    SendingRequest(StateMachine& machine, CanMessageFactory& factory, QState* source,
        QAbstractState* target, Prepare prepare = Prepare())
        : BufferedSignalTransition(machine, source, SIGNAL(entered()), target, source)
        , m_factory(factory)
        , m_prepare(std::move(prepare))
    {
    }

protected:
    void onTransition(QEvent* event) override
    {
        if (!isSignalEvent(event))
            return;
        CanMessageT<TYPE> frame;
        if (m_prepare)
            m_prepare(frame);
        m_factory.sendMessage(frame);
    }

private:
    CanMessageFactory& m_factory;
    Prepare m_prepare;
};

} // namespace CanBus
