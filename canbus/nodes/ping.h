#pragma once

#include "canbus/nodes/timedreplycommand.h"
#include "kubus/requestrecords.h"

namespace CanBus {

// Asks one node whether it is there: an identify request addressed to it alone, and any identify
// frame of the node within 100 ms counts as the answer. A silent node is a successful ping with
// alive false, never a time-out.
class Ping : public TimedReplyCommand<Kubus::Ping, SCM_IDENTIFY> {
    Q_OBJECT

public:
    explicit Ping(CanNodeEngine& engine, QObject* parent = nullptr);

    void setCurrentRequest(const Kubus::Ping& request) override;
    void dataWritten() override;

public slots:
    void incomingMessage(const Kubus::Ping& request) override;

signals:
    void message(const Kubus::Ping::Response& response) override;

protected:
    void nodeAnswered() override { m_alive = true; }

private:
    void buildPing(CanMessageT<SCM_IDENTIFY>& frame) const;

    quint8 m_nodeId = 0;
    bool m_alive = false;
};

} // namespace CanBus
