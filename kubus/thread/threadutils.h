#pragma once

class QThread;

namespace Kubus {

// Starts thread (time-critical priority) unless it runs, and returns once it has really started.
void waitForRunning(QThread& thread);

// Waits without time limit until thread has ended.
void waitForFinished(QThread& thread);

// Gives every thread of the process Qt's own event dispatcher instead of GLib's, as the
// controller's Qt 4 had: a queued hand-over between threads then costs fewer system calls, which
// a firmware transfer pays four times per frame it answers. Call before the application object
// exists; a QT_NO_GLIB already set is kept.
void useQtEventDispatcher();

} // namespace Kubus
