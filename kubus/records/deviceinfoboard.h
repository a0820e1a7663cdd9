#pragma once

#include "kubus/records/deviceinfoversion.h"

namespace Kubus {

// The label of a mainboard, with its operating counters.
class DeviceInfoBoard : public DeviceInfoVersion {
public:
    static const char* staticTypeName() { return "Kubus::DeviceInfoBoard"; }

    void setType(int value) { type = value; }
    void setHardwareCode(int value) { hardwareCode = value; }
    void setPowerUpCycles(int value) { powerUpCycles = value; }
    void setHours(int value) { hours = value; }
    void setCheck(int value) { check = value; }
    void setReadCode(int value) { readCode = value; }

    int type = 0;
    int hardwareCode = 0;
    int powerUpCycles = 0;
    int hours = 0;
    int check = 0;
    int readCode = 0;
};

QDebug operator<<(QDebug debug, const DeviceInfoBoard& info);

} // namespace Kubus

Q_DECLARE_METATYPE(Kubus::DeviceInfoBoard)
