// Firmware transfers through the CAN node simulator in real time: a 64 KiB AT90 image and a
// 256 KiB FPGA image written into one amplifier through the program's own proxy, bus and
// transfer command. Each transfer's span on the bus (access on to the confirmation of access off,
// from the simulator's trace) is compared with its protocol floor: the exact bit times of every
// frame the bus carried meanwhile (identification goes on beside the transfer and takes the bus
// too) plus the time the bus stood idle waiting for a node. What is left is the time the bus
// waited for the program; it is printed by the frame the program was reacting to. The floor of
// the transfer's own frames with the node waits the simulator models (erase and write times from
// its dump, its processing delay before every answer) is printed beside it. The rounds interleave
// both images; the program's CPU time per block is measured around each transfer.

#include "canbus/device/canconfiguration.h"
#include "canbus/device/candevicescm.h"
#include "canbus/frame/canmessagetype.h"
#include "canbus/proxy/poweramplifierproxy.h"
#include "kubus/catalogue/poweramplifierbus.h"
#include "kubus/request/request.h"
#include "kubus/thread/threadutils.h"
#include "sim/framebits.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMap>
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
#include <numeric>

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
    // The transfer's own frames and the node waits the simulator modelled for them.
    double transferFloorUs = 0;
    // Every frame the bus carried in the window (identification goes on beside the transfer)
    // plus the time the bus stood idle before a node's frame: the bus cannot be done sooner.
    double floorUs = 0;
    double otherFramesUs = 0; // bit times of the frames that are not the transfer's
    // Idle bus while the program owed the transfer's next frame (from the end of the transfer
    // frame before it), by that frame: the bus waiting for the program.
    QMap<QString, QVector<double>> programWaits;
};

// The transfer's frames in the trace: from the access-on request to the node's confirmation of
// access off. The trace gives every frame's end and its exact length, so the bus's idle time is
// known exactly. Each frame of the transfer follows the one before it: a controller's frame
// cannot go before the frame that it follows has ended, a node's answer cannot go before the
// node has worked on the request. Idle time between the end of a transfer frame and the next
// one from the controller is the program's (frames of other kinds in between are subtracted);
// all other idle time is the nodes'.
Span traceSpan(const QStringList& lines, qint64 nodeWaitUs)
{
    Span span;
    double first = -1;
    double lastEnd = -1; // end of the transfer's latest frame
    double otherSince = 0; // bus time of other frames since then
    QString lastFrame;
    qint64 transferBits = 0;
    qint64 otherBits = 0;
    double programUs = 0;
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
            if (type != CanBus::SCM_FW_ACC_CONTROL || fromNode
                || (data.isEmpty() || data.at(0) != char(0x33)))
                continue;
            first = endUs - double(lengthUs);
            lastEnd = first;
        }
        // Identification keeps running beside the transfer; its frames are not the transfer's.
        if (type == CanBus::SCM_IDENTIFY || type == CanBus::SCM_SET_ADDR_CO) {
            otherBits += lengthUs;
            otherSince += double(lengthUs);
            continue;
        }
        const double startUs = endUs - double(lengthUs);
        if (!fromNode) {
            const double idleUs = std::max(0.0, startUs - lastEnd - otherSince);
            if (idleUs > 0)
                span.programWaits[lastFrame] << idleUs;
            programUs += idleUs;
        }
        lastEnd = endUs;
        otherSince = 0;
        lastFrame = CanBus::canMessageTypeName(type) + (fromNode ? " R" : " T");
        transferBits += lengthUs;
        if (fromNode)
            ++answers;
        if (type == CanBus::SCM_FW_ACC_CONTROL && fromNode && !data.isEmpty()
            && data.at(0) == char(0xCC)) {
            span.wallUs = endUs - first;
            break;
        }
    }
    span.otherFramesUs = double(otherBits);
    span.transferFloorUs = double(transferBits + nodeWaitUs + answers * NodeDelayUs);
    span.floorUs = span.wallUs - programUs;
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
    // The program's own setting: the proxy and its threads run in this process.
    Kubus::useQtEventDispatcher();
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

    CanBus::CanDeviceScm device { CanBus::CanConfiguration(
        CanBus::CanConfiguration::PowerAmplifierBus) };
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
        const char* name = "";
        Kubus::FirmwareUpdateInfo::FirmwareUpdateType type {};
        int size = 0;
        QVector<double> ratio, transferRatio, wall, floor, other, cpuPerBlock;
        QMap<QString, QVector<double>> waits; // program waits, all rounds
    };
    Kind kinds[2];
    kinds[0].name = "AT90 64 KiB";
    kinds[0].type = Kubus::FirmwareUpdateInfo::PowerAmplifierAT90;
    kinds[0].size = 65536;
    kinds[1].name = "FPGA 256 KiB";
    kinds[1].type = Kubus::FirmwareUpdateInfo::PowerAmplifierFPGA;
    kinds[1].size = 262144;
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
            kind.transferRatio << span.wallUs / span.transferFloorUs;
            kind.wall << span.wallUs / 1e6;
            kind.floor << span.floorUs / 1e6;
            kind.other << span.otherFramesUs / 1e6;
            kind.cpuPerBlock << cpu * 1e6 / blocks;
            double waited = 0;
            for (auto it = span.programWaits.cbegin(); it != span.programWaits.cend(); ++it) {
                kind.waits[it.key()] << it.value();
                waited += std::accumulate(it.value().cbegin(), it.value().cend(), 0.0);
            }
            std::printf("round %d %-12s bus span %7.3f s  floor %7.3f s  ratio %.4f  (transfer "
                        "frames only: floor %7.3f s, ratio %.4f)  bus waited for the program "
                        "%6.1f ms  request %7.3f s  CPU %6.1f us/block\n",
                round, kind.name, span.wallUs / 1e6, span.floorUs / 1e6, span.wallUs / span.floorUs,
                span.transferFloorUs / 1e6, span.wallUs / span.transferFloorUs, waited / 1e3, total,
                cpu * 1e6 / blocks);
            std::fflush(stdout);
        }
    }
    double worst = 0;
    for (Kind& kind : kinds) {
        const auto [lo, hi] = std::minmax_element(kind.ratio.begin(), kind.ratio.end());
        std::printf("%-12s median span %.3f s, floor %.3f s (of it %.3f s other frames), ratio "
                    "%.4f (spread %.4f-%.4f; transfer frames only %.4f), CPU %.1f us/block\n",
            kind.name, median(kind.wall), median(kind.floor), median(kind.other),
            median(kind.ratio), *lo, *hi, median(kind.transferRatio), median(kind.cpuPerBlock));
        for (auto it = kind.waits.cbegin(); it != kind.waits.cend(); ++it) {
            const double sum = std::accumulate(it.value().cbegin(), it.value().cend(), 0.0);
            if (sum < 1000.0 * rounds)
                continue; // under 1 ms a round: not worth a line
            std::printf("    bus idle for the program after %-24s %6d gaps, median %5.0f us, "
                        "%7.1f ms a round\n",
                qPrintable(it.key().isEmpty() ? QStringLiteral("(start)") : it.key()),
                int(it.value().size() / rounds), median(it.value()), sum / 1e3 / rounds);
        }
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
