#include "canbus/proxy/identifyspontaneous.h"

#include "canbus/proxy/handlespontaneous.h"
#include "kubus/log/kulog.h"
#include "platform/maintenance.h"

namespace CanBus {

IdentifySpontaneous::IdentifySpontaneous(
    unsigned ownDestination, const QString& stopText, QObject* parent)
    : SpontaneousReceiver(parent)
    , m_ownDestination(ownDestination)
    , m_stopText(stopText)
{
}

void IdentifySpontaneous::handleCanMessage(const CanMessage& frame)
{
    if (!HandleSpontaneous::isOtherBusMaster(frame, m_ownDestination))
        return;
    if (!m_stopForMaintenance) {
        Kubus::kuPrint("Another CAN busmaster was recognized!", Q_FUNC_INFO);
        emit otherBusMaster();
        return;
    }
    Kubus::kuPrint(m_stopText, Q_FUNC_INFO);
    Common::stop4Maintenance();
}

} // namespace CanBus
