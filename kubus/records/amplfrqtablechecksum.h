#pragma once

#include <QDebug>
#include <QMetaType>

namespace Kubus {

// The checksum word of a mainboard's amplitude-frequency table, read without the table.
class AmplFrqTableCheckSum {
public:
    static const char* staticTypeName() { return "Kubus::AmplFrqTableCheckSum"; }

    void setCheckSum(unsigned value) { checkSum = value; }

    quint32 checkSum = 0;
};

QDebug operator<<(QDebug debug, const AmplFrqTableCheckSum& sum);

} // namespace Kubus

Q_DECLARE_METATYPE(Kubus::AmplFrqTableCheckSum)
