// Frames per second from one controller's reader/writer pair through the CAN node simulator to
// a second controller's pair on the same bus, beside a bare loop writing the same 13-byte
// records to a socket that only takes them. The two alternate over several rounds; the medians
// and spreads are printed, and how many times one 125 kbit/s bus's frame rate the path carries.

#include "canbus/device/canasyncreadwrite.h"
#include "canbus/device/candevicescm.h"
#include "kubus/thread/threadutils.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

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

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void print(const char* what, const std::vector<double>& v)
{
    const auto [low, high] = std::minmax_element(v.begin(), v.end());
    std::printf("%-60s median %8.0f frames/s, spread %.0f to %.0f\n", what, median(v), *low, *high);
}

} // namespace

int main(int argc, char** argv)
{
    // The program's own setting, so that the hand-overs measured are the program's.
    Kubus::useQtEventDispatcher();
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? QByteArray(argv[1]).toInt() : 2000;

    QTemporaryDir root;
    QDir(root.path()).mkpath("dev");
    QFile(root.filePath("dev/uio0")).open(QIODevice::WriteOnly);
    qputenv("ZEF400_ROOT", QFile::encodeName(root.path()));
    const QByteArray can0 = QFile::encodeName(root.filePath("dev/can0"));

    constexpr int Rounds = 15;
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

    // Through the simulator: one controller writes, a second controller on the same bus hears
    // every frame (as on a real bus) and counts it at ackRead.
    CanDeviceScm writerDevice { CanConfiguration(CanConfiguration::MainBoardBus) };
    CanDeviceScm readerDevice { CanConfiguration(CanConfiguration::MainBoardBus) };
    CanAsyncReadWrite writer(&writerDevice);
    CanAsyncReadWrite reader(&readerDevice);
    bool counting = false;
    int received = 0;
    QObject::connect(&reader, &CanAsyncReadWrite::ackRead, &app, [&] {
        if (!counting)
            app.quit(); // the probe came through: both controllers are on the bus
        else if (++received == frames)
            app.quit();
    });
    // A frame type no node answers, so only the controllers' own frames are on the bus.
    CanMessage frame(0x1C0123FF, QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
    {
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, &app, [&] { writer.write(frame); });
        probe.start(20);
        app.exec();
    }
    QThread::msleep(100);
    QCoreApplication::processEvents();
    counting = true;

    // The bare path: a socket of its own beside the simulator's.
    const QByteArray bare0 = QFile::encodeName(root.filePath("dev/bare0"));
    Peer sink(bare0);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    const sockaddr_un address = addressOf(bare0);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        std::perror("connect");
        return 1;
    }

    std::vector<double> pairRates, bareRates;
    int lost = 0;
    for (int round = 0; round < Rounds; ++round) {
        received = 0;
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
        pairRates.push_back(received * 1000.0 / qMax<qint64>(1, timer.elapsed()));
        lost += frames - received;

        const int before = sink.records();
        char record[13] = { 8, 0x1C, 0x01, 0x23, char(0xFF), 4, 3, 2, 1, 8, 7, 6, 5 };
        timer.start();
        for (int i = 0; i < frames; ++i) {
            record[4] = char(i);
            if (::send(fd, record, sizeof record, MSG_NOSIGNAL) != sizeof record) {
                std::perror("send");
                return 1;
            }
        }
        while (sink.records() < before + frames)
            std::this_thread::yield();
        bareRates.push_back(frames * 1000.0 / qMax<qint64>(1, timer.elapsed()));
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    writer.stop();
    reader.stop();
    sim.terminate();
    sim.waitForFinished(5000);

    // An 8-byte extended data frame is at least 128 bits plus 3 bits of interframe space.
    const double busRate = 125000.0 / 131.0;
    print("CanAsyncReadWrite write -> zef400-sim -> ackRead of a second:", pairRates);
    print("bare socket writes of 13-byte records:", bareRates);
    std::printf("%d rounds of %d frames, %d lost\n", Rounds, frames, lost);
    std::printf(
        "one 125 kbit/s bus carries at most %.0f such frames/s; the path carries %.1f times "
        "that (median)\n",
        busRate, median(pairRates) / busRate);
    std::printf("ratio: %.3f frames/s through CanAsyncReadWrite and the simulator over bare socket "
                "writes (medians)\n",
        median(pairRates) / median(bareRates));
    return lost ? 1 : 0;
}
