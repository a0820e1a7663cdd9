#pragma once

#include "canbus/engine/statemachinecommand.h"
#include "kubus/catalogue/requestrecords.h"

#include <QTimer>

namespace CanBus {

// Restarts one node. The node confirms and then drops off the bus; identification finds it again.
// The command is done after the confirmation or 100 ms, whichever comes first.
class Reset : public StateMachineCommand<Kubus::Reset> {
    Q_OBJECT

public:
    static constexpr int WaitMs = 100;

    explicit Reset(CanNodeEngine& engine, QObject* parent = nullptr);

    QState* state(QState* parent) override;
    void sendReset();

public slots:
    void incomingMessage(const Kubus::Reset& request) override;

signals:
    void message(const Kubus::Reset::Response& response) override;

private:
    QTimer m_waitTimer;
};

} // namespace CanBus
