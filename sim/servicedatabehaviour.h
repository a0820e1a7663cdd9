#pragma once

#include "sim/nodebehaviour.h"

namespace Sim {

// Service data as a board serves it: SCM_SERVICE_DATA_RD is answered with the selector, the
// word address and the four bytes of label memory there; SCM_SERVICE_DATA_WR stores its data
// bytes and is confirmed with the same frame. A selector the board does not have is rejected as
// unknown, a word past the end of its area or a frame of the wrong length as a bad parameter, a
// write while firmware access is open as not fitting the board's state.
class ServiceDataBehaviour : public NodeBehaviour {
public:
    static constexpr unsigned answerPriority = 4;

    bool accepts(const SimNode& node, const CanBus::CanMessage& frame) const override;
    void handle(SimNode& node, const CanBus::CanMessage& frame,
        QVector<NodeAnswer>& answers) const override;
};

} // namespace Sim
