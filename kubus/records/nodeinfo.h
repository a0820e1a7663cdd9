#pragma once

#include <QMetaType>

namespace Kubus {

// What a node tells about itself when identified: the base of every label record.
class NodeInfo {
public:
    static const char* staticTypeName() { return "Kubus::NodeInfo"; }

    void setPartNumber(unsigned value) { partNumber = value; }
    void setVariant(unsigned value) { variant = value; }
    void setSerialNumber(unsigned value) { serialNumber = value; }

    quint32 partNumber = 0;
    quint32 variant = 0;
    quint32 serialNumber = 0;
};

} // namespace Kubus

Q_DECLARE_METATYPE(Kubus::NodeInfo)
