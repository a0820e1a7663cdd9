#pragma once

#include "canbus/frame/canmessagetype.h"

#include <QString>

namespace CanBus {

// The 29-bit extended identifier of a frame, kept as its raw word:
//   bits 0-7 node id, 8-19 message type, 20-23 destination, 24 acknowledge request,
//   25 unused, 26-28 priority.
// Setters mask their value to the field's width, so no field can spill into its neighbour
// or beyond bit 28.
class CanIdentifier {
public:
    enum eDestination {
        MainBoard = 0,
        PowerAmplifier = 6,
        Broadcast = 255,
    };

    static constexpr unsigned RawMask = 0x1FFFFFFFu;
    static constexpr unsigned BroadcastNodeId = 0xFFu;

    constexpr CanIdentifier() = default;
    // The raw word, kept unchanged.
    constexpr explicit CanIdentifier(unsigned raw)
        : m_raw(raw)
    {
    }
    // Node id, destination and flag stay 0.
    CanIdentifier(eCanMessageType type, unsigned priority);

    static QString toString(eDestination destination);

    unsigned raw() const { return m_raw; }
    void setRaw(unsigned raw) { m_raw = raw; }

    unsigned nodeId() const { return m_raw & 0xFFu; }
    void setNodeId(unsigned nodeId) { setField(0, 0xFFu, nodeId); }

    eCanMessageType messageType() const { return eCanMessageType(messageTypeCode()); }
    unsigned messageTypeCode() const { return (m_raw >> 8) & 0xFFFu; }
    void setMessageType(unsigned code) { setField(8, 0xFFFu, code); }

    // The destination device class as it is on the bus: 4 bits, so Broadcast reads as 15.
    unsigned destination() const { return (m_raw >> 20) & 0xFu; }
    void setDestination(unsigned destination) { setField(20, 0xFu, destination); }

    bool ackRequest() const { return (m_raw >> 24) & 1u; }
    void setAckRequest(bool on) { setField(24, 1u, on ? 1u : 0u); }

    unsigned priority() const { return (m_raw >> 26) & 0x7u; }
    void setPriority(unsigned priority) { setField(26, 0x7u, priority); }

    friend bool operator==(const CanIdentifier& a, const CanIdentifier& b)
    {
        return a.m_raw == b.m_raw;
    }
    friend bool operator!=(const CanIdentifier& a, const CanIdentifier& b) { return !(a == b); }

private:
    void setField(unsigned shift, unsigned mask, unsigned value)
    {
        m_raw = (m_raw & ~(mask << shift)) | ((value & mask) << shift);
    }

    unsigned m_raw = 0;
};

} // namespace CanBus
