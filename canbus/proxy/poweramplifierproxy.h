#pragma once

#include "canbus/proxy/busproxy.h"
#include "canbus/proxy/poweramplifierspontaneous.h"
#include "kubus/catalogue/poweramplifierbus.h"

namespace CanBus {

// The proxy of the power-amplifier bus (CAN device 1) and PowerAmplifierBus.
class PowerAmplifierProxy : public BusProxy<Kubus::PowerAmplifierBus, PowerAmplifierSpontaneous> {
    Q_OBJECT

public:
    static constexpr const char* NodeCacheFile = "/var/etc/CanNodesPowerAmplifier.ini";

    explicit PowerAmplifierProxy(CanDevice* device);
    // The proxy's threads still run its slots until stopped: stop them before any part of the
    // object is taken down.
    ~PowerAmplifierProxy() override;
};

} // namespace CanBus
