#pragma once

#include "canbus/engine/canerrortransition.h"

namespace CanBus {

// The firmware transfer's reaction to a node's rejection: the codes of a failed flash access
// (4, 32, 33, 34, 36) end the transfer as well as the common ones.
class CanFwErrorTransition : public CanErrorTransition {
    Q_OBJECT

public:
    explicit CanFwErrorTransition(CanNodeEngine& engine, QState* source = nullptr);

protected:
    bool isError(unsigned code, const CanIdentifier& rejected) override;
};

} // namespace CanBus
