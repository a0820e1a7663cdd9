#pragma once

#include "canbus/engine/bufferedsignaltransition.h"

namespace CanBus {

class CanMessageFactory;

// On its source state's entry: asks the node for the service-data word at address, with the
// command's selector of the moment.
class SendingServiceDataRequest : public BufferedSignalTransition {
    Q_OBJECT

public:
    SendingServiceDataRequest(StateMachine& machine, CanMessageFactory& factory,
        const quint8& selector, QState* source, QAbstractState* target, unsigned address,
        const char* name);

    unsigned address() const { return m_address; }
    const char* name() const { return m_name; }

protected:
    void onTransition(QEvent* event) override;

private:
    CanMessageFactory& m_factory;
    const quint8& m_selector;
    const unsigned m_address;
    const char* const m_name;
};

} // namespace CanBus
