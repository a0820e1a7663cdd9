#pragma once

#include "sim/nodebehaviour.h"

namespace Sim {

// Identification and node-id assignment as a board plays them: it answers every identify
// request meant for it with its part number, variant, serial number and protocol version, and
// takes the node id of an assignment frame that names it, confirming with the new id.
class IdentifyBehaviour : public NodeBehaviour {
public:
    // The answer goes out at priority 3 with the acknowledge-request bit: without either the
    // controller takes a node without id for a second bus master.
    static constexpr unsigned answerPriority = 3;

    bool accepts(const SimNode& node, const CanBus::CanMessage& frame) const override;
    void handle(SimNode& node, const CanBus::CanMessage& frame,
        QVector<NodeAnswer>& answers) const override;

    static bool namesNode(const SimNode& node, const CanBus::CanMessage& frame);
};

} // namespace Sim
