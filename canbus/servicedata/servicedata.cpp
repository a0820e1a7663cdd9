#include "canbus/servicedata/servicedata.h"

#include "canbus/frame/canpayload.h"
#include "kubus/log/kulog.h"

namespace CanBus {

namespace {

bool enough(const QByteArray& buffer, int length)
{
    if (buffer.size() >= length)
        return true;
    Kubus::kuPrint("Not enough bytes to create type", Q_FUNC_INFO);
    return false;
}

} // namespace

quint32 ServiceData::number(const QByteArray& buffer, int length)
{
    if (!enough(buffer, length))
        return 0;
    quint32 value = 0;
    for (int i = length - 1; i >= 0; --i)
        value = (value << 8) | quint8(buffer.at(i));
    return value;
}

Kubus::DeviceInfo::Encoding ServiceData::encoding(const QByteArray& buffer)
{
    Kubus::DeviceInfo::Encoding encoding;
    encoding.isBcd = enough(buffer, 1) && quint8(buffer.at(0)) == 0x53;
    return encoding;
}

QString ServiceData::text(const QByteArray& buffer, int length)
{
    const QByteArray bytes = buffer.left(length);
    const int end = int(bytes.indexOf('\0'));
    return QString::fromLatin1(end < 0 ? bytes : bytes.left(end));
}

QDate ServiceData::date(const QByteArray& buffer)
{
    const unsigned b0 = buffer.size() > 0 ? quint8(buffer.at(0)) : 0;
    const unsigned b1 = buffer.size() > 1 ? quint8(buffer.at(1)) : 0;
    // The packed date of the FAT file system; an impossible one gives an invalid date.
    return QDate(int(1980 + (b1 >> 1)), int(((b1 & 1) << 3) | (b0 >> 5)), int(b0 & 0x1F));
}

Kubus::AmplFrqTablePartData ServiceData::tablePart(const QByteArray& buffer)
{
    Kubus::AmplFrqTablePartData part;
    if (!enough(buffer, 2 * Kubus::AmplFrqTablePartData::rowCount))
        return part;
    for (int i = 0; i < Kubus::AmplFrqTablePartData::rowCount; ++i)
        part.setValue(i, quint16(quint8(buffer.at(2 * i)) | (quint8(buffer.at(2 * i + 1)) << 8)));
    return part;
}

quint32 ServiceData::fromBcd(quint32 value, int digits)
{
    quint32 result = 0;
    for (int i = digits - 1; i >= 0; --i)
        result = result * 10 + ((value >> (4 * i)) & 0xF);
    return result;
}

} // namespace CanBus
