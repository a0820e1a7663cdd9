#pragma once

#include "sim/nodebehaviour.h"

namespace Sim {

// The amplifier position search as the boards play it. A mainboard told by SCM_COMMAND (sub-unit
// 0, command = slot index + 1) to signal one of its amplifier slots confirms the command and
// drives that slot's line on its unit's backplane; the amplifier plugged into that rack, unit
// and slot then names its slot with AMP_POSITION on its own bus. (Rack, unit and equipped slots
// reach the controller through the poll of TP_COMPONENTS_AND_POSITION: MessageBehaviour.)
class PositionBehaviour : public NodeBehaviour {
public:
    bool accepts(const SimNode& node, const CanBus::CanMessage& frame) const override;
    void handle(SimNode& node, const CanBus::CanMessage& frame,
        QVector<NodeAnswer>& answers) const override;

    // True when amplifier sits in slot (1..4) of that rack and unit.
    static bool sitsIn(const SimNode& amplifier, int rack, int unit, int slot);
    // The AMP_POSITION an amplifier sends when its slot line is driven.
    static CanBus::CanMessage positionFrame(const SimNode& amplifier);
};

} // namespace Sim
