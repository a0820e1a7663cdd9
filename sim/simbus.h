#pragma once

#include "canbus/frame/canmessage.h"
#include "sim/simnode.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

#include <functional>
#include <vector>

class QSocketNotifier;

namespace Sim {

class ControllerConnection;
class TraceWriter;

// One CAN bus at 125 kbit/s: the listening device socket, the controllers connected to it and
// the nodes on it. Frames wait in two heaps: those not yet ready (by ready time) and those
// ready (by identifier); whenever the bus is free the lowest identifier among the ready frames
// wins arbitration and occupies the bus for its exact bit length. Each controller has at most
// ControllerConnection::maximumFramesWaiting frames waiting; beyond that its socket is not read
// until one has gone out, so its writes block as on a driver whose send buffer is full. A frame is
// delivered at its modelled end: to every controller but its sender, and, when a controller sent
// it, to every node, whose answers queue up after their processing delay. In real time the end is
// also awaited on the wall clock; otherwise frames go out at once and only the trace carries the
// modelled times.
class SimBus : public QObject {
    Q_OBJECT

public:
    SimBus(int bus, const QVector<SimNode>& nodes, const QElapsedTimer& clock, bool realtime,
        TraceWriter* trace, QObject* parent = nullptr);
    ~SimBus() override;

    // Listens on socketPath (a stale file is removed first).
    bool listen(const QString& socketPath, QString* error);

    int index() const { return m_bus; }
    QString name() const { return QString("can%1").arg(m_bus); }
    QVector<SimNode>& nodes() { return m_nodes; }
    const QVector<SimNode>& nodes() const { return m_nodes; }
    qint64 framesOnBus() const { return m_framesOnBus; }
    // The most frames one controller had waiting for the bus at once.
    int mostFramesWaiting() const { return m_mostFramesWaiting; }
    // Real time only: how late frames were delivered against their modelled end.
    struct Lateness {
        qint64 frames = 0;
        qint64 medianUs = 0;
        qint64 p99Us = 0;
        qint64 maximumUs = 0;
    };
    Lateness lateness() const;
    void logSummary();

    // A mainboard's backplane drove the line of one amplifier slot at busUs (bus time): the
    // amplifier plugged in there answers on this bus.
    void signalSlot(int rack, int unit, int slot, qint64 busUs);

signals:
    // A node of this bus drove a slot line (see signalSlot).
    void slotSignalled(int rack, int unit, int slot, qint64 busUs);

private:
    struct PendingFrame {
        CanBus::CanMessage frame;
        bool fromController = false;
        ControllerConnection* sender = nullptr; // null once that connection has closed
        int senderNode = -1;
        qint64 readyUs = 0;
        quint64 sequence = 0;
    };

    void onNewConnection();
    void acceptFailed(int error);
    void sendSpontaneous();
    void scheduleSpontaneous();
    void onFrameWritten(
        ControllerConnection* connection, const CanBus::CanMessage& frame, qint64 writtenAgoUs);
    void onConnectionClosed(ControllerConnection* connection);
    void submit(const CanBus::CanMessage& frame, ControllerConnection* sender, int senderNode,
        qint64 readyUs);
    void run();
    void deliver(const PendingFrame& pending, qint64 endUs);
    qint64 nowUs() const { return m_clock.nsecsElapsed() / 1000; }
    void wakeAt(qint64 us);

    int m_bus;
    QVector<SimNode> m_nodes;
    const QElapsedTimer& m_clock;
    bool m_realtime;
    TraceWriter* m_trace;
    int m_listenFd = -1;
    QString m_socketPath;
    QSocketNotifier* m_acceptNotifier = nullptr;
    QVector<ControllerConnection*> m_connections;
    int m_connectionCount = 0;

    static bool laterReady(const PendingFrame& a, const PendingFrame& b);
    static bool losesArbitration(const PendingFrame& a, const PendingFrame& b);
    void forEachPending(const std::function<void(PendingFrame&)>& f);

    std::vector<PendingFrame> m_waiting; // min-heap by ready time
    std::vector<PendingFrame> m_ready; // min-heap by identifier, then sequence
    quint64 m_sequence = 0;
    qint64 m_busFreeUs = 0;
    bool m_running = false;
    // Real time only: the frame on the bus until its end has passed on the wall clock.
    bool m_haveInFlight = false;
    PendingFrame m_inFlight;
    qint64 m_inFlightEndUs = 0;
    QTimer m_wakeTimer;
    int m_timerFd = -1; // real time: wakes the loop shortly before a frame's end
    QSocketNotifier* m_timerNotifier = nullptr;
    qint64 m_framesOnBus = 0;
    int m_mostFramesWaiting = 0;
    std::vector<qint32> m_latenessUs; // real time: delivery minus modelled end, per frame
    QTimer m_spontaneousTimer;
    QTimer m_acceptRetryTimer;
    int m_acceptFailures = 0;
};

} // namespace Sim
