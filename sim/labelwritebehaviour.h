#pragma once

#include "sim/nodebehaviour.h"

namespace Sim {

// Service-data writes into the label memory (the firmware transfer stores the new version
// there): four bytes at the word address, confirmed by echoing the frame. A selector the board
// has no label for is rejected with code 1, a word beyond its label memory with code 3.
class LabelWriteBehaviour : public NodeBehaviour {
public:
    enum ErrorCode { UnknownSelector = 1, OutsideLabel = 3 };

    bool accepts(const SimNode& node, const CanBus::CanMessage& frame) const override;
    void handle(SimNode& node, const CanBus::CanMessage& frame,
        QVector<NodeAnswer>& answers) const override;
};

} // namespace Sim
