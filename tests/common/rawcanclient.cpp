#include "common/rawcanclient.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

QString RawCanClient::Frame::text() const
{
    return QString("%1#%2")
        .arg(id, 8, 16, QLatin1Char('0'))
        .toUpper()
        .arg(QString::fromLatin1(data.toHex().toUpper()));
}

RawCanClient::~RawCanClient()
{
    close();
}

bool RawCanClient::connectTo(const QString& socketPath, quint32 configuration, bool configure)
{
    close();
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    m_fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return false;
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close();
        return false;
    }
    if (!configure)
        return true;
    QByteArray block(36, '\0');
    qToLittleEndian<quint32>(configuration, block.data());
    return sendPacket(ioctlPacket(0x80046204u, block))
        && sendPacket(ioctlPacket(0x20006200u, QByteArray(4, '\0')));
}

void RawCanClient::close()
{
    if (m_fd >= 0) {
        ::shutdown(m_fd, SHUT_RDWR);
        ::close(m_fd);
        m_fd = -1;
    }
}

QByteArray RawCanClient::ioctlPacket(quint32 code, const QByteArray& argument)
{
    QByteArray packet(4, '\0');
    qToLittleEndian<quint32>(code, packet.data());
    return packet + argument;
}

QByteArray RawCanClient::writeRecord(quint32 id, const QByteArray& data)
{
    QByteArray record(13, '\0');
    record[0] = char(data.size());
    qToBigEndian<quint32>(id, record.data() + 1);
    for (int i = 0; i < qMin(8, int(data.size())); ++i)
        record[i < 4 ? 8 - i : 16 - i] = data.at(i);
    return record;
}

bool RawCanClient::sendPacket(const QByteArray& packet)
{
    return m_fd >= 0
        && ::send(m_fd, packet.constData(), size_t(packet.size()), MSG_NOSIGNAL)
        == ssize_t(packet.size());
}

bool RawCanClient::sendFrame(quint32 id, const QByteArray& data)
{
    return sendPacket(writeRecord(id, data));
}

bool RawCanClient::sendFrame(const QString& text)
{
    const int hash = text.indexOf('#');
    if (hash < 0)
        return false;
    bool ok = false;
    const quint32 id = text.left(hash).toUInt(&ok, 16);
    return ok && sendFrame(id, QByteArray::fromHex(text.mid(hash + 1).toLatin1()));
}

QVector<RawCanClient::Frame> RawCanClient::receive(int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (m_fd >= 0 && m_received.size() < count) {
        pollfd p { m_fd, POLLIN, 0 };
        const int ready = ::poll(&p, 1, int(qMax<qint64>(0, deadline.remainingTime())));
        if (ready <= 0)
            break;
        char buffer[16384];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at + 16 <= n; at += 16) {
            const auto* r = reinterpret_cast<const uchar*>(buffer + at);
            Frame frame;
            frame.id = qFromBigEndian<quint32>(r + 3);
            for (int i = 0; i < qMin<int>(r[7], 8); ++i)
                frame.data.append(char(r[15 - i]));
            m_received.append(frame);
        }
    }
    const QVector<Frame> result = m_received.mid(0, qMin(count, int(m_received.size())));
    m_received.remove(0, result.size());
    return result;
}
