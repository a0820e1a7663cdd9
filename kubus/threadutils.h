#pragma once

class QThread;

namespace Kubus {

// Starts thread (time-critical priority) unless it runs, and returns once it has really started.
void waitForRunning(QThread& thread);

// Waits without time limit until thread has ended.
void waitForFinished(QThread& thread);

} // namespace Kubus
