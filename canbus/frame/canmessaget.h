#pragma once

#include "canbus/frame/canmessage.h"

#include <QByteArray>

// Typed views of the message types. The template argument is the type's enumerator
// (CanMessageT<SCM_POLL>); its row of canmessagetypes.def, through CanMessageTypeTraits, gives
// the defaults. The enumerator itself is the marker: a class of the same name in the same
// namespace would be hidden by it and could not be written as a template argument.
//
// The views add no data members: a view and a CanMessage convert into each other without
// loss, and a view built from a CanMessage copies the frame unchanged (no check of type or
// length). Setters grow the payload up to the last byte they write; getters throw
// CanException UNDEFINED when the payload is shorter than their field.

namespace CanBus {

// Default constructor: the type's defaults, zero payload. Converting constructor: the frame
// unchanged. The base may be a template-id with commas, hence the variadic tail.
#define CAN_MESSAGE_VIEW_CONSTRUCTORS(CLASS, ...)                                                  \
    CLASS() = default;                                                                             \
    explicit CLASS(const CanMessage& message)                                                      \
        : __VA_ARGS__(message)                                                                     \
    {                                                                                              \
    }

template <eCanMessageType TYPE> class CanMessageTConcrete : public CanMessage {
public:
    using Traits = CanMessageTypeTraits<TYPE>;
    static constexpr eCanMessageType type = TYPE;

    CanMessageTConcrete()
        : CanMessage(TYPE, defaultPriority(), defaultLength())
    {
    }
    explicit CanMessageTConcrete(const CanMessage& message)
        : CanMessage(message)
    {
    }

    static constexpr unsigned defaultPriority()
    {
        return Traits::priority < 0 ? 0u : unsigned(Traits::priority);
    }
    static constexpr unsigned defaultLength()
    {
        static_assert(Traits::length >= 0, "this message type has no default frame");
        return unsigned(Traits::length);
    }

protected:
    // Bits 8-28 of an identifier as three payload bytes from index on, the layout shared by
    // polls, acknowledges and setting frames. The node id bits are not part of it.
    void setIdentifierBits(int index, unsigned raw)
    {
        payload().setByte(index, (raw >> 8) & 0xFF);
        payload().setByte(index + 1, (raw >> 16) & 0xFF);
        payload().setByte(index + 2, (raw >> 24) & 0x1F);
    }
    CanIdentifier identifierBits(int index) const
    {
        requireLength(index + 3);
        return CanIdentifier((unsigned(payload().at(index)) << 8)
            | (unsigned(payload().at(index + 1)) << 16)
            | (unsigned(payload().at(index + 2) & 0x1F) << 24));
    }
};

// Types without a layout of their own.
template <eCanMessageType TYPE> class CanMessageT : public CanMessageTConcrete<TYPE> {
public:
    CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageT, CanMessageTConcrete<TYPE>)
};

// Node id assignment: 0-1 part number, 2 variant, 3-6 serial number, 7 new node id.
template <eCanMessageType TYPE> class CanMessageSetAddress : public CanMessageTConcrete<TYPE> {
    static_assert(
        TYPE == SCM_SET_ADDR_CO || TYPE == SCM_SET_ADDR_OP, "only the node id assignment frames");

public:
    CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageSetAddress, CanMessageTConcrete<TYPE>)

    void setPartNumber(quint16 partNumber) { this->payload().setUint16(0, partNumber); }
    void setVariantNumber(quint8 variant) { this->payload().setByte(2, variant); }
    void setSerialNumber(quint32 serialNumber) { this->payload().setUint32(3, serialNumber); }
    void setCanNodeId(quint8 nodeId) { this->payload().setByte(7, nodeId); }

    quint16 partNumber() const { return this->payload().uint16At(0); }
    quint8 variantNumber() const { return this->payload().at(2); }
    quint32 serialNumber() const { return this->payload().uint32At(3); }
    quint8 canNodeId() const { return this->payload().at(7); }
};

// Setting frames: 0-2 bits 8-28 of the target message's identifier, with a field selector in
// bits 5-7 of byte 2; from byte 3 the new values, packed as in the target message.
template <eCanMessageType TYPE> class CanMessageControl : public CanMessageTConcrete<TYPE> {
    static_assert(TYPE == SCM_CONTROL_1 || TYPE == SCM_CONTROL_2 || TYPE == SCM_CONTROL_3
            || TYPE == SCM_CONTROL_4,
        "only the setting frames");

public:
    CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageControl, CanMessageTConcrete<TYPE>)

    // Keeps the selector.
    void setTargetId(unsigned rawIdentifier)
    {
        const unsigned selector = this->length() > 2 ? this->payload().at(2) & 0xE0u : 0u;
        this->setIdentifierBits(0, rawIdentifier);
        this->payload().setByte(2, this->payload().at(2) | selector);
    }
    // selector: the bits 5-7 as they stand in byte 2 (0x20, 0x40, ... 0xE0).
    void setSelector(quint8 selector)
    {
        const unsigned target = this->length() > 2 ? this->payload().at(2) & 0x1Fu : 0u;
        this->payload().setByte(2, target | (selector & 0xE0u));
    }

    CanIdentifier targetIdentifier() const { return this->identifierBits(0); }
    quint8 selector() const { return this->payload().at(2) & 0xE0u; }
};

// Test-point frames holding N unsigned values of type T side by side, little-endian.
template <eCanMessageType TYPE, typename T, int N>
class CanMessageMeasuredValue : public CanMessageTConcrete<TYPE> {
    static_assert(sizeof(T) == 1 || sizeof(T) == 2, "8- or 16-bit values");

public:
    static constexpr int count = N;
    using ValueType = T;

    CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageMeasuredValue, CanMessageTConcrete<TYPE>)

    // index 0 to N - 1.
    T value(int index) const
    {
        checkIndex(index);
        if constexpr (sizeof(T) == 1)
            return T(this->payload().at(index));
        else
            return T(this->payload().uint16At(2 * index));
    }
    void setValue(int index, T value)
    {
        checkIndex(index);
        if constexpr (sizeof(T) == 1)
            this->payload().setByte(index, quint8(value));
        else
            this->payload().setUint16(2 * index, quint16(value));
    }

private:
    static void checkIndex(int index)
    {
        if (index < 0 || index >= N)
            throw CanException(CanException::UNDEFINED);
    }
};

// Identification: 0-1 part number, 2 variant, 3-6 serial number, 7 protocol version (only
// in a node's answer, which is 8 bytes long).
template <> class CanMessageT<SCM_IDENTIFY> : public CanMessageTConcrete<SCM_IDENTIFY> {
public:
    CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageT, CanMessageTConcrete<SCM_IDENTIFY>)

    void setScmPartNumber(quint16 partNumber) { payload().setUint16(0, partNumber); }
    void setScmVariantNumber(quint8 variant) { payload().setByte(2, variant); }
    void setScmSerialNumber(quint32 serialNumber) { payload().setUint32(3, serialNumber); }
    void setCanProtocolVersion(quint8 version) { payload().setByte(7, version); }

    quint16 componentPartNumber() const
    {
        requireLength(2);
        return payload().uint16At(0);
    }
    quint8 componentVariantNumber() const
    {
        requireLength(7);
        return payload().at(2);
    }
    quint32 componentSerialNumber() const
    {
        requireLength(7);
        return payload().uint32At(3);
    }
    quint8 canProtocolVersion() const
    {
        requireLength(8);
        return payload().at(7);
    }
};

template <> class CanMessageT<SCM_SET_ADDR_CO> : public CanMessageSetAddress<SCM_SET_ADDR_CO> {
public:
    CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageT, CanMessageSetAddress<SCM_SET_ADDR_CO>)
};

template <> class CanMessageT<SCM_SET_ADDR_OP> : public CanMessageSetAddress<SCM_SET_ADDR_OP> {
public:
    CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageT, CanMessageSetAddress<SCM_SET_ADDR_OP>)
};

#define CAN_MESSAGE_CONTROL_VIEW(TYPE)                                                             \
    template <> class CanMessageT<TYPE> : public CanMessageControl<TYPE> {                         \
    public:                                                                                        \
        CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageT, CanMessageControl<TYPE>)                        \
    };
CAN_MESSAGE_CONTROL_VIEW(SCM_CONTROL_1)
CAN_MESSAGE_CONTROL_VIEW(SCM_CONTROL_2)
CAN_MESSAGE_CONTROL_VIEW(SCM_CONTROL_3)
CAN_MESSAGE_CONTROL_VIEW(SCM_CONTROL_4)
#undef CAN_MESSAGE_CONTROL_VIEW

#define CAN_MESSAGE_MEASURED_VIEW(TYPE, T, N)                                                      \
    template <> class CanMessageT<TYPE> : public CanMessageMeasuredValue<TYPE, T, N> {             \
    public:                                                                                        \
        CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageT, CanMessageMeasuredValue<TYPE, T, N>)            \
    };
CAN_MESSAGE_MEASURED_VIEW(TP_VV_VOLT, quint16, 4)
CAN_MESSAGE_MEASURED_VIEW(TP_VV_TEMP, quint16, 4)
CAN_MESSAGE_MEASURED_VIEW(TP_VV_CURR, quint16, 4)
CAN_MESSAGE_MEASURED_VIEW(TP_VV_INP_LEVEL, quint16, 4)
CAN_MESSAGE_MEASURED_VIEW(TP_AD_PWR_MTR_FORW_PWR, quint16, 4)
CAN_MESSAGE_MEASURED_VIEW(TP_AD_PWR_MTR_REFL_PWR, quint16, 4)
CAN_MESSAGE_MEASURED_VIEW(TP_AD_PWR_MTR_TEMP, quint16, 4)
CAN_MESSAGE_MEASURED_VIEW(TP_VV_ATT, quint16, 4)
CAN_MESSAGE_MEASURED_VIEW(TP_VV_PHASE, quint16, 4)
CAN_MESSAGE_MEASURED_VIEW(TP_CONT_LOOP_PARAMS, quint16, 4)
CAN_MESSAGE_MEASURED_VIEW(TP_CONT_LOOP_PARAMS_2, quint16, 4)
CAN_MESSAGE_MEASURED_VIEW(TP_TEMP, quint16, 2)
CAN_MESSAGE_MEASURED_VIEW(TP_CONT_LOOP_VAL, quint16, 1)
CAN_MESSAGE_MEASURED_VIEW(TP_TACHO, quint8, 2)
CAN_MESSAGE_MEASURED_VIEW(TP_CONT_LOOP_COMPONENTS_AND_MON, quint8, 2)
#undef CAN_MESSAGE_MEASURED_VIEW

// Ask a node to send one message: 0-2 bits 8-28 of that message's identifier.
template <> class CanMessageT<SCM_POLL> : public CanMessageTConcrete<SCM_POLL> {
public:
    CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageT, CanMessageTConcrete<SCM_POLL>)

    void setId(unsigned rawIdentifier) { setIdentifierBits(0, rawIdentifier); }
    CanIdentifier polledIdentifier() const { return identifierBits(0); }
};

// Acknowledge of a frame: 0-2 bits 8-28 of the acknowledged frame's identifier.
template <> class CanMessageT<SCM_MSG_ACK> : public CanMessageTConcrete<SCM_MSG_ACK> {
public:
    CanMessageT() = default;
    // Unlike the other views this builds the acknowledge of a received frame, addressed
    // back to its node id and destination, with acknowledge request and bit 25 clear.
    explicit CanMessageT(const CanMessage& received)
    {
        setScmIdentifier(received.identifier());
        identifier().setNodeId(received.nodeId());
        identifier().setDestination(received.destination());
    }

    void setScmIdentifier(const CanIdentifier& acknowledged)
    {
        setIdentifierBits(0, acknowledged.raw());
    }
    CanIdentifier acknowledgedIdentifier() const { return identifierBits(0); }
};

// A node rejects a frame: 0 bits 8-15 and 1 bits 16-23 of the rejected frame's identifier,
// 2 non-zero when the rejected frame was a broadcast, 3 error code.
template <> class CanMessageT<A_ERROR_ACK> : public CanMessageTConcrete<A_ERROR_ACK> {
public:
    CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageT, CanMessageTConcrete<A_ERROR_ACK>)

    void setRejectedIdentifier(const CanIdentifier& rejected)
    {
        payload().setByte(0, (rejected.raw() >> 8) & 0xFF);
        payload().setByte(1, (rejected.raw() >> 16) & 0xFF);
        payload().setByte(2, rejected.nodeId() == CanIdentifier::BroadcastNodeId ? 1 : 0);
    }
    void setErrorCode(quint8 code) { payload().setByte(3, code); }

    quint8 errorCode() const
    {
        requireLength(4);
        return payload().at(3);
    }
    // The rejected frame's type and node id; its destination is taken from this frame.
    CanIdentifier errorMessageCanIdentifier() const
    {
        requireLength(3);
        CanIdentifier rejected;
        rejected.setMessageType(payload().at(0) | (unsigned(payload().at(1) & 0x0F) << 8));
        rejected.setDestination(destination());
        rejected.setNodeId(payload().at(2) == 0 ? nodeId() : CanIdentifier::BroadcastNodeId);
        return rejected;
    }
};

// Command to a sub-unit: 0 sub-unit selector, 1 command.
template <> class CanMessageT<SCM_COMMAND> : public CanMessageTConcrete<SCM_COMMAND> {
public:
    CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageT, CanMessageTConcrete<SCM_COMMAND>)

    void setSubUnitSelector(quint8 selector) { payload().setByte(0, selector); }
    void setCommand(quint8 command) { payload().setByte(1, command); }
    quint8 subUnitSelector() const { return payload().at(0); }
    quint8 command() const { return payload().at(1); }
};

// Service data: 0 selector, 1-2 byte address / 4, from 3 the data bytes (four in an answer
// to a read).
template <eCanMessageType TYPE> class CanMessageServiceData : public CanMessageTConcrete<TYPE> {
public:
    CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageServiceData, CanMessageTConcrete<TYPE>)

    void setServiceDataSelector(quint8 selector) { this->payload().setByte(0, selector); }
    // Nodes address service data in 4-byte words; the low two bits are dropped.
    void setAddress(unsigned byteAddress)
    {
        this->payload().setUint16(1, quint16((byteAddress / 4) & 0xFFFF));
    }
    void setData(const QByteArray& data) { this->payload().setBytes(3, data); }

    quint8 serviceDataSelector() const { return this->payload().at(0); }
    // The byte address of the word.
    unsigned address() const { return unsigned(this->payload().uint16At(1)) * 4; }
};

template <>
class CanMessageT<SCM_SERVICE_DATA_RD> : public CanMessageServiceData<SCM_SERVICE_DATA_RD> {
public:
    CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageT, CanMessageServiceData<SCM_SERVICE_DATA_RD>)

    // The four data bytes of a node's answer.
    QByteArray data() const
    {
        requireLength(7);
        return bytes().mid(3, 4);
    }
};

template <>
class CanMessageT<SCM_SERVICE_DATA_WR> : public CanMessageServiceData<SCM_SERVICE_DATA_WR> {
public:
    CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageT, CanMessageServiceData<SCM_SERVICE_DATA_WR>)

    QByteArray data() const { return bytes().mid(3); }
};

// Firmware access start/stop: 0 0x33 start or 0xCC stop, 1 firmware selector.
template <> class CanMessageT<SCM_FW_ACC_CONTROL> : public CanMessageTConcrete<SCM_FW_ACC_CONTROL> {
public:
    static constexpr quint8 Start = 0x33;
    static constexpr quint8 Stop = 0xCC;

    CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageT, CanMessageTConcrete<SCM_FW_ACC_CONTROL>)

    void setStartStop(bool start) { payload().setByte(0, start ? Start : Stop); }
    void setFwSelector(quint8 selector) { payload().setByte(1, selector); }
    quint8 startStop() const { return payload().at(0); }
    quint8 fwSelector() const { return payload().at(1); }
};

// Erase: 0-1 start block, 2 zero, 3-4 number of blocks, 5 firmware selector.
template <> class CanMessageT<SCM_FW_ACC_ERASE> : public CanMessageTConcrete<SCM_FW_ACC_ERASE> {
public:
    CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageT, CanMessageTConcrete<SCM_FW_ACC_ERASE>)

    void setStartBlock(quint16 block) { payload().setUint16(0, block); }
    void setNoOfBlocksToErase(quint16 blocks) { payload().setUint16(3, blocks); }
    void setFwSelector(quint8 selector) { payload().setByte(5, selector); }
    quint16 startBlock() const { return payload().uint16At(0); }
    quint16 noOfBlocksToErase() const { return payload().uint16At(3); }
    quint8 fwSelector() const { return payload().at(5); }
};

// Begin of a block: 0-1 block number, 2 zero, 3-4 block size.
template <>
class CanMessageT<SCM_FW_ACC_BL_WRITE> : public CanMessageTConcrete<SCM_FW_ACC_BL_WRITE> {
public:
    CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageT, CanMessageTConcrete<SCM_FW_ACC_BL_WRITE>)

    void setBlockNumber(quint16 block) { payload().setUint16(0, block); }
    void setBlockSize(quint16 size) { payload().setUint16(3, size); }
    quint16 blockNumber() const { return payload().uint16At(0); }
    quint16 blockSize() const { return payload().uint16At(3); }
};

// End of a block: 0-1 block number, 3-4 checksum.
template <>
class CanMessageT<SCM_FW_ACC_BL_W_END> : public CanMessageTConcrete<SCM_FW_ACC_BL_W_END> {
public:
    CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageT, CanMessageTConcrete<SCM_FW_ACC_BL_W_END>)

    void setBlockNumber(quint16 block) { payload().setUint16(0, block); }
    void setCheckSum(quint16 checkSum) { payload().setUint16(3, checkSum); }
    quint16 blockNumber() const { return payload().uint16At(0); }
    quint16 checkSum() const { return payload().uint16At(3); }
};

// One package of block data: 0 package number, from 1 up to 7 data bytes. The frame keeps
// its length, so a short last package leaves zero bytes behind it.
template <> class CanMessageT<SCM_FW_ACC_PA_WR> : public CanMessageTConcrete<SCM_FW_ACC_PA_WR> {
public:
    CAN_MESSAGE_VIEW_CONSTRUCTORS(CanMessageT, CanMessageTConcrete<SCM_FW_ACC_PA_WR>)

    void setPackageNumber(quint8 number) { payload().setByte(0, number); }
    // More than 7 bytes throw.
    void setPackageData(const QByteArray& data) { payload().setBytes(1, data); }
    quint8 packageNumber() const { return payload().at(0); }
    QByteArray packageData() const { return bytes().mid(1); }
};

#undef CAN_MESSAGE_VIEW_CONSTRUCTORS

} // namespace CanBus
