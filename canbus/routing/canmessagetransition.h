#pragma once

#include "canbus/routing/canmessageevent.h"

#include <QAbstractTransition>

namespace CanBus {

// Fires on a posted CanMessageEvent of TYPE.
template <eCanMessageType TYPE> class CanMessageTransition : public QAbstractTransition {
public:
    explicit CanMessageTransition(QState* source = nullptr)
        : QAbstractTransition(source)
    {
    }

protected:
    bool eventTest(QEvent* event) override
    {
        return event && event->type() == CanMessageEvent::eventType(TYPE);
    }
    void onTransition(QEvent*) override { }
};

} // namespace CanBus
