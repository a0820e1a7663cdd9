#pragma once

#include "canbus/nodes/timedreplycommand.h"
#include "kubus/requestrecords.h"

namespace CanBus {

// Restarts one node. The node confirms and then drops off the bus; identification finds it again.
// The command is done after the confirmation or 100 ms, whichever comes first.
class Reset : public TimedReplyCommand<Kubus::Reset, SCM_RESET_MODULE> {
    Q_OBJECT

public:
    explicit Reset(CanNodeEngine& engine, QObject* parent = nullptr);

public slots:
    void incomingMessage(const Kubus::Reset& request) override;

signals:
    void message(const Kubus::Reset::Response& response) override;
};

} // namespace CanBus
