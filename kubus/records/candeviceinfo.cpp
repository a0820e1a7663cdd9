#include "kubus/records/candeviceinfo.h"

namespace Kubus {

quint32 estimatedPartNumber(unsigned partNumber)
{
    if (partNumber <= 0xF49F)
        return partNumber | 0x3300000;
    return partNumber;
}

QString CanDeviceInfo::toString() const
{
    return QString::fromLatin1("%1, (%2.%3.%4)")
        .arg(nodeId)
        .arg(estimatedPartNumber())
        .arg(variant)
        .arg(serialNumber);
}

QDebug operator<<(QDebug debug, const CanDeviceInfo& info)
{
    QDebugStateSaver saver(debug);
    debug.setAutoInsertSpaces(true);
    debug << "\n"
          << "info.nodeId"
          << "=" << info.nodeId << "\n"
          << "info.estimatedPartNumber()"
          << "=" << info.estimatedPartNumber() << "\n"
          << "info.variant()"
          << "=" << info.variant << "\n"
          << "info.serialNumber()"
          << "=" << info.serialNumber << "\n";
    return debug;
}

} // namespace Kubus
