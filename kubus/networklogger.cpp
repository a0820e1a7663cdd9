#include "kubus/networklogger.h"

#include "kubus/kulog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <cstdlib>

namespace Kubus {

namespace {
constexpr quint16 defaultPort = 5000;
// At exit the clients get this long to take what is still queued for them.
constexpr int exitFlushMs = 2000;
constexpr int exitWaitMs = 5000;
// Past this much unsent, a client's socket is written at once rather than when the loop gets to it.
constexpr qint64 flushThreshold = 64 * 1024;

std::atomic<NetworkLogger*> s_logger { nullptr };
} // namespace

NetworkLogger* NetworkLogger::instance()
{
    static NetworkLogger* logger = [] {
        auto* created = new NetworkLogger;
        connect(created, &NetworkLogger::signalLog, created, &NetworkLogger::slotLog,
            Qt::QueuedConnection);
        s_logger.store(created);
        // The thread must be stopped before Qt's globals go away, or it may wake up into freed
        // state: with the application object when there is one, else at exit.
        qAddPostRoutine(&NetworkLogger::shutdown);
        std::atexit(&NetworkLogger::shutdown);
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
    if (haveClients())
        emit instance()->signalLog(text);
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
    if (!listening)
        kuPrint(QString("Log server cannot listen on port %1: %2")
                    .arg(wanted)
                    .arg(m_server->errorString()),
            Q_FUNC_INFO);
}

void NetworkLogger::newConnection()
{
    while (QTcpSocket* client = m_server->nextPendingConnection()) {
        m_clients.append(client);
        m_clientCount.store(int(m_clients.size()));
        connect(client, &QTcpSocket::disconnected, this, &NetworkLogger::disconnectedSocket);
        // Clients have nothing to say; whatever they send is dropped so it cannot pile up.
        connect(client, &QTcpSocket::readyRead, client, [client] { client->readAll(); });
    }
}

void NetworkLogger::disconnectedSocket()
{
    auto* client = qobject_cast<QTcpSocket*>(sender());
    if (!client)
        return;
    const int index = int(m_clients.indexOf(client));
    if (index < 0)
        return;
    m_clients.removeAt(index);
    m_clientCount.store(int(m_clients.size()));
    // Clients come and go during a run; the gone ones must not accumulate.
    client->deleteLater();
}

void NetworkLogger::slotLog(const QString& text)
{
    // Qt 4's toAscii() kept Latin-1 bytes; toLatin1() is its replacement.
    const QByteArray bytes = text.toLatin1();
    // A copy: dropping a client edits the list.
    const QVector<QTcpSocket*> clients = m_clients;
    for (QTcpSocket* client : clients) {
        if (client->state() != QAbstractSocket::ConnectedState)
            continue;
        // The socket buffers without limit; a client that stopped reading would make the whole
        // program grow, so it is dropped instead. What the kernel takes is not backlog: while
        // lines keep coming the event loop seldom gets to writing, so push before judging.
        if (client->bytesToWrite() + bytes.size() > clientBacklogLimit) {
            client->flush();
            if (client->bytesToWrite() + bytes.size() > clientBacklogLimit) {
                dropClient(client);
                continue;
            }
        }
        client->write(bytes);
        if (client->bytesToWrite() > flushThreshold)
            client->flush();
    }
}

void NetworkLogger::dropClient(QTcpSocket* client)
{
    const QString peer
        = QString("%1:%2").arg(client->peerAddress().toString()).arg(client->peerPort());
    const qint64 backlog = client->bytesToWrite();
    m_clients.removeAll(client);
    m_clientCount.store(int(m_clients.size()));
    disconnect(client, nullptr, this, nullptr);
    client->abort();
    client->deleteLater();
    // Safe here: this runs in the logger thread's event loop, not under the log mutex, and the
    // line reaches the remaining clients through the queued signal like any other.
    kuPrint(QString("Log client %1 dropped: it stopped reading, %2 bytes were waiting")
                .arg(peer)
                .arg(backlog),
        Q_FUNC_INFO);
}

void NetworkLogger::shutdown()
{
    NetworkLogger* logger = s_logger.load();
    if (!logger || logger->m_stopping.exchange(true))
        return;
    if (QThread::currentThread() == logger->m_thread)
        return;
    // Queued behind the lines still on their way, so those reach the clients first.
    QMetaObject::invokeMethod(logger, "shutdownInThread", Qt::QueuedConnection);
    if (!logger->m_thread->wait(QDeadlineTimer(exitWaitMs)))
        std::fputs("Log server thread did not stop\n", stderr);
}

void NetworkLogger::shutdownInThread()
{
    m_server->close();
    const QDeadlineTimer deadline(exitFlushMs);
    for (QTcpSocket* client : qAsConst(m_clients)) {
        while (client->state() == QAbstractSocket::ConnectedState && client->bytesToWrite() > 0
            && !deadline.hasExpired()) {
            if (!client->waitForBytesWritten(int(deadline.remainingTime())))
                break;
        }
    }
    for (QTcpSocket* client : qAsConst(m_clients)) {
        disconnect(client, nullptr, this, nullptr);
        client->disconnectFromHost();
        delete client;
    }
    m_clients.clear();
    m_clientCount.store(0);
    delete m_server;
    m_server = nullptr;
    m_thread->quit();
}

} // namespace Kubus
