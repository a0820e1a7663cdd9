#pragma once

#include "canbus/routing/spontaneousreceiver.h"

#include <QString>

#include <atomic>

namespace CanBus {

// Watches the identify frames of a bus for a second controller: an identify request that is not
// a node's answer means another master drives the bus, and this program must leave it.
class IdentifySpontaneous : public SpontaneousReceiver {
    Q_OBJECT

public:
    IdentifySpontaneous(
        unsigned ownDestination, const QString& stopText, QObject* parent = nullptr);

    // False: report the other master with otherBusMaster() only, instead of the maintenance stop.
    void setStopForMaintenance(bool stop) { m_stopForMaintenance = stop; }

signals:
    void otherBusMaster();

protected:
    void handleCanMessage(const CanMessage& frame) override;

private:
    unsigned m_ownDestination;
    QString m_stopText;
    std::atomic<bool> m_stopForMaintenance { true };
};

} // namespace CanBus
