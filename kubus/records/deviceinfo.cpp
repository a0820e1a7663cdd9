#include "kubus/records/deviceinfo.h"

namespace Kubus {

QDebug operator<<(QDebug debug, const DeviceInfo& info)
{
    QDebugStateSaver saver(debug);
    // The text form relies on blanks between items and on the quoted name, whatever the caller set.
    debug.setAutoInsertSpaces(true);
    debug.quote();
    debug << "info.encoding.isBcd"
          << "=" << (info.encoding.isBcd ? "true" : "false") << "\n"
          << "info.deviceName"
          << "=" << info.deviceName << "\n"
          << "info.partNumber()"
          << "=" << info.partNumber << "\n"
          << "info.variant()"
          << "=" << info.variant << "\n"
          << "info.productIndex"
          << "=" << info.productIndex << "\n"
          << "info.serialNumber()"
          << "=" << info.serialNumber << "\n"
          << "info.productionDate"
          << "=" << info.productionDate;
    return debug;
}

} // namespace Kubus
