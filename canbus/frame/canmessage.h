#pragma once

#include "canbus/frame/canidentifier.h"
#include "canbus/frame/canpayload.h"

#include <QByteArray>
#include <QDebug>
#include <QMetaType>
#include <QString>

#include <optional>

namespace CanBus {

// One CAN frame: identifier, payload of at most 8 bytes, and a time stamp that the frame
// model only carries (it is not compared and not part of either text form).
class CanMessage {
public:
    CanMessage() = default;
    // Identifier from type and priority, payload of length zero bytes; length > 8 throws.
    CanMessage(eCanMessageType type, unsigned priority, unsigned length);
    // A received frame; more than 8 bytes throws.
    CanMessage(unsigned rawIdentifier, const QByteArray& data);
    CanMessage(const CanIdentifier& identifier, const CanPayload& payload);

    const CanIdentifier& identifier() const { return m_identifier; }
    CanIdentifier& identifier() { return m_identifier; }
    void setIdentifier(const CanIdentifier& identifier) { m_identifier = identifier; }
    unsigned rawIdentifier() const { return m_identifier.raw(); }

    unsigned nodeId() const { return m_identifier.nodeId(); }
    void setNodeId(unsigned nodeId) { m_identifier.setNodeId(nodeId); }
    eCanMessageType messageType() const { return m_identifier.messageType(); }
    unsigned destination() const { return m_identifier.destination(); }
    void setDestination(unsigned destination) { m_identifier.setDestination(destination); }
    bool ackRequest() const { return m_identifier.ackRequest(); }
    unsigned priority() const { return m_identifier.priority(); }

    const CanPayload& payload() const { return m_payload; }
    CanPayload& payload() { return m_payload; }
    void setPayload(const CanPayload& payload) { m_payload = payload; }
    int length() const { return m_payload.length(); }
    const QByteArray& bytes() const { return m_payload.toByteArray(); }

    // One payload byte; an index at or beyond the length throws.
    unsigned char operator[](int index) const { return m_payload.at(index); }
    unsigned char& operator[](int index) { return m_payload[index]; }

    int timeStamp() const { return m_timeStamp; }
    void setTimeStamp(int timeStamp) { m_timeStamp = timeStamp; }

    // "CanMessage: ID: 8018000 ( "SCM_POLL" ) - 000000": raw identifier in hex, the
    // type's name, payload as lower-case hex. This is what log lines show.
    QString toString() const;

    // Compact form "1C0123FF#0102": the 29-bit identifier as 8 upper-case hex digits, '#',
    // the payload as upper-case hex pairs. Used by traces, rack files and test fixtures.
    QString toFrameText() const;
    // Parses the compact form (hex digits of either case); on malformed text gives nothing
    // and, when error is set, says what is wrong.
    static std::optional<CanMessage> fromFrameText(const QString& text, QString* error = nullptr);

    friend bool operator==(const CanMessage& a, const CanMessage& b)
    {
        return a.m_identifier == b.m_identifier && a.m_payload == b.m_payload;
    }
    friend bool operator!=(const CanMessage& a, const CanMessage& b) { return !(a == b); }

protected:
    // Typed getters that need a minimum payload length call this first.
    void requireLength(int length) const;

private:
    CanIdentifier m_identifier;
    CanPayload m_payload;
    int m_timeStamp = 0;
};

QDebug operator<<(QDebug debug, const CanMessage& message);

} // namespace CanBus

Q_DECLARE_METATYPE(CanBus::CanMessage)
