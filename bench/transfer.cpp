// Firmware transfers through the CAN node simulator in real time: a 64 KiB AT90 image and a
// 256 KiB FPGA image written into one amplifier through the program's own proxy, bus and
// transfer command. Each transfer's span on the bus (access on to the confirmation of access off,
// from the simulator's trace) is compared with its protocol floor: the exact bit times of the
// same frames plus the node-side waits the simulator models (erase and write times from its dump,
// and its processing delay before every answer). The rounds interleave both images; the program's
// CPU time per block is measured around each transfer.

#include "canbus/canconfiguration.h"
#include "canbus/candevicescm.h"
#include "canbus/proxy/poweramplifierproxy.h"
#include "kubus/poweramplifierbus.h"
#include "kubus/request.h"
#include "sim/framebits.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>

namespace {

constexpr qint64 NodeDelayUs = 100; // the simulator's default processing delay

double cpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct Span {
    double wallUs = 0; // access on sent .. access off confirmed, on the bus
    double floorUs = 0;
};

// The transfer's frames in the trace: from the access-on request to the node's confirmation of
// access off.
Span traceSpan(const QStringList& lines, qint64 nodeWaitUs)
{
    Span span;
    double first = -1;
    qint64 bits = 0;
    int answers = 0;
    for (const QString& line : lines) {
        // "(SSSSSSSSSS.UUUUUU) can1 IIIIIIII#DATA D"
        const QStringList parts = line.split(' ', Qt::SkipEmptyParts);
        if (parts.size() < 4 || parts.at(1) != QLatin1String("can1"))
            continue;
        const double endUs = parts.at(0).mid(1, parts.at(0).size() - 2).toDouble() * 1e6;
        const QStringList frame = parts.at(2).split('#');
        const quint32 id = frame.at(0).toUInt(nullptr, 16);
        const QByteArray data = QByteArray::fromHex(frame.value(1).toLatin1());
        const unsigned type = (id >> 8) & 0xFFF;
        const bool fromNode = parts.at(3) == QLatin1String("R");
        const qint64 lengthUs = Sim::FrameBits::frameDurationUs(id, data);
        if (first < 0) {
            if (type != 0x600 || fromNode || (data.isEmpty() || data.at(0) != char(0x33)))
                continue;
            first = endUs - double(lengthUs);
        }
        // Identification keeps running beside the transfer; its frames are not the transfer's.
        if (type == 0x800 || type == 0x400)
            continue;
        bits += lengthUs;
        if (fromNode)
            ++answers;
        if (type == 0x600 && fromNode && !data.isEmpty() && data.at(0) == char(0xCC)) {
            span.wallUs = endUs - first;
            break;
        }
    }
    span.floorUs = double(bits + nodeWaitUs + answers * NodeDelayUs);
    return span;
}

qint64 dumpWait(const QString& dump)
{
    QSettings settings(dump, QSettings::IniFormat);
    return settings.value("can1_2001/fw_erase_wait_us").toLongLong()
        + settings.value("can1_2001/fw_write_wait_us").toLongLong();
}

bool requestDump(QProcess& sim, const QString& dump)
{
    const QDateTime before = QFileInfo(dump).lastModified();
    QFile::remove(dump);
    ::kill(pid_t(sim.processId()), SIGUSR1);
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 5000) {
        if (QFileInfo::exists(dump))
            return true;
        QThread::msleep(20);
    }
    Q_UNUSED(before);
    return false;
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? qMax(1, atoi(argv[1])) : 3;
    QTemporaryDir root(QDir::tempPath() + "/zefbench-XXXXXX");
    QDir(root.path()).mkpath("dev");
    QFile(root.filePath("dev/uio0")).open(QIODevice::WriteOnly);
    qputenv("ZEF400_ROOT", root.path().toLocal8Bit());
    const QString trace = root.filePath("trace.log");
    const QString dump = root.filePath("dump.ini");

    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.setStandardOutputFile(root.filePath("sim.log"));
    sim.start(QString::fromLatin1(ZEF_BIN_DIR) + "/zef400-sim",
        { "--realtime", "--trace", trace, "--dump", dump });
    for (int i = 0; i < 250 && !QFileInfo::exists(root.filePath("dev/can1")); ++i)
        QThread::msleep(20);
    QThread::msleep(100);

    CanBus::CanDeviceScm device(
        CanBus::CanConfiguration(CanBus::CanConfiguration::PowerAmplifierBus));
    CanBus::PowerAmplifierProxy proxy(&device);
    proxy.setFirmwareTimeout(150000);
    auto* bus = Kubus::PowerAmplifierBus::instance();
    int nodeId = -1;
    QEventLoop found;
    QObject::connect(bus,
        qOverload<const Kubus::IdentifyFoundNodes&>(&Kubus::PowerAmplifierBus::message), &found,
        [&](const Kubus::IdentifyFoundNodes& nodes) {
            for (const auto& node : nodes.nodes)
                if (node.serialNumber == 2001)
                    nodeId = node.nodeId;
            if (nodeId >= 0)
                found.quit();
        });
    Kubus::IdentifyInfo info;
    info.waitForReplyInterval = 300;
    info.repeatInterval = 300;
    info.sendFoundNodes = true;
    bus->send(info);
    QMetaObject::invokeMethod(&proxy, "startApiService", Qt::DirectConnection);
    QTimer::singleShot(10000, &found, &QEventLoop::quit);
    found.exec();
    if (nodeId < 0) {
        std::fprintf(stderr, "bench-transfer: the amplifier was not found\n");
        return 1;
    }

    struct Kind {
        const char* name;
        Kubus::FirmwareUpdateInfo::FirmwareUpdateType type;
        int size;
        QVector<double> ratio, wall, floor, cpuPerBlock;
    };
    Kind kinds[] = { { "AT90 64 KiB", Kubus::FirmwareUpdateInfo::PowerAmplifierAT90, 65536, {}, {},
                         {}, {} },
        { "FPGA 256 KiB", Kubus::FirmwareUpdateInfo::PowerAmplifierFPGA, 262144, {}, {}, {}, {} } };
    QRandomGenerator random(400);
    for (int round = 1; round <= rounds; ++round) {
        for (Kind& kind : kinds) {
            Kubus::FirmwareUpdate request;
            request.nodeId = nodeId;
            request.type = kind.type;
            request.version = QStringLiteral("9.%1").arg(round);
            request.versionPrefix = request.version;
            request.data.resize(kind.size);
            for (char& c : request.data)
                c = char(random.bounded(256));
            if (!requestDump(sim, dump))
                return 1;
            const qint64 waitBefore = dumpWait(dump);
            QFile traceFile(trace);
            traceFile.open(QIODevice::ReadOnly);
            const qint64 traceStart = traceFile.size();
            traceFile.close();

            const double cpu0 = cpuSeconds();
            QElapsedTimer clock;
            clock.start();
            const auto response
                = Kubus::Request<Kubus::PowerAmplifierBus, Kubus::FirmwareUpdate>(nullptr, request)
                      .execute();
            const double total = double(clock.elapsed()) / 1000.0;
            const double cpu = cpuSeconds() - cpu0;
            if (response.status != 0) {
                std::fprintf(
                    stderr, "bench-transfer: transfer failed with status %d\n", response.status);
                return 1;
            }
            if (!requestDump(sim, dump))
                return 1;
            const qint64 nodeWait = dumpWait(dump) - waitBefore;
            traceFile.open(QIODevice::ReadOnly);
            traceFile.seek(traceStart);
            const QStringList lines = QString::fromLatin1(traceFile.readAll()).split('\n');
            const Span span = traceSpan(lines, nodeWait);
            const int blocks = kind.size / 256;
            kind.ratio << span.wallUs / span.floorUs;
            kind.wall << span.wallUs / 1e6;
            kind.floor << span.floorUs / 1e6;
            kind.cpuPerBlock << cpu * 1e6 / blocks;
            std::printf(
                "round %d %-12s bus span %7.3f s  floor %7.3f s  ratio %.4f  request %7.3f s  "
                "CPU %6.1f us/block\n",
                round, kind.name, span.wallUs / 1e6, span.floorUs / 1e6, span.wallUs / span.floorUs,
                total, cpu * 1e6 / blocks);
            std::fflush(stdout);
        }
    }
    double worst = 0;
    for (const Kind& kind : kinds) {
        const auto [lo, hi] = std::minmax_element(kind.ratio.begin(), kind.ratio.end());
        std::printf("%-12s median span %.3f s, floor %.3f s, ratio %.4f (spread %.4f-%.4f), "
                    "CPU %.1f us/block\n",
            kind.name, median(kind.wall), median(kind.floor), median(kind.ratio), *lo, *hi,
            median(kind.cpuPerBlock));
        worst = std::max(worst, median(kind.ratio));
    }
    sim.terminate();
    sim.waitForFinished(5000);
    std::printf(
        "ratio: %.4f transfer time on the bus over its protocol floor (worse of AT90 and FPGA, "
        "medians; aim <= 1.03)\n",
        worst);
    std::fflush(stdout);
    // _exit skips the destructors, the temporary root's among them.
    root.remove();
    _exit(0);
}
