#pragma once

#include "canbus/frame/canmessage.h"
#include "kubus/catalogue/measuredrecords.h"

namespace CanBus {

// Turns the payload of a frame that a node sent on its own into the values of its measured-value
// record. Every decoder reads only what the payload holds: a byte beyond it reads as 0.
struct HandleSpontaneous {
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_VV_VOLT& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_VV_TEMP& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_VV_CURR& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_VV_INP_LEVEL& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_AD_PWR_MTR_FORW_PWR& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_AD_PWR_MTR_REFL_PWR& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_AD_PWR_MTR_TEMP& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_VV_ATT& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_VV_PHASE& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_CONT_LOOP_PARAMS& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_CONT_LOOP_PARAMS_2& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_TEMP& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_CONT_LOOP_VAL& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_TACHO& record);
    static void decode(
        const CanMessage& frame, Kubus::MainBoard_TP_CONT_LOOP_COMPONENTS_AND_MON& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_PWR_UNIT_VOLTAGE_1& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_PWR_UNIT_VOLTAGE_2& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_FREQUENCY& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_STATUS_AND_EXCEPT& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_SWITCH& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_EXT_SWITCH& record);
    static void decode(
        const CanMessage& frame, Kubus::MainBoard_TP_COMPONENTS_AND_POSITION& record);
    static void decode(const CanMessage& frame, Kubus::MainBoard_TP_VV_BYPASS_AND_MUTE& record);

    static void decode(
        const CanMessage& frame, Kubus::PowerAmplifier_AMP_STATUS_AND_EXCEPT& record);
    static void decode(const CanMessage& frame, Kubus::PowerAmplifier_AMP_TEMP& record);
    static void decode(const CanMessage& frame, Kubus::PowerAmplifier_AMP_POWER& record);
    static void decode(const CanMessage& frame, Kubus::PowerAmplifier_AMP_POWER_UNIT& record);
    static void decode(const CanMessage& frame, Kubus::PowerAmplifier_AMP_TRANSISTOR& record);
    static void decode(const CanMessage& frame, Kubus::PowerAmplifier_AMP_CONTROL& record);
    static void decode(const CanMessage& frame, Kubus::PowerAmplifier_AMP_CONTROL_2& record);
    static void decode(const CanMessage& frame, Kubus::PowerAmplifier_AMP_CONT_LOOP_PARAMS& record);
    static void decode(
        const CanMessage& frame, Kubus::PowerAmplifier_AMP_CONT_LOOP_PARAMS_2& record);
    static void decode(const CanMessage& frame, Kubus::PowerAmplifier_AMP_POSITION& record);

    // The mantissa/exponent frequency of TP_FREQUENCY and AMP_CONTROL.
    static quint32 frequency(quint16 mantissa, unsigned exponent);
    // An identify frame of another controller: no acknowledge request, node id 255 and our own
    // device class or the broadcast class.
    static bool isOtherBusMaster(const CanMessage& frame, unsigned ownDestination);
};

} // namespace CanBus
