#include "canbus/device/canconfiguration.h"

#include <QDebug>

namespace CanBus {

CanConfiguration::CanConfiguration(
    eCanBusDeviceNumber deviceNumber, eCanBusSpeed speed, eCanIdFormat idFormat)
    : m_deviceNumber(deviceNumber)
    , m_speed(speed)
    , m_idFormat(idFormat)
{
}

QString CanConfiguration::toString(eCanBusDeviceNumber deviceNumber)
{
    switch (deviceNumber) {
    case MainBoardBus:
        return QStringLiteral("Can bus: 1 - Mainboard");
    case PowerAmplifierBus:
        return QStringLiteral("Can bus: 2 - Power amplifier");
    case LiquidCoolingBus:
        return QStringLiteral("Can bus: 3 - Liquid cooling/Spinner switch");
    }
    return QString();
}

QString CanConfiguration::toString(eCanBusSpeed speed)
{
    switch (speed) {
    case Speed50kbit:
        return QStringLiteral("50 kbit/sec");
    case Speed125kbit:
        return QStringLiteral("125 kbit/sec");
    }
    return QString();
}

QString CanConfiguration::toString(eCanIdFormat idFormat)
{
    switch (idFormat) {
    case Standard11Bit:
        return QStringLiteral("Standard - 11Bit");
    case Extended29Bit:
        return QStringLiteral("Extended - 29Bit");
    }
    return QString();
}

QString CanConfiguration::toString() const
{
    // The continuation lines line up under the text after "CanConfiguration: ".
    const QString indent(18, QLatin1Char(' '));
    return QLatin1String("CanConfiguration: Device: ") + toString(m_deviceNumber)
        + QLatin1Char('\n') + indent + QLatin1String("Speed:  ") + toString(m_speed)
        + QLatin1Char('\n') + indent + QLatin1String("Format: ") + toString(m_idFormat);
}

bool CanConfiguration::operator==(const CanConfiguration& other) const
{
    return m_deviceNumber == other.m_deviceNumber && m_speed == other.m_speed
        && m_idFormat == other.m_idFormat;
}

QDebug operator<<(QDebug debug, const CanConfiguration& configuration)
{
    QDebugStateSaver saver(debug);
    debug.noquote().nospace() << configuration.toString();
    return debug;
}

} // namespace CanBus
