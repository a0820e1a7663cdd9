#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <condition_variable>
#include <mutex>
#include <thread>

// The far side of the CAN device stand-in: a root folder with dev/uio0 and a SOCK_SEQPACKET
// socket at dev/canN, made the ZEF400_ROOT. It records every packet of its one client and sends
// packets back on request.
class SeqPacketPeer {
public:
    struct Options {
        int deviceNumber = 0;
        bool withUio = true;
    };

    explicit SeqPacketPeer(const Options& options);
    SeqPacketPeer()
        : SeqPacketPeer(Options())
    {
    }
    ~SeqPacketPeer();

    bool isValid() const { return m_listenFd >= 0; }

    QList<QByteArray> packets() const;
    // Waits until at least count packets arrived; false after timeoutMs.
    bool waitForPackets(int count, int timeoutMs = 5000) const;
    // Waits until the client has closed its end; false after timeoutMs.
    bool waitForHangUp(int timeoutMs = 5000) const;
    bool waitForClient(int timeoutMs = 5000) const;

    // One packet to the client; false when there is no client or the send failed.
    bool send(const QByteArray& packet);
    // The simulator going away: the client's next read sees the end of the connection.
    void dropClient();

private:
    void run();

    QTemporaryDir m_dir;
    int m_listenFd = -1;
    int m_wakeFd = -1;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    int m_clientFd = -1;
    bool m_hungUp = false;
    QList<QByteArray> m_packets;
};
