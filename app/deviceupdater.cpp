#include "app/deviceupdater.h"

#include "app/deviceresetline.h"
#include "kubus/catalogue/mainboardbus.h"
#include "kubus/catalogue/poweramplifierbus.h"
#include "kubus/log/kulog.h"
#include "kubus/request/request.h"

#include <QElapsedTimer>

using CanBus::FirmwareImage;

namespace {

QString firmwareName(FirmwareImage::FirmwareType type)
{
    return type == FirmwareImage::AT90 ? QStringLiteral("AT90") : QStringLiteral("FPGA");
}

// The label request REQUEST on bus BUS: the response's label part goes into version. A refused
// request has an empty response, so version stays empty then.
template <class BUS, class REQUEST>
bool readLabel(QObject* sender, int nodeId, Kubus::DeviceInfoVersion* version)
{
    REQUEST request;
    request.nodeId = nodeId;
    const auto response = Kubus::Request<BUS, REQUEST>(sender, request).execute();
    *version = response;
    return response.status == 0;
}

} // namespace

DeviceUpdater::DeviceUpdater(FirmwareImage::DeviceType deviceType)
    : deviceType(deviceType)
    , at90Image(deviceType, FirmwareImage::AT90)
    , fpgaImage(deviceType, FirmwareImage::FPGA)
{
    qRegisterMetaType<Kubus::CanDeviceInfo>(Kubus::CanDeviceInfo::staticTypeName());
    qRegisterMetaType<Kubus::DeviceInfoVersion>(Kubus::DeviceInfoVersion::staticTypeName());
    qRegisterMetaType<FirmwareOutcome>(FirmwareOutcome::staticTypeName());
    FirmwareImage::registerMetaTypes();
    connect(this, &DeviceUpdater::signalReadLabel, this, &DeviceUpdater::slotReadLabel);
    connect(this, &DeviceUpdater::signalUpdateNode, this, &DeviceUpdater::slotUpdateNode);
}

void DeviceUpdater::keepUpToDate(const Kubus::CanDeviceInfo& node)
{
    emit signalReadLabel(node);
}

void DeviceUpdater::setForceUpdateDevice(bool on)
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    forceAT90 = on;
    forceFPGA = on;
}

void DeviceUpdater::setForceUpdateDevice(const QSet<int>& nodeIds)
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    forcedAT90Nodes = nodeIds;
    forcedFPGANodes = nodeIds;
}

void DeviceUpdater::setForceUpdateAT90(bool on)
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    forceAT90 = on;
}

void DeviceUpdater::setForceUpdateAT90(const QSet<int>& nodeIds)
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    forcedAT90Nodes = nodeIds;
}

void DeviceUpdater::setForceUpdateFPGA(bool on)
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    forceFPGA = on;
}

void DeviceUpdater::setForceUpdateFPGA(const QSet<int>& nodeIds)
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    forcedFPGANodes = nodeIds;
}

bool DeviceUpdater::isForced(int nodeId, FirmwareImage::FirmwareType firmwareType) const
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    if (firmwareType == FirmwareImage::AT90)
        return forcedAT90Nodes.contains(nodeId) || forceAT90;
    if (firmwareType == FirmwareImage::FPGA)
        return forcedFPGANodes.contains(nodeId) || forceFPGA;
    return false;
}

void DeviceUpdater::setReadOnly(bool on)
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    readOnly = on;
}

bool DeviceUpdater::isReadOnly() const
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    return readOnly;
}

void DeviceUpdater::setFirmwareImageDir(const QString& directory)
{
    // Loaded outside the lock: reading two files must not hold up the updater thread.
    FirmwareImage at90 = image(FirmwareImage::AT90);
    FirmwareImage fpga = image(FirmwareImage::FPGA);
    at90.setImageDirectory(directory);
    fpga.setImageDirectory(directory);
    std::lock_guard<std::mutex> lock(settingsMutex);
    at90Image = at90;
    fpgaImage = fpga;
}

QString DeviceUpdater::imageVersion(FirmwareImage::FirmwareType firmwareType) const
{
    return image(firmwareType).version();
}

FirmwareImage DeviceUpdater::image(FirmwareImage::FirmwareType firmwareType) const
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    return firmwareType == FirmwareImage::AT90 ? at90Image : fpgaImage;
}

QString DeviceUpdater::deviceName() const
{
    return deviceType == FirmwareImage::MainBoard ? QStringLiteral("Mainboard")
                                                  : QStringLiteral("Power amplifier");
}

void DeviceUpdater::resetOnLine()
{
    DeviceResetLine().resetLine(deviceType == FirmwareImage::PowerAmplifier ? 6u : 0u);
}

template <class BUS> void DeviceUpdater::sendReset(int nodeId)
{
    Kubus::Reset reset;
    reset.nodeId = nodeId;
    BUS::instance()->send(reset);
}

void DeviceUpdater::asyncResetDevice(const Kubus::CanDeviceInfo& node)
{
    if (deviceType == FirmwareImage::MainBoard)
        sendReset<Kubus::MainBoardBus>(node.nodeId);
    else
        sendReset<Kubus::PowerAmplifierBus>(node.nodeId);
}

bool DeviceUpdater::checkVersionString(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 3)
        return false;
    for (const QString& part : parts) {
        bool ok = false;
        part.toInt(&ok);
        if (!ok)
            QString(part).remove(QLatin1Char('-')).toInt(&ok);
        if (!ok)
            return false;
    }
    return true;
}

QString DeviceUpdater::typeText(quint32 partNumber, quint32 variant)
{
    QString text = QStringLiteral("%1.%2")
                       .arg(partNumber, 8, 10, QLatin1Char('0'))
                       .arg(variant & 0xFFu, 2, 10, QLatin1Char('0'));
    if (text.size() > 3)
        text.insert(4, QLatin1Char('.'));
    return text;
}

void DeviceUpdater::firmwareStatusMessage(
    const QString& device, const QString& firmware, int nodeId, const QString& text)
{
    emit signalShowMessage(
        QStringLiteral("%1 %3 %2: %4\n").arg(device, firmware).arg(nodeId + 1).arg(text));
}

void DeviceUpdater::slotReadLabel(const Kubus::CanDeviceInfo& node)
{
    Kubus::DeviceInfoVersion version;
    const bool read = deviceType == FirmwareImage::MainBoard
        ? readMainBoardLabel(node, &version)
        : readPowerAmplifierLabel(node, &version);
    const bool good = checkVersionString(version.deviceSwVersion)
        && checkVersionString(version.deviceFwVersion) && read;

    if (!good) {
        if (labelRetries > 4) {
            labelRetries = 0;
            emit signalShowMessage(QStringLiteral("ERROR; Could not read label for %1 id %2\n")
                                       .arg(deviceName())
                                       .arg(node.nodeId + 1));
            // The run record still lists the node, with both firmwares unknown.
            FirmwareOutcome outcome;
            outcome.deviceType = deviceType;
            outcome.nodeId = node.nodeId;
            outcome.partNumber = node.estimatedPartNumber();
            outcome.variant = node.variant;
            outcome.serialNumber = node.serialNumber;
            outcome.action = QStringLiteral("failed");
            for (int type : { int(FirmwareImage::AT90), int(FirmwareImage::FPGA) }) {
                outcome.firmwareType = type;
                emit firmwareProcessed(outcome);
            }
            emit labelGivenUp(node);
            emit signalNotUpToDate(node);
            return;
        }
        ++labelRetries;
        emit signalShowMessage(QStringLiteral("Reading label for %1 id %2 again\n")
                                   .arg(deviceName())
                                   .arg(node.nodeId + 1));
        emit signalReadLabel(node);
        return;
    }

    emit signalShowMessage(QStringLiteral("-------------------------\n"));
    emit signalShowMessage(QStringLiteral("New %1 with id %2:\n  - Type %3 (serial: %4)\n")
                               .arg(deviceName())
                               .arg(node.nodeId + 1)
                               .arg(typeText(version.partNumber, version.variant))
                               .arg(version.serialNumber));
    emit typePrinted(deviceType, node.nodeId);
    labelRetries = 0;
    emit signalShowMessage(QStringLiteral("  - Firmware AT90: %1 %2\n  - Firmware FPGA: %3 %4\n")
                               .arg(version.deviceSwVersion,
                                   node.at90FirmwareValid ? QString() : QStringLiteral("invalid"),
                                   version.deviceFwVersion,
                                   node.fpgaFirmwareValid ? QString() : QStringLiteral("invalid")));
    emit signalUpdateNode(node, version);
}

void DeviceUpdater::slotUpdateNode(
    const Kubus::CanDeviceInfo& node, const Kubus::DeviceInfoVersion& version)
{
    if (deviceType == FirmwareImage::MainBoard)
        updateMainBoard(node, version);
    else
        updatePowerAmplifier(node, version);
}

void DeviceUpdater::report(const Kubus::CanDeviceInfo& node, bool upToDate)
{
    emit firmwareProcessed(current);
    if (upToDate)
        emit signalUpToDate(node);
    else
        emit signalNotUpToDate(node);
}

template <class BUS>
bool DeviceUpdater::updateNode(
    const Kubus::CanDeviceInfo& node, const Kubus::DeviceInfoVersion& version)
{
    const bool a = updateDevice<BUS>(node, version, FirmwareImage::AT90);
    report(node, a);
    const bool f = updateDevice<BUS>(node, version, FirmwareImage::FPGA);
    report(node, f);
    return a && f;
}

bool DeviceUpdater::updateMainBoard(
    const Kubus::CanDeviceInfo& node, const Kubus::DeviceInfoVersion& version)
{
    return updateNode<Kubus::MainBoardBus>(node, version);
}

bool DeviceUpdater::updatePowerAmplifier(
    const Kubus::CanDeviceInfo& node, const Kubus::DeviceInfoVersion& version)
{
    return updateNode<Kubus::PowerAmplifierBus>(node, version);
}

template <class BUS>
bool DeviceUpdater::updateDevice(const Kubus::CanDeviceInfo& node,
    const Kubus::DeviceInfoVersion& label, FirmwareImage::FirmwareType firmwareType)
{
    const int nodeId = node.nodeId;
    const bool at90 = firmwareType == FirmwareImage::AT90;
    const QString actual = at90 ? label.deviceSwVersion : label.deviceFwVersion;
    const bool valid = at90 ? node.at90FirmwareValid : node.fpgaFirmwareValid;
    const FirmwareImage wanted = image(firmwareType);
    const QString device = deviceName();
    const QString firmware = firmwareName(firmwareType);

    current = FirmwareOutcome();
    current.deviceType = deviceType;
    current.nodeId = nodeId;
    current.partNumber = label.partNumber;
    current.variant = label.variant;
    current.serialNumber = label.serialNumber;
    current.firmwareType = firmwareType;
    current.before = actual;
    current.after = actual;

    QString reason;
    if (isForced(nodeId, firmwareType)) {
        firmwareStatusMessage(device, firmware, nodeId, QStringLiteral("Forcing update"));
        reason = QStringLiteral("forced");
    } else if (!valid) {
        firmwareStatusMessage(device, firmware, nodeId, QStringLiteral("Firmware is invalid"));
        reason = QStringLiteral("invalid");
    } else if (actual == wanted.version()) {
        firmwareStatusMessage(device, firmware, nodeId, QStringLiteral("OK"));
        current.action = QStringLiteral("ok");
        return true;
    } else {
        firmwareStatusMessage(device, firmware, nodeId, QStringLiteral("actual %1").arg(actual));
        firmwareStatusMessage(
            device, firmware, nodeId, QStringLiteral("but %2 needed").arg(wanted.version()));
        reason = QStringLiteral("updated");
    }

    if (isReadOnly()) {
        current.action = QStringLiteral("readonly");
        return true;
    }

    firmwareStatusMessage(
        device, firmware, nodeId, QStringLiteral("Updating to %1").arg(wanted.version()));
    const int base = deviceType == FirmwareImage::MainBoard ? 0 : 2;
    const auto type = Kubus::FirmwareUpdateInfo::FirmwareUpdateType(base + int(firmwareType));
    QElapsedTimer clock;
    clock.start();
    const bool r = updateFirmware<BUS>(nodeId, type, label.swBundleVersion, wanted);
    current.seconds = double(clock.elapsed()) / 1000.0;
    if (r) {
        firmwareStatusMessage(device, firmware, nodeId, QStringLiteral("Updating OK"));
        current.action = reason;
        current.after = wanted.version();
        return true;
    }
    firmwareStatusMessage(device, firmware, nodeId, QStringLiteral("Error"));
    current.action = QStringLiteral("failed");
    return false;
}

template <class BUS>
bool DeviceUpdater::updateFirmware(int nodeId, Kubus::FirmwareUpdateInfo::FirmwareUpdateType type,
    const QString& bundleVersion, const FirmwareImage& image)
{
    Kubus::FirmwareUpdate record;
    record.nodeId = nodeId;
    record.type = type;
    record.versionPrefix = bundleVersion;
    record.data = image.data();
    record.version = image.version();
    return updateFirmware(record);
}

bool DeviceUpdater::updateFirmware(const Kubus::FirmwareUpdate& record)
{
    emit signalStartingFirmwareUpdateOnNode(record.nodeId);
    const Kubus::FirmwareUpdate::Response response = deviceType == FirmwareImage::MainBoard
        ? Kubus::Request<Kubus::MainBoardBus, Kubus::FirmwareUpdate>(sender(), record).execute()
        : Kubus::Request<Kubus::PowerAmplifierBus, Kubus::FirmwareUpdate>(sender(), record)
              .execute();
    return response.status == 0;
}

bool DeviceUpdater::readMainBoardLabel(
    const Kubus::CanDeviceInfo& node, Kubus::DeviceInfoVersion* version)
{
    return readLabel<Kubus::MainBoardBus, Kubus::MainBoard_GetLabel_Board>(
        sender(), node.nodeId, version);
}

bool DeviceUpdater::readPowerAmplifierLabel(
    const Kubus::CanDeviceInfo& node, Kubus::DeviceInfoVersion* version)
{
    return readLabel<Kubus::PowerAmplifierBus, Kubus::PowerAmplifier_GetLabel_PowerSupply>(
        sender(), node.nodeId, version);
}
