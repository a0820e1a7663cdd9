#pragma once

#include "canbus/frame/canmessage.h"

#include <QByteArray>
#include <QObject>
#include <QQueue>
#include <QString>

class QSocketNotifier;

namespace Sim {

// One controller on a bus: a connection to the device stand-in socket. It decodes and checks
// every packet; only a controller configured for 125 kbit/s with 29-bit identifiers takes part
// in the bus (as with a real controller, a wrong bit timing hears nothing and is heard by
// nobody). Frames for it are collected during one bus step and sent as packets of whole read
// records, never more than the driver reads at once.
class ControllerConnection : public QObject {
    Q_OBJECT

public:
    enum State { Unconfigured, Configured, WrongConfiguration };

    // Records per packet: the driver reads 16384 bytes at most.
    static constexpr int maximumRecordsPerPacket = 1024;
    // Frames kept for a controller that does not read before they are counted as lost.
    static constexpr int maximumQueuedRecords = 64 * 1024;
    // Frames of this controller waiting for the bus; at this many its socket is not read, so
    // its next writes block (or fail with EAGAIN in non-blocking mode) as with a full driver
    // send buffer.
    static constexpr int maximumFramesWaiting = 64;

    ControllerConnection(int fd, int bus, int number, QObject* parent = nullptr);
    ~ControllerConnection() override;

    QString name() const { return m_name; }
    State state() const { return m_state; }
    bool onBus() const { return m_state == Configured && m_fd >= 0; }

    // Adds a frame for this controller; sent by flush().
    void queueFrame(const CanBus::CanMessage& frame);
    void flush();
    // One frame of this controller went into the bus queue / onto the bus.
    void frameQueued();
    void frameSent();
    int framesWaiting() const { return m_framesWaiting; }
    // Logs the counters of frames that went nowhere.
    void logSummary();

signals:
    // writtenAgoUs: how long ago the controller wrote the frame. A real controller starts
    // arbitration when its driver takes the frame, not when this process reads its socket.
    void frameWritten(Sim::ControllerConnection* connection, const CanBus::CanMessage& frame,
        qint64 writtenAgoUs);
    void closed(Sim::ControllerConnection* connection);

private:
    void onReadable();
    void onWritable();
    void handlePacket(const QByteArray& packet, qint64 writtenAgoUs);
    void rejected(const QString& why);
    void closeConnection(const QString& why);

    int m_fd;
    QString m_name;
    State m_state = Unconfigured;
    QString m_configurationProblem;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QByteArray m_batch; // read records of the current bus step
    QQueue<QByteArray> m_outgoing; // whole packets waiting for room in the socket
    int m_queuedRecords = 0;
    int m_framesWaiting = 0;

    quint64 m_malformed = 0;
    quint64 m_framesNowhere = 0; // written while not on the bus
    quint64 m_framesLostToSlowReader = 0;
};

} // namespace Sim
