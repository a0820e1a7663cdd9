#pragma once

#include "canbus/frame/canexception.h"
#include "kubus/log/kulog.h"

#include <QByteArray>

#include <limits>

namespace CanBus {

// Unit tags of the 16-bit BCD measured values; they only name what the number is.
struct Power { };
struct Current { };
struct Voltage { };
struct Temperature { };

template <typename UNIT> struct CanBcdType {
    using Unit = UNIT;
    using ValueType = float;
};

// The data bytes of one frame: 0 to 8 bytes, implicitly shared until written.
// Multi-byte numbers are little-endian. Every access outside the payload, and any growth
// beyond 8 bytes, throws CanException UNDEFINED; setters grow the payload up to the last byte
// they write, reads never do.
class CanPayload {
public:
    static constexpr int MaxLength = 8;

    CanPayload() = default;
    // length zero bytes.
    explicit CanPayload(int length);
    explicit CanPayload(const QByteArray& bytes);

    int length() const { return int(m_bytes.size()); }
    bool isEmpty() const { return m_bytes.isEmpty(); }
    // Grows with zero bytes or cuts.
    void resize(int length);
    const QByteArray& toByteArray() const { return m_bytes; }

    unsigned char operator[](int index) const { return at(index); }
    // Write access to an existing byte; it does not grow the payload.
    unsigned char& operator[](int index);

    unsigned char at(int index) const;
    quint16 uint16At(int index) const;
    quint32 uint32At(int index) const;
    bool bitAt(int index, int bit) const { return (at(index) >> bit) & 1u; }

    void setByte(int index, unsigned char value);
    void setUint16(int index, quint16 value);
    void setUint32(int index, quint32 value);
    // Writes bytes from index on.
    void setBytes(int index, const QByteArray& bytes);

    // True when available bytes hold a T; otherwise logs and gives false. Never throws.
    template <typename T> static bool haveEnoughBytes(int available)
    {
        if (available >= int(sizeof(T)))
            return true;
        Kubus::kuPrint("Not enough bytes to create type", Q_FUNC_INFO);
        return false;
    }

    // The 16-bit BCD measured value at index and index + 1 (little-endian).
    template <typename BCD> typename BCD::ValueType convert(unsigned index) const
    {
        return typename BCD::ValueType(decodeBcd(uint16At(int(index))));
    }

    // Word layout: bits 0-11 units, tens, hundreds (BCD), bit 12 thousands, bit 13 sign,
    // bits 14-15 decimal places. Bits 0-11 0xFFF: no value (NaN), 0xAAA: zero, 0xEEE:
    // overflow (+/-9999.9).
    static float decodeBcd(quint16 word);

    friend bool operator==(const CanPayload& a, const CanPayload& b)
    {
        return a.m_bytes == b.m_bytes;
    }
    friend bool operator!=(const CanPayload& a, const CanPayload& b) { return !(a == b); }

private:
    void checkRange(int index, int size) const;
    void growTo(int length);

    QByteArray m_bytes;
};

} // namespace CanBus
