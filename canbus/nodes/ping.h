#pragma once

#include "canbus/engine/statemachinecommand.h"
#include "kubus/catalogue/requestrecords.h"

#include <QTimer>

namespace CanBus {

// Asks one node whether it is there: an identify request addressed to it alone, and any identify
// frame of the node within 100 ms counts as the answer. A silent node is a successful ping with
// alive false, never a time-out.
class Ping : public StateMachineCommand<Kubus::Ping> {
    Q_OBJECT

public:
    static constexpr int WaitMs = 100;

    explicit Ping(CanNodeEngine& engine, QObject* parent = nullptr);

    QState* state(QState* parent) override;
    void setCurrentRequest(const Kubus::Ping& request) override;
    void dataWritten() override;

    void sendPing();
    void setAlive(bool alive) { m_alive = alive; }

public slots:
    void incomingMessage(const Kubus::Ping& request) override;

signals:
    void message(const Kubus::Ping::Response& response) override;

private:
    quint8 m_nodeId = 0;
    bool m_alive = false;
    QTimer m_waitTimer;
};

} // namespace CanBus
