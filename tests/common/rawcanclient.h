#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// A controller on the simulator's device socket without the CAN device classes: sends the
// driver's ioctl packets and write records as they are and decodes the read records it gets,
// so tests can also send what a correct driver never would.
class RawCanClient {
public:
    struct Frame {
        quint32 id = 0;
        QByteArray data;
        // "1C0123FF#0102"
        QString text() const;
    };

    static constexpr quint32 config125k29Bit = 0xE007BAC4u;
    static constexpr quint32 config50k29Bit = 0xE0029958u;
    static constexpr quint32 config125k11Bit = 0x6007BAC4u;

    RawCanClient() = default;
    ~RawCanClient();
    RawCanClient(const RawCanClient&) = delete;
    RawCanClient& operator=(const RawCanClient&) = delete;

    // Connects and, when configure is true, sends the configuration and start requests.
    bool connectTo(
        const QString& socketPath, quint32 configuration = config125k29Bit, bool configure = true);
    void close();

    bool sendPacket(const QByteArray& packet);
    bool sendFrame(quint32 id, const QByteArray& data);
    bool sendFrame(const QString& text); // "000800FF#30AB0167120000"

    // Frames received so far plus those arriving until count are there or timeoutMs passed.
    QVector<Frame> receive(int count, int timeoutMs = 3000);
    // Only what has already arrived.
    QVector<Frame> receiveNow() { return receive(1 << 30, 0); }

    static QByteArray writeRecord(quint32 id, const QByteArray& data);
    static QByteArray ioctlPacket(quint32 code, const QByteArray& argument);

private:
    int m_fd = -1;
    QVector<Frame> m_received;
};
