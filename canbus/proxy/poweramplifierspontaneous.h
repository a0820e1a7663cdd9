#pragma once

#include "canbus/routing/spontaneousbase.h"

namespace CanBus {

// The spontaneous handlers of the power-amplifier bus: the ten amplifier frames and the
// watch for a second bus master.
class PowerAmplifierSpontaneous : public SpontaneousBase {
    Q_OBJECT

public:
    explicit PowerAmplifierSpontaneous(QObject* parent = nullptr);

    void create(CanAsyncReadWrite* pair, CanSpontaneousMessageFactory& factory) override;
};

} // namespace CanBus
