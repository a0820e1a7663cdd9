#include "sim/messagebehaviour.h"

#include "canbus/frame/canmessagetype.h"

namespace Sim {

using namespace CanBus;

namespace {

// The fields that setting frames reach, one row per field. selector is bits 5-7 of payload
// byte 2; an indexed row takes bits 6-7 as the index of a 16-bit value at offset + 2 * index.
// The values land in the target message, or in the message that shows them (shownIn, 0: the
// target itself).
struct SettingField {
    unsigned control;
    unsigned target;
    int selector; // -1: indexed
    int offset;
    unsigned shownIn = 0;
};

const SettingField settingFields[] = {
    { SCM_CONTROL_2, TP_VV_BYPASS_AND_MUTE, 0x00, 0 }, // bypass and mute, power reduction
    { SCM_CONTROL_2, TP_VV_ATT, -1, 0 }, // attenuator 0-3
    { SCM_CONTROL_2, TP_CONT_LOOP_PARAMS, -1, 0 }, // control-loop parameter 0-3
    { SCM_CONTROL_1, TP_CONT_LOOP_COMPONENTS_AND_MON, 0x00, 0 },
    { SCM_CONTROL_1, TP_SWITCH, 0x40, 2 }, // input switch position
    { SCM_CONTROL_1, TP_SWITCH, 0xC0, 0 }, // interlock loop confirmation
    { SCM_CONTROL_2, TP_SWITCH, 0x60, 3 }, // fan speed, fan flags
    { SCM_CONTROL_3, TP_FREQUENCY, 0x00, 0 },
    { SCM_CONTROL_1, TP_EXT_SWITCH, 0x00, 0 }, // output switch positions
    { SCM_CONTROL_1, AMP_CONTROL_2, 0x00, 0 }, // peak/average mode, mute-ready, PIC mode
    { SCM_CONTROL_1, AMP_CONTROL_2, 0x20, 1 }, // control-loop mode, power meter, active
    { SCM_CONTROL_2, AMP_CONTROL_2, -1, 0, AMP_CONT_LOOP_PARAMS }, // control-loop parameter 0-3
    { SCM_CONTROL_2, AMP_CONT_LOOP_PARAMS_2, 0x00, 0 }, // output power
    { SCM_CONTROL_2, AMP_CONT_LOOP_PARAMS_2, 0x80, 2 }, // minimum output power
    { SCM_CONTROL_2, AMP_CONT_LOOP_PARAMS_2, 0x40, 4 }, // maximum output power
    { SCM_CONTROL_2, AMP_CONTROL, 0x00, 0 }, // phase correction
    { SCM_CONTROL_2, AMP_CONTROL, 0x40, 2 }, // power correction
    { SCM_CONTROL_3, AMP_CONTROL, 0x80, 4 }, // frequency mantissa and exponent
    { SCM_CONTROL_1, AMP_CONTROL, 0xE0, 7 }, // status flags
};

bool isSetting(unsigned type)
{
    return type == SCM_CONTROL_1 || type == SCM_CONTROL_2 || type == SCM_CONTROL_3
        || type == SCM_CONTROL_4;
}

// Bits 8-28 of an identifier from three payload bytes (bits 5-7 of the third left out).
unsigned namedType(const QByteArray& bytes)
{
    return (quint8(bytes.at(0)) | (unsigned(quint8(bytes.at(1))) << 8)) & 0xFFFu;
}

} // namespace

int MessageBehaviour::settingOffset(
    unsigned controlType, unsigned targetType, quint8 selectorBits, unsigned* shownIn)
{
    for (const SettingField& f : settingFields) {
        if (f.control != controlType || f.target != targetType)
            continue;
        *shownIn = f.shownIn ? f.shownIn : f.target;
        if (f.selector < 0)
            return f.offset + 2 * (selectorBits >> 6);
        if (f.selector == (selectorBits & 0xE0))
            return f.offset;
    }
    return -1;
}

CanMessage MessageBehaviour::messageFrame(const SimNode& node, unsigned type, bool ackRequest)
{
    const CanMessageTypeInfo* info = canMessageTypeInfo(type);
    CanMessage frame(nodeIdentifier(node, type, info ? info->defaultPriority() : 0),
        CanPayload(node.message(type)));
    frame.identifier().setAckRequest(ackRequest);
    return frame;
}

bool MessageBehaviour::accepts(const SimNode& node, const CanMessage& frame) const
{
    const unsigned type = frame.identifier().messageTypeCode();
    return (type == SCM_POLL || type == SCM_COMMAND || type == SCM_MSG_ACK || isSetting(type))
        && addressedTo(node, frame);
}

void MessageBehaviour::handle(
    SimNode& node, const CanMessage& frame, QVector<NodeAnswer>& answers) const
{
    const unsigned type = frame.identifier().messageTypeCode();
    if (type == SCM_MSG_ACK) {
        ++node.messageAcksReceived;
        if (node.unacknowledged > 0)
            --node.unacknowledged;
        return;
    }
    if (type == SCM_POLL) {
        poll(node, frame, answers);
        return;
    }
    setting(node, frame, answers);
}

void MessageBehaviour::poll(
    SimNode& node, const CanMessage& frame, QVector<NodeAnswer>& answers) const
{
    const QByteArray bytes = frame.bytes();
    if (bytes.size() != 3 || !node.sendsMessage(namedType(bytes))) {
        reject(node, frame, ErrorBadParameter, answers);
        return;
    }
    ++node.pollsAnswered;
    // The poll names the whole identifier; the board answers at the priority asked for.
    CanMessage answer = messageFrame(node, namedType(bytes), false);
    answer.identifier().setPriority((quint8(bytes.at(2)) >> 2) & 7);
    answers.append({ answer, 0 });
}

void MessageBehaviour::setting(
    SimNode& node, const CanMessage& frame, QVector<NodeAnswer>& answers) const
{
    const unsigned type = frame.identifier().messageTypeCode();
    const QByteArray bytes = frame.bytes();
    const CanMessageTypeInfo* info = canMessageTypeInfo(type);
    if (!info || bytes.size() != info->length) {
        reject(node, frame, ErrorBadParameter, answers);
        return;
    }
    int offset = -1;
    unsigned target = 0;
    if (type == SCM_COMMAND) {
        // Each board has one sub-unit, number 0.
        if (quint8(bytes.at(0)) != 0) {
            reject(node, frame, ErrorBadParameter, answers);
            return;
        }
    } else {
        offset = node.sendsMessage(namedType(bytes))
            ? settingOffset(type, namedType(bytes), quint8(bytes.at(2)), &target)
            : -1;
        const int valueBytes = bytes.size() - 3;
        if (offset < 0 || offset + valueBytes > CanPayload::MaxLength) {
            reject(node, frame, ErrorBadParameter, answers);
            return;
        }
    }
    if (node.firmwareAccess) {
        reject(node, frame, ErrorWrongState, answers);
        return;
    }

    if (type == SCM_COMMAND) {
        ++node.commandsReceived;
        node.lastCommand = QString("%1/%2").arg(quint8(bytes.at(0))).arg(quint8(bytes.at(1)));
    } else {
        QByteArray& message = node.messages[target];
        const QByteArray values = bytes.mid(3);
        if (message.size() < offset + values.size())
            message.append(QByteArray(offset + values.size() - message.size(), '\0'));
        message.replace(offset, values.size(), values);
        ++node.settingsApplied;
    }
    answers.append(
        { CanMessage(nodeIdentifier(node, type, info->defaultPriority()), CanPayload(bytes)), 0 });
}

} // namespace Sim
