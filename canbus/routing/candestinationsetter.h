#pragma once

#include "canbus/frame/canidentifier.h"
#include "canbus/frame/canmessage.h"

#include <QObject>

namespace CanBus {

// Stamps every outgoing frame of a bus with the bus's destination device class.
class CanDestinationSetter : public QObject {
    Q_OBJECT

public:
    explicit CanDestinationSetter(
        CanIdentifier::eDestination destination, QObject* parent = nullptr);

    CanIdentifier::eDestination destination() const { return m_destination; }

public slots:
    void inMessage(const CanBus::CanMessage& message);

signals:
    void outMessage(const CanBus::CanMessage& message);

private:
    const CanIdentifier::eDestination m_destination;
};

} // namespace CanBus
