#include "canbus/commands/paramconvert.h"

#include "kubus/log/kulog.h"

#include <cmath>

namespace Common {

namespace {

const char* const origin
    = "static UINT16 Common::ParamConvert::convertFloatTo3And1FourthBcd(float)";

} // namespace

UINT16 ParamConvert::convertFloatTo3And1FourthBcd(float value)
{
    const UINT16 sign = value < 0 ? 0x2000 : 0;
    if (std::isnan(value))
        return 0xFFFF;
    const float a = std::fabs(value);
    if (a >= 2000.0f)
        return sign | 0x0EEE;
    if (a < 0.001f)
        return sign | 0x0AAA;

    // The bounds compare in double, the scaled product is a float: the rounding of the values
    // that lie on a bound depends on both.
    UINT16 scale = 0;
    double n = 0;
    if (a + 0.0005 >= 0.001 && a + 0.0005 < 2.0) {
        scale = 0xC000;
        n = std::floor(double(a * 1000.0f) + 0.5);
    } else if (a + 0.005 >= 2.0 && a + 0.005 < 20.0) {
        scale = 0x8000;
        n = std::floor(double(a * 100.0f) + 0.5);
    } else if (a + 0.05 >= 20.0 && a + 0.05 < 200.0) {
        scale = 0x4000;
        n = std::floor(double(a * 10.0f) + 0.5);
    } else if (a + 0.5 >= 200.0 && a + 0.5 < 2000.0) {
        n = std::floor(double(a) + 0.5);
    } else {
        Kubus::kuPrint("ValueConverter::convertFloatTo3And1FourthBcd: should never shown", origin);
        return 0xFFFF;
    }
    const unsigned digits = unsigned(n);
    const unsigned thousands = digits / 1000;
    if (thousands > 1) {
        Kubus::kuPrint("ValueConverter::convertFloatTo3And1FourthBcd: parsing error", origin);
        return 0xFFFF;
    }
    const unsigned bcd = (thousands << 12) | (((digits / 100) % 10) << 8)
        | (((digits / 10) % 10) << 4) | (digits % 10);
    return UINT16(scale | sign | bcd);
}

} // namespace Common
