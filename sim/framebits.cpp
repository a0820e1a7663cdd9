#include "sim/framebits.h"

namespace Sim {

namespace {

void appendBits(QVector<bool>& bits, quint32 value, int width)
{
    for (int i = width - 1; i >= 0; --i)
        bits.append(((value >> i) & 1u) != 0);
}

// SOF through the data field: 1 + 11 + 1 + 1 + 18 + 1 + 1 + 1 + 4 + 8n bits.
constexpr int headerBits = 39;
constexpr int crcBits = 15;

} // namespace

QVector<bool> FrameBits::stuffedRegion(quint32 rawIdentifier, const QByteArray& payload)
{
    const int length = qMin(payload.size(), 8);
    QVector<bool> bits;
    bits.reserve(headerBits + 8 * length + crcBits);
    bits.append(false); // SOF
    appendBits(bits, (rawIdentifier >> 18) & 0x7FFu, 11);
    bits.append(true); // SRR
    bits.append(true); // IDE: extended format
    appendBits(bits, rawIdentifier & 0x3FFFFu, 18);
    bits.append(false); // RTR: data frame
    bits.append(false); // r1
    bits.append(false); // r0
    appendBits(bits, quint32(length), 4);
    for (int i = 0; i < length; ++i)
        appendBits(bits, quint8(payload.at(i)), 8);
    appendBits(bits, crc15(bits), crcBits);
    return bits;
}

quint16 FrameBits::crc15(const QVector<bool>& bits)
{
    quint16 crc = 0;
    for (bool bit : bits) {
        const bool next = bit ^ (((crc >> 14) & 1u) != 0);
        crc = quint16((crc << 1) & 0x7FFFu);
        if (next)
            crc ^= 0x4599u;
    }
    return crc;
}

quint16 FrameBits::crc15(const QByteArray& bytes)
{
    QVector<bool> bits;
    for (char c : bytes)
        appendBits(bits, quint8(c), 8);
    return crc15(bits);
}

int FrameBits::stuffBitCount(const QVector<bool>& bits)
{
    int stuffed = 0;
    int run = 0;
    bool last = false;
    for (bool bit : bits) {
        if (run > 0 && bit == last) {
            ++run;
        } else {
            last = bit;
            run = 1;
        }
        if (run == 5) {
            ++stuffed;
            last = !last;
            run = 1;
        }
    }
    return stuffed;
}

int FrameBits::frameBitLength(quint32 rawIdentifier, const QByteArray& payload)
{
    const QVector<bool> region = stuffedRegion(rawIdentifier, payload);
    return region.size() + stuffBitCount(region) + trailerBits;
}

int FrameBits::minimumBitLength(int payloadLength)
{
    return headerBits + 8 * payloadLength + crcBits + trailerBits;
}

int FrameBits::maximumBitLength(int payloadLength)
{
    const int region = headerBits + 8 * payloadLength + crcBits;
    return region + trailerBits + (region - 1) / 4;
}

} // namespace Sim
