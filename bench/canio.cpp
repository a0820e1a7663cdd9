// Frames per second through the device's reader/writer pair against a socket peer that sends
// every frame back, beside a bare loop writing the same 13-byte records to the socket.

#include "canbus/canasyncreadwrite.h"
#include "canbus/candevicescm.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace CanBus;

namespace {

sockaddr_un addressOf(const QByteArray& path)
{
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(),
        size_t(qMin<qsizetype>(path.size(), sizeof address.sun_path - 1)));
    return address;
}

// Accepts one connection and takes its packets; with echo on, answers each write record with
// the read record of the same frame. Counts the write records it got.
class Peer {
public:
    Peer(const QByteArray& path, bool echo)
        : m_echo(echo)
    {
        m_listenFd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
        const sockaddr_un address = addressOf(path);
        if (::bind(m_listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0
            || ::listen(m_listenFd, 1) < 0) {
            std::perror("peer");
            std::exit(1);
        }
        m_thread = std::thread([this] { run(); });
    }
    ~Peer()
    {
        m_thread.join();
        ::close(m_listenFd);
    }
    int records() const { return m_records.load(); }

private:
    void run()
    {
        const int fd = ::accept(m_listenFd, nullptr, nullptr);
        char packet[64];
        char record[16];
        for (;;) {
            const ssize_t n = ::recv(fd, packet, sizeof packet, 0);
            if (n <= 0)
                break;
            if (n != 13)
                continue;
            if (m_echo) {
                // Write record: length, identifier, payload 3..0, payload 7..4; read record:
                // 3 unused, identifier, length, payload 7..0.
                std::memset(record, 0, 3);
                std::memcpy(record + 3, packet + 1, 4);
                record[7] = packet[0];
                std::memcpy(record + 8, packet + 9, 4);
                std::memcpy(record + 12, packet + 5, 4);
                ::send(fd, record, sizeof record, MSG_NOSIGNAL);
            }
            ++m_records;
        }
        ::close(fd);
    }

    bool m_echo;
    int m_listenFd = -1;
    std::atomic<int> m_records { 0 };
    std::thread m_thread;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? QByteArray(argv[1]).toInt() : 20000;

    QTemporaryDir root;
    QDir(root.path()).mkpath("dev");
    QFile(root.filePath("dev/uio0")).open(QIODevice::WriteOnly);
    qputenv("ZEF400_ROOT", QFile::encodeName(root.path()));
    const QByteArray can0 = QFile::encodeName(root.filePath("dev/can0"));

    double pairRate;
    {
        Peer echo(can0, true);
        CanDeviceScm device(CanConfiguration(CanConfiguration::MainBoardBus));
        CanAsyncReadWrite pair(&device);
        int received = 0;
        QObject::connect(&pair, &CanAsyncReadWrite::ackRead, &app, [&] {
            if (++received == frames)
                app.quit();
        });
        CanMessage frame(0x1C0123FF, QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < frames; ++i) {
            frame.setNodeId(unsigned(i) & 0xFF);
            pair.write(frame);
        }
        app.exec();
        pairRate = frames * 1000.0 / qMax<qint64>(1, timer.elapsed());
        pair.stop();
        std::printf("CanAsyncReadWrite write -> echo -> ackRead: %d frames, %.0f frames/s\n",
            frames, pairRate);
    }

    ::unlink(can0.constData());
    double bareRate;
    {
        Peer sink(can0, false);
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
        const sockaddr_un address = addressOf(can0);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
            std::perror("connect");
            return 1;
        }
        char record[13] = { 8, 0x1C, 0x01, 0x23, char(0xFF), 4, 3, 2, 1, 8, 7, 6, 5 };
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < frames; ++i) {
            record[4] = char(i);
            if (::send(fd, record, sizeof record, MSG_NOSIGNAL) != sizeof record) {
                std::perror("send");
                return 1;
            }
        }
        while (sink.records() < frames)
            std::this_thread::yield();
        bareRate = frames * 1000.0 / qMax<qint64>(1, timer.elapsed());
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
        std::printf(
            "bare socket writes of 13-byte records: %d frames, %.0f frames/s\n", frames, bareRate);
    }

    std::printf("ratio: %.3f frames/s through CanAsyncReadWrite over bare socket writes\n",
        pairRate / bareRate);
    return 0;
}
