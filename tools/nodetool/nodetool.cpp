#include "tools/nodetool/nodetool.h"

#include "app/firmwareimage.h"
#include "canbus/device/canconfiguration.h"
#include "canbus/device/candevicescm.h"
#include "canbus/frame/canexception.h"
#include "canbus/nodes/firmwareupdate.h"
#include "canbus/nodes/identifymodule.h"
#include "canbus/proxy/mainboardproxy.h"
#include "canbus/proxy/poweramplifierproxy.h"
#include "kubus/catalogue/mainboardbus.h"
#include "kubus/catalogue/poweramplifierbus.h"
#include "kubus/request/request.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <unistd.h>

namespace {

// Identification as the tool runs it: a short reply window and quick cycles, so that a
// technician does not wait for the program's leisurely rhythm.
constexpr int ReplyWindowMs = 500;
constexpr int RepeatMs = 1000;
// How many reports a node may be missing from before the tool gives up on it.
constexpr int ReportsToWait = 4;
constexpr int DefaultFirmwareTimeoutMs = 150000;

void writeFd(int fd, const QByteArray& bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return;
        done += n;
    }
}

QString statusText(int status)
{
    switch (status) {
    case 0:
        return QStringLiteral("done");
    case 1:
        return QStringLiteral("time-out");
    case 2:
        return QStringLiteral("CAN communication error");
    default:
        return QStringLiteral("request refused (%1)").arg(status);
    }
}

template <class BUS, class T> typename T::Response execute(const T& request)
{
    return Kubus::Request<BUS, T>(nullptr, request).execute();
}

QJsonObject nodeJson(const Kubus::CanDeviceInfo& node, bool hasId = true)
{
    return QJsonObject { { "nodeId", hasId ? QJsonValue(node.nodeId) : QJsonValue() },
        { "partNumber", qint64(node.estimatedPartNumber()) }, { "variant", qint64(node.variant) },
        { "serial", qint64(node.serialNumber) } };
}

QString busName(bool mainBoard)
{
    return mainBoard ? QStringLiteral("mainboard") : QStringLiteral("amplifier");
}

// Which kind of board an image file is for; -1 when its name does not tell. The header carries
// no kind, so the release's own names decide: the module part number or the release folder
// (BO/91204500_AT90.bin, PA/91204700_FPGA.bin) as a part of the file name, else the folder the
// file lies in.
int imageKind(const QFileInfo& file)
{
    using Image = CanBus::FirmwareImage;
    auto names = [](Image::DeviceType kind) {
        const QFileInfo release(Image::fileName(QStringLiteral("/"), kind, Image::AT90));
        return QStringList { release.dir().dirName(), release.fileName().section('_', 0, 0) };
    };
    auto kindOf = [&](const QStringList& parts) {
        bool board = false;
        bool amplifier = false;
        for (const QString& name : names(Image::MainBoard))
            board = board || parts.contains(name);
        for (const QString& name : names(Image::PowerAmplifier))
            amplifier = amplifier || parts.contains(name);
        return board == amplifier ? -1 : int(board ? Image::MainBoard : Image::PowerAmplifier);
    };
    static const QRegularExpression separators(QStringLiteral("[_.\\-\\s]"));
    const int byName = kindOf(file.fileName().toUpper().split(separators));
    return byName >= 0 ? byName : kindOf({ file.absoluteDir().dirName().toUpper() });
}

} // namespace

NodeTool::NodeTool(int jsonFd)
    : m_jsonFd(jsonFd)
{
}

NodeTool::~NodeTool()
{
    m_proxy.reset();
    m_device.reset();
}

int NodeTool::usage(const QString& reason)
{
    fail(Misuse, reason);
    std::fprintf(stderr,
        "usage: zef400-node [--json] mainboard|amplifier COMMAND\n"
        "  scan | label ID | update ID FILE [--firmware at90|fpga] | ping ID | reset ID | "
        "operate ID\n");
    return Misuse;
}

int NodeTool::fail(int exit, const QString& reason, QJsonObject result)
{
    std::fprintf(stderr, "zef400-node: %s\n", reason.toLocal8Bit().constData());
    if (m_json) {
        result.insert("error", reason);
        writeFd(m_jsonFd, QJsonDocument(result).toJson(QJsonDocument::Compact) + '\n');
    }
    return exit;
}

int NodeTool::requestFailed(const QString& what, int status, QJsonObject result, int errorCode)
{
    const QString problem = busProblem();
    if (!problem.isEmpty())
        return fail(NodeFailed, problem, result);
    QString reason = QStringLiteral("%1: %2").arg(what, statusText(status));
    if (errorCode != 0) {
        reason += QStringLiteral(", the node answered A_ERROR_ACK with code %1 (0x%2)")
                      .arg(errorCode)
                      .arg(errorCode, 2, 16, QLatin1Char('0'));
        result.insert("errorCode", errorCode);
    }
    return fail(NodeFailed, reason, result);
}

int NodeTool::nodeNotFound(int nodeId)
{
    const QString problem = busProblem();
    return fail(NodeFailed,
        problem.isEmpty() ? QStringLiteral("node %1 not found").arg(nodeId) : problem,
        QJsonObject { { "nodeId", nodeId } });
}

QString NodeTool::busProblem() const
{
    if (m_otherMaster)
        return QStringLiteral("another controller is on the %1 bus (it sends identify requests); "
                              "stopped without touching the nodes further")
            .arg(busName(m_mainBoard));
    if (m_proxy && m_proxy->isDeviceLost())
        return QStringLiteral("CAN device lost: the %1 bus can no longer be read")
            .arg(busName(m_mainBoard));
    return QString();
}

int NodeTool::finish(const QJsonObject& result, const QString& text)
{
    if (m_json)
        writeFd(m_jsonFd, QJsonDocument(result).toJson(QJsonDocument::Compact) + '\n');
    else
        writeFd(m_jsonFd, text.toLocal8Bit() + '\n');
    return Done;
}

int NodeTool::run(const QStringList& arguments)
{
    QStringList args = arguments;
    m_json = args.removeAll(QStringLiteral("--json")) > 0;
    QString firmware;
    const int firmwareAt = int(args.indexOf(QStringLiteral("--firmware")));
    if (firmwareAt >= 0) {
        if (firmwareAt + 1 >= args.size())
            return usage(QStringLiteral("--firmware needs at90 or fpga"));
        firmware = args.at(firmwareAt + 1).toLower();
        if (firmware != QLatin1String("at90") && firmware != QLatin1String("fpga"))
            return usage(QStringLiteral("--firmware needs at90 or fpga"));
        args.remove(firmwareAt, 2);
    }
    if (args.size() < 2)
        return usage(QStringLiteral("missing bus or command"));
    if (args.at(0) != QLatin1String("mainboard") && args.at(0) != QLatin1String("amplifier"))
        return usage(QStringLiteral("unknown bus '%1'").arg(args.at(0)));
    m_mainBoard = args.at(0) == QLatin1String("mainboard");
    const QString command = args.at(1);
    const int expected = command == QLatin1String("scan") ? 2
        : command == QLatin1String("update")              ? 4
                                                          : 3;
    static const QStringList commands { "scan", "label", "update", "ping", "reset", "operate" };
    if (!commands.contains(command))
        return usage(QStringLiteral("unknown command '%1'").arg(command));
    if (args.size() != expected || (command != QLatin1String("update") && firmwareAt >= 0))
        return usage(QStringLiteral("wrong arguments for '%1'").arg(command));
    int nodeId = -1;
    if (expected > 2) {
        bool ok = false;
        nodeId = args.at(2).toInt(&ok);
        if (!ok || nodeId < 0 || nodeId > 254)
            return usage(QStringLiteral("bad node id '%1'").arg(args.at(2)));
    }

    // The image is checked before the bus is touched.
    if (command == QLatin1String("update")) {
        const QString file = args.at(3);
        if (firmware.isEmpty()) {
            const QString name = QFileInfo(file).fileName().toUpper();
            if (name.contains(QLatin1String("_AT90")))
                firmware = QStringLiteral("at90");
            else if (name.contains(QLatin1String("_FPGA")))
                firmware = QStringLiteral("fpga");
            else
                return usage(QStringLiteral("cannot tell AT90 from FPGA by the name '%1'; give "
                                            "--firmware")
                                 .arg(file));
        }
        if (const int loaded = loadImage(file); loaded != Done)
            return loaded;
    }

    if (!start(m_mainBoard))
        return Misuse;
    if (command == QLatin1String("scan"))
        return scan();
    if (command == QLatin1String("label"))
        return label(nodeId);
    if (command == QLatin1String("update"))
        return update(nodeId, firmware);
    return control(command, nodeId);
}

// Read and judged before the device is opened: a wrong file costs no bus time, and a FIFO or a
// device given by mistake is never opened (reading it could wait for ever).
int NodeTool::loadImage(const QString& file)
{
    const QFileInfo info(file);
    if (!info.exists())
        return fail(Misuse, QStringLiteral("cannot read '%1': no such file").arg(file));
    if (!info.isFile())
        return fail(Misuse, QStringLiteral("'%1' is not a regular file").arg(file));
    QFile probe(file);
    if (!probe.open(QIODevice::ReadOnly))
        return fail(Misuse, QStringLiteral("cannot read '%1': %2").arg(file, probe.errorString()));
    probe.close();
    m_image = std::make_unique<CanBus::FirmwareImage>(file);
    if (m_image->data().isEmpty())
        return fail(
            NodeFailed, QStringLiteral("'%1' holds no firmware after its header").arg(file));
    const int kind = imageKind(info);
    const int busKind
        = m_mainBoard ? CanBus::FirmwareImage::MainBoard : CanBus::FirmwareImage::PowerAmplifier;
    if (kind < 0)
        std::fprintf(stderr,
            "zef400-node: the name of '%s' does not tell the board kind; written as an image "
            "for the %s bus\n",
            file.toLocal8Bit().constData(), busName(m_mainBoard).toLatin1().constData());
    else if (kind != busKind)
        return fail(NodeFailed,
            QStringLiteral("'%1' is an image for the %2 bus by its name, not for the %3 bus")
                .arg(file, busName(!m_mainBoard), busName(m_mainBoard)));
    return Done;
}

bool NodeTool::start(bool mainBoard)
{
    const auto number = mainBoard ? CanBus::CanConfiguration::MainBoardBus
                                  : CanBus::CanConfiguration::PowerAmplifierBus;
    // The reader/writer pair only logs a device that does not open; a first open of our own
    // tells the technician at once (and sends nothing on the bus).
    try {
        CanBus::CanDeviceScm probe { CanBus::CanConfiguration(number) };
        probe.open(CanBus::CanDevice::Blocking);
        probe.close();
    } catch (const CanBus::CanException& e) {
        fail(Misuse,
            QStringLiteral("cannot open /dev/can%1: %2 (%3)")
                .arg(int(number))
                .arg(e.toString())
                .arg(e.value()));
        return false;
    }
    m_device = std::make_unique<CanBus::CanDeviceScm>(CanBus::CanConfiguration(number));
    if (mainBoard)
        m_proxy = std::make_unique<CanBus::MainBoardProxy>(m_device.get());
    else
        m_proxy = std::make_unique<CanBus::PowerAmplifierProxy>(m_device.get());
    bool ok = false;
    const int timeout = qEnvironmentVariableIntValue("ZEF400_NODE_FIRMWARE_TIMEOUT_MS", &ok);
    m_proxy->setFirmwareTimeout(ok && timeout > 0 ? timeout : DefaultFirmwareTimeoutMs);
    // Another controller on the bus ends the tool with a report, not the program's maintenance
    // stop. The flag is set where the frame is seen, and a request that blocks this thread is
    // ended, so that the tool can say so at once.
    m_proxy->setStopOnOtherBusMaster(false);
    CanBus::Proxy* proxy = m_proxy.get();
    connect(
        proxy, &CanBus::Proxy::otherBusMaster, this,
        [this, proxy] {
            if (!m_otherMaster.exchange(true))
                proxy->failRunningCommands();
        },
        Qt::DirectConnection);
    connect(
        proxy, &CanBus::Proxy::otherBusMaster, this, &NodeTool::busFailed, Qt::QueuedConnection);
    connect(proxy, &CanBus::Proxy::deviceLost, this, &NodeTool::busFailed, Qt::QueuedConnection);
    connect(&proxy->identifyModule(), &CanBus::IdentifyModule::nodesWithoutId, this,
        [this](const Kubus::IdentifyFoundNodes& nodes) { m_withoutId = nodes.nodes; });

    Kubus::IdentifyInfo info;
    info.waitForReplyInterval = ReplyWindowMs;
    info.repeatInterval = RepeatMs;
    info.sendFoundNodes = true;
    info.minimumFindNodes = 1;
    if (mainBoard) {
        auto* bus = Kubus::MainBoardBus::instance();
        connect(bus, SIGNAL(message(Kubus::IdentifyFoundNodes)), this,
            SLOT(foundNodes(Kubus::IdentifyFoundNodes)));
        bus->send(info);
    } else {
        auto* bus = Kubus::PowerAmplifierBus::instance();
        connect(bus, SIGNAL(message(Kubus::IdentifyFoundNodes)), this,
            SLOT(foundNodes(Kubus::IdentifyFoundNodes)));
        bus->send(info);
    }
    QMetaObject::invokeMethod(m_proxy.get(), "startApiService", Qt::DirectConnection);
    return true;
}

void NodeTool::foundNodes(const Kubus::IdentifyFoundNodes& nodes)
{
    m_lastFound = nodes;
    ++m_reports;
    emit nodesReported();
}

bool NodeTool::waitForNode(int nodeId)
{
    const int first = m_reports;
    QEventLoop loop;
    connect(this, &NodeTool::busFailed, &loop, [&] { loop.exit(0); });
    connect(this, &NodeTool::nodesReported, &loop, [&] {
        for (const auto& node : m_lastFound.nodes) {
            if (node.nodeId == nodeId) {
                loop.exit(1);
                return;
            }
        }
        if (m_reports - first >= ReportsToWait)
            loop.exit(0);
    });
    return busProblem().isEmpty() && loop.exec() == 1;
}

int NodeTool::readLabel(int nodeId, Kubus::DeviceInfoVersion* label)
{
    if (m_mainBoard) {
        Kubus::MainBoard_GetLabel_Board request;
        request.nodeId = nodeId;
        const auto response = execute<Kubus::MainBoardBus>(request);
        *label = response;
        return response.status;
    }
    Kubus::PowerAmplifier_GetLabel_PowerSupply request;
    request.nodeId = nodeId;
    const auto response = execute<Kubus::PowerAmplifierBus>(request);
    *label = response;
    return response.status;
}

int NodeTool::scan()
{
    // Done when two reports in a row list the same nodes: every answering node then had its id
    // already, none was still being addressed. Nodes that found every id taken count as well.
    QVector<Kubus::CanDeviceInfo> withoutId;
    QStringList previous;
    bool havePrevious = false;
    int empty = 0;
    int reports = 0;
    QEventLoop loop;
    connect(this, &NodeTool::busFailed, &loop, &QEventLoop::quit);
    connect(this, &NodeTool::nodesReported, &loop, [&] {
        withoutId = m_withoutId;
        m_withoutId.clear();
        QStringList nodes;
        for (const auto& node : m_lastFound.nodes)
            nodes.append(QString::number(node.nodeId));
        for (const auto& node : withoutId)
            nodes.append(QStringLiteral("serial %1").arg(node.serialNumber));
        nodes.sort();
        empty = nodes.isEmpty() ? empty + 1 : 0;
        // A bus whose nodes keep changing still ends the scan, with the last list.
        if ((havePrevious && nodes == previous && !nodes.isEmpty()) || empty >= ReportsToWait - 1
            || ++reports >= 3 * ReportsToWait)
            loop.quit();
        previous = nodes;
        havePrevious = true;
    });
    if (busProblem().isEmpty())
        loop.exec();
    if (const QString problem = busProblem(); !problem.isEmpty())
        return fail(NodeFailed, problem);
    if (m_lastFound.nodes.isEmpty() && withoutId.isEmpty())
        return fail(NodeFailed,
            QStringLiteral("no node answered on the %1 bus").arg(busName(m_mainBoard)),
            QJsonObject { { "nodes", QJsonArray() } });
    QVector<Kubus::CanDeviceInfo> nodes = m_lastFound.nodes;
    std::sort(nodes.begin(), nodes.end(),
        [](const auto& a, const auto& b) { return a.nodeId < b.nodeId; });
    std::sort(withoutId.begin(), withoutId.end(),
        [](const auto& a, const auto& b) { return a.serialNumber < b.serialNumber; });
    QJsonArray list;
    QString text;
    for (const auto& node : std::as_const(nodes) + withoutId) {
        const bool hasId
            = node.nodeId >= 0 && node.nodeId < int(CanBus::CanIdentifier::BroadcastNodeId);
        list.append(nodeJson(node, hasId));
        text += QStringLiteral("node %1: part %2 variant %3 serial %4\n")
                    .arg(hasId ? QString::number(node.nodeId) : QStringLiteral("-"))
                    .arg(node.estimatedPartNumber())
                    .arg(node.variant)
                    .arg(node.serialNumber);
    }
    text.chop(1);
    if (withoutId.isEmpty())
        return finish(QJsonObject { { "nodes", list } }, text);
    // The boards are listed all the same: the technician sees which ones answered.
    if (!m_json)
        writeFd(m_jsonFd, text.toLocal8Bit() + '\n');
    return fail(NodeFailed,
        QStringLiteral("%1 of the boards answered but got no node id: every id of the %2 bus is "
                       "taken (node cache under /var/etc)")
            .arg(withoutId.size())
            .arg(busName(m_mainBoard)),
        QJsonObject { { "nodes", list } });
}

int NodeTool::label(int nodeId)
{
    if (!waitForNode(nodeId))
        return nodeNotFound(nodeId);
    Kubus::DeviceInfoVersion label;
    const int status = readLabel(nodeId, &label);
    if (status != 0)
        return requestFailed(QStringLiteral("label of node %1").arg(nodeId), status,
            QJsonObject { { "nodeId", nodeId }, { "status", status } });
    const QJsonObject result { { "nodeId", nodeId }, { "partNumber", qint64(label.partNumber) },
        { "variant", qint64(label.variant) }, { "serial", qint64(label.serialNumber) },
        { "at90Version", label.deviceSwVersion }, { "fpgaVersion", label.deviceFwVersion },
        { "bundleVersion", label.swBundleVersion },
        { "bundlePartNumber", label.swBundlePartNumber }, { "name", label.deviceName },
        { "productIndex", label.productIndex },
        { "productionDate", label.productionDate.toString(Qt::ISODate) } };
    const QString text
        = QStringLiteral("node %1: part %2 variant %3 serial %4\n"
                         "  name %5, production date %6\n"
                         "  AT90 %7, FPGA %8, bundle %9")
              .arg(nodeId)
              .arg(label.partNumber)
              .arg(label.variant)
              .arg(label.serialNumber)
              .arg(label.deviceName, label.productionDate.toString(Qt::ISODate),
                  label.deviceSwVersion, label.deviceFwVersion, label.swBundleVersion);
    return finish(result, text);
}

int NodeTool::update(int nodeId, const QString& firmware)
{
    const CanBus::FirmwareImage& image = *m_image;
    if (!waitForNode(nodeId))
        return nodeNotFound(nodeId);
    // The program writes the node's own bundle version in front of an AT90 version; so does the
    // tool, from the label read first.
    Kubus::DeviceInfoVersion label;
    const int labelStatus = readLabel(nodeId, &label);
    if (labelStatus != 0)
        return requestFailed(
            QStringLiteral("label of node %1, needed before the update").arg(nodeId), labelStatus,
            QJsonObject { { "nodeId", nodeId }, { "status", labelStatus } });

    Kubus::FirmwareUpdate request;
    request.nodeId = nodeId;
    request.type = Kubus::FirmwareUpdateInfo::FirmwareUpdateType(
        (m_mainBoard ? 0 : 2) + (firmware == QLatin1String("fpga") ? 1 : 0));
    request.version = image.version();
    request.versionPrefix = label.swBundleVersion;
    request.data = image.data();
    const int blocks = int((image.data().size() + 255) / 256);

    // Progress arrives in the bus's thread while this one waits for the response.
    const bool bar = !m_json && isatty(STDERR_FILENO);
    auto progress = [bar](const Kubus::FirmwareUpdateProgress& p) {
        if (!bar || p.count <= 0)
            return;
        const int width = 40;
        const int done = qBound(0, p.current * width / p.count, width);
        std::fprintf(stderr, "\r%s [%s%s] %3d%%", p.phase == 0 ? "erase" : "write",
            QByteArray(done, '#').constData(), QByteArray(width - done, '.').constData(),
            p.current * 100 / p.count);
        std::fflush(stderr);
    };
    QMetaObject::Connection connection;
    if (m_mainBoard)
        connection = connect(Kubus::MainBoardBus::instance(),
            qOverload<const Kubus::FirmwareUpdateProgress&>(&Kubus::MainBoardBus::message), this,
            progress, Qt::DirectConnection);
    else
        connection = connect(Kubus::PowerAmplifierBus::instance(),
            qOverload<const Kubus::FirmwareUpdateProgress&>(&Kubus::PowerAmplifierBus::message),
            this, progress, Qt::DirectConnection);

    QElapsedTimer clock;
    clock.start();
    const int status = m_mainBoard ? execute<Kubus::MainBoardBus>(request).status
                                   : execute<Kubus::PowerAmplifierBus>(request).status;
    const double seconds = double(clock.elapsed()) / 1000.0;
    disconnect(connection);
    if (bar)
        std::fprintf(stderr, "\n");
    const CanBus::FirmwareUpdate* command = m_proxy->firmwareUpdateCommand(nodeId);
    const int rewritten = command ? command->rewrittenBlocks() : 0;
    const QJsonObject result { { "nodeId", nodeId }, { "firmware", firmware },
        { "version", image.version() }, { "bundleVersion", label.swBundleVersion },
        { "blocks", blocks }, { "rewrittenBlocks", rewritten }, { "status", status },
        { "seconds", qRound(seconds * 10) / 10.0 } };
    if (status != 0)
        return requestFailed(QStringLiteral("update of node %1 failed").arg(nodeId), status, result,
            command ? command->lastErrorCode() : 0);
    return finish(result,
        QStringLiteral("node %1: %2 %3 written, %4 blocks (%5 written again) in %6 s; node is back")
            .arg(nodeId)
            .arg(firmware.toUpper(), image.version())
            .arg(blocks)
            .arg(rewritten)
            .arg(seconds, 0, 'f', 1));
}

int NodeTool::control(const QString& command, int nodeId)
{
    if (!waitForNode(nodeId))
        return nodeNotFound(nodeId);
    int status = 0;
    bool alive = true;
    if (command == QLatin1String("ping")) {
        Kubus::Ping request;
        request.nodeId = nodeId;
        const auto response = m_mainBoard ? execute<Kubus::MainBoardBus>(request)
                                          : execute<Kubus::PowerAmplifierBus>(request);
        status = response.status;
        alive = response.alive;
    } else if (command == QLatin1String("reset")) {
        Kubus::Reset request;
        request.nodeId = nodeId;
        status = (m_mainBoard ? execute<Kubus::MainBoardBus>(request)
                              : execute<Kubus::PowerAmplifierBus>(request))
                     .status;
    } else {
        Kubus::Operate request;
        request.nodeId = nodeId;
        status = (m_mainBoard ? execute<Kubus::MainBoardBus>(request)
                              : execute<Kubus::PowerAmplifierBus>(request))
                     .status;
    }
    QJsonObject result { { "nodeId", nodeId }, { "status", status } };
    if (command == QLatin1String("ping"))
        result.insert("alive", alive);
    if (status != 0)
        return requestFailed(
            QStringLiteral("%1 of node %2").arg(command).arg(nodeId), status, result);
    if (!alive)
        return fail(
            NodeFailed, QStringLiteral("node %1 did not answer the ping").arg(nodeId), result);
    return finish(result,
        QStringLiteral("node %1: %2 %3")
            .arg(nodeId)
            .arg(command, command == QLatin1String("ping") ? "alive" : "done"));
}
