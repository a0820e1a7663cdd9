#pragma once

namespace CanBus {
class CanIdentifier;
}

// The hardware reset lines of the two node buses. A line bit at 0 holds every node of that bus
// in reset; resetLine() pulses one line low for about two sleep units.
class DeviceResetLine {
public:
    DeviceResetLine();

    // Sleeps n sleep units.
    void sleepFactor(int n);

    // Bit 0: mainboard line released, bit 1: power-amplifier line released, bit 2: the
    // controller's write-sequence bit. False when "/dev/uio0" cannot be opened.
    bool resetControl(unsigned bits);

    // Pulses the line of the bus selected by the destination code: 0 mainboards,
    // 6 power amplifiers; any other value only leaves both lines released.
    void resetLine(const CanBus::CanIdentifier& id);
    void resetLine(unsigned rawValue);

private:
    int sleepUnitMs;
};
