#pragma once

#include "canbus/proxy/proxy.h"

namespace CanBus {

// The proxy of the power-amplifier bus (CAN device 1) and PowerAmplifierBus.
class PowerAmplifierProxy : public Proxy {
    Q_OBJECT

public:
    static constexpr const char* NodeCacheFile = "/var/etc/CanNodesPowerAmplifier.ini";

    explicit PowerAmplifierProxy(CanDevice* device);

protected:
    void addCommands(CanNodeEngine& engine, QState* idle) override;
    bool connectToNode(
        int nodeId, const QString& signal, QObject* receiver, const QString& slot) override;
};

} // namespace CanBus
