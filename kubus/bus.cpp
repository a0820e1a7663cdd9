#include "kubus/bus.h"

#include "kubus/threadstopper.h"
#include "kubus/threadutils.h"

#include <QThread>

namespace Kubus {

Bus::Bus(QThread& thread)
    : thread(&thread)
{
    moveToThread(&thread);
}

void Bus::start()
{
    waitForRunning(*thread);
}

void Bus::stop()
{
    ThreadStopper::processEventsAndStop(*thread);
}

} // namespace Kubus
