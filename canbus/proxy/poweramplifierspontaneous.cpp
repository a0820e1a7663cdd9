#include "canbus/proxy/poweramplifierspontaneous.h"

#include "canbus/proxy/identifyspontaneous.h"
#include "canbus/proxy/spontaneous.h"
#include "canbus/routing/canspontaneousmessagefactory.h"
#include "kubus/catalogue/poweramplifierbus.h"

namespace CanBus {

PowerAmplifierSpontaneous::PowerAmplifierSpontaneous(QObject* parent)
    : SpontaneousBase(parent)
{
}

void PowerAmplifierSpontaneous::create(
    CanAsyncReadWrite* pair, CanSpontaneousMessageFactory& factory)
{
    auto attach = [&](eCanMessageType type, SpontaneousReceiver* receiver) {
        connect(factory.signalObject(type), &CanMessageType::canMessage, receiver,
            &SpontaneousReceiver::receive);
    };
#define ZEF_AMP(TYPE)                                                                              \
    attach(TYPE,                                                                                   \
        new Spontaneous<Kubus::PowerAmplifierBus, TYPE, Kubus::PowerAmplifier_##TYPE>(             \
            pair, this));
    ZEF_AMP(AMP_STATUS_AND_EXCEPT)
    ZEF_AMP(AMP_TEMP)
    ZEF_AMP(AMP_POWER)
    ZEF_AMP(AMP_POWER_UNIT)
    ZEF_AMP(AMP_TRANSISTOR)
    ZEF_AMP(AMP_CONTROL)
    ZEF_AMP(AMP_CONTROL_2)
    ZEF_AMP(AMP_CONT_LOOP_PARAMS)
    ZEF_AMP(AMP_CONT_LOOP_PARAMS_2)
    ZEF_AMP(AMP_POSITION)
#undef ZEF_AMP
    attach(SCM_IDENTIFY,
        new IdentifySpontaneous(CanIdentifier::PowerAmplifier,
            QStringLiteral(
                "Another CAN busmaster was recognized! -- Shutting down ZEF400 software"),
            this));
}

} // namespace CanBus
