#pragma once

#include "sim/nodebehaviour.h"

namespace Sim {

// Node control as a board plays it: operate is confirmed and remembered; a reset is confirmed
// (unless it went to all nodes), then the board is off the bus while it restarts and comes back
// without node id, keeping its flash and label (so with the versions written into it).
class ControlBehaviour : public NodeBehaviour {
public:
    // Boot loader start, image check and application start of a board.
    static constexpr qint64 restartUs = 300000;

    bool accepts(const SimNode& node, const CanBus::CanMessage& frame) const override;
    void handle(SimNode& node, const CanBus::CanMessage& frame,
        QVector<NodeAnswer>& answers) const override;

    // The board stops now (reset, power loss) and is back restartUs later.
    static void goDown(SimNode& node, const QString& why);
    // Brings a board that went down back once its restart time has passed at wallUs.
    static void updateRestart(SimNode& node, qint64 wallUs);
};

} // namespace Sim
