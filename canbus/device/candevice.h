#pragma once

#include "canbus/frame/canmessage.h"

#include <QVarLengthArray>

namespace CanBus {

// One CAN controller. Faults are thrown as CanException. readMessages is called only from the
// reader thread; writeMessage from the writer thread and, during start-up, from the owner;
// open and close from the owner. Leaves make that safe.
class CanDevice {
public:
    enum eOpenMode { Blocking = 0, NonBlocking = 1 };

    // Frames of one read; most reads bring one or two.
    using CanMessages = QVarLengthArray<CanMessage, 5>;

    CanDevice() = default;
    CanDevice(const CanDevice&) = delete;
    CanDevice& operator=(const CanDevice&) = delete;
    virtual ~CanDevice();

    virtual void open(eOpenMode mode) = 0;
    virtual void close() = 0;
    // True when the device takes a frame.
    virtual bool isReady();
    virtual CanMessages readMessages() = 0;
    virtual void writeMessage(const CanMessage& message) = 0;
};

} // namespace CanBus
