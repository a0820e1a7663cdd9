#pragma once

#include "canbus/engine/statemachinecommand.h"
#include "canbus/nodes/sendmessage.h"
#include "kubus/catalogue/requestrecords.h"

namespace CanBus {

// Switches one node into its operating mode and waits for its confirmation; without one the
// command's own time-out answers.
class Operate : public StateMachineCommand<Kubus::Operate> {
    Q_OBJECT

public:
    explicit Operate(CanNodeEngine& engine, QObject* parent = nullptr);

    QState* state(QState* parent) override;

public slots:
    void incomingMessage(const Kubus::Operate& request) override;

signals:
    void message(const Kubus::Operate::Response& response) override;

private:
    SendMessage_SCM_SET_OPERATE m_sender;
};

} // namespace CanBus
