#include "canbus/proxy/mainboardspontaneous.h"

#include "canbus/proxy/identifyspontaneous.h"
#include "canbus/proxy/spontaneous.h"
#include "canbus/routing/canspontaneousmessagefactory.h"
#include "kubus/catalogue/mainboardbus.h"

namespace CanBus {

MainBoardSpontaneous::MainBoardSpontaneous(QObject* parent)
    : SpontaneousBase(parent)
{
}

void MainBoardSpontaneous::create(CanAsyncReadWrite* pair, CanSpontaneousMessageFactory& factory)
{
    auto attach = [&](eCanMessageType type, SpontaneousReceiver* receiver) {
        connect(factory.signalObject(type), &CanMessageType::canMessage, receiver,
            &SpontaneousReceiver::receive);
    };
#define ZEF_TP(TYPE)                                                                               \
    attach(TYPE, new Spontaneous<Kubus::MainBoardBus, TYPE, Kubus::MainBoard_##TYPE>(pair, this));
    ZEF_TP(TP_VV_VOLT)
    ZEF_TP(TP_VV_TEMP)
    ZEF_TP(TP_VV_CURR)
    ZEF_TP(TP_VV_INP_LEVEL)
    ZEF_TP(TP_AD_PWR_MTR_FORW_PWR)
    ZEF_TP(TP_AD_PWR_MTR_REFL_PWR)
    ZEF_TP(TP_AD_PWR_MTR_TEMP)
    ZEF_TP(TP_TEMP)
    ZEF_TP(TP_CONT_LOOP_VAL)
    ZEF_TP(TP_VV_ATT)
    ZEF_TP(TP_VV_PHASE)
    ZEF_TP(TP_CONT_LOOP_PARAMS)
    ZEF_TP(TP_CONT_LOOP_COMPONENTS_AND_MON)
    ZEF_TP(TP_CONT_LOOP_PARAMS_2)
    ZEF_TP(TP_PWR_UNIT_VOLTAGE_1)
    ZEF_TP(TP_PWR_UNIT_VOLTAGE_2)
    ZEF_TP(TP_TACHO)
    ZEF_TP(TP_FREQUENCY)
    ZEF_TP(TP_VV_BYPASS_AND_MUTE)
    ZEF_TP(TP_COMPONENTS_AND_POSITION)
    ZEF_TP(TP_STATUS_AND_EXCEPT)
    ZEF_TP(TP_SWITCH)
    ZEF_TP(TP_EXT_SWITCH)
#undef ZEF_TP
    attach(SCM_IDENTIFY,
        new IdentifySpontaneous(CanIdentifier::MainBoard,
            QStringLiteral("Another CAN busmaster was recognized! - Shutting down ZEF400 software"),
            this));
}

} // namespace CanBus
