#pragma once

#include "canbus/frame/canexception.h"
#include "canbus/frame/canmessage.h"

#include <QObject>

namespace CanBus {

class CanDevice;

// Does the blocking reads of one device in the thread it lives in.
class CanReader : public QObject {
    Q_OBJECT

public:
    explicit CanReader(CanDevice& device, QObject* parent = nullptr);

public slots:
    // One read: every frame it brings in order, or one error.
    void read();

signals:
    void ackRead(const CanBus::CanMessage& message);
    void readError(const CanBus::CanException& exception);
    // After the frames of a read that succeeded; auto-read queues the next read on it.
    void readDone();

private:
    CanDevice& m_device;
};

} // namespace CanBus
