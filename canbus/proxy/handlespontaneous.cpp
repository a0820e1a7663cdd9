#include "canbus/proxy/handlespontaneous.h"

#include "canbus/frame/canpayload.h"

#include <cmath>
#include <initializer_list>

namespace CanBus {

namespace {

// Payload access that never reads beyond the frame.
struct Bytes {
    const CanMessage& frame;

    unsigned byte(int i) const { return i < frame.length() ? frame[i] : 0u; }
    bool bit(int i, int b) const { return (byte(i) >> b) & 1u; }
    quint16 u16(int i) const { return quint16(byte(i) | (byte(i + 1) << 8)); }
    float bcd(int i) const
    {
        return i + 1 < frame.length() ? CanPayload::decodeBcd(u16(i)) : std::nanf("");
    }
};

template <class R, int N> void words(const CanMessage& frame, R& record)
{
    const Bytes b { frame };
    for (int i = 1; i <= N; ++i)
        record.value(i) = b.u16(2 * (i - 1));
}

template <class R, int N> void bytes(const CanMessage& frame, R& record)
{
    const Bytes b { frame };
    for (int i = 1; i <= N; ++i)
        record.value(i) = quint8(b.byte(i - 1));
}

// BCD values at bytes 0, 2, 4, ... into the given fields, in that order.
void bcds(const CanMessage& frame, std::initializer_list<float*> fields)
{
    const Bytes b { frame };
    int at = 0;
    for (float* field : fields) {
        *field = b.bcd(at);
        at += 2;
    }
}

} // namespace

quint32 HandleSpontaneous::frequency(quint16 mantissa, unsigned exponent)
{
    if (exponent < 16)
        return quint32(mantissa) >> (16 - exponent);
    const unsigned shift = exponent - 16;
    return shift >= 32 ? 0u : quint32(mantissa) << shift;
}

bool HandleSpontaneous::isOtherBusMaster(const CanMessage& frame, unsigned ownDestination)
{
    return !frame.ackRequest() && frame.nodeId() == CanIdentifier::BroadcastNodeId
        && (frame.destination() == ownDestination || frame.destination() == 15);
}

// clang-format off
void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_VV_VOLT& r) { words<decltype(r), 4>(f, r); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_VV_TEMP& r) { words<decltype(r), 4>(f, r); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_VV_CURR& r) { words<decltype(r), 4>(f, r); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_VV_INP_LEVEL& r) { words<decltype(r), 4>(f, r); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_AD_PWR_MTR_FORW_PWR& r) { words<decltype(r), 4>(f, r); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_AD_PWR_MTR_REFL_PWR& r) { words<decltype(r), 4>(f, r); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_AD_PWR_MTR_TEMP& r) { words<decltype(r), 4>(f, r); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_VV_ATT& r) { words<decltype(r), 4>(f, r); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_VV_PHASE& r) { words<decltype(r), 4>(f, r); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_CONT_LOOP_PARAMS& r) { words<decltype(r), 4>(f, r); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_CONT_LOOP_PARAMS_2& r) { words<decltype(r), 4>(f, r); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_TEMP& r) { words<decltype(r), 2>(f, r); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_CONT_LOOP_VAL& r) { words<decltype(r), 1>(f, r); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_TACHO& r) { bytes<decltype(r), 2>(f, r); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_CONT_LOOP_COMPONENTS_AND_MON& r) { bytes<decltype(r), 2>(f, r); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_PWR_UNIT_VOLTAGE_1& r) { bcds(f, { &r.voltage_1_2_V, &r.voltage_2_5_V, &r.voltage_3_3_V, &r.voltage_5_V }); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_PWR_UNIT_VOLTAGE_2& r) { bcds(f, { &r.voltage_12_V, &r.voltage_M_5_V }); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::PowerAmplifier_AMP_TEMP& r) { bcds(f, { &r.temp1, &r.temp2, &r.tempLaw }); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::PowerAmplifier_AMP_POWER& r) { bcds(f, { &r.powerOutPeak, &r.powerOutAv, &r.powerRefl }); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::PowerAmplifier_AMP_POWER_UNIT& r) { bcds(f, { &r.overVoltage, &r.tempPwrUnit1, &r.tempPwrUnit2 }); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::PowerAmplifier_AMP_TRANSISTOR& r) { bcds(f, { &r.CurrTrans1, &r.CurrTrans2, &r.CurrDrain }); }
void HandleSpontaneous::decode(const CanMessage& f, Kubus::PowerAmplifier_AMP_CONT_LOOP_PARAMS_2& r) { bcds(f, { &r.outputPower, &r.minOutputPower, &r.maxOutputPower }); }
// clang-format on

void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_FREQUENCY& r)
{
    const Bytes b { f };
    r.frequency = frequency(b.u16(0), b.byte(2));
}

void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_STATUS_AND_EXCEPT& r)
{
    const Bytes b { f };
    r.rackAirCoolerOn = b.bit(0, 0);
    r.airCoolerOn.value(1) = b.bit(0, 1);
    r.airCoolerOn.value(2) = b.bit(0, 2);
    r.blowerFail.value(1) = b.bit(0, 3);
    r.blowerFail.value(2) = b.bit(0, 4);
    r.overTemperature = b.bit(0, 5);
    r.voltageFail = b.bit(0, 6);
    r.preAmplifierOverInputLevel.value(1) = b.bit(0, 7);
    for (int i = 2; i <= 4; ++i)
        r.preAmplifierOverInputLevel.value(i) = b.bit(1, i - 2);
    for (int i = 1; i <= 4; ++i)
        r.preAmplifierOverTemperature.value(i) = b.bit(1, i + 2);
    r.preAmplifierOverCurrent.value(1) = b.bit(1, 7);
    for (int i = 2; i <= 4; ++i)
        r.preAmplifierOverCurrent.value(i) = b.bit(2, i - 2);
    for (int i = 1; i <= 4; ++i)
        r.preAmplifierUnderInputLevel.value(i) = b.bit(2, i + 2);
    r.powerMeterOverTemperature.value(1) = b.bit(2, 7);
    for (int i = 2; i <= 4; ++i)
        r.powerMeterOverTemperature.value(i) = b.bit(3, i - 2);
    r.measuredValuesMuteReady = !b.bit(3, 6);
    r.powerReductionOn = b.bit(3, 7);
    r.mainBoardOverTemperatureException = b.bit(4, 0);
    r.voltageException = b.bit(4, 1);
    for (int i = 1; i <= 4; ++i)
        r.preAmplifierOverInputLevelException.value(i) = b.bit(4, i + 1);
    r.preAmplifierOverTemperatureException.value(1) = b.bit(4, 6);
    r.preAmplifierOverTemperatureException.value(2) = b.bit(4, 7);
    r.preAmplifierOverTemperatureException.value(3) = b.bit(5, 0);
    r.preAmplifierOverTemperatureException.value(4) = b.bit(5, 1);
    for (int i = 1; i <= 4; ++i)
        r.preAmplifierOverCurrentException.value(i) = b.bit(5, i + 1);
    r.powerMeterOverTemperatureException.value(1) = b.bit(5, 6);
    r.powerMeterOverTemperatureException.value(2) = b.bit(5, 7);
    r.powerMeterOverTemperatureException.value(3) = b.bit(6, 0);
    r.powerMeterOverTemperatureException.value(4) = b.bit(6, 1);
}

void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_SWITCH& r)
{
    const Bytes b { f };
    r.controlLoopActive = b.bit(1, 4);
    r.amplifierCorrentionOn = b.bit(1, 5);
    r.phaseCorrectionOn = b.bit(1, 6);
    r.valveControlOn = b.bit(1, 7);
    r.inputSwitchPosition = int(b.byte(2) & 7);
    r.fanSpeed = int(b.byte(3));
    r.fanControlSource = b.bit(4, 0);
    r.fanActive = b.bit(4, 1);
    for (int i = 0; i < 4; ++i)
        r.powerMeterMkSense.value(i + 1) = quint8((b.byte(5) >> (2 * i)) & 3);
    r.controlLoopMode = int(b.byte(6) & 0x0F);
    r.extLcPolarity = b.bit(6, 4);
}

void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_EXT_SWITCH& r)
{
    const Bytes b { f };
    for (int i = 0; i < 2; ++i) {
        r.outputSwitchesPosition.value(i + 1) = b.bit(0, 2 * i);
        r.outputSwitchesState.value(i + 1) = b.bit(2, 2 * i + 1);
    }
    const unsigned error = b.byte(3);
    r.outputSwitchExternalError = error >= 1 && error <= 6 ? int(error) : 0;
}

void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_COMPONENTS_AND_POSITION& r)
{
    const Bytes b { f };
    for (int i = 0; i < 4; ++i)
        r.preAmplifierPresent.value(i + 1) = b.bit(0, i);
    r.inputSwitchPresent = b.bit(0, 4);
    for (int i = 0; i < 2; ++i)
        r.outputSwitchPresent.value(i + 1) = b.bit(0, i + 5);
    for (int i = 0; i < 4; ++i)
        r.powerMeterPresent.value(i + 1) = b.bit(1, i + 1);
    for (int i = 0; i < 3; ++i)
        r.powerAmplifierPresent.value(i + 1) = b.bit(1, i + 5);
    r.powerAmplifierPresent.value(4) = b.bit(2, 0);
    r.locationUnitNumber = int(b.byte(4) & 0x0F) + 1;
    r.locationRackNumber = int(b.byte(4) >> 4) + 1;
}

void HandleSpontaneous::decode(const CanMessage& f, Kubus::MainBoard_TP_VV_BYPASS_AND_MUTE& r)
{
    const Bytes b { f };
    for (int i = 0; i < 4; ++i) {
        r.preAmplifierBypass.value(i + 1) = b.bit(0, 2 * i);
        r.preAmplifierMute.value(i + 1) = b.bit(0, 2 * i + 1);
        r.preAmplifierForPowerReduction.value(i + 1) = b.bit(1, i + 1);
    }
}

void HandleSpontaneous::decode(const CanMessage& f, Kubus::PowerAmplifier_AMP_STATUS_AND_EXCEPT& r)
{
    const Bytes b { f };
    r.warningOverInpPower = b.bit(0, 0);
    r.BIASBusy = b.bit(0, 1);
    r.warningOverVswr = b.bit(0, 3);
    r.warningOverTemp = b.bit(0, 6);
    r.warningOverCurrent = b.bit(0, 7);
    r.warningOverPower = b.bit(1, 0);
    r.warningOverReflPower = b.bit(1, 1);
    r.warningMute = b.bit(1, 2);
    bool* errors[] = { &r.errorInputOver, &r.errorPowerRefl, &r.errorOverTemp, &r.errorOverCurrent,
        &r.errorOverPower, &r.errorOverRefl, &r.errorRelaisSetError,
        &r.errorUnexpectedRelaisSwitch };
    bool* supplyErrors[] = { &r.error3V3, &r.error5V, &r.error12V, &r.errorM5V, &r.errorVS,
        &r.error5VA, &r.error2V5, &r.error1V2 };
    bool* supplyWarnings[] = { &r.warning3V3, &r.warning5V, &r.warning12V, &r.warningM5V,
        &r.warningVS, &r.warning5VA, &r.warning2V5, &r.warning1V2 };
    for (int bit = 0; bit < 8; ++bit) {
        *errors[bit] = b.bit(2, bit);
        *supplyErrors[bit] = b.bit(3, bit);
        *supplyWarnings[bit] = b.bit(4, bit);
    }
}

void HandleSpontaneous::decode(const CanMessage& f, Kubus::PowerAmplifier_AMP_CONTROL& r)
{
    const Bytes b { f };
    r.phaseCorrectionValue = b.bcd(0);
    r.powerCorrectionValue = b.bcd(2);
    r.frequency = float(frequency(b.u16(4), b.byte(6))) / 1000.0f;
    r.powerSwitch = b.bit(7, 0);
    r.operate = b.bit(7, 1);
    r.powerCorrectionEnabled = b.bit(7, 2);
    r.phaseCorrectionEnabled = b.bit(7, 3);
    switch ((b.byte(7) >> 4) & 7) {
    case 1:
        r.interlockGroup = 1;
        break;
    case 2:
        r.interlockGroup = 2;
        break;
    case 4:
        r.interlockGroup = 3;
        break;
    default:
        r.interlockGroup = 0;
    }
}

void HandleSpontaneous::decode(const CanMessage& f, Kubus::PowerAmplifier_AMP_CONTROL_2& r)
{
    const Bytes b { f };
    r.picMode = int(b.byte(0) & 3);
    r.muteReady = b.bit(0, 2);
    r.peakAverageMode = int(b.byte(0) >> 4);
    r.controlLoopActive = b.bit(1, 0);
    r.controlLoopMode = int((b.byte(1) >> 1) & 0x0F);
    r.controlLoopPwrMtr = int((b.byte(1) >> 5) & 3);
}

void HandleSpontaneous::decode(const CanMessage& f, Kubus::PowerAmplifier_AMP_CONT_LOOP_PARAMS& r)
{
    const Bytes b { f };
    for (int i = 0; i < 4; ++i)
        r.loopParam[i] = b.bcd(2 * i);
}

void HandleSpontaneous::decode(const CanMessage& f, Kubus::PowerAmplifier_AMP_POSITION& r)
{
    r.slot = f.length() > 0 ? int(f[0] & 3) : 0;
}

} // namespace CanBus
