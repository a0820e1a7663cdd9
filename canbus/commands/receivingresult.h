#pragma once

#include "canbus/engine/bufferedsignaltransition.h"
#include "canbus/frame/canmessaget.h"
#include "canbus/routing/canmessagefactory.h"

#include <QState>

#include <functional>

namespace CanBus {

// Fires on any frame of TYPE from the node (frames are routed per node id) and hands it to the
// optional result callback.
template <eCanMessageType TYPE, class Request>
class ReceivingResult : public BufferedSignalTransition {
public:
    using Result = std::function<void(CanMessageT<TYPE>&)>;

    ReceivingResult(StateMachine& machine, CanMessageFactory& factory, QState* source,
        QAbstractState* target, Result result = Result())
        : BufferedSignalTransition(
            machine, factory.signalObject<TYPE>(), CanMessageType::signalName(), target, source)
        , m_result(std::move(result))
    {
    }

protected:
    void onTransition(QEvent* event) override
    {
        CanMessage message;
        if (!canMessageArgument(event, &message))
            return;
        CanMessageT<TYPE> frame(message);
        if (m_result)
            m_result(frame);
    }

private:
    Result m_result;
};

} // namespace CanBus
