#pragma once

#include "canbus/frame/canmessage.h"

#include <QObject>

namespace CanBus {

// The signal object of one message type in one factory: state-machine transitions that wait
// for frames of that type listen to its canMessage signal. (canmessagetype.h already holds the
// type table, hence the file name.)
class CanMessageType : public QObject {
    Q_OBJECT

public:
    explicit CanMessageType(eCanMessageType type, QObject* parent = nullptr);

    eCanMessageType type() const { return m_type; }
    void canMessageReceived(const CanMessage& message);
    // "2canMessage(CanMessage)": the SIGNAL() text transitions connect to.
    static const char* signalName();

signals:
    void canMessage(const CanMessage& message);

private:
    const eCanMessageType m_type;
};

} // namespace CanBus
