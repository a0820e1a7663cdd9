#pragma once

#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

class QTcpServer;
class QTcpSocket;
class QThread;
class QTimer;

namespace Kubus {

// The TCP log server: every log line goes to every connected client. It runs in its own thread,
// comes into being with the first use and lives for the rest of the run; at exit it hands the
// clients what is still queued (for a fraction of a second at most) and stops its thread.
//
// Memory stays bounded whatever the number of clients and the log rate: the lines on their way
// to the clients are one shared backlog of recent lines, from which each client takes at its own
// pace. A client that falls behind by more than the backlog loses the oldest lines and finds one
// line in its stream that says how many it missed; a client that takes nothing at all for
// stalledClientMs is dropped. Logging threads never wait for the clients.
//
// The port is 5000; the environment variable ZEF400_LOG_PORT chooses another (0: any free port).
class NetworkLogger : public QObject {
    Q_OBJECT

public:
    static NetworkLogger* instance();

    // Queues text for the clients; does nothing while no client is connected.
    static void log(const QString& text);
    static bool haveClients();
    static int clientCount();

    // The port the server listens on, once it listens; 0 when it could not listen.
    static quint16 port();

    // Lines that clients missed because they fell behind by more than the backlog, summed over
    // the clients.
    static quint64 skippedLines();

    // The backlog of recent lines kept for all clients together, in bytes.
    static constexpr qint64 clientBacklogLimit = 1024 * 1024;
    // What one client may have waiting in its socket beyond the backlog, in bytes.
    static constexpr qint64 clientSocketLimit = 16 * 1024;
    static constexpr int maxClients = 100;
    static constexpr int stalledClientMs = 60000;

signals:
    void signalLog(const QString& text);

public slots:
    void slotLog(const QString& text);
    void newConnection();
    void disconnectedSocket();
    void threadStarted();

private:
    struct Client {
        QTcpSocket* socket;
        quint64 next; // number of the next backlog line it gets
        qint64 lastProgressMs; // when it last took something (or connected)
    };

    NetworkLogger();

    static quint16 configuredPort();
    static void shutdown();
    void append(const QByteArray& line);
    Q_INVOKABLE void pumpAll();
    Q_INVOKABLE void shutdownInThread();
    void pump(Client& client);
    void checkStalled();
    void dropClient(QTcpSocket* client, const QString& reason);
    Client* findClient(QTcpSocket* socket);

    QTcpServer* m_server;
    QThread* m_thread;
    QTimer* m_stallTimer = nullptr;
    QVector<Client> m_clients; // changed only in the logger thread
    std::atomic<int> m_clientCount { 0 }; // read by the logging threads
    std::atomic<bool> m_stopping { false };
    std::atomic<bool> m_pumpQueued { false };
    std::atomic<quint64> m_skipped { 0 };

    // The backlog, written by the logging threads and read by the logger thread. Standard
    // primitives: the thread checker cannot follow Qt's locks inside a Qt built without it.
    std::mutex m_backlogMutex;
    std::deque<QByteArray> m_backlog;
    quint64 m_firstLine = 0; // number of m_backlog.front()
    qint64 m_backlogBytes = 0;

    // port() waits here until the logger thread has tried to listen.
    std::mutex m_listenMutex;
    std::condition_variable m_listenDone;
    bool m_listenTried = false;
    quint16 m_listenPort = 0;
};

} // namespace Kubus
