#pragma once

#include "canbus/proxy/busproxy.h"
#include "canbus/proxy/poweramplifierspontaneous.h"
#include "kubus/poweramplifierbus.h"

namespace CanBus {

// The proxy of the power-amplifier bus (CAN device 1) and PowerAmplifierBus.
class PowerAmplifierProxy : public BusProxy<Kubus::PowerAmplifierBus, PowerAmplifierSpontaneous> {
    Q_OBJECT

public:
    static constexpr const char* NodeCacheFile = "/var/etc/CanNodesPowerAmplifier.ini";

    explicit PowerAmplifierProxy(CanDevice* device);
};

} // namespace CanBus
