#pragma once

#include "canbus/frame/canexception.h"
#include "canbus/frame/canmessage.h"

#include <QObject>

namespace CanBus {

class CanDevice;

// Does the writes of one device in the thread it lives in.
class CanWriter : public QObject {
    Q_OBJECT

public:
    explicit CanWriter(CanDevice& device, QObject* parent = nullptr);

public slots:
    void write(const CanBus::CanMessage& message);

signals:
    void ackWrite();
    void writeError(const CanBus::CanException& exception);

private:
    CanDevice& m_device;
};

} // namespace CanBus
