// Frames per second from one controller's reader/writer pair through the CAN node simulator to
// a second controller's pair on the same bus, beside a bare loop writing the same 13-byte
// records to a socket that only takes them.

#include "canbus/canasyncreadwrite.h"
#include "canbus/candevicescm.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

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

// Accepts one connection and takes its packets, counting the 13-byte write records.
class Peer {
public:
    explicit Peer(const QByteArray& path)
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
        for (;;) {
            const ssize_t n = ::recv(fd, packet, sizeof packet, 0);
            if (n <= 0)
                break;
            if (n != 13)
                continue;
            ++m_records;
        }
        ::close(fd);
    }

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

    // Through the simulator: one controller writes, a second controller on the same bus hears
    // every frame (as on a real bus) and counts it at ackRead.
    double pairRate;
    int received = 0;
    {
        QProcess sim;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZEF400_ROOT", root.path());
        sim.setProcessEnvironment(env);
        sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim.start(QStringLiteral(ZEF_BIN_DIR "/zef400-sim"), QStringList());
        QElapsedTimer wait;
        wait.start();
        while (!QFile::exists(QFile::decodeName(can0)) && wait.elapsed() < 10000)
            QThread::msleep(10);
        if (!QFile::exists(QFile::decodeName(can0))) {
            std::fprintf(stderr, "zef400-sim did not start\n");
            return 1;
        }

        CanDeviceScm writerDevice(CanConfiguration(CanConfiguration::MainBoardBus));
        CanDeviceScm readerDevice(CanConfiguration(CanConfiguration::MainBoardBus));
        CanAsyncReadWrite writer(&writerDevice);
        CanAsyncReadWrite reader(&readerDevice);
        bool counting = false;
        QObject::connect(&reader, &CanAsyncReadWrite::ackRead, &app, [&] {
            if (!counting)
                app.quit(); // the probe came through: both controllers are on the bus
            else if (++received == frames)
                app.quit();
        });
        // A frame type no node answers, so only the controllers' own frames are on the bus.
        CanMessage frame(0x1C0123FF, QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, &app, [&] { writer.write(frame); });
        probe.start(20);
        app.exec();
        probe.stop();
        QCoreApplication::processEvents();
        counting = true;

        // Stops waiting when nothing arrives for two seconds, so a lost frame shows as a count.
        int lastCount = -1;
        QTimer stall;
        QObject::connect(&stall, &QTimer::timeout, &app, [&] {
            if (received == lastCount)
                app.quit();
            lastCount = received;
        });
        stall.start(2000);
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < frames; ++i) {
            frame.setNodeId(unsigned(i) & 0xFF);
            writer.write(frame);
        }
        if (received < frames)
            app.exec();
        pairRate = received * 1000.0 / qMax<qint64>(1, timer.elapsed());
        writer.stop();
        reader.stop();
        sim.terminate();
        sim.waitForFinished(5000);
        std::printf("CanAsyncReadWrite write -> zef400-sim -> ackRead of a second controller: "
                    "%d of %d frames, %.0f frames/s\n",
            received, frames, pairRate);
    }

    ::unlink(can0.constData());
    double bareRate;
    {
        Peer sink(can0);
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

    // An 8-byte extended data frame is at least 128 bits plus 3 bits of interframe space.
    std::printf("one 125 kbit/s bus carries at most %.0f such frames/s\n", 125000.0 / 131.0);
    std::printf("ratio: %.3f frames/s through CanAsyncReadWrite and the simulator over bare socket "
                "writes\n",
        pairRate / bareRate);
    return 0;
}
