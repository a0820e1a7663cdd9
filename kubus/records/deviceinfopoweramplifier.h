#pragma once

#include "kubus/records/deviceinfo.h"

namespace Kubus {

// The label of a power amplifier module: no versions, but its operating counters.
class DeviceInfoPowerAmplifier : public DeviceInfo {
public:
    static const char* staticTypeName() { return "Kubus::DeviceInfoPowerAmplifier"; }

    void setPowerUpCycles(int value) { powerUpCycles = value; }
    void setHours(int value) { hours = value; }

    int powerUpCycles = 0;
    int hours = 0;
};

} // namespace Kubus

Q_DECLARE_METATYPE(Kubus::DeviceInfoPowerAmplifier)
