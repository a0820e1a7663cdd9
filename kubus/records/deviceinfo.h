#pragma once

#include "kubus/records/nodeinfo.h"

#include <QDate>
#include <QDebug>
#include <QString>

namespace Kubus {

// A node's electronic label as far as every kind of board has it.
class DeviceInfo : public NodeInfo {
public:
    static const char* staticTypeName() { return "Kubus::DeviceInfo"; }

    struct Encoding {
        bool isBcd = false; // the label's numbers were BCD-coded
    };

    void setDeviceName(const QString& value) { deviceName = value; }
    void setProductIndex(int value) { productIndex = value; }
    void setEncoding(Encoding value) { encoding = value; }
    void setProductionDate(const QDate& value) { productionDate = value; }

    QString deviceName;
    int productIndex = 0;
    Encoding encoding;
    QDate productionDate;
};

QDebug operator<<(QDebug debug, const DeviceInfo& info);

} // namespace Kubus

Q_DECLARE_METATYPE(Kubus::DeviceInfo)
