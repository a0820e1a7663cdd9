#include "canbus/frame/canmessage.h"

namespace CanBus {

CanMessage::CanMessage(eCanMessageType type, unsigned priority, unsigned length)
    : m_identifier(type, priority)
{
    if (length > unsigned(CanPayload::MaxLength))
        throw CanException(CanException::UNDEFINED);
    m_payload = CanPayload(int(length));
}

CanMessage::CanMessage(unsigned rawIdentifier, const QByteArray& data)
    : m_identifier(rawIdentifier)
    , m_payload(data)
{
}

CanMessage::CanMessage(const CanIdentifier& identifier, const CanPayload& payload)
    : m_identifier(identifier)
    , m_payload(payload)
{
}

QString CanMessage::toString() const
{
    return QStringLiteral("CanMessage: ID: %1 ( \"%2\" ) - %3")
        .arg(QString::number(m_identifier.raw(), 16),
            canMessageTypeName(m_identifier.messageTypeCode()),
            QString::fromLatin1(m_payload.toByteArray().toHex()));
}

QString CanMessage::toFrameText() const
{
    return QStringLiteral("%1#%2").arg(
        QStringLiteral("%1")
            .arg(m_identifier.raw() & CanIdentifier::RawMask, 8, 16, QChar('0'))
            .toUpper(),
        QString::fromLatin1(m_payload.toByteArray().toHex().toUpper()));
}

std::optional<CanMessage> CanMessage::fromFrameText(const QString& text, QString* error)
{
    const auto fail = [&](const QString& why) -> std::optional<CanMessage> {
        if (error)
            *error = QStringLiteral("invalid frame \"%1\": %2").arg(text, why);
        return std::nullopt;
    };
    const auto isHex = [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
    };

    const int hash = int(text.indexOf(QLatin1Char('#')));
    if (hash < 0)
        return fail(QStringLiteral("no '#'"));
    const QString id = text.left(hash);
    const QString data = text.mid(hash + 1);
    if (id.size() != 8)
        return fail(QStringLiteral("identifier must be 8 hex digits"));
    for (QChar c : id)
        if (!isHex(c))
            return fail(QStringLiteral("identifier must be 8 hex digits"));
    const unsigned raw = id.toUInt(nullptr, 16);
    if (raw > CanIdentifier::RawMask)
        return fail(QStringLiteral("identifier above 29 bits"));
    if (data.size() % 2 != 0)
        return fail(QStringLiteral("payload must be hex pairs"));
    for (QChar c : data)
        if (!isHex(c))
            return fail(QStringLiteral("payload must be hex pairs"));
    if (data.size() > 2 * CanPayload::MaxLength)
        return fail(QStringLiteral("payload longer than 8 bytes"));
    return CanMessage(raw, QByteArray::fromHex(data.toLatin1()));
}

void CanMessage::requireLength(int length) const
{
    if (m_payload.length() < length)
        throw CanException(CanException::UNDEFINED);
}

QDebug operator<<(QDebug debug, const CanMessage& message)
{
    QDebugStateSaver saver(debug);
    debug.noquote().nospace() << message.toString();
    return debug;
}

} // namespace CanBus
