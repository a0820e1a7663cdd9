#pragma once

#include <QtGlobal>

typedef quint16 UINT16;

namespace Common {

// The 16-bit BCD parameter format of the amplifier values: bits 15-14 decimal places (0-3),
// bit 13 sign, bit 12 thousands digit (0 or 1), bits 11-0 hundreds, tens and units. Bits 0-11
// 0xFFF mean no value, 0xAAA zero (below 0.001), 0xEEE overflow. Read back with
// CanPayload::convert<CanBcdType<X>>.
class ParamConvert {
public:
    // Rounds to the most decimals that fit; 0xFFFF (with a log line) for what cannot be coded.
    static UINT16 convertFloatTo3And1FourthBcd(float value);
};

} // namespace Common
