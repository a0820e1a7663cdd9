#pragma once

#include "kubus/records/deviceinfo.h"

namespace Kubus {

// A label that also names the node's software bundle and firmware versions.
class DeviceInfoVersion : public DeviceInfo {
public:
    static const char* staticTypeName() { return "Kubus::DeviceInfoVersion"; }

    void setSwBundlePartNumber(int value) { swBundlePartNumber = value; }
    void setSwBundleVersion(const QString& value) { swBundleVersion = value; }
    void setDeviceFwVersion(const QString& value) { deviceFwVersion = value; }
    void setDeviceSwVersion(const QString& value) { deviceSwVersion = value; }

    int swBundlePartNumber = 0;
    QString swBundleVersion;
    QString deviceFwVersion; // FPGA version
    QString deviceSwVersion; // AT90 version
};

} // namespace Kubus

Q_DECLARE_METATYPE(Kubus::DeviceInfoVersion)
