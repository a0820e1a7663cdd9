// The value packing of the setting commands: how each request's values go into bytes 3 onward
// of its frame (and, for some, into the selector bits of byte 2). Target and fixed selector are
// set by the generated prepareMessage before these run.
#include "canbus/commands/commandclasses.h"
#include "canbus/commands/paramconvert.h"

#include <cmath>

namespace CanBus {

namespace {

// A float without its fraction, reduced to its low 16 bits.
quint16 truncated16(float value)
{
    if (!std::isfinite(value) || std::fabs(value) >= 9.0e18f)
        return 0;
    return quint16(quint64(qint64(value)) & 0xFFFF);
}

// Bits 6-7 of byte 2: which of four values of the target a setting overwrites.
template <eCanMessageType TYPE> void setValueIndex(CanMessageT<TYPE>& frame, qint32 index)
{
    frame.setSelector(quint8((index & 3) << 6));
}

} // namespace

void MainBoardCommand_SetMute::packValues(CanMessageT<SCM_CONTROL_2>& frame)
{
    frame.payload().setByte(3, quint8(m_request.value1 & 0xFF));
    frame.payload().setByte(4, quint8(m_request.value2 & 0xFF));
}

void MainBoardCommand_SetAttenuation::packValues(CanMessageT<SCM_CONTROL_2>& frame)
{
    setValueIndex(frame, m_request.value2);
    frame.payload().setUint16(3, truncated16(m_request.value1));
}

void MainBoardCommand_SetControlLoopParameter::packValues(CanMessageT<SCM_CONTROL_2>& frame)
{
    setValueIndex(frame, m_request.parameterIndex);
    frame.payload().setUint16(3, m_request.value);
}

void MainBoardCommand_SetComponents::packValues(CanMessageT<SCM_CONTROL_1>& frame)
{
    frame.payload().setByte(3, m_request.byte1);
}

void MainBoardCommand_SetPosition_InputSwitch::packValues(CanMessageT<SCM_CONTROL_1>& frame)
{
    frame.payload().setByte(3, m_request.byte1);
}

void MainBoardCommand_SetInterlockLoopConfirmation::packValues(CanMessageT<SCM_CONTROL_1>& frame)
{
    frame.payload().setByte(3, m_request.byte1);
}

void MainBoardCommand_SetFanInfo::packValues(CanMessageT<SCM_CONTROL_2>& frame)
{
    // The layout of TP_SWITCH bytes 3 and 4.
    frame.payload().setByte(3, quint8(m_request.fanSpeed & 0xFF));
    frame.payload().setByte(
        4, quint8((m_request.fanControlSource != 0 ? 1 : 0) | (m_request.fanActive != 0 ? 2 : 0)));
}

void MainBoardCommand_SetPosition_OutputSwitch::packValues(CanMessageT<SCM_CONTROL_1>& frame)
{
    const unsigned position = m_request.positionFlag != 0 ? 2 : 1;
    const unsigned shift = m_request.switchNumber == 1 ? 2 : 0;
    frame.payload().setByte(3, quint8(position << shift));
}

void MainBoardCommand_SetFrequency::packValues(CanMessageT<SCM_CONTROL_3>& frame)
{
    const qint32 code = m_request.settingCode;
    quint16 value = 0;
    quint8 last = quint8(code & 0xFF);
    if (code == 0) {
        last = 0xC0;
    } else if (code == 2 || code == 3 || code == 4 || code == 10 || code == 11 || code == 12) {
        value = m_request.value;
        last = quint8(code + 0x40);
    } else if (code == 5 || code == 13 || (code >= 16 && code <= 50)) {
        value = m_request.value;
        last = quint8(code ^ 0x80);
    }
    frame.payload().setUint16(3, value);
    frame.payload().setByte(5, last);
}

void MainBoardCommand_SetPosition_PowerAmplifier::packValues(CanMessageT<SCM_COMMAND>& frame)
{
    frame.setSubUnitSelector(0);
    frame.setCommand(quint8(m_request.value1 + 1));
}

void PowerAmplifierCommand_Calibration::packValues(CanMessageT<SCM_COMMAND>& frame)
{
    frame.setSubUnitSelector(0);
    frame.setCommand(1);
}

void PowerAmplifierCommand_SetMode::packValues(CanMessageT<SCM_CONTROL_1>& frame)
{
    // Peak/average mode, mute-ready and PIC mode: the fields of AMP_CONTROL_2 byte 0.
    frame.payload().setByte(3,
        quint8(
            ((m_request.byte1 & 7) << 4) | ((m_request.byte3 & 1) << 2) | (m_request.byte2 & 3)));
}

void PowerAmplifierCommand_SetContLoop::packValues(CanMessageT<SCM_CONTROL_1>& frame)
{
    // Control-loop mode, power meter and active: the fields of AMP_CONTROL_2 byte 1.
    frame.payload().setByte(3,
        quint8(((m_request.byte1 & 0x0F) << 1) | ((m_request.byte2 & 3) << 5)
            | (m_request.byte3 & 1)));
}

void PowerAmplifierCommand_SetContLoopParam::packValues(CanMessageT<SCM_CONTROL_2>& frame)
{
    setValueIndex(frame, m_request.parameterIndex);
    frame.payload().setUint16(3, m_request.value);
}

void PowerAmplifierCommand_SetContLoopOutputPower::packValues(CanMessageT<SCM_CONTROL_2>& frame)
{
    frame.setSelector(m_request.value2 == 1 ? 0x80 : m_request.value2 == 2 ? 0x40 : 0);
    // Already in the BCD form.
    frame.payload().setUint16(3, quint16(m_request.value1 & 0xFFFF));
}

void PowerAmplifierCommand_SetPowerCorr::packValues(CanMessageT<SCM_CONTROL_2>& frame)
{
    frame.payload().setUint16(3, truncated16(m_request.value1));
}

void PowerAmplifierCommand_SetPhaseCorr::packValues(CanMessageT<SCM_CONTROL_2>& frame)
{
    frame.payload().setUint16(
        3, Common::ParamConvert::convertFloatTo3And1FourthBcd(m_request.value1));
}

void PowerAmplifierCommand_SetStatus::packValues(CanMessageT<SCM_CONTROL_1>& frame)
{
    // The bits of AMP_CONTROL byte 7: interlock group, operate, power correction enabled, phase
    // correction enabled, power switch.
    const quint8 group = m_request.value1 == 1 ? 0x10
        : m_request.value1 == 2                ? 0x20
        : m_request.value1 == 3                ? 0x40
                                               : 0;
    const auto bit = [](quint8 flag) { return flag != 0 ? 1u : 0u; };
    frame.payload().setByte(3,
        quint8(group | (bit(m_request.flag1) << 1) | (bit(m_request.flag3) << 2)
            | (bit(m_request.flag2) << 3) | bit(m_request.flag4)));
}

void PowerAmplifierCommand_SetFrequency::packValues(CanMessageT<SCM_CONTROL_3>& frame)
{
    // A 16-bit mantissa with the highest set bit on bit 15, and the exponent that gives it back
    // as mantissa * 2^(exponent - 16).
    const float value = m_request.value1;
    const quint32 v
        = (std::isfinite(value) && value > 0 && value < 4294967296.0f) ? quint32(value) : 0;
    int h = 0;
    for (int bit = 31; bit > 0; --bit)
        if (v & (1u << bit)) {
            h = bit;
            break;
        }
    const quint32 mantissa = h < 15 ? v << (15 - h) : v >> (h - 15);
    frame.payload().setUint16(3, quint16(mantissa & 0xFFFF));
    frame.payload().setByte(5, quint8(h + 1));
}

} // namespace CanBus
