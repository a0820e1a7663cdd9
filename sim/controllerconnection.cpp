#include "sim/controllerconnection.h"

#include "kubus/log/kulog.h"
#include "sim/driverpacket.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace Sim {

namespace {
// Larger than any valid packet, so an oversized one shows its real size through MSG_TRUNC.
constexpr int receiveBufferSize = 256;
// Malformed packets are logged one by one up to this many per connection, then only counted.
constexpr quint64 malformedLogLimit = 20;
} // namespace

ControllerConnection::ControllerConnection(int fd, int bus, int number, QObject* parent)
    : QObject(parent)
    , m_fd(fd)
    , m_name(QString("can%1 connection %2").arg(bus).arg(number))
{
    // The kernel stamps each packet when it is written (wall clock, nanoseconds).
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    m_readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &ControllerConnection::onReadable);
    m_writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &ControllerConnection::onWritable);
}

ControllerConnection::~ControllerConnection()
{
    if (m_fd >= 0) {
        m_readNotifier->setEnabled(false);
        m_writeNotifier->setEnabled(false);
        ::close(m_fd);
        m_fd = -1;
    }
}

void ControllerConnection::onReadable()
{
    // Take what is there now; the notifier fires again for more.
    for (int i = 0; i < 256 && m_fd >= 0 && m_readNotifier->isEnabled(); ++i) {
        char buffer[receiveBufferSize];
        iovec io { buffer, sizeof buffer };
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        msghdr message {};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(m_fd, &message, MSG_DONTWAIT | MSG_TRUNC);
        qint64 writtenAgoUs = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); n > 0 && c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS)
                continue;
            timespec written {};
            timespec now {};
            std::memcpy(&written, CMSG_DATA(c), sizeof written);
            ::clock_gettime(CLOCK_REALTIME, &now);
            const qint64 agoUs = (qint64(now.tv_sec) - written.tv_sec) * 1000000
                + (now.tv_nsec - written.tv_nsec) / 1000;
            // A wall clock set meanwhile must not move frames by more than a read's delay.
            writtenAgoUs = qBound(qint64(0), agoUs, qint64(10000));
        }
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                return;
            closeConnection(QString("receive failed: %1").arg(std::strerror(errno)));
            return;
        }
        if (n == 0) {
            // A sequenced-packet socket reads 0 both for an empty packet and at the end: only
            // a hang-up of the other side tells them apart.
            pollfd p { m_fd, POLLRDHUP, 0 };
            if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP))) {
                closeConnection("closed by the controller");
                return;
            }
            rejected("empty packet");
            continue;
        }
        if (n > ssize_t(sizeof buffer)) {
            rejected(QString("packet of %1 bytes").arg(n));
            continue;
        }
        handlePacket(QByteArray(buffer, int(n)), writtenAgoUs);
    }
}

void ControllerConnection::handlePacket(const QByteArray& packet, qint64 writtenAgoUs)
{
    const DriverPacket decoded = DriverPacket::decode(packet);
    switch (decoded.kind()) {
    case DriverPacket::Malformed:
        rejected(decoded.reason());
        return;
    case DriverPacket::Ioctl:
        if (decoded.ioctlCode() == DriverPacket::ioctlConfigure) {
            const QString problem = DriverPacket::configurationProblem(decoded.configurationWord());
            if (problem.isEmpty()) {
                if (m_state != Configured)
                    Kubus::kuPrint(QString("%1: configured for 125 kbit/s with 29-bit identifiers")
                                       .arg(m_name),
                        Q_FUNC_INFO);
                m_state = Configured;
                m_configurationProblem.clear();
            } else {
                m_state = WrongConfiguration;
                m_configurationProblem = problem;
                Kubus::kuPrint(QString("%1: configuration word %2 gives %3, not 125 kbit/s with "
                                       "29-bit identifiers: it gets no frames and its frames "
                                       "reach nobody")
                                   .arg(m_name)
                                   .arg(decoded.configurationWord(), 8, 16, QLatin1Char('0'))
                                   .arg(problem),
                    Q_FUNC_INFO);
            }
        }
        return;
    case DriverPacket::WriteRecord:
        break;
    }

    const CanBus::CanMessage frame(decoded.identifier(), decoded.payload());
    if (m_state != Configured) {
        if (m_framesNowhere == 0)
            Kubus::kuPrint(QString("%1: frame %2 reaches nobody: %3")
                               .arg(m_name, frame.toFrameText(),
                                   m_state == Unconfigured ? "controller not configured"
                                                           : m_configurationProblem),
                Q_FUNC_INFO);
        ++m_framesNowhere;
        return;
    }
    emit frameWritten(this, frame, writtenAgoUs);
}

void ControllerConnection::rejected(const QString& why)
{
    ++m_malformed;
    if (m_malformed <= malformedLogLimit)
        Kubus::kuPrint(QString("%1: dropped malformed packet: %2").arg(m_name, why), Q_FUNC_INFO);
    else if (m_malformed == malformedLogLimit + 1)
        Kubus::kuPrint(
            QString("%1: further malformed packets are only counted").arg(m_name), Q_FUNC_INFO);
}

void ControllerConnection::frameQueued()
{
    if (++m_framesWaiting >= maximumFramesWaiting && m_fd >= 0)
        m_readNotifier->setEnabled(false);
}

void ControllerConnection::frameSent()
{
    if (--m_framesWaiting < maximumFramesWaiting && m_fd >= 0)
        m_readNotifier->setEnabled(true);
}

void ControllerConnection::queueFrame(const CanBus::CanMessage& frame)
{
    if (!onBus())
        return;
    if (m_queuedRecords >= maximumQueuedRecords) {
        if (m_framesLostToSlowReader == 0)
            Kubus::kuPrint(
                QString("%1: controller does not read, frames are lost").arg(m_name), Q_FUNC_INFO);
        ++m_framesLostToSlowReader;
        return;
    }
    m_batch.append(DriverPacket::encodeReadRecord(frame.rawIdentifier(), frame.bytes()));
    ++m_queuedRecords;
}

void ControllerConnection::flush()
{
    const int packetBytes = maximumRecordsPerPacket * DriverPacket::readRecordSize;
    for (int at = 0; at < m_batch.size(); at += packetBytes)
        m_outgoing.enqueue(m_batch.mid(at, packetBytes));
    m_batch.clear();
    onWritable();
}

void ControllerConnection::onWritable()
{
    while (m_fd >= 0 && !m_outgoing.isEmpty()) {
        const QByteArray& packet = m_outgoing.head();
        const ssize_t n
            = ::send(m_fd, packet.constData(), size_t(packet.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) {
                m_writeNotifier->setEnabled(true);
                return;
            }
            if (errno == EINTR)
                continue;
            closeConnection(QString("send failed: %1").arg(std::strerror(errno)));
            return;
        }
        m_queuedRecords -= packet.size() / DriverPacket::readRecordSize;
        m_outgoing.dequeue();
    }
    if (m_fd >= 0)
        m_writeNotifier->setEnabled(false);
}

void ControllerConnection::logSummary()
{
    if (m_framesNowhere > 0)
        Kubus::kuPrint(
            QString("%1: %2 frames reached nobody").arg(m_name).arg(m_framesNowhere), Q_FUNC_INFO);
    if (m_malformed > 0)
        Kubus::kuPrint(
            QString("%1: %2 malformed packets dropped").arg(m_name).arg(m_malformed), Q_FUNC_INFO);
    if (m_framesLostToSlowReader > 0)
        Kubus::kuPrint(QString("%1: %2 frames lost because the controller did not read")
                           .arg(m_name)
                           .arg(m_framesLostToSlowReader),
            Q_FUNC_INFO);
}

void ControllerConnection::closeConnection(const QString& why)
{
    if (m_fd < 0)
        return;
    Kubus::kuPrint(QString("%1: %2").arg(m_name, why), Q_FUNC_INFO);
    logSummary();
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    ::close(m_fd);
    m_fd = -1;
    m_outgoing.clear();
    m_batch.clear();
    m_queuedRecords = 0;
    emit closed(this);
}

} // namespace Sim
