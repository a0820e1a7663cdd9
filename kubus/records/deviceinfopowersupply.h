#pragma once

#include "kubus/records/deviceinfoversion.h"

namespace Kubus {

// The label of a power amplifier's power supply; a type of its own so requests can name it.
class DeviceInfoPowerSupply : public DeviceInfoVersion {
public:
    static const char* staticTypeName() { return "Kubus::DeviceInfoPowerSupply"; }
};

} // namespace Kubus

Q_DECLARE_METATYPE(Kubus::DeviceInfoPowerSupply)
