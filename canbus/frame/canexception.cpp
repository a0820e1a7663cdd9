#include "canbus/frame/canexception.h"

namespace CanBus {

namespace {

const char* codeName(int code)
{
    // Indexed by code; the codes are consecutive from 0.
    static const char* const names[] = {
        "UNDEFINED",
        "CANT_OPEN_DEVICE",
        "DEVICE_ALREADY_OPEN",
        "DEVICE_NOT_OPEN",
        "READ_ERROR",
        "WRITE_ERROR",
        "PAYLOAD_TOO_BIG",
        "INCOMPLETE_SEND",
    };
    if (code < 0 || code >= int(sizeof(names) / sizeof(names[0])))
        return "";
    return names[code];
}

} // namespace

QString CanException::toString(int code)
{
    return QString::fromLatin1(codeName(code));
}

const char* CanException::what() const noexcept
{
    return codeName(m_code);
}

} // namespace CanBus
