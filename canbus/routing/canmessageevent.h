#pragma once

#include "canbus/frame/canmessage.h"

#include <QEvent>

namespace CanBus {

// A state-machine event carrying one frame; its type is the first user event type plus the
// frame's message type code, so a transition can select the type by the event type alone.
class CanMessageEvent : public QEvent {
public:
    static constexpr int BaseType = QEvent::User; // 1000

    explicit CanMessageEvent(const CanMessage& message)
        : QEvent(eventType(message.messageType()))
        , m_message(message)
    {
    }

    static QEvent::Type eventType(eCanMessageType type)
    {
        return QEvent::Type(BaseType + int(type));
    }

    const CanMessage& message() const { return m_message; }

private:
    CanMessage m_message;
};

} // namespace CanBus
