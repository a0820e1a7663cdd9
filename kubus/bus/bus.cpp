#include "kubus/bus/bus.h"

#include "kubus/thread/threadstopper.h"
#include "kubus/thread/threadutils.h"

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
