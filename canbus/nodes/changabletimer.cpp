#include "canbus/nodes/changabletimer.h"

namespace CanBus {

ChangableTimer::ChangableTimer(QObject* parent)
    : QTimer(parent)
{
}

void ChangableTimer::startNextInterval()
{
    setInterval(m_nextInterval);
    start();
}

} // namespace CanBus
