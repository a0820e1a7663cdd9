#pragma once

#include <QObject>
#include <QThread>

#include <condition_variable>
#include <mutex>

namespace Kubus {

// Blocks the calling thread until sender emits signal. The signal is received in a thread of the
// unblocker's own, so the blocked thread needs no event loop; a signal that came before block()
// is not lost.
class SignaledUnblocker : public QObject {
    Q_OBJECT

public:
    // signal as given by SIGNAL(...).
    SignaledUnblocker(QObject* sender, const char* signal);
    ~SignaledUnblocker() override;

    // Returns once the signal has arrived, at once if it already has.
    void block();

public slots:
    void unblock();

private:
    // The standard mutex and condition rather than QMutex and QWaitCondition: the thread checker
    // cannot follow a QWaitCondition inside a Qt built without it, and reports races that are not.
    bool m_unblocked = false;
    std::mutex m_mutex;
    std::condition_variable m_condition;
    QThread m_thread;
};

} // namespace Kubus
