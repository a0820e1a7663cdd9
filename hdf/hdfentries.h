#pragma once

#include "hdf/datetime.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The values one description file yields: one plain entry type per component, each with the
// line its record ended on. They carry no behaviour; HdfFileParser fills and checks them.
namespace HdfParser {

using RfPathList = std::vector<std::uint8_t>;

struct NumericVersion {
    std::uint8_t major = 0;
    std::uint8_t minor = 0;
};

// The mainboard position that controls a module.
struct Board {
    std::uint8_t rack = 0;
    std::uint8_t unit = 0;
    friend bool operator==(const Board& a, const Board& b)
    {
        return a.rack == b.rack && a.unit == b.unit;
    }
};

struct HdfInfo {
    Base::DateTime fileDate;
    std::string fileDateText;
    std::string syntaxVersion;
    std::string createdBy;
    NumericVersion syntaxVersionNumerical;
};

struct OrderInfo {
    std::string orderNumber;
    std::string orderVersion;
};

struct LiquidCooling {
    std::string type;
};

struct BaseUnit {
    std::string type;
    std::uint8_t rack = 0;
    std::uint8_t unit = 0;
    bool mmi = false;
};

struct InputSwitch7_1 {
    std::string type;
    std::uint8_t rack = 0;
    std::uint8_t unit = 0;
    std::array<RfPathList, 7> outputs;
    unsigned line = 0;
};

enum class CoolingKind : std::uint8_t { Air = 0, LiquidInternal = 1, LiquidCustom = 2, Other = 3 };

struct RfPathCooling {
    std::uint8_t rfPath = 0;
    CoolingKind cooling = CoolingKind::Other;
    std::uint8_t output = 0;
    unsigned line = 0;
};

struct PreAmp {
    std::string type;
    std::uint8_t rack = 0;
    std::uint8_t unit = 0;
    std::uint8_t position = 0;
    RfPathList rfPaths;
    bool slave = false;
    unsigned line = 0;
};

struct Amp {
    std::string type;
    std::uint8_t rack = 0;
    std::uint8_t unit = 0;
    std::uint8_t position = 0;
    RfPathList rfPaths;
    unsigned line = 0;
};

struct MilmegaAmp {
    std::string type;
    std::string ip;
    std::string port;
    RfPathList rfPaths;
    unsigned line = 0;
};

struct ExtAmp {
    RfPathList rfPaths;
    unsigned line = 0;
};

struct MeasurementCoupler {
    std::string type;
    std::uint8_t rack = 0;
    std::uint8_t unit = 0;
    std::uint8_t port = 0;
    RfPathList rfPaths;
    unsigned line = 0;
};

struct MeasurementCouplerCable {
    std::uint8_t rack = 0;
    std::uint8_t unit = 0;
    std::uint8_t port = 0;
    RfPathList rfPaths;
    unsigned line = 0;
};

enum class SampleMode : std::uint8_t { Parallel = 0, Sequential = 1, Other = 2 };

struct RfSamplePortSwitch {
    std::string type;
    std::uint8_t rack = 0;
    std::uint8_t unit = 0;
    std::array<RfPathList, 4> inputs;
    SampleMode mode = SampleMode::Other;
    bool explicitPortSelectionAllowed = true;
    unsigned line = 0;
};

struct OutputSwitchRadiall2_1 {
    std::string type;
    std::uint8_t rack = 0;
    std::uint8_t unit = 0;
    std::uint8_t port = 0;
    std::array<RfPathList, 2> inputs;
    unsigned line = 0;
};

struct OutputSwitchRadiall1_2 {
    std::string type;
    std::uint8_t rack = 0;
    std::uint8_t unit = 0;
    std::uint8_t port = 0;
    std::array<RfPathList, 2> outputs;
    unsigned line = 0;
};

struct OutputSwitchSpinner {
    std::string type;
    unsigned line = 0;
};

// An air-cooler fan of a unit, on connector "X520" or "X521".
struct UnitFan {
    std::uint8_t rack = 0;
    std::uint8_t unit = 0;
    std::string port;
    unsigned line = 0;
};

struct Option {
    bool directMute = false;
    bool afrc = false;
    bool defined = false;
};

} // namespace HdfParser
