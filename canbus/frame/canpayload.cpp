#include "canbus/frame/canpayload.h"

#include <algorithm>

namespace CanBus {

namespace {

void throwUndefined()
{
    throw CanException(CanException::UNDEFINED);
}

} // namespace

CanPayload::CanPayload(int length)
{
    resize(length);
}

CanPayload::CanPayload(const QByteArray& bytes)
{
    if (bytes.size() > MaxLength)
        throwUndefined();
    m_bytes = bytes;
}

void CanPayload::resize(int length)
{
    if (length < 0 || length > MaxLength)
        throwUndefined();
    const int old = this->length();
    m_bytes.resize(length);
    if (length > old)
        std::fill(m_bytes.begin() + old, m_bytes.end(), '\0');
}

unsigned char& CanPayload::operator[](int index)
{
    checkRange(index, 1);
    // data() detaches a shared copy; char and unsigned char may alias.
    return reinterpret_cast<unsigned char*>(m_bytes.data())[index];
}

unsigned char CanPayload::at(int index) const
{
    checkRange(index, 1);
    return static_cast<unsigned char>(m_bytes.at(index));
}

quint16 CanPayload::uint16At(int index) const
{
    checkRange(index, 2);
    return quint16(quint8(m_bytes.at(index)) | (quint8(m_bytes.at(index + 1)) << 8));
}

quint32 CanPayload::uint32At(int index) const
{
    checkRange(index, 4);
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | quint8(m_bytes.at(index + i));
    return value;
}

void CanPayload::setByte(int index, unsigned char value)
{
    if (index < 0)
        throwUndefined();
    growTo(index + 1);
    m_bytes[index] = char(value);
}

void CanPayload::setUint16(int index, quint16 value)
{
    if (index < 0)
        throwUndefined();
    growTo(index + 2);
    m_bytes[index] = char(value & 0xFF);
    m_bytes[index + 1] = char(value >> 8);
}

void CanPayload::setUint32(int index, quint32 value)
{
    if (index < 0)
        throwUndefined();
    growTo(index + 4);
    for (int i = 0; i < 4; ++i)
        m_bytes[index + i] = char((value >> (8 * i)) & 0xFF);
}

void CanPayload::setBytes(int index, const QByteArray& bytes)
{
    if (index < 0)
        throwUndefined();
    growTo(index + int(bytes.size()));
    for (int i = 0; i < bytes.size(); ++i)
        m_bytes[index + i] = bytes.at(i);
}

float CanPayload::decodeBcd(quint16 word)
{
    const bool negative = word & 0x2000;
    switch (word & 0x0FFF) {
    case 0x0FFF:
        return std::numeric_limits<float>::quiet_NaN();
    case 0x0AAA:
        return 0.0f;
    case 0x0EEE:
        return negative ? -9999.9f : 9999.9f;
    default:
        break;
    }
    const int digits = ((word >> 12) & 1) * 1000 + ((word >> 8) & 0xF) * 100
        + ((word >> 4) & 0xF) * 10 + (word & 0xF);
    static const float scale[] = { 1.0f, 10.0f, 100.0f, 1000.0f };
    const float value = float(digits) / scale[(word >> 14) & 3];
    return negative ? -value : value;
}

void CanPayload::checkRange(int index, int size) const
{
    if (index < 0 || index + size > length())
        throwUndefined();
}

void CanPayload::growTo(int length)
{
    if (length > MaxLength)
        throwUndefined();
    if (length > this->length())
        resize(length);
}

} // namespace CanBus
