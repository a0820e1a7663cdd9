#include "canbus/device/canreader.h"

#include "canbus/device/candevice.h"
#include "kubus/log/kulog.h"

namespace CanBus {

CanReader::CanReader(CanDevice& device, QObject* parent)
    : QObject(parent)
    , m_device(device)
{
}

void CanReader::read()
{
    CanDevice::CanMessages messages;
    try {
        messages = m_device.readMessages();
    } catch (const CanException& exception) {
        // A read ended by closing the device is the normal way to stop, not a fault.
        if (exception.code() != CanException::DEVICE_NOT_OPEN)
            Kubus::kuPrint(QString("Error when reading CAN messages: %1").arg(exception.toString()),
                Q_FUNC_INFO);
        emit readError(exception);
        return;
    }
    for (const CanMessage& message : messages)
        emit ackRead(message);
    emit readDone();
}

} // namespace CanBus
