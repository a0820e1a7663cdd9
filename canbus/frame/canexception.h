#pragma once

#include <QMetaType>
#include <QString>

#include <exception>

namespace CanBus {

// The one exception of the CAN device and frame layer. It is a plain value so that the
// reader and writer threads can carry it in queued error signals.
class CanException : public std::exception {
public:
    enum eCode {
        UNDEFINED = 0,
        CANT_OPEN_DEVICE = 1,
        DEVICE_ALREADY_OPEN = 2,
        DEVICE_NOT_OPEN = 3,
        READ_ERROR = 4,
        WRITE_ERROR = 5,
        PAYLOAD_TOO_BIG = 6,
        INCOMPLETE_SEND = 7,
    };

    explicit CanException(int code = UNDEFINED, int value = 0)
        : m_code(code)
        , m_value(value)
    {
    }

    int code() const { return m_code; }
    // The number of bytes written for INCOMPLETE_SEND, else 0.
    int value() const { return m_value; }

    // The code's name, or an empty text for a code outside the table.
    QString toString() const { return toString(m_code); }
    static QString toString(int code);

    const char* what() const noexcept override;

private:
    int m_code;
    int m_value;
};

} // namespace CanBus

Q_DECLARE_METATYPE(CanBus::CanException)
