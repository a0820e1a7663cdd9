#pragma once

#include "canbus/engine/bufferedsignaltransition.h"

namespace CanBus {

// Fires on its signal and has the sender object build and send its frame. SENDER is one of the
// SendMessage_* classes: anything with sendCanMessage(); the caller keeps it alive.
template <class SENDER> class SendMessageTransition : public BufferedSignalTransition {
public:
    SendMessageTransition(StateMachine& machine, const QObject* signalSender, const char* signal,
        SENDER& sender, QAbstractState* target, QState* source = nullptr)
        : BufferedSignalTransition(machine, signalSender, signal, target, source)
        , m_sender(sender)
    {
    }

    SENDER& sender() const { return m_sender; }

protected:
    void onTransition(QEvent*) override { m_sender.sendCanMessage(); }

private:
    SENDER& m_sender;
};

} // namespace CanBus
