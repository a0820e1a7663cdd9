#include "kubus/bus.h"

#include "kubus/threadstopper.h"
#include "kubus/threadutils.h"

#include <QThread>

namespace Kubus {

Bus::Bus(QThread& thread)
    : busThread(&thread)
{
    moveToThread(&thread);
}

void Bus::start()
{
    waitForRunning(*busThread);
}

void Bus::stop()
{
    ThreadStopper::processEventsAndStop(*busThread);
}

} // namespace Kubus
