#pragma once

#include <QByteArray>
#include <QVector>

namespace Sim {

// Bit-exact length of one extended CAN data frame on the wire, so that the bus model can give
// every frame the time it really takes: stuff bits depend on the frame's contents, including
// its CRC, so they are computed from the actual bits rather than estimated.
class FrameBits {
public:
    // 125 kbit/s: every bit lasts 8 microseconds.
    static constexpr qint64 bitTimeUs = 8;
    // CRC delimiter, ACK slot, ACK delimiter, 7 bits end of frame, 3 bits interframe space.
    static constexpr int trailerBits = 13;

    // SOF up to the last CRC bit, unstuffed, for a 29-bit identifier and up to 8 payload bytes.
    static QVector<bool> stuffedRegion(quint32 rawIdentifier, const QByteArray& payload);

    // CAN CRC-15 (polynomial 0x4599, initial value 0) over a bit sequence.
    static quint16 crc15(const QVector<bool>& bits);
    static quint16 crc15(const QByteArray& bytes);

    // Stuff bits a transmitter inserts into the given bit sequence: one after every run of
    // five equal bits, the stuff bit itself starting the next run.
    static int stuffBitCount(const QVector<bool>& bits);

    // Whole frame on the bus including stuff bits and the interframe space.
    static int frameBitLength(quint32 rawIdentifier, const QByteArray& payload);
    static qint64 frameDurationUs(quint32 rawIdentifier, const QByteArray& payload)
    {
        return frameBitLength(rawIdentifier, payload) * bitTimeUs;
    }

    // Bounds for any frame with this payload length (no stuffing / worst-case stuffing).
    static int minimumBitLength(int payloadLength);
    static int maximumBitLength(int payloadLength);
};

} // namespace Sim
