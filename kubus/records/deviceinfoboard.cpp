#include "kubus/records/deviceinfoboard.h"

namespace Kubus {

QDebug operator<<(QDebug debug, const DeviceInfoBoard& info)
{
    QDebugStateSaver saver(debug);
    debug.setAutoInsertSpaces(true);
    debug.quote();
    debug << static_cast<const DeviceInfo&>(info) << "\n"
          << "info.type"
          << "=" << info.type << "\n"
          << "info.hardwareCode"
          << "=" << info.hardwareCode << "\n"
          << "info.swBundlePartNumber"
          << "=" << info.swBundlePartNumber << "\n"
          << "info.swBundleVersion"
          << "=" << info.swBundleVersion << "\n"
          << "info.deviceFwVersion"
          << "=" << info.deviceFwVersion << "\n"
          << "info.deviceSwVersion"
          << "=" << info.deviceSwVersion << "\n"
          << "info.powerUpCycles"
          << "=" << info.powerUpCycles << "\n"
          << "info.check"
          << "=" << info.check << "\n"
          << "info.readCode"
          << "=" << info.readCode << "\n"
          << "info.hours"
          << "=" << info.hours;
    return debug;
}

} // namespace Kubus
