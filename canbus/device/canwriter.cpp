#include "canbus/device/canwriter.h"

#include "canbus/device/candevice.h"
#include "kubus/log/kulog.h"

namespace CanBus {

CanWriter::CanWriter(CanDevice& device, QObject* parent)
    : QObject(parent)
    , m_device(device)
{
}

void CanWriter::write(const CanMessage& message)
{
    try {
        m_device.writeMessage(message);
    } catch (const CanException& exception) {
        if (exception.code() != CanException::DEVICE_NOT_OPEN)
            Kubus::kuPrint(QString("Error when writing CAN message: %1").arg(exception.toString()),
                Q_FUNC_INFO);
        emit writeError(exception);
        return;
    }
    emit ackWrite();
}

} // namespace CanBus
