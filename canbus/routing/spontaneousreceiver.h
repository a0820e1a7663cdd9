#pragma once

#include "canbus/frame/canmessage.h"

#include <QObject>

namespace CanBus {

// Base of the handlers of frames that nodes send on their own.
class SpontaneousReceiver : public QObject {
    Q_OBJECT

public:
    explicit SpontaneousReceiver(QObject* parent = nullptr);

public slots:
    void receive(const CanBus::CanMessage& message);

protected:
    virtual void handleCanMessage(const CanMessage& message) = 0;
};

} // namespace CanBus
