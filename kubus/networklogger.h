#pragma once

#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <mutex>

class QTcpServer;
class QTcpSocket;
class QThread;

namespace Kubus {

// The TCP log server: every log line goes to every connected client. It runs in its own thread,
// comes into being with the first use and lives for the rest of the run; at exit it hands the
// clients what is still queued (for a short while at most) and stops its thread.
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

    // A client that lets more than this many bytes pile up unsent has stopped reading.
    static constexpr qint64 clientBacklogLimit = 1024 * 1024;

signals:
    void signalLog(const QString& text);

public slots:
    void slotLog(const QString& text);
    void newConnection();
    void disconnectedSocket();
    void threadStarted();

private:
    NetworkLogger();

    static quint16 configuredPort();
    static void shutdown();
    Q_INVOKABLE void shutdownInThread();
    void dropClient(QTcpSocket* client);

    QTcpServer* m_server;
    QThread* m_thread;
    QVector<QTcpSocket*> m_clients; // changed only in the logger thread
    std::atomic<int> m_clientCount { 0 }; // read by the logging threads
    std::atomic<bool> m_stopping { false };

    // port() waits here until the logger thread has tried to listen. Standard primitives: the
    // thread checker cannot follow a QWaitCondition inside a Qt built without it.
    std::mutex m_listenMutex;
    std::condition_variable m_listenDone;
    bool m_listenTried = false;
    quint16 m_listenPort = 0;
};

} // namespace Kubus
