#include "sim/simbus.h"

#include "kubus/kulog.h"
#include "sim/controllerconnection.h"
#include "sim/framebits.h"
#include "sim/noderesponder.h"
#include "sim/positionbehaviour.h"
#include "sim/tracewriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace Sim {

SimBus::SimBus(int bus, const QVector<SimNode>& nodes, const QElapsedTimer& clock, bool realtime,
    TraceWriter* trace, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
    , m_clock(clock)
    , m_realtime(realtime)
    , m_trace(trace)
{
    for (const SimNode& node : nodes) {
        if (node.bus == bus)
            m_nodes.append(node);
    }
    m_wakeTimer.setSingleShot(true);
    m_wakeTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_wakeTimer, &QTimer::timeout, this, &SimBus::run);
}

SimBus::~SimBus()
{
    qDeleteAll(m_connections);
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        ::unlink(QFile::encodeName(m_socketPath).constData());
    }
}

bool SimBus::listen(const QString& socketPath, QString* error)
{
    m_socketPath = socketPath;
    QDir().mkpath(QFileInfo(socketPath).absolutePath());
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof address.sun_path) {
        *error = QString("socket path %1 is too long").arg(socketPath);
        return false;
    }
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));

    // A socket file left by an earlier run would make bind fail.
    ::unlink(path.constData());
    m_listenFd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listenFd < 0
        || ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(m_listenFd, 16) != 0) {
        *error = QString("cannot listen on %1: %2").arg(socketPath, std::strerror(errno));
        if (m_listenFd >= 0)
            ::close(m_listenFd);
        m_listenFd = -1;
        return false;
    }
    m_acceptNotifier = new QSocketNotifier(m_listenFd, QSocketNotifier::Read, this);
    connect(m_acceptNotifier, &QSocketNotifier::activated, this, &SimBus::onNewConnection);
    Kubus::kuPrint(
        QString("%1: listening on %2 with %3 nodes").arg(name(), socketPath).arg(m_nodes.size()),
        Q_FUNC_INFO);
    return true;
}

void SimBus::onNewConnection()
{
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                Kubus::kuPrint(QString("%1: accept failed: %2").arg(name(), std::strerror(errno)),
                    Q_FUNC_INFO);
            return;
        }
        auto* connection = new ControllerConnection(fd, m_bus, ++m_connectionCount);
        connect(connection, &ControllerConnection::frameWritten, this, &SimBus::onFrameWritten);
        connect(connection, &ControllerConnection::closed, this, &SimBus::onConnectionClosed);
        m_connections.append(connection);
        Kubus::kuPrint(QString("%1: connected").arg(connection->name()), Q_FUNC_INFO);
    }
}

void SimBus::onConnectionClosed(ControllerConnection* connection)
{
    m_connections.removeAll(connection);
    for (PendingFrame& pending : m_pending) {
        if (pending.sender == connection)
            pending.sender = nullptr;
    }
    if (m_inFlight.sender == connection)
        m_inFlight.sender = nullptr;
    connection->deleteLater();
}

void SimBus::onFrameWritten(ControllerConnection* connection, const CanBus::CanMessage& frame)
{
    submit(frame, connection, -1, nowUs());
}

void SimBus::submit(
    const CanBus::CanMessage& frame, ControllerConnection* sender, int senderNode, qint64 readyUs)
{
    PendingFrame pending;
    pending.frame = frame;
    pending.fromController = senderNode < 0;
    pending.sender = sender;
    pending.senderNode = senderNode;
    pending.readyUs = readyUs;
    pending.sequence = m_sequence++;
    m_pending.append(pending);
    run();
}

void SimBus::wakeAt(qint64 us)
{
    const qint64 waitUs = qMax<qint64>(0, us - nowUs());
    m_wakeTimer.start(int((waitUs + 999) / 1000));
}

void SimBus::run()
{
    // Answers that deliver() produces come back here through submit(); the loop below
    // picks them up, so it never runs nested.
    if (m_running)
        return;
    m_running = true;
    for (;;) {
        if (m_haveInFlight) {
            if (m_realtime && nowUs() < m_inFlightEndUs) {
                wakeAt(m_inFlightEndUs);
                break;
            }
            m_haveInFlight = false;
            deliver(m_inFlight, m_inFlightEndUs);
            continue;
        }
        if (m_pending.isEmpty())
            break;

        qint64 earliest = m_pending.first().readyUs;
        for (const PendingFrame& p : m_pending)
            earliest = qMin(earliest, p.readyUs);
        const qint64 start = qMax(m_busFreeUs, earliest);
        if (m_realtime && start > nowUs()) {
            wakeAt(start);
            break;
        }
        // Arbitration: of the frames ready when the bus frees up, the lowest identifier wins.
        int winner = -1;
        for (int i = 0; i < m_pending.size(); ++i) {
            const PendingFrame& p = m_pending.at(i);
            if (p.readyUs > start)
                continue;
            if (winner < 0) {
                winner = i;
                continue;
            }
            const PendingFrame& w = m_pending.at(winner);
            if (p.frame.rawIdentifier() < w.frame.rawIdentifier()
                || (p.frame.rawIdentifier() == w.frame.rawIdentifier() && p.sequence < w.sequence))
                winner = i;
        }
        m_inFlight = m_pending.takeAt(winner);
        m_inFlightEndUs = start
            + FrameBits::frameDurationUs(
                m_inFlight.frame.rawIdentifier(), m_inFlight.frame.bytes());
        m_busFreeUs = m_inFlightEndUs;
        m_haveInFlight = true;
    }
    // The trace first: whoever reads a frame from a socket finds it in the trace already.
    if (m_trace)
        m_trace->flush();
    // A connection that fails while sending closes and leaves m_connections: walk a copy.
    const QVector<ControllerConnection*> connections = m_connections;
    for (ControllerConnection* connection : connections)
        connection->flush();
    m_running = false;
}

void SimBus::deliver(const PendingFrame& pending, qint64 endUs)
{
    ++m_framesOnBus;
    if (m_trace)
        m_trace->write(endUs, m_bus, pending.frame, pending.fromController);
    for (ControllerConnection* connection : m_connections) {
        if (connection != pending.sender)
            connection->queueFrame(pending.frame);
    }
    if (!pending.fromController)
        return;

    const qint64 wallUs = nowUs();
    for (int i = 0; i < m_nodes.size(); ++i) {
        SimNode& node = m_nodes[i];
        const qint64 readyUs = endUs + node.processingDelayUs;
        for (const NodeAnswer& answer : NodeResponder::receive(node, pending.frame, wallUs)) {
            if (answer.extraDelayUs <= 0) {
                submit(answer.frame, nullptr, i, readyUs + answer.workUs);
                continue;
            }
            // A late answer is late on the wall clock too, so time-outs of the controller
            // really expire.
            const qint64 lateUs = readyUs + answer.workUs + answer.extraDelayUs;
            const CanBus::CanMessage frame = answer.frame;
            QTimer::singleShot(int((answer.extraDelayUs + 999) / 1000), Qt::PreciseTimer, this,
                [this, frame, i, lateUs]() { submit(frame, nullptr, i, qMax(lateUs, nowUs())); });
        }
        for (const int slot : node.firmware.signalledSlots)
            emit slotSignalled(node.rack, node.unit, slot, readyUs);
        node.firmware.signalledSlots.clear();
    }
}

void SimBus::signalSlot(int rack, int unit, int slot, qint64 busUs)
{
    const qint64 wallUs = nowUs();
    for (int i = 0; i < m_nodes.size(); ++i) {
        SimNode& node = m_nodes[i];
        NodeResponder::updatePresence(node, wallUs);
        if (!node.present || !PositionBehaviour::sitsIn(node, rack, unit, slot))
            continue;
        const bool silent = std::any_of(node.faults.cbegin(), node.faults.cend(),
            [](const SimNode::ActiveFault& a) { return a.fault.kind == NodeFault::Silent; });
        if (silent)
            continue;
        ++node.framesAnswered;
        submit(PositionBehaviour::positionFrame(node), nullptr, i, busUs + node.processingDelayUs);
    }
}

void SimBus::logSummary()
{
    Kubus::kuPrint(QString("%1: %2 frames on the bus").arg(name()).arg(m_framesOnBus), Q_FUNC_INFO);
    for (ControllerConnection* connection : m_connections)
        connection->logSummary();
    for (const SimNode& node : m_nodes) {
        if (node.framesLost > 0)
            Kubus::kuPrint(
                QString("%1: %2 frames lost by faults").arg(node.name()).arg(node.framesLost),
                Q_FUNC_INFO);
    }
}

} // namespace Sim
