// Whole update runs of the real program: zef400-fwupdate started on a root laid out by
// scripts/make-root, with zef400-sim --realtime playing one mainboard and four amplifiers whose
// every firmware is older than the latest release, to its own end. The run's wall time (process
// start to exit) is set against its floor, taken exactly from the simulator's trace: the
// protocol floor of every transfer (as bench-transfer takes it: every frame's bit time and the
// node's waits from access on to access off), the frames and node answers of the label reads and
// version writes, and the waits identification and the resets impose. The rest is the program's:
// its start-up before the first identification request, the bus standing idle while the program
// owed the next frame (printed by the frame it was reacting to) and its end after the last frame.
// CPU time and peak resident memory come from wait4's resource usage of the program. Realtime
// rounds repeat on fresh roots and simulators; a fast-mode run of 8 mainboards and 32 amplifiers
// then shows memory and CPU on a full rack with full-size images.

#include "canbus/frame/canmessagetype.h"
#include "sim/framebits.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRandomGenerator>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// Image payloads of the realtime rounds: a quarter of the AT90 program and an eighth of the FPGA
// configuration of a real release, so that five nodes take about a minute and a half of bus
// time instead of over five minutes. The fast-mode run writes full-size images.
constexpr int RealtimeAt90Bytes = 16 * 1024;
constexpr int RealtimeFpgaBytes = 32 * 1024;
constexpr int FullAt90Bytes = 64 * 1024;
constexpr int FullFpgaBytes = 256 * 1024;
constexpr int BlockBytes = 256;

// The full rack of the fast-mode run and how many of its boards are out of date: every firmware
// written costs a reset and a re-identification of several seconds even in fast mode, so two
// mainboards and six amplifiers (16 firmwares) keep the run near a minute; all 40 labels are read.
constexpr int FullRackMainboards = 8;
constexpr int FullRackAmplifiers = 32;
constexpr int FullRackOldMainboards = 2;
constexpr int FullRackOldAmplifiers = 6;

const char* const OldVersion = "1.13.1";
constexpr int ProgramTimeoutMs = 600000;

qint64 monotonicUs()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

double median(QVector<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int n = int(values.size());
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

QString spread(const QVector<double>& values, const char* format)
{
    const auto [lo, hi] = std::minmax_element(values.cbegin(), values.cend());
    return QString::asprintf(format, *lo) + "-" + QString::asprintf(format, *hi);
}

// ---- child processes -----------------------------------------------------------------------

struct Child {
    pid_t pid = -1;
    qint64 startUs = 0;
};

struct Ended {
    bool timedOut = false;
    int status = 0;
    qint64 endUs = 0;
    rusage usage {};
};

Child spawn(const QString& program, const QStringList& arguments,
    const QMap<QByteArray, QByteArray>& environment, const QString& outputFile)
{
    std::vector<QByteArray> strings;
    strings.push_back(QFile::encodeName(program));
    for (const QString& a : arguments)
        strings.push_back(a.toLocal8Bit());
    const size_t argc = strings.size();
    QMap<QByteArray, QByteArray> env;
    for (char** e = environ; *e; ++e) {
        const QByteArray entry(*e);
        const int eq = int(entry.indexOf('='));
        if (eq > 0)
            env.insert(entry.left(eq), entry.mid(eq + 1));
    }
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        env.insert(it.key(), it.value());
    for (auto it = env.cbegin(); it != env.cend(); ++it)
        strings.push_back(it.key() + '=' + it.value());
    std::vector<char*> argv, envp;
    for (size_t i = 0; i < strings.size(); ++i)
        (i < argc ? argv : envp).push_back(strings[i].data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    const QByteArray out = QFile::encodeName(outputFile);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    Child child;
    child.startUs = monotonicUs();
    if (posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        child.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

// Waits for the child's end (killing it after timeoutMs) and takes its resource usage: user and
// system time and peak resident set of the child itself.
Ended waitFor(const Child& child, int timeoutMs)
{
    Ended ended;
    std::mutex mutex;
    std::condition_variable condition;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!condition.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return done; })) {
            ended.timedOut = true;
            ::kill(child.pid, SIGKILL); // not reaped yet: the id is still the child's
        }
    });
    siginfo_t info {};
    // Wait without reaping first, so that the watchdog can never hit a reused process id.
    while (::waitid(P_PID, id_t(child.pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) { }
    ended.endUs = monotonicUs();
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    condition.notify_all();
    watchdog.join();
    ::wait4(child.pid, &ended.status, 0, &ended.usage);
    return ended;
}

bool runScript(const QString& program, const QStringList& arguments, const QString& log)
{
    const Child child = spawn(program, arguments, {}, log);
    if (child.pid < 0)
        return false;
    const Ended ended = waitFor(child, 60000);
    return !ended.timedOut && WIFEXITED(ended.status) && WEXITSTATUS(ended.status) == 0;
}

bool isSocket(const QString& path)
{
    struct stat info { };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// ---- the rack ------------------------------------------------------------------------------

struct Rack {
    int mainboards = 1;
    int amplifiers = 4;
    int oldMainboards = 1; // the first ones are out of date
    int oldAmplifiers = 4;
    int at90Bytes = RealtimeAt90Bytes;
    int fpgaBytes = RealtimeFpgaBytes;
    bool realtime = true;

    int oldFirmwares() const { return 2 * (oldMainboards + oldAmplifiers); }
};

// Replaces the payloads of the latest release's images by random bytes of the chosen sizes,
// keeping each file's header; returns the release's version text.
QString resizeImages(const QString& root, const Rack& rack, quint32 seed, QString* error)
{
    QRandomGenerator random(seed);
    QString version;
    for (const char* kind : { "BO/91204500", "PA/91204700" })
        for (const bool fpga : { false, true }) {
            const QString path
                = QString("%1/usr/local/FwUpdate/%2_%3.bin").arg(root, kind, fpga ? "FPGA" : "AT90");
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) {
                *error = "cannot read " + path;
                return QString();
            }
            QByteArray bytes = file.readAll();
            file.close();
            const int end = int(bytes.indexOf('\0', 16));
            if (end < 0) {
                *error = "no version text in " + path;
                return QString();
            }
            version = QString::fromLatin1(bytes.mid(16, end - 16));
            bytes.truncate(end + 1);
            QByteArray payload(fpga ? rack.fpgaBytes : rack.at90Bytes, Qt::Uninitialized);
            for (char& c : payload)
                c = char(random.bounded(256));
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes + payload) < 0) {
                *error = "cannot write " + path;
                return QString();
            }
        }
    return version;
}

QString rackFile(const Rack& rack, const QString& latest)
{
    QString text = "bus can0\n";
    for (int i = 0; i < rack.mainboards; ++i) {
        QStringList equipped;
        for (int a = 4 * i; a < std::min(rack.amplifiers, 4 * i + 4); ++a)
            equipped << QString::number(a % 4 + 1);
        const QString version = i < rack.oldMainboards ? QString(OldVersion) : latest;
        text += QString("mainboard part=91204500 variant=1 serial=%1 rack=1 unit=%2 slots=%3 "
                        "at90=%4 fpga=%4\n")
                    .arg(1001 + i)
                    .arg(i + 1)
                    .arg(equipped.isEmpty() ? QString("none") : equipped.join(','), version);
    }
    text += "bus can1\n";
    for (int a = 0; a < rack.amplifiers; ++a) {
        const QString version = a < rack.oldAmplifiers ? QString(OldVersion) : latest;
        text += QString("amplifier part=91204700 variant=1 serial=%1 rack=1 unit=%2 slot=%3 "
                        "at90=%4 fpga=%4\n")
                    .arg(2001 + a)
                    .arg(a / 4 + 1)
                    .arg(a % 4 + 1)
                    .arg(version);
    }
    return text;
}

// ---- the trace -----------------------------------------------------------------------------

struct Frame {
    qint64 endUs = 0; // modelled end on the bus, simulator clock
    qint64 lengthUs = 0;
    int bus = 0;
    unsigned type = 0;
    unsigned nodeId = 0;
    bool fromNode = false;
    QByteArray data;

    qint64 startUs() const { return endUs - lengthUs; }
};

QVector<Frame> readTrace(const QString& path)
{
    QVector<Frame> frames;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return frames;
    while (!file.atEnd()) {
        // "(SSSSSSSSSS.UUUUUU) canN IIIIIIII#DATA D"
        const QList<QByteArray> parts = file.readLine().simplified().split(' ');
        if (parts.size() < 4 || parts.at(0).size() < 4)
            continue;
        const QByteArray time = parts.at(0).mid(1, parts.at(0).size() - 2);
        const int dot = int(time.indexOf('.'));
        Frame f;
        f.endUs = time.left(dot).toLongLong() * 1000000 + time.mid(dot + 1).toLongLong();
        f.bus = parts.at(1) == "can0" ? 0 : 1;
        const QList<QByteArray> frame = parts.at(2).split('#');
        const quint32 id = frame.at(0).toUInt(nullptr, 16);
        f.data = QByteArray::fromHex(frame.value(1));
        f.type = (id >> 8) & 0xFFF;
        f.nodeId = id & 0xFF;
        f.fromNode = parts.at(3) == "R";
        f.lengthUs = Sim::FrameBits::frameDurationUs(id, f.data);
        frames << f;
    }
    std::stable_sort(frames.begin(), frames.end(),
        [](const Frame& a, const Frame& b) { return a.endUs < b.endUs; });
    return frames;
}

// Frames that are not part of the update's chain of exchanges: identification goes on beside it
// on both buses (and nodes' acknowledge requests are confirmed beside it).
bool besideTheWork(unsigned type)
{
    return type == CanBus::SCM_IDENTIFY || type == CanBus::SCM_SET_ADDR_CO
        || type == CanBus::SCM_SET_ADDR_OP || type == CanBus::SCM_MSG_ACK;
}

struct Transfer {
    bool fpga = false;
    qint64 startUs = 0; // access on sent
    qint64 endUs = 0; // access off confirmed
    qint64 programUs = 0; // bus idle while the program owed the next frame
    qint64 floorUs() const { return endUs - startUs - programUs; }
};

struct Analysis {
    QString error;
    qint64 startupUs = 0; // process start to the first identification request: the program's
    qint64 firstIdentificationUs = 0; // imposed
    QVector<Transfer> transfers;
    qint64 labelReadsUs = 0; // frames and node answers
    qint64 versionWritesUs = 0;
    qint64 otherFramesUs = 0;
    QVector<qint64> reidentificationUs; // imposed, one a reset
    qint64 programIdleUs = 0; // outside transfers
    qint64 tailUs = 0; // last frame to the program's exit
    qint64 wallUs = 0; // process start to exit on the trace's clock
    QMap<QString, QVector<qint64>> idleBy; // the program's gaps by the frame it reacted to
    int blocks = 0; // block ends confirmed
    int blockRepeats = 0;
    QVector<qint64> rhythmLateUs; // identification cycles later than their fixed rhythm

    qint64 transferFloorUs(bool fpga) const
    {
        qint64 sum = 0;
        for (const Transfer& t : transfers)
            if (t.fpga == fpga)
                sum += t.floorUs();
        return sum;
    }
    qint64 transferProgramUs() const
    {
        qint64 sum = 0;
        for (const Transfer& t : transfers)
            sum += t.programUs;
        return sum;
    }
    qint64 floorUs() const
    {
        qint64 sum = firstIdentificationUs + transferFloorUs(false) + transferFloorUs(true)
            + labelReadsUs + versionWritesUs + otherFramesUs;
        for (qint64 span : reidentificationUs)
            sum += span;
        return sum;
    }
    qint64 programUs() const { return startupUs + programIdleUs + transferProgramUs() + tailUs; }
};

// Identification cycles follow a rhythm fixed at start-up: a 1000 ms window for answers from the
// request on, node-id assignments one after the other, then 3000 ms until the next request. How
// much later than that each next request came is the identify module's own delay, which the
// re-identification spans below contain. Only requests that found the bus free count: one that
// waited behind the transfer's frames started later on the bus than it was sent.
QVector<qint64> rhythmLateness(const QVector<Frame>& frames)
{
    constexpr qint64 WindowUs = 1000000;
    constexpr qint64 RepeatUs = 3000000;
    QVector<qint64> late;
    for (int bus = 0; bus < 2; ++bus) {
        qint64 cycleEnd = -1; // -1: the last request is not to be judged
        qint64 busFree = 0;
        for (const Frame& f : frames) {
            if (f.bus != bus)
                continue;
            if (f.type == CanBus::SCM_IDENTIFY && !f.fromNode) {
                const bool sentAtStart = f.startUs() > busFree;
                if (cycleEnd >= 0 && sentAtStart)
                    late << f.startUs() - cycleEnd - RepeatUs;
                cycleEnd = sentAtStart ? f.startUs() + WindowUs : -1;
            } else if (f.type == CanBus::SCM_SET_ADDR_CO && cycleEnd >= 0) {
                cycleEnd = std::max(cycleEnd, f.endUs);
            }
            busFree = f.endUs;
        }
    }
    return late;
}

// Walks the update's frames in time order. The program works on one node at a time, so its
// frames on both buses form one chain: bus idle before a node's frame is the node's (processing,
// erase and write), bus idle before a controller's frame is the program's, and the bit times of
// all frames are the bus's. Identification frames on the same bus meanwhile count as the bus's
// too, as in bench-transfer.
Analysis analyse(const QVector<Frame>& frames, qint64 programStartUs, qint64 programEndUs)
{
    Analysis a;
    a.wallUs = programEndUs - programStartUs;
    a.rhythmLateUs = rhythmLateness(frames);
    const auto first = std::find_if(
        frames.cbegin(), frames.cend(), [](const Frame& f) { return !besideTheWork(f.type); });
    if (first == frames.cend()) {
        a.error = "no update frames in the trace";
        return a;
    }
    const int startBus = first->bus;
    qint64 identStart = -1;
    qint64 lastEnd = -1;
    for (auto it = frames.cbegin(); it != first; ++it)
        if (it->bus == startBus) {
            if (identStart < 0 && it->type == CanBus::SCM_IDENTIFY && !it->fromNode)
                identStart = it->startUs();
            lastEnd = std::max(lastEnd, it->endUs);
        }
    if (identStart < 0) {
        a.error = "no identification before the first update frame";
        return a;
    }
    a.startupUs = identStart - programStartUs;
    // The first report comes at the end of the first identification cycle that found nodes:
    // the answer window and the node-id assignments are the protocol's.
    a.firstIdentificationUs = lastEnd - identStart;

    QString lastKey = QStringLiteral("the first identification report");
    qint64 other[2] = { 0, 0 };
    bool resetPending = false;
    int resetBus = 0;
    unsigned resetNode = 0;
    qint64 resetStart = 0;
    int open = -1; // index of the transfer in progress
    int blockEnds = 0;
    for (auto it = first; it != frames.cend(); ++it) {
        const Frame& f = *it;
        if (resetPending) {
            // From the reset to the node's answer to its new node-id assignment nothing is the
            // program's to hurry: the node confirms the reset, is off the bus while it restarts,
            // comes back without a node id and can only be found by the next identification
            // cycle, whose window and repeat interval are fixed at start-up; the transfer is
            // done only when the node answers the assignment. The identify module's own delays
            // are inside this span; the rhythm line shows how small they are.
            if (f.bus == resetBus && f.type == CanBus::SCM_SET_ADDR_CO && f.fromNode
                && f.nodeId == resetNode) {
                a.reidentificationUs << f.endUs - resetStart;
                lastEnd = f.endUs;
                other[0] = other[1] = 0;
                lastKey = QStringLiteral("the node back with its id (SCM_SET_ADDR_CO R)");
                resetPending = false;
            }
            continue;
        }
        if (besideTheWork(f.type)) {
            if (f.endUs > lastEnd)
                other[f.bus] += std::min(f.lengthUs, f.endUs - lastEnd);
            continue;
        }
        const qint64 beside = std::min(other[f.bus], std::max<qint64>(0, f.startUs() - lastEnd));
        const qint64 gap = std::max<qint64>(0, f.startUs() - lastEnd - beside);
        const qint64 span = f.endUs - lastEnd; // gap + beside + the frame itself
        const bool accessOn = f.type == CanBus::SCM_FW_ACC_CONTROL && !f.fromNode
            && !f.data.isEmpty() && f.data.at(0) == char(0x33);
        if (!f.fromNode && gap > 0) {
            a.idleBy[lastKey] << gap;
            (open >= 0 ? a.transfers[open].programUs : a.programIdleUs) += gap;
        }
        const qint64 floorPart = f.fromNode ? span : span - gap;
        if (open >= 0) {
            // inside a transfer: its window's floor is taken from start and end below
        } else if (accessOn) {
            a.otherFramesUs += floorPart - f.lengthUs;
            Transfer t;
            t.fpga = f.data.size() > 1 && f.data.at(1) != 0;
            t.startUs = f.startUs();
            open = int(a.transfers.size());
            a.transfers << t;
        } else if (f.type == CanBus::SCM_SERVICE_DATA_RD) {
            a.labelReadsUs += floorPart;
        } else if (f.type == CanBus::SCM_SERVICE_DATA_WR) {
            a.versionWritesUs += floorPart;
        } else if (f.type == CanBus::SCM_RESET_MODULE && !f.fromNode) {
            a.otherFramesUs += floorPart - f.lengthUs;
            resetPending = true;
            resetBus = f.bus;
            resetNode = f.nodeId;
            resetStart = f.startUs();
        } else {
            a.otherFramesUs += floorPart;
        }
        if (open >= 0 && f.type == CanBus::SCM_FW_ACC_BL_W_END)
            (f.fromNode ? a.blocks : blockEnds) += 1;
        if (open >= 0 && f.fromNode && f.type == CanBus::SCM_FW_ACC_CONTROL
            && !f.data.isEmpty() && f.data.at(0) == char(0xCC)) {
            a.transfers[open].endUs = f.endUs;
            open = -1;
        }
        lastEnd = f.endUs;
        other[0] = other[1] = 0;
        lastKey = CanBus::canMessageTypeName(f.type) + (f.fromNode ? " R" : " T");
    }
    a.blockRepeats = blockEnds - a.blocks;
    if (resetPending)
        a.error = "a reset without re-identification at the end of the trace";
    else if (open >= 0)
        a.error = "a transfer without access off at the end of the trace";
    else if (a.transfers.isEmpty() || a.reidentificationUs.isEmpty() || a.blocks == 0)
        a.error = "no complete transfer on the trace";
    a.tailUs = programEndUs - lastEnd;
    return a;
}

// ---- one run -------------------------------------------------------------------------------

struct Run {
    QString error;
    double wallS = 0;
    double cpuS = 0;
    double maxRssMB = 0; // 10^6 bytes
    int firmwaresUpdated = 0;
    double placementMs = 0; // how exactly the program's start and end sit on the trace's clock
    Analysis analysis;
};

QString checkRecord(const QString& path, const Rack& rack, const QString& latest, int* updated)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "no run record";
    const QJsonObject record = QJsonDocument::fromJson(file.readAll()).object();
    if (!record.value("result").toBool())
        return "the run record says the run failed";
    const QJsonArray nodes = record.value("nodes").toArray();
    if (nodes.size() != rack.mainboards + rack.amplifiers)
        return QString("the run record names %1 nodes").arg(nodes.size());
    *updated = 0;
    for (const QJsonValue& value : nodes) {
        const QJsonObject node = value.toObject();
        const int serial = node.value("serial").toInt();
        const bool old = serial < 2000 ? serial - 1001 < rack.oldMainboards
                                       : serial - 2001 < rack.oldAmplifiers;
        for (const char* which : { "at90", "fpga" }) {
            const QJsonObject fw = node.value(QLatin1String(which)).toObject();
            const QString action = fw.value("action").toString();
            if (action != (old ? "updated" : "ok") || fw.value("after").toString() != latest)
                return QString("node %1 %2: %3 to %4")
                    .arg(serial)
                    .arg(QLatin1String(which), action, fw.value("after").toString());
            *updated += old ? 1 : 0;
        }
    }
    return QString();
}

Run runOnce(const Rack& rack, quint32 seed)
{
    Run run;
    QTemporaryDir dir(QDir::tempPath() + "/zefrun-XXXXXX"); // socket paths must stay short
    const QString root = dir.path();
    if (!runScript(QStringLiteral(ZEF_SOURCE_DIR "/scripts/make-root"),
            { root, "--mainboards", QString::number(rack.mainboards), "--amplifiers",
                QString::number(rack.amplifiers) },
            root + "/make-root.log")) {
        run.error = "scripts/make-root failed";
        return run;
    }
    const QString latest = resizeImages(root, rack, seed, &run.error);
    if (latest.isEmpty())
        return run;
    QFile rackOut(root + "/bench.rack");
    if (!rackOut.open(QIODevice::WriteOnly) || rackOut.write(rackFile(rack, latest).toLatin1()) < 0) {
        run.error = "cannot write the rack file";
        return run;
    }
    rackOut.close();
    QDir(root).mkpath("run");
    QFile(root + "/run").setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    const QString trace = root + "/trace.log";
    const QString dump = root + "/dump.ini";
    QStringList simArgs { "--rack", root + "/bench.rack", "--dump", dump };
    if (rack.realtime)
        simArgs << "--realtime" << "--trace" << trace;
    const Child sim = spawn(QStringLiteral(ZEF_BIN_DIR "/zef400-sim"), simArgs,
        { { "ZEF400_ROOT", QFile::encodeName(root) } }, root + "/sim.log");
    auto stopSim = [&] {
        if (sim.pid > 0) {
            ::kill(sim.pid, SIGTERM);
            waitFor(sim, 10000);
        }
    };
    auto simRunning = [&] {
        QFile log(root + "/sim.log");
        return log.open(QIODevice::ReadOnly) && log.readAll().contains("Simulator running");
    };
    for (int i = 0; i < 500 && !(isSocket(root + "/dev/can0") && isSocket(root + "/dev/can1") && simRunning());
         ++i)
        ::usleep(20000);
    if (sim.pid < 0 || !simRunning()) {
        run.error = "the simulator did not start";
        stopSim();
        return run;
    }

    // The trace's clock is the simulator's monotonic clock since its start; a dump carries that
    // clock's reading, which places the program's start and end on the trace.
    QFile::remove(dump);
    const qint64 asked = monotonicUs();
    ::kill(sim.pid, SIGUSR1);
    while (!QFileInfo::exists(dump) && monotonicUs() - asked < 5000000)
        ::usleep(200);
    const qint64 seen = monotonicUs();
    const qint64 simTimeUs = QSettings(dump, QSettings::IniFormat).value("simulator/time_us", -1).toLongLong();
    if (simTimeUs < 0) {
        run.error = "no dump from the simulator";
        stopSim();
        return run;
    }
    const qint64 simClockOffsetUs = (asked + seen) / 2 - simTimeUs;
    run.placementMs = double(seen - asked) / 2e3;

    const QString record = root + "/record.json";
    const Child program = spawn(QStringLiteral(ZEF_BIN_DIR "/zef400-fwupdate"), {},
        { { "ZEF400_ROOT", QFile::encodeName(root) }, { "ZEF400_LOG_PORT", "0" },
            { "QT_QPA_PLATFORM", "offscreen" }, { "XDG_RUNTIME_DIR", QFile::encodeName(root + "/run") },
            { "ZEF400_RUN_REPORT", QFile::encodeName(record) } },
        root + "/program.log");
    if (program.pid < 0) {
        run.error = "cannot start zef400-fwupdate";
        stopSim();
        return run;
    }
    const Ended ended = waitFor(program, ProgramTimeoutMs);
    stopSim();
    run.wallS = double(ended.endUs - program.startUs) / 1e6;
    const rusage& u = ended.usage;
    run.cpuS = double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    run.maxRssMB = double(u.ru_maxrss) * 1024.0 / 1e6; // ru_maxrss is in KiB
    if (ended.timedOut || !WIFEXITED(ended.status) || WEXITSTATUS(ended.status) != 0) {
        run.error = ended.timedOut ? QString("zef400-fwupdate did not end within %1 s").arg(ProgramTimeoutMs / 1000)
                                   : QString("zef400-fwupdate ended with status %1").arg(ended.status);
        return run;
    }
    run.error = checkRecord(record, rack, latest, &run.firmwaresUpdated);
    if (!run.error.isEmpty() || !rack.realtime)
        return run;
    run.analysis = analyse(readTrace(trace), program.startUs - simClockOffsetUs,
        ended.endUs - simClockOffsetUs);
    run.error = run.analysis.error;
    return run;
}

double ms(qint64 us) { return double(us) / 1e3; }
double s(qint64 us) { return double(us) / 1e6; }

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Rack rack;
    std::printf("Realtime rounds: %d mainboard and %d amplifiers, every firmware %s against the "
                "latest release; images of %d KiB (AT90) and %d KiB (FPGA), %d and %d blocks\n",
        rack.mainboards, rack.amplifiers, OldVersion, rack.at90Bytes / 1024, rack.fpgaBytes / 1024,
        rack.at90Bytes / BlockBytes, rack.fpgaBytes / BlockBytes);

    QVector<double> wall, floors, ratio, ratioBare, cpuPerBlock, rss, startup, idle, tail, reident;
    QMap<QString, QVector<double>> idleBy; // ms per round
    QVector<double> late;
    for (int round = 1; round <= rounds; ++round) {
        const Run run = runOnce(rack, 400 + quint32(round));
        if (!run.error.isEmpty()) {
            std::fprintf(stderr, "bench-run: round %d: %s\n", round, qPrintable(run.error));
            return 1;
        }
        const Analysis& a = run.analysis;
        const qint64 floorUs = a.floorUs();
        const qint64 accounted = a.programUs() + floorUs;
        qint64 reidentSum = 0;
        for (qint64 span : a.reidentificationUs)
            reidentSum += span;
        const auto [reLo, reHi]
            = std::minmax_element(a.reidentificationUs.cbegin(), a.reidentificationUs.cend());
        int at90 = 0;
        for (const Transfer& t : a.transfers)
            at90 += t.fpga ? 0 : 1;
        const double r = double(a.wallUs) / double(floorUs);
        const double rBare = double(a.wallUs) / double(floorUs - a.labelReadsUs - a.versionWritesUs);
        std::printf("round %d: wall %.3f s, floor %.3f s, ratio %.4f; CPU %.2f s = %.0f us a "
                    "block (%d blocks, %d sent again), peak RSS %.1f MB\n",
            round, run.wallS, s(floorUs), r, run.cpuS, run.cpuS * 1e6 / a.blocks, a.blocks,
            a.blockRepeats, run.maxRssMB);
        std::printf("  floor: first identification %.3f s, %d AT90 transfers %.3f s, %d FPGA "
                    "transfers %.3f s, label reads %.3f s, version writes %.3f s, other frames "
                    "%.3f s, %d resets to re-identification %.3f s (%.2f-%.2f s each)\n",
            s(a.firstIdentificationUs), at90, s(a.transferFloorUs(false)),
            int(a.transfers.size()) - at90, s(a.transferFloorUs(true)), s(a.labelReadsUs),
            s(a.versionWritesUs), s(a.otherFramesUs), int(a.reidentificationUs.size()),
            s(reidentSum), s(*reLo), s(*reHi));
        std::printf("  the program's: start-up to the first identification request %.3f s, bus "
                    "idle for it %.3f s (in transfers %.3f s), last frame to exit %.3f s; "
                    "placed on the trace's clock within %.1f ms\n",
            s(a.startupUs), s(a.programIdleUs + a.transferProgramUs()), s(a.transferProgramUs()),
            s(a.tailUs), run.placementMs);
        if (std::abs(a.wallUs - accounted) > 1000)
            std::printf("  note: %.1f ms of the wall time fall into no part\n",
                ms(a.wallUs - accounted));
        if (a.transfers.size() != run.firmwaresUpdated)
            std::printf("  note: %d transfers on the trace, %d firmwares updated by the record\n",
                int(a.transfers.size()), run.firmwaresUpdated);
        wall << run.wallS;
        floors << s(floorUs);
        ratio << r;
        ratioBare << rBare;
        cpuPerBlock << run.cpuS * 1e6 / a.blocks;
        rss << run.maxRssMB;
        startup << s(a.startupUs);
        idle << s(a.programIdleUs + a.transferProgramUs());
        tail << s(a.tailUs);
        reident << s(reidentSum);
        for (auto it = a.idleBy.cbegin(); it != a.idleBy.cend(); ++it) {
            qint64 sum = 0;
            for (qint64 gap : it.value())
                sum += gap;
            idleBy[it.key()] << ms(sum);
        }
        for (qint64 l : a.rhythmLateUs)
            late << ms(l);
    }

    std::printf("medians of %d rounds (spread): wall %.3f s (%s), floor %.3f s (%s), ratio %.4f "
                "(%s)\n",
        rounds, median(wall), qPrintable(spread(wall, "%.3f")), median(floors),
        qPrintable(spread(floors, "%.3f")), median(ratio), qPrintable(spread(ratio, "%.4f")));
    std::printf("  ratio with the label reads and version writes left out of the floor %.4f (%s)\n",
        median(ratioBare), qPrintable(spread(ratioBare, "%.4f")));
    std::printf("  of the floor, resets to re-identification %.3f s (%s); the program's start-up "
                "%.3f s, bus idle for the program %.3f s, end %.3f s\n",
        median(reident), qPrintable(spread(reident, "%.3f")), median(startup), median(idle),
        median(tail));
    // The whole run's CPU time (start-up, identification, label reads included) over the blocks.
    std::printf("  CPU %.0f us a block (%s), peak RSS %.1f MB (%s)\n", median(cpuPerBlock),
        qPrintable(spread(cpuPerBlock, "%.0f")), median(rss), qPrintable(spread(rss, "%.1f")));
    for (auto it = idleBy.cbegin(); it != idleBy.cend(); ++it) {
        double sum = 0;
        for (double v : it.value())
            sum += v;
        if (sum < 10.0 * rounds)
            continue; // under 10 ms a round: not worth a line
        std::printf("    bus idle for the program after %-48s %8.1f ms a round\n",
            qPrintable(it.key()), sum / rounds);
    }
    if (!late.isEmpty()) {
        const auto [lo, hi] = std::minmax_element(late.cbegin(), late.cend());
        const auto over = std::count_if(late.cbegin(), late.cend(), [](double v) { return v > 20; });
        std::printf("  identification rhythm: %d cycles sent on a free bus, the next request %.1f ms "
                    "(median; %.1f to %.1f ms, %d over 20 ms) after the fixed window and repeat "
                    "interval\n",
            int(late.size()), median(late), *lo, *hi, int(over));
    }

    Rack full;
    full.mainboards = FullRackMainboards;
    full.amplifiers = FullRackAmplifiers;
    full.oldMainboards = FullRackOldMainboards;
    full.oldAmplifiers = FullRackOldAmplifiers;
    full.at90Bytes = FullAt90Bytes;
    full.fpgaBytes = FullFpgaBytes;
    full.realtime = false;
    std::printf("Fast mode: %d mainboards and %d amplifiers, %d mainboards and %d amplifiers out "
                "of date (%d firmwares written, each costing a reset and re-identification), "
                "full-size images of %d KiB (AT90) and %d KiB (FPGA)\n",
        full.mainboards, full.amplifiers, full.oldMainboards, full.oldAmplifiers,
        full.oldFirmwares(), full.at90Bytes / 1024, full.fpgaBytes / 1024);
    const Run fast = runOnce(full, 500);
    if (!fast.error.isEmpty()) {
        std::fprintf(stderr, "bench-run: fast mode: %s\n", qPrintable(fast.error));
        return 1;
    }
    const int fastBlocks = (full.oldMainboards + full.oldAmplifiers)
        * ((full.at90Bytes + BlockBytes - 1) / BlockBytes + (full.fpgaBytes + BlockBytes - 1) / BlockBytes);
    std::printf("fast mode: wall %.1f s, CPU %.2f s (%.0f us a block over %d blocks), peak RSS "
                "%.1f MB (aim <= 60 MB)\n",
        fast.wallS, fast.cpuS, fast.cpuS * 1e6 / fastBlocks, fastBlocks, fast.maxRssMB);

    std::printf("ratio: %.4f run wall time over its floor (transfers' protocol floors, label "
                "reads and version writes, the identification and reset waits; median of %d "
                "realtime rounds; aim <= 1.05)\n",
        median(ratio), rounds);
    return 0;
}
