#pragma once

#include "canbus/proxy/proxy.h"

namespace CanBus {

// The proxy of the mainboard bus (CAN device 0) and MainBoardBus.
class MainBoardProxy : public Proxy {
    Q_OBJECT

public:
    static constexpr const char* NodeCacheFile = "/var/etc/CanNodesMainBoard.ini";

    explicit MainBoardProxy(CanDevice* device);

protected:
    void addCommands(CanNodeEngine& engine, QState* idle) override;
    bool connectToNode(
        int nodeId, const QString& signal, QObject* receiver, const QString& slot) override;
};

} // namespace CanBus
