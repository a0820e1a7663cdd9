#pragma once

#include "canbus/routing/spontaneousbase.h"

namespace CanBus {

// The spontaneous handlers of the mainboard bus: the twenty-three test-point frames and the
// watch for a second bus master.
class MainBoardSpontaneous : public SpontaneousBase {
    Q_OBJECT

public:
    explicit MainBoardSpontaneous(QObject* parent = nullptr);

    void create(CanAsyncReadWrite* pair, CanSpontaneousMessageFactory& factory) override;
};

} // namespace CanBus
