#pragma once

#include "kubus/records/nodeid.h"
#include "kubus/records/nodeinfo.h"

#include <QDebug>
#include <QString>

namespace Kubus {

// Identify frames carry only the low 16 bits of a part number; every part number up to 0xF49F
// is one of ours in the 0x3300000 range, so that range is put back for display.
quint32 estimatedPartNumber(unsigned partNumber);

// The identity of one CAN node, the unit of all node lists, plus the identification
// bookkeeping the identify module keeps per node.
class CanDeviceInfo : public NodeInfo, public NodeId {
public:
    static const char* staticTypeName() { return "Kubus::CanDeviceInfo"; }

    quint32 estimatedPartNumber() const { return Kubus::estimatedPartNumber(partNumber); }
    // "nodeId, (part.variant.serial)" for log lines.
    QString toString() const;

    int missLimit = 0; // cycles without answer before the node counts as missing
    int missCounter = 0; // cycles without answer so far
    bool at90FirmwareValid = false;
    bool fpgaFirmwareValid = false;
};

QDebug operator<<(QDebug debug, const CanDeviceInfo& info);

} // namespace Kubus

Q_DECLARE_METATYPE(Kubus::CanDeviceInfo)
