#pragma once

#include "canbus/device/canasyncreadwrite.h"
#include "canbus/device/candevicescm.h"
#include "canbus/engine/cannodeengine.h"
#include "canbus/engine/statemachinecommandbase.h"
#include "canbus/routing/candestinationsetter.h"
#include "canbus/routing/canfilter.h"
#include "canbus/routing/canspontaneousmessagefactory.h"

#include <QThread>

#include <functional>

#include <map>
#include <memory>
#include <vector>

class QFinalState;
class QState;

// The minimal wiring of node engines to one CAN bus of the running simulator and to the Kubus
// bus of that CAN bus, as the bus proxy makes it: device and reader/writer pair, filter and
// destination setter in an I/O thread; per node an engine with its idle state, its commands
// connected to the node's Kubus sub-bus by the request name ("Command_" -> "_").
class NodeRig {
public:
    // bus 0: mainboards (device 0, destination 0, MainBoardBus); 1: power amplifiers.
    explicit NodeRig(int bus);
    ~NodeRig();

    using Commands = std::vector<std::unique_ptr<CanBus::StateMachineCommandBase>>;

    // Makes the node's engine, its commands (made by makeCommands) and machine, and starts it.
    CanBus::CanNodeEngine& addNode(
        unsigned nodeId, const std::function<Commands(CanBus::CanNodeEngine&)>& makeCommands);
    CanBus::CanFilter& filter() { return *m_filter; }
    CanBus::CanAsyncReadWrite& pair() { return *m_pair; }

private:
    struct Node {
        std::unique_ptr<CanBus::CanNodeEngine> engine;
        Commands commands;
    };

    const int m_bus;
    QThread m_ioThread;
    std::unique_ptr<CanBus::CanDeviceScm> m_device;
    CanBus::CanAsyncReadWrite* m_pair = nullptr;
    CanBus::CanSpontaneousMessageFactory* m_spontaneous = nullptr;
    CanBus::CanFilter* m_filter = nullptr;
    CanBus::CanDestinationSetter* m_setter = nullptr;
    std::map<unsigned, Node> m_nodes;
};
