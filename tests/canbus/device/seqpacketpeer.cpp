#include "seqpacketpeer.h"

#include <QDir>
#include <QFile>

#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

SeqPacketPeer::SeqPacketPeer(const Options& options)
{
    if (!m_dir.isValid() || !QDir(m_dir.path()).mkpath("dev"))
        return;
    if (options.withUio) {
        QFile uio(m_dir.filePath("dev/uio0"));
        if (!uio.open(QIODevice::WriteOnly))
            return;
    }
    const QByteArray path
        = QFile::encodeName(m_dir.filePath(QString("dev/can%1").arg(options.deviceNumber)));
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= int(sizeof address.sun_path))
        return;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0
        || ::listen(fd, 4) < 0) {
        ::close(fd);
        return;
    }
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC);
    m_listenFd = fd;
    qputenv("ZEF400_ROOT", QFile::encodeName(m_dir.path()));
    m_thread = std::thread([this] { run(); });
}

SeqPacketPeer::~SeqPacketPeer()
{
    if (m_thread.joinable()) {
        const quint64 one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
        m_thread.join();
    }
    if (m_clientFd >= 0)
        ::close(m_clientFd);
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void SeqPacketPeer::run()
{
    QByteArray buffer(65536, '\0');
    for (;;) {
        int client;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            client = m_clientFd;
        }
        pollfd fds[2]
            = { { m_wakeFd, POLLIN, 0 }, { client >= 0 ? client : m_listenFd, POLLIN, 0 } };
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[0].revents)
            return;
        if (!fds[1].revents)
            continue;
        if (client < 0) {
            const int accepted = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_clientFd = accepted;
            m_hungUp = false;
            m_changed.notify_all();
            continue;
        }
        const ssize_t n = ::recv(client, buffer.data(), size_t(buffer.size()), 0);
        if (n <= 0) {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_clientFd == client) {
                ::close(client);
                m_clientFd = -1;
            }
            m_hungUp = true;
            m_changed.notify_all();
            continue;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_packets.append(buffer.left(int(n)));
        m_changed.notify_all();
    }
}

QList<QByteArray> SeqPacketPeer::packets() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_packets;
}

bool SeqPacketPeer::waitForPackets(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(
        lock, std::chrono::milliseconds(timeoutMs), [&] { return m_packets.size() >= count; });
}

bool SeqPacketPeer::waitForHangUp(int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_hungUp; });
}

bool SeqPacketPeer::waitForClient(int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(
        lock, std::chrono::milliseconds(timeoutMs), [&] { return m_clientFd >= 0; });
}

bool SeqPacketPeer::send(const QByteArray& packet)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_clientFd < 0)
        return false;
    return ::send(m_clientFd, packet.constData(), size_t(packet.size()), MSG_NOSIGNAL)
        == packet.size();
}

void SeqPacketPeer::dropClient()
{
    // Only shut down here: the peer thread sees the end and closes the descriptor it polls.
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_clientFd >= 0)
        ::shutdown(m_clientFd, SHUT_RDWR);
}
