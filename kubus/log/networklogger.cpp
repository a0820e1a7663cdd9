#include "kubus/log/networklogger.h"

#include "kubus/log/kulog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <chrono>

#include <cstdlib>

namespace Kubus {

namespace {
constexpr quint16 defaultPort = 5000;
// At exit the clients get this long, all together, to take what is still queued for them.
constexpr int exitFlushMs = 200;
constexpr int exitWaitMs = 1000;

std::atomic<NetworkLogger*> s_logger { nullptr };

qint64 nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
} // namespace

NetworkLogger* NetworkLogger::instance()
{
    static NetworkLogger* logger = [] {
        auto* created = new NetworkLogger;
        connect(created, &NetworkLogger::signalLog, created, &NetworkLogger::slotLog,
            Qt::QueuedConnection);
        s_logger.store(created);
        // The thread must be stopped before Qt's globals go away, or it may wake up into freed
        // state: with the application object when it is destroyed; the exit handler is
        // registered once the thread runs (threadStarted).
        qAddPostRoutine(&NetworkLogger::shutdown);
        return created;
    }();
    return logger;
}

NetworkLogger::NetworkLogger()
    : m_server(new QTcpServer)
    , m_thread(new QThread)
{
    m_thread->setObjectName(QStringLiteral("NetworkLogger"));
    moveToThread(m_thread);
    connect(m_server, &QTcpServer::newConnection, this, &NetworkLogger::newConnection);
    m_server->moveToThread(m_thread);
    connect(m_thread, &QThread::started, this, &NetworkLogger::threadStarted);
    m_thread->start(QThread::TimeCriticalPriority);
}

void NetworkLogger::log(const QString& text)
{
    // Straight into the backlog rather than through the queued signal: a queued call per line
    // would pile up without bound in the thread's event queue when lines come faster than the
    // thread runs.
    if (haveClients())
        instance()->append(text.toLatin1());
}

quint64 NetworkLogger::skippedLines()
{
    return instance()->m_skipped.load();
}

bool NetworkLogger::haveClients()
{
    return instance()->m_clientCount.load() > 0;
}

int NetworkLogger::clientCount()
{
    return instance()->m_clientCount.load();
}

quint16 NetworkLogger::port()
{
    NetworkLogger* logger = instance();
    std::unique_lock<std::mutex> lock(logger->m_listenMutex);
    logger->m_listenDone.wait(lock, [logger] { return logger->m_listenTried; });
    return logger->m_listenPort;
}

quint16 NetworkLogger::configuredPort()
{
    const QByteArray value = qgetenv("ZEF400_LOG_PORT").trimmed();
    if (value.isEmpty())
        return defaultPort;
    bool ok = false;
    const uint port = value.toUInt(&ok);
    if (!ok || port > 65535) {
        kuPrint(QString("ZEF400_LOG_PORT \"%1\" is not a port number, using %2")
                    .arg(QString::fromLatin1(value))
                    .arg(defaultPort),
            Q_FUNC_INFO);
        return defaultPort;
    }
    return quint16(port);
}

void NetworkLogger::threadStarted()
{
    const quint16 wanted = configuredPort();
    // Qt 4's QHostAddress::Any meant all IPv4 interfaces; in Qt 6 that is AnyIPv4.
    const bool listening = m_server->listen(QHostAddress::AnyIPv4, wanted);
    {
        std::lock_guard<std::mutex> lock(m_listenMutex);
        m_listenTried = true;
        m_listenPort = listening ? m_server->serverPort() : 0;
        m_listenDone.notify_all();
    }
    m_stallTimer = new QTimer(this);
    connect(m_stallTimer, &QTimer::timeout, this, &NetworkLogger::checkStalled);
    m_stallTimer->start(1000);
    // Qt's globals are destroyed at exit in the reverse order of their first use, and after an
    // exit handler only when they were first used before it was registered. A socket made here
    // brings in what the clients' sockets use (meta types, socket engine), so that the handler,
    // registered after it, stops this thread while all of that still exists.
    delete new QTcpSocket;
    std::atexit(&NetworkLogger::shutdown);
    if (!listening)
        kuPrint(QString("Log server cannot listen on port %1: %2")
                    .arg(wanted)
                    .arg(m_server->errorString()),
            Q_FUNC_INFO);
}

void NetworkLogger::newConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        if (m_clients.size() >= maxClients) {
            socket->abort();
            socket->deleteLater();
            kuPrint(QString("Log client refused: %1 clients are connected already").arg(maxClients),
                Q_FUNC_INFO);
            continue;
        }
        std::lock_guard<std::mutex> lock(m_backlogMutex);
        // Only lines logged from now on.
        m_clients.append({ socket, m_firstLine + m_backlog.size(), nowMs() });
        m_clientCount.store(int(m_clients.size()));
        connect(socket, &QTcpSocket::disconnected, this, &NetworkLogger::disconnectedSocket);
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
            if (Client* client = findClient(socket)) {
                client->lastProgressMs = nowMs();
                pump(*client);
            }
        });
        // Clients have nothing to say; whatever they send is dropped so it cannot pile up.
        connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    }
}

NetworkLogger::Client* NetworkLogger::findClient(QTcpSocket* socket)
{
    for (Client& client : m_clients) {
        if (client.socket == socket)
            return &client;
    }
    return nullptr;
}

void NetworkLogger::disconnectedSocket()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    for (int i = 0; i < m_clients.size(); ++i) {
        if (m_clients[i].socket == socket) {
            m_clients.removeAt(i);
            m_clientCount.store(int(m_clients.size()));
            // Clients come and go during a run; the gone ones must not accumulate.
            socket->deleteLater();
            return;
        }
    }
}

void NetworkLogger::slotLog(const QString& text)
{
    // Qt 4's toAscii() kept Latin-1 bytes; toLatin1() is its replacement.
    append(text.toLatin1());
}

void NetworkLogger::append(const QByteArray& line)
{
    {
        std::lock_guard<std::mutex> lock(m_backlogMutex);
        m_backlog.push_back(line);
        m_backlogBytes += line.size();
        while (m_backlogBytes > clientBacklogLimit && m_backlog.size() > 1) {
            m_backlogBytes -= m_backlog.front().size();
            m_backlog.pop_front();
            ++m_firstLine;
        }
    }
    // One wake-up on its way at a time, however fast lines come.
    if (!m_pumpQueued.exchange(true))
        QMetaObject::invokeMethod(this, "pumpAll", Qt::QueuedConnection);
}

void NetworkLogger::pumpAll()
{
    m_pumpQueued.store(false);
    for (Client& client : m_clients)
        pump(client);
}

void NetworkLogger::pump(Client& client)
{
    QTcpSocket* socket = client.socket;
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    qint64 room = clientSocketLimit - socket->bytesToWrite();
    if (room <= 0)
        return;
    quint64 skipped = 0;
    QByteArray chunk;
    {
        std::lock_guard<std::mutex> lock(m_backlogMutex);
        if (client.next < m_firstLine) {
            skipped = m_firstLine - client.next;
            client.next = m_firstLine;
        }
        const quint64 end = m_firstLine + m_backlog.size();
        while (room > 0 && client.next < end) {
            const QByteArray& line = m_backlog[size_t(client.next - m_firstLine)];
            chunk += line;
            room -= line.size();
            ++client.next;
        }
    }
    if (skipped) {
        m_skipped += skipped;
        socket->write(QString("--- %1 log lines skipped: this client reads slower than the log "
                              "is written ---\n")
                          .arg(skipped)
                          .toLatin1());
    }
    if (!chunk.isEmpty())
        socket->write(chunk);
}

void NetworkLogger::checkStalled()
{
    const qint64 now = nowMs();
    QVector<QTcpSocket*> stalled;
    for (Client& client : m_clients) {
        if (client.socket->bytesToWrite() == 0)
            client.lastProgressMs = now;
        else if (now - client.lastProgressMs > stalledClientMs)
            stalled.append(client.socket);
    }
    for (QTcpSocket* socket : stalled)
        dropClient(socket, QString("it took nothing for %1 s").arg(stalledClientMs / 1000));
}

void NetworkLogger::dropClient(QTcpSocket* socket, const QString& reason)
{
    const QString peer
        = QString("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
    for (int i = 0; i < m_clients.size(); ++i) {
        if (m_clients[i].socket == socket) {
            m_clients.removeAt(i);
            break;
        }
    }
    m_clientCount.store(int(m_clients.size()));
    disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    socket->deleteLater();
    // Safe here: this runs in the logger thread's event loop, not under the log mutex.
    kuPrint(QString("Log client %1 dropped: %2").arg(peer, reason), Q_FUNC_INFO);
}

void NetworkLogger::shutdown()
{
    NetworkLogger* logger = s_logger.load();
    if (!logger || logger->m_stopping.exchange(true))
        return;
    // Without an application object the thread has no event loop to stop.
    if (QThread::currentThread() == logger->m_thread || !logger->m_thread->isRunning())
        return;
    // The call below wakes the thread's event loop through a descriptor that the thread made as
    // it started; without log clients it is the first wake-up from outside. Waiting for the
    // start report orders the two in a way the thread checker can follow (Qt's own hand-over
    // uses locks it cannot see).
    {
        std::unique_lock<std::mutex> lock(logger->m_listenMutex);
        logger->m_listenDone.wait_for(lock, std::chrono::milliseconds(exitWaitMs),
            [logger] { return logger->m_listenTried; });
    }
    // Queued behind the lines still on their way, so those reach the clients first.
    QMetaObject::invokeMethod(logger, "shutdownInThread", Qt::QueuedConnection);
    if (!logger->m_thread->wait(QDeadlineTimer(exitWaitMs)))
        std::fputs("Log server thread did not stop\n", stderr);
}

void NetworkLogger::shutdownInThread()
{
    delete m_stallTimer;
    m_stallTimer = nullptr;
    m_server->close();
    pumpAll();
    // A client that is not reading gets no more than the rest of this short while.
    const QDeadlineTimer deadline(exitFlushMs);
    for (Client& client : m_clients) {
        QTcpSocket* socket = client.socket;
        while (socket->state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
            if (socket->bytesToWrite() == 0) {
                pump(client);
                if (socket->bytesToWrite() == 0)
                    break;
            }
            if (!socket->waitForBytesWritten(int(deadline.remainingTime())))
                break;
        }
    }
    for (const Client& client : qAsConst(m_clients)) {
        disconnect(client.socket, nullptr, this, nullptr);
        client.socket->abort();
        delete client.socket;
    }
    m_clients.clear();
    m_clientCount.store(0);
    delete m_server;
    m_server = nullptr;
    m_thread->quit();
}

} // namespace Kubus
