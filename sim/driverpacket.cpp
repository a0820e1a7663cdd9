#include "sim/driverpacket.h"

#include <QStringList>
#include <QtEndian>

namespace Sim {

namespace {

QString hexOf(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace

DriverPacket DriverPacket::decode(const QByteArray& packet)
{
    DriverPacket result;
    const int size = packet.size();
    auto fail = [&](const QString& why) {
        result.m_kind = Malformed;
        result.m_reason = why;
        return result;
    };

    if (size == writeRecordSize) {
        const auto* p = reinterpret_cast<const uchar*>(packet.constData());
        const int length = p[0];
        if (length > 8)
            return fail(QString("write record with payload length %1").arg(length));
        const quint32 id = qFromBigEndian<quint32>(p + 1);
        if (id > 0x1FFFFFFFu)
            return fail(QString("write record with identifier %1 beyond 29 bits")
                            .arg(id, 8, 16, QLatin1Char('0')));
        // Each four-byte group carries its payload bytes in reverse order.
        QByteArray data(8, '\0');
        for (int i = 0; i < 4; ++i) {
            data[i] = char(p[8 - i]);
            data[4 + i] = char(p[12 - i]);
        }
        result.m_kind = WriteRecord;
        result.m_identifier = id;
        result.m_payload = data.left(length);
        return result;
    }

    if (size < 4)
        return fail(QString("packet of %1 bytes: %2").arg(size).arg(hexOf(packet)));

    const quint32 code = qFromLittleEndian<quint32>(packet.constData());
    const QByteArray argument = packet.mid(4);
    const bool shortArgument = code == ioctlStart || code == ioctlNonBlocking;
    if (shortArgument || code == ioctlConfigure) {
        const int expected = shortArgument ? 4 : configurationBlockSize;
        if (argument.size() != expected)
            return fail(QString("ioctl %1 with %2 argument bytes, expected %3")
                            .arg(code, 8, 16, QLatin1Char('0'))
                            .arg(argument.size())
                            .arg(expected));
        result.m_kind = Ioctl;
        result.m_code = code;
        result.m_argument = argument;
        return result;
    }
    return fail(QString("packet of %1 bytes with unknown request code %2")
                    .arg(size)
                    .arg(code, 8, 16, QLatin1Char('0')));
}

quint32 DriverPacket::configurationWord() const
{
    if (m_argument.size() < 4)
        return 0;
    return qFromLittleEndian<quint32>(m_argument.constData());
}

QByteArray DriverPacket::encodeWriteRecord(quint32 rawIdentifier, const QByteArray& payload)
{
    QByteArray record(writeRecordSize, '\0');
    const int length = qMin(payload.size(), 8);
    record[0] = char(length);
    qToBigEndian<quint32>(rawIdentifier, record.data() + 1);
    for (int i = 0; i < length; ++i)
        record[i < 4 ? 8 - i : 16 - i] = payload.at(i);
    return record;
}

QByteArray DriverPacket::encodeReadRecord(quint32 rawIdentifier, const QByteArray& payload)
{
    QByteArray record(readRecordSize, '\0');
    const int length = qMin(payload.size(), 8);
    qToBigEndian<quint32>(rawIdentifier, record.data() + 3);
    record[7] = char(length);
    for (int i = 0; i < length; ++i)
        record[15 - i] = payload.at(i);
    return record;
}

QByteArray DriverPacket::encodeIoctl(quint32 code, const QByteArray& argument)
{
    QByteArray packet(4, '\0');
    qToLittleEndian<quint32>(code, packet.data());
    return packet + argument;
}

QByteArray DriverPacket::configurationBlock(quint32 word)
{
    QByteArray block(configurationBlockSize, '\0');
    qToLittleEndian<quint32>(word, block.data());
    return block;
}

QString DriverPacket::configurationProblem(quint32 word)
{
    QStringList problems;
    const quint32 timing = word & ~formatMask;
    if (timing == timing50k)
        problems << "bit timing for 50 kbit/s";
    else if (timing != timing125k)
        problems << QString("unknown bit timing %1").arg(timing, 0, 16);
    if ((word & formatMask) == format11Bit)
        problems << "11-bit identifiers";
    else if ((word & formatMask) != format29Bit)
        problems << QString("unknown identifier format bits %1")
                        .arg(word & formatMask, 8, 16, QLatin1Char('0'));
    return problems.join(", ");
}

} // namespace Sim
