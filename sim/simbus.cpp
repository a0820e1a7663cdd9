#include "sim/simbus.h"

#include "kubus/log/kulog.h"
#include "sim/controllerconnection.h"
#include "sim/framebits.h"
#include "sim/messagebehaviour.h"
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
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <unistd.h>

namespace Sim {

namespace {
// Real time: the wait before a frame's end is slept on a timer descriptor (microsecond
// resolution, unlike the millisecond steps of QTimer) up to this close to it, then polled
// through the event loop, so delivery is microseconds late, not a millisecond.
constexpr qint64 pollWindowUs = 200;
constexpr int acceptRetryMs = 200;
// Lateness samples kept for the statistic (about two minutes of a full bus).
constexpr size_t maximumLatenessSamples = 1000000;
} // namespace

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
    if (m_realtime) {
        // The kernel's default timer slack (50 us) would make every wake-up that much late.
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        m_timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (m_timerFd >= 0) {
            m_timerNotifier = new QSocketNotifier(m_timerFd, QSocketNotifier::Read, this);
            connect(m_timerNotifier, &QSocketNotifier::activated, this, [this]() {
                quint64 expirations = 0;
                const ssize_t n = ::read(m_timerFd, &expirations, sizeof expirations);
                (void)n; // only clears the readiness
                run();
            });
        }
    }
    m_acceptRetryTimer.setSingleShot(true);
    connect(&m_acceptRetryTimer, &QTimer::timeout, this, [this]() {
        if (m_acceptNotifier)
            m_acceptNotifier->setEnabled(true);
        onNewConnection();
    });

    m_spontaneousTimer.setSingleShot(true);
    m_spontaneousTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_spontaneousTimer, &QTimer::timeout, this, &SimBus::sendSpontaneous);
    const qint64 now = nowUs();
    for (SimNode& node : m_nodes) {
        for (SimNode::SpontaneousSource& source : node.spontaneous)
            source.nextUs = now + source.periodUs;
    }
    scheduleSpontaneous();
}

SimBus::~SimBus()
{
    qDeleteAll(m_connections);
    if (m_timerFd >= 0)
        ::close(m_timerFd);
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
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                acceptFailed(errno);
            return;
        }
        if (m_acceptFailures > 0) {
            Kubus::kuPrint(QString("%1: accepting again after %2 failed attempts")
                               .arg(name())
                               .arg(m_acceptFailures),
                Q_FUNC_INFO);
            m_acceptFailures = 0;
        }
        auto* connection = new ControllerConnection(fd, m_bus, ++m_connectionCount);
        connect(connection, &ControllerConnection::frameWritten, this, &SimBus::onFrameWritten);
        connect(connection, &ControllerConnection::closed, this, &SimBus::onConnectionClosed);
        m_connections.append(connection);
        Kubus::kuPrint(QString("%1: connected").arg(connection->name()), Q_FUNC_INFO);
    }
}

void SimBus::acceptFailed(int error)
{
    // Out of descriptors the pending connection stays and the socket stays readable: without a
    // pause the loop would spin and log the same line without end.
    if (m_acceptFailures == 0)
        Kubus::kuPrint(QString("%1: accept failed: %2; retrying every %3 ms, logged once")
                           .arg(name(), std::strerror(error))
                           .arg(acceptRetryMs),
            Q_FUNC_INFO);
    ++m_acceptFailures;
    m_acceptNotifier->setEnabled(false);
    m_acceptRetryTimer.start(acceptRetryMs);
}

void SimBus::forEachPending(const std::function<void(PendingFrame&)>& f)
{
    for (PendingFrame& pending : m_waiting)
        f(pending);
    for (PendingFrame& pending : m_ready)
        f(pending);
}

void SimBus::onConnectionClosed(ControllerConnection* connection)
{
    m_connections.removeAll(connection);
    forEachPending([connection](PendingFrame& pending) {
        if (pending.sender == connection)
            pending.sender = nullptr;
    });
    if (m_inFlight.sender == connection)
        m_inFlight.sender = nullptr;
    connection->deleteLater();
}

void SimBus::onFrameWritten(
    ControllerConnection* connection, const CanBus::CanMessage& frame, qint64 writtenAgoUs)
{
    submit(frame, connection, -1, nowUs() - writtenAgoUs);
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
    if (sender) {
        sender->frameQueued();
        m_mostFramesWaiting = qMax(m_mostFramesWaiting, sender->framesWaiting());
    }
    m_waiting.push_back(pending);
    std::push_heap(m_waiting.begin(), m_waiting.end(), &SimBus::laterReady);
    run();
}

bool SimBus::laterReady(const PendingFrame& a, const PendingFrame& b)
{
    return a.readyUs != b.readyUs ? a.readyUs > b.readyUs : a.sequence > b.sequence;
}

bool SimBus::losesArbitration(const PendingFrame& a, const PendingFrame& b)
{
    const unsigned idA = a.frame.rawIdentifier();
    const unsigned idB = b.frame.rawIdentifier();
    return idA != idB ? idA > idB : a.sequence > b.sequence;
}

void SimBus::wakeAt(qint64 us)
{
    const qint64 waitUs = us - nowUs();
    // Sleep to shortly before the end, then poll: a zero timer runs once per event-loop pass,
    // so sockets are served meanwhile.
    if (waitUs > pollWindowUs && m_timerFd >= 0) {
        itimerspec spec {};
        const qint64 sleepUs = waitUs - pollWindowUs * 3 / 4;
        spec.it_value.tv_sec = time_t(sleepUs / 1000000);
        spec.it_value.tv_nsec = long(sleepUs % 1000000) * 1000;
        ::timerfd_settime(m_timerFd, 0, &spec, nullptr);
    } else if (waitUs > 1000) {
        m_wakeTimer.start(int((waitUs - 1000) / 1000));
    } else {
        m_wakeTimer.start(0);
    }
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
            if (m_realtime && m_latenessUs.size() < maximumLatenessSamples)
                m_latenessUs.push_back(qint32(qMin<qint64>(nowUs() - m_inFlightEndUs, 1 << 30)));
            deliver(m_inFlight, m_inFlightEndUs);
            continue;
        }
        if (m_ready.empty() && m_waiting.empty())
            break;

        // Every ready frame became ready by an earlier start, so at the latest when the bus
        // frees up; without one the bus waits for the earliest frame.
        const qint64 start
            = m_ready.empty() ? qMax(m_busFreeUs, m_waiting.front().readyUs) : m_busFreeUs;
        if (m_realtime && start > nowUs()) {
            wakeAt(start);
            break;
        }
        while (!m_waiting.empty() && m_waiting.front().readyUs <= start) {
            std::pop_heap(m_waiting.begin(), m_waiting.end(), &SimBus::laterReady);
            m_ready.push_back(std::move(m_waiting.back()));
            m_waiting.pop_back();
            std::push_heap(m_ready.begin(), m_ready.end(), &SimBus::losesArbitration);
        }
        // Arbitration: of the frames ready when the bus frees up, the lowest identifier wins.
        std::pop_heap(m_ready.begin(), m_ready.end(), &SimBus::losesArbitration);
        m_inFlight = std::move(m_ready.back());
        m_ready.pop_back();
        if (m_inFlight.sender)
            m_inFlight.sender->frameSent();
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

void SimBus::scheduleSpontaneous()
{
    qint64 next = -1;
    for (const SimNode& node : m_nodes) {
        for (const SimNode::SpontaneousSource& source : node.spontaneous) {
            if (source.count >= 0 && source.sent >= source.count)
                continue;
            next = next < 0 ? source.nextUs : qMin(next, source.nextUs);
        }
    }
    if (next >= 0)
        m_spontaneousTimer.start(int(qMax<qint64>(0, next - nowUs() + 999) / 1000));
}

void SimBus::sendSpontaneous()
{
    const qint64 now = nowUs();
    for (int i = 0; i < m_nodes.size(); ++i) {
        SimNode& node = m_nodes[i];
        NodeResponder::updatePresence(node, now);
        for (SimNode::SpontaneousSource& source : node.spontaneous) {
            if (source.nextUs > now || (source.count >= 0 && source.sent >= source.count))
                continue;
            source.nextUs = qMax(source.nextUs + source.periodUs, now + 1);
            // A board without node id has nobody to report to, and one that is away sends
            // nothing; the period runs on all the same.
            if (!node.present || node.nodeId == SimNode::noNodeId)
                continue;
            ++source.sent;
            if (source.ackRequest)
                ++node.unacknowledged;
            submit(MessageBehaviour::messageFrame(node, source.type, source.ackRequest), nullptr, i,
                now);
        }
    }
    scheduleSpontaneous();
}

SimBus::Lateness SimBus::lateness() const
{
    Lateness result;
    if (m_latenessUs.empty())
        return result;
    std::vector<qint32> sorted = m_latenessUs;
    std::sort(sorted.begin(), sorted.end());
    result.frames = qint64(sorted.size());
    result.medianUs = sorted.at(sorted.size() / 2);
    result.p99Us = sorted.at(std::min(sorted.size() - 1, sorted.size() * 99 / 100));
    result.maximumUs = sorted.back();
    return result;
}

void SimBus::logSummary()
{
    Kubus::kuPrint(QString("%1: %2 frames on the bus").arg(name()).arg(m_framesOnBus), Q_FUNC_INFO);
    if (m_realtime && !m_latenessUs.empty()) {
        const Lateness late = lateness();
        Kubus::kuPrint(QString("%1: delivery after the modelled end: median %2 us, 99th "
                               "percentile %3 us, maximum %4 us over %5 frames")
                           .arg(name())
                           .arg(late.medianUs)
                           .arg(late.p99Us)
                           .arg(late.maximumUs)
                           .arg(late.frames),
            Q_FUNC_INFO);
    }
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
