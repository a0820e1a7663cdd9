#pragma once

#include <QString>

class QDebug;

namespace CanBus {

// Which controller, at which bit rate, with which identifier format. A plain value.
class CanConfiguration {
public:
    enum eCanBusDeviceNumber { MainBoardBus = 0, PowerAmplifierBus = 1, LiquidCoolingBus = 2 };
    // The value is the bit rate in kbit/s.
    enum eCanBusSpeed { Speed50kbit = 50, Speed125kbit = 125 };
    // The value is the identifier width in bits.
    enum eCanIdFormat { Standard11Bit = 11, Extended29Bit = 29 };

    CanConfiguration(eCanBusDeviceNumber deviceNumber = MainBoardBus,
        eCanBusSpeed speed = Speed125kbit, eCanIdFormat idFormat = Extended29Bit);

    eCanBusDeviceNumber deviceNumber() const { return m_deviceNumber; }
    eCanBusSpeed speed() const { return m_speed; }
    eCanIdFormat idFormat() const { return m_idFormat; }

    static QString toString(eCanBusDeviceNumber deviceNumber);
    static QString toString(eCanBusSpeed speed);
    static QString toString(eCanIdFormat idFormat);

    // The three-line text form, as in the debug stream.
    QString toString() const;

    bool operator==(const CanConfiguration& other) const;
    bool operator!=(const CanConfiguration& other) const { return !(*this == other); }

private:
    eCanBusDeviceNumber m_deviceNumber;
    eCanBusSpeed m_speed;
    eCanIdFormat m_idFormat;
};

QDebug operator<<(QDebug debug, const CanConfiguration& configuration);

} // namespace CanBus
