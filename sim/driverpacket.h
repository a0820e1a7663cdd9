#pragma once

#include <QByteArray>
#include <QString>

namespace Sim {

// One packet a controller connection sent on the device stand-in, decoded and checked: an
// ioctl request (code + argument) or a write record. Anything else is Malformed with a reason,
// so a broken client is logged and dropped instead of taking the simulator down.
class DriverPacket {
public:
    enum Kind { Malformed, Ioctl, WriteRecord };

    static constexpr quint32 ioctlStart = 0x20006200u;
    static constexpr quint32 ioctlNonBlocking = 0x20006203u;
    static constexpr quint32 ioctlConfigure = 0x80046204u;
    static constexpr int writeRecordSize = 13;
    static constexpr int readRecordSize = 16;
    static constexpr int configurationBlockSize = 36;

    // Top bits of the configuration word; the rest is the bit timing.
    static constexpr quint32 formatMask = 0xE0000000u;
    static constexpr quint32 format29Bit = 0xE0000000u;
    static constexpr quint32 format11Bit = 0x60000000u;
    static constexpr quint32 timing125k = 0x7BAC4u;
    static constexpr quint32 timing50k = 0x29958u;

    static DriverPacket decode(const QByteArray& packet);

    // The driver's write record for a frame with a 29-bit identifier (payload up to 8 bytes).
    static QByteArray encodeWriteRecord(quint32 rawIdentifier, const QByteArray& payload);
    // The driver's read record: identifier big-endian at 3-6, length at 7, payload reversed.
    static QByteArray encodeReadRecord(quint32 rawIdentifier, const QByteArray& payload);
    static QByteArray encodeIoctl(quint32 code, const QByteArray& argument);
    static QByteArray configurationBlock(quint32 word);

    // Why a configuration word does not give 125 kbit/s with 29-bit identifiers; empty if it does.
    static QString configurationProblem(quint32 word);

    Kind kind() const { return m_kind; }
    QString reason() const { return m_reason; }
    quint32 ioctlCode() const { return m_code; }
    QByteArray ioctlArgument() const { return m_argument; }
    // The first word of a configuration block.
    quint32 configurationWord() const;
    quint32 identifier() const { return m_identifier; }
    QByteArray payload() const { return m_payload; }

private:
    Kind m_kind = Malformed;
    QString m_reason;
    quint32 m_code = 0;
    QByteArray m_argument;
    quint32 m_identifier = 0;
    QByteArray m_payload;
};

} // namespace Sim
