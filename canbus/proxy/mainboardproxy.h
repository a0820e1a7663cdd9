#pragma once

#include "canbus/proxy/busproxy.h"
#include "canbus/proxy/mainboardspontaneous.h"
#include "kubus/catalogue/mainboardbus.h"

namespace CanBus {

// The proxy of the mainboard bus (CAN device 0) and MainBoardBus.
class MainBoardProxy : public BusProxy<Kubus::MainBoardBus, MainBoardSpontaneous> {
    Q_OBJECT

public:
    static constexpr const char* NodeCacheFile = "/var/etc/CanNodesMainBoard.ini";

    explicit MainBoardProxy(CanDevice* device);
    // The proxy's threads still run its slots until stopped: stop them before any part of the
    // object is taken down.
    ~MainBoardProxy() override;
};

} // namespace CanBus
