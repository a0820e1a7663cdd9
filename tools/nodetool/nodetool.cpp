#include "tools/nodetool/nodetool.h"

#include "app/firmwareimage.h"
#include "canbus/device/canconfiguration.h"
#include "canbus/device/candevicescm.h"
#include "canbus/frame/canexception.h"
#include "canbus/nodes/firmwareupdate.h"
#include "canbus/proxy/mainboardproxy.h"
#include "canbus/proxy/poweramplifierproxy.h"
#include "kubus/catalogue/mainboardbus.h"
#include "kubus/catalogue/poweramplifierbus.h"
#include "kubus/request/request.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
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

QJsonObject nodeJson(const Kubus::CanDeviceInfo& node)
{
    return QJsonObject { { "nodeId", node.nodeId },
        { "partNumber", qint64(node.estimatedPartNumber()) }, { "variant", qint64(node.variant) },
        { "serial", qint64(node.serialNumber) } };
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
    std::fprintf(stderr,
        "zef400-node: %s\n"
        "usage: zef400-node [--json] mainboard|amplifier COMMAND\n"
        "  scan | label ID | update ID FILE [--firmware at90|fpga] | ping ID | reset ID | "
        "operate ID\n",
        reason.toLocal8Bit().constData());
    return Misuse;
}

int NodeTool::fail(int exit, const QString& reason)
{
    std::fprintf(stderr, "zef400-node: %s\n", reason.toLocal8Bit().constData());
    return exit;
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
    }

    if (!start(m_mainBoard))
        return Misuse;
    if (command == QLatin1String("scan"))
        return scan();
    if (command == QLatin1String("label"))
        return label(nodeId);
    if (command == QLatin1String("update"))
        return update(nodeId, args.at(3), firmware);
    return control(command, nodeId);
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
    connect(this, &NodeTool::nodesReported, &loop, [&] {
        for (const auto& node : m_lastFound.nodes)
            if (node.nodeId == nodeId)
                loop.exit(1);
        if (m_reports - first >= ReportsToWait)
            loop.exit(0);
    });
    return loop.exec() == 1;
}

int NodeTool::scan()
{
    // Done when two reports in a row list the same nodes: every answering node then had its id
    // already, none was still being addressed.
    QList<int> previous;
    bool havePrevious = false;
    int empty = 0;
    int reports = 0;
    QEventLoop loop;
    connect(this, &NodeTool::nodesReported, &loop, [&] {
        QList<int> ids;
        for (const auto& node : m_lastFound.nodes)
            ids.append(node.nodeId);
        std::sort(ids.begin(), ids.end());
        empty = ids.isEmpty() ? empty + 1 : 0;
        // A bus whose nodes keep changing still ends the scan, with the last list.
        if ((havePrevious && ids == previous && !ids.isEmpty()) || empty >= ReportsToWait - 1
            || ++reports >= 3 * ReportsToWait)
            loop.quit();
        previous = ids;
        havePrevious = true;
    });
    loop.exec();
    if (m_lastFound.nodes.isEmpty())
        return fail(NodeFailed,
            QStringLiteral("no node answered on the %1 bus")
                .arg(m_mainBoard ? "mainboard" : "amplifier"));
    QVector<Kubus::CanDeviceInfo> nodes = m_lastFound.nodes;
    std::sort(nodes.begin(), nodes.end(),
        [](const auto& a, const auto& b) { return a.nodeId < b.nodeId; });
    QJsonArray list;
    QString text;
    for (const auto& node : nodes) {
        list.append(nodeJson(node));
        text += QStringLiteral("node %1: part %2 variant %3 serial %4\n")
                    .arg(node.nodeId)
                    .arg(node.estimatedPartNumber())
                    .arg(node.variant)
                    .arg(node.serialNumber);
    }
    text.chop(1);
    return finish(QJsonObject { { "nodes", list } }, text);
}

int NodeTool::label(int nodeId)
{
    if (!waitForNode(nodeId))
        return fail(NodeFailed, QStringLiteral("node %1 not found").arg(nodeId));
    Kubus::DeviceInfoVersion label;
    int status = 0;
    if (m_mainBoard) {
        Kubus::MainBoard_GetLabel_Board request;
        request.nodeId = nodeId;
        const auto response = execute<Kubus::MainBoardBus>(request);
        label = response;
        status = response.status;
    } else {
        Kubus::PowerAmplifier_GetLabel_PowerSupply request;
        request.nodeId = nodeId;
        const auto response = execute<Kubus::PowerAmplifierBus>(request);
        label = response;
        status = response.status;
    }
    if (status != 0)
        return fail(
            NodeFailed, QStringLiteral("label of node %1: %2").arg(nodeId).arg(statusText(status)));
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

int NodeTool::update(int nodeId, const QString& file, const QString& firmware)
{
    const CanBus::FirmwareImage image(file);
    if (image.data().isEmpty())
        return fail(Misuse, QStringLiteral("cannot read a firmware image from '%1'").arg(file));
    if (!waitForNode(nodeId))
        return fail(NodeFailed, QStringLiteral("node %1 not found").arg(nodeId));

    Kubus::FirmwareUpdate request;
    request.nodeId = nodeId;
    request.type = Kubus::FirmwareUpdateInfo::FirmwareUpdateType(
        (m_mainBoard ? 0 : 2) + (firmware == QLatin1String("fpga") ? 1 : 0));
    request.version = image.version();
    request.versionPrefix = image.version();
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
        { "version", image.version() }, { "blocks", blocks }, { "rewrittenBlocks", rewritten },
        { "status", status }, { "seconds", qRound(seconds * 10) / 10.0 } };
    if (status != 0) {
        if (m_json)
            writeFd(m_jsonFd, QJsonDocument(result).toJson(QJsonDocument::Compact) + '\n');
        return fail(NodeFailed,
            QStringLiteral("update of node %1 failed: %2").arg(nodeId).arg(statusText(status)));
    }
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
        return fail(NodeFailed, QStringLiteral("node %1 not found").arg(nodeId));
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
    if (status != 0 || !alive) {
        if (m_json)
            writeFd(m_jsonFd, QJsonDocument(result).toJson(QJsonDocument::Compact) + '\n');
        return fail(NodeFailed,
            status != 0 ? QStringLiteral("%1 of node %2: %3")
                              .arg(command)
                              .arg(nodeId)
                              .arg(statusText(status))
                        : QStringLiteral("node %1 did not answer the ping").arg(nodeId));
    }
    return finish(result,
        QStringLiteral("node %1: %2 %3")
            .arg(nodeId)
            .arg(command, command == QLatin1String("ping") ? "alive" : "done"));
}
