#pragma once

#include <QTimer>

#include <atomic>

namespace CanBus {

// A timer whose next interval can be set while it runs, from any thread; it takes effect at the
// next start.
class ChangableTimer : public QTimer {
    Q_OBJECT

public:
    explicit ChangableTimer(QObject* parent = nullptr);

    void setNextInterval(int ms) { m_nextInterval = ms; }
    int nextInterval() const { return m_nextInterval; }

public slots:
    void startNextInterval();

private:
    // Set from other threads than the timer's.
    std::atomic<int> m_nextInterval { 1000 };
};

} // namespace CanBus
