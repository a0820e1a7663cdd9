#include "app/zef400.h"

#include "canbus/device/canconfiguration.h"
#include "canbus/frame/canexception.h"
#include "canbus/frame/canmessage.h"
#include "canbus/nodes/identifymodule.h"
#include "hdf/hdffileparser.h"
#include "kubus/catalogue/mainboardbus.h"
#include "kubus/catalogue/poweramplifierbus.h"
#include "kubus/log/kulog.h"
#include "kubus/request/request.h"
#include "kubus/request/requestsequence.h"
#include "kubus/thread/threadstopper.h"
#include "platform/rootpath.h"

#include <QCoreApplication>
#include <QDebug>

using CanBus::FirmwareImage;
using CanBus::PowerAmplifierPositionFinder;

namespace {

constexpr int WatchdogMs = 30000;
constexpr int FirmwareTransferTimeoutMs = 150000;
constexpr int IdentifyReplyWindowMs = 1000;
constexpr int IdentifyRepeatMs = 3000;
constexpr int DeviceReadyLimitMs = 30000;
constexpr int DeviceReadyStepMs = 500;

const char* const HdfPath = "/var/etc/Hdf.hdf";
const char* const UpdaterProgram = "/usr/local/bin/SwUpdateDaemon";

// Release codes and the folder each selects below the image directory.
struct Release {
    int code;
    const char* label;
};
constexpr Release Releases[] = { { 0, "latest" }, { 1140, "1.14.0" }, { 1131, "1.13.1" },
    { 1125, "1.12.5" }, { 1112, "1.11.2" } };

CanBus::CanConfiguration busConfiguration(CanBus::CanConfiguration::eCanBusDeviceNumber number)
{
    return CanBus::CanConfiguration(
        number, CanBus::CanConfiguration::Speed125kbit, CanBus::CanConfiguration::Extended29Bit);
}

bool sameNode(const Kubus::CanDeviceInfo& a, const Kubus::CanDeviceInfo& b)
{
    return a.partNumber == b.partNumber && a.variant == b.variant
        && a.serialNumber == b.serialNumber;
}

} // namespace

Zef400::Zef400(int)
    : mainboardUpdater(FirmwareImage::MainBoard)
    , powerAmplifierUpdater(FirmwareImage::PowerAmplifier)
    , mainboardCanDevice(busConfiguration(CanBus::CanConfiguration::MainBoardBus))
    , powerAmplifierCanDevice(busConfiguration(CanBus::CanConfiguration::PowerAmplifierBus))
    , mainboardProxy(&mainboardCanDevice)
    , powerAmplifierProxy(&powerAmplifierCanDevice)
    , hdf(&HdfParser::HdfFileParser::instance(Platform::rootPath(HdfPath).toStdString()))
    , updaterProcess(this)
    , waitTimer(this)
    , positionFinder(this)
{
    qRegisterMetaType<Kubus::IdentifyFoundNodes>(Kubus::IdentifyFoundNodes::staticTypeName());
    qRegisterMetaType<PowerAmplifierPositionFinder::Position>(
        "CanBus::PowerAmplifierPositionFinder::Position");
    waitTimer.setSingleShot(true);
    waitTimer.setInterval(WatchdogMs);

    auto* mainBus = Kubus::MainBoardBus::instance();
    auto* ampBus = Kubus::PowerAmplifierBus::instance();
    connect(mainBus, SIGNAL(message(Kubus::IdentifyFoundNodes)), this,
        SLOT(slotNewMainBoardNodes(Kubus::IdentifyFoundNodes)));
    connect(ampBus, SIGNAL(message(Kubus::IdentifyFoundNodes)), this,
        SLOT(slotNewPowerAmplifierNodes(Kubus::IdentifyFoundNodes)));
    connect(
        &mainboardUpdater, &DeviceUpdater::signalUpToDate, this, &Zef400::slotMainboardUpToDate);
    connect(&mainboardUpdater, &DeviceUpdater::signalNotUpToDate, this,
        &Zef400::slotMainboardNotUpToDate);
    connect(&powerAmplifierUpdater, &DeviceUpdater::signalUpToDate, this,
        &Zef400::slotPowerAmplifierUpToDate);
    connect(&powerAmplifierUpdater, &DeviceUpdater::signalNotUpToDate, this,
        &Zef400::slotPowerAmplifierNotUpToDate);
    for (DeviceUpdater* updater : { &mainboardUpdater, &powerAmplifierUpdater }) {
        connect(updater, &DeviceUpdater::signalShowMessage, this, &Zef400::signalShowMessage);
        connect(updater, &DeviceUpdater::signalStartingFirmwareUpdateOnNode, this,
            &Zef400::signalStartingFirmwareUpdateOnNode);
        connect(updater, &DeviceUpdater::firmwareProcessed, this, &Zef400::collectOutcome);
        connect(updater, &DeviceUpdater::labelGivenUp, this, &Zef400::slotLabelGivenUp);
    }
    connect(&updaterProcess, &QProcess::started, this, &Zef400::slotUpdaterStarted);
    connect(
        &updaterProcess, &QProcess::readyReadStandardError, this, &Zef400::slotReadUpdaterError);
    connect(
        &updaterProcess, &QProcess::readyReadStandardOutput, this, &Zef400::slotReadUpdaterOutput);
    connect(ampBus, SIGNAL(message(Kubus::PowerAmplifier_AMP_POSITION)), this,
        SLOT(newMeasuredValues(Kubus::PowerAmplifier_AMP_POSITION)));
    connect(&positionFinder, &PowerAmplifierPositionFinder::positionOfPowerAmplifierFound, this,
        &Zef400::positionOfPowerAmplifierFound);
    connect(&powerAmplifierUpdater, &DeviceUpdater::typePrinted, this, &Zef400::printPosition);
    connect(&waitTimer, &QTimer::timeout, this, &Zef400::slotStopWaitingForDevices);
    connect(&orchestratorThread, &QThread::started, &waitTimer, qOverload<>(&QTimer::start));

    moveToThread(&orchestratorThread);
    mainboardUpdater.moveToThread(&updaterThread);
    powerAmplifierUpdater.moveToThread(&updaterThread);

    setUsedFirmwareVersion(0);
}

Zef400::~Zef400()
{
    mainboardProxy.identifyModule().stop();
    powerAmplifierProxy.identifyModule().stop();

    updaterThread.quit();
    if (orchestratorThread.isRunning()) {
        QMetaObject::invokeMethod(this, "leaveOrchestratorThread", Qt::BlockingQueuedConnection,
            Q_ARG(QThread*, QThread::currentThread()));
        orchestratorThread.quit();
        orchestratorThread.wait();
    }
    // An updater may still wait for a transfer's answer (a quit from the service menu): the
    // commands end at once when the devices close, so it can finish its node without waiting out
    // the transfer's limit. The buses carry that answer, so they stop only after its thread.
    mainboardCanDevice.close();
    powerAmplifierCanDevice.close();
    mainboardProxy.endAllCommands();
    powerAmplifierProxy.endAllCommands();
    if (updaterThread.isRunning() && !updaterThread.wait(100))
        Kubus::kuPrint("Waiting for the updater to finish its node", Q_FUNC_INFO);
    updaterThread.wait();
    Kubus::MainBoardBus::instance()->stop();
    Kubus::PowerAmplifierBus::instance()->stop();
    mainboardProxy.stopApiService();
    powerAmplifierProxy.stopApiService();
}

void Zef400::leaveOrchestratorThread(QThread* target)
{
    waitTimer.stop();
    if (updaterProcess.state() != QProcess::NotRunning) {
        updaterProcess.kill();
        updaterProcess.waitForFinished(3000);
    }
    moveToThread(target);
}

void Zef400::setReadOnly(bool on)
{
    mainboardUpdater.setReadOnly(on);
    powerAmplifierUpdater.setReadOnly(on);
}

void Zef400::setForceMainboardUpdate(bool all)
{
    mainboardUpdater.setForceUpdateDevice(all);
}

void Zef400::setForceMainboardUpdate(const QSet<int>& nodeIds)
{
    mainboardUpdater.setForceUpdateDevice(nodeIds);
}

void Zef400::setForceMainboardUpdateAT90(bool all)
{
    mainboardUpdater.setForceUpdateAT90(all);
}

void Zef400::setForceMainboardUpdateAT90(const QSet<int>& nodeIds)
{
    mainboardUpdater.setForceUpdateAT90(nodeIds);
}

void Zef400::setForceMainboardUpdateFPGA(bool all)
{
    mainboardUpdater.setForceUpdateFPGA(all);
}

void Zef400::setForceMainboardUpdateFPGA(const QSet<int>& nodeIds)
{
    mainboardUpdater.setForceUpdateFPGA(nodeIds);
}

void Zef400::setForceAmplifierUpdate(bool all)
{
    powerAmplifierUpdater.setForceUpdateDevice(all);
}

void Zef400::setForceAmplifierUpdate(const QSet<int>& nodeIds)
{
    powerAmplifierUpdater.setForceUpdateDevice(nodeIds);
}

void Zef400::setForceAmplifierUpdateAT90(bool all)
{
    powerAmplifierUpdater.setForceUpdateAT90(all);
}

void Zef400::setForceAmplifierUpdateAT90(const QSet<int>& nodeIds)
{
    powerAmplifierUpdater.setForceUpdateAT90(nodeIds);
}

void Zef400::setForceAmplifierUpdateFPGA(bool all)
{
    powerAmplifierUpdater.setForceUpdateFPGA(all);
}

void Zef400::setForceAmplifierUpdateFPGA(const QSet<int>& nodeIds)
{
    powerAmplifierUpdater.setForceUpdateFPGA(nodeIds);
}

void Zef400::stop()
{
    mainboardProxy.identifyModule().stop();
    powerAmplifierProxy.identifyModule().stop();
}

void Zef400::startup()
{
    if (started)
        return;
    started = true;
    runClock.start();
    orchestratorThread.start(QThread::InheritPriority);
    updaterThread.start(QThread::InheritPriority);

    Kubus::MainBoardBus::instance()->start();
    Kubus::PowerAmplifierBus::instance()->start();

    // Tests of lost and powerless nodes shorten the transfer's limit instead of waiting it out.
    bool shortened = false;
    const int testTimeout
        = qEnvironmentVariableIntValue("ZEF400_NODE_FIRMWARE_TIMEOUT_MS", &shortened);
    CanBus::Proxy* const proxies[] = { &mainboardProxy, &powerAmplifierProxy };
    for (CanBus::Proxy* proxy : proxies) {
        proxy->setFirmwareTimeout(
            shortened && testTimeout > 0 ? testTimeout : FirmwareTransferTimeoutMs);
        CanBus::IdentifyModule& identify = proxy->identifyModule();
        identify.setSendFoundNodes(true);
        identify.setWaitForReplyInterval(IdentifyReplyWindowMs);
        identify.setRepeatInterval(IdentifyRepeatMs);
        proxy->startApiService();
    }
}

int Zef400::takeNewNodes(const Kubus::IdentifyFoundNodes& found,
    QVector<Kubus::CanDeviceInfo>& list, DeviceUpdater& updater)
{
    int count = 0;
    for (const Kubus::CanDeviceInfo& node : found.nodes) {
        if (std::any_of(list.begin(), list.end(),
                [&](const Kubus::CanDeviceInfo& known) { return sameNode(known, node); }))
            continue;
        ++count;
        list.append(node);
        expectedFirmwares += 2;
        if (autoUpdate) {
            state = Busy;
            updater.keepUpToDate(node);
        }
    }
    return count;
}

void Zef400::slotNewMainBoardNodes(const Kubus::IdentifyFoundNodes& found)
{
    const int count = takeNewNodes(found, mainboards, mainboardUpdater);
    if (count > 0)
        Kubus::kuPrint(QStringLiteral("NEW mainboards: %1").arg(count), Q_FUNC_INFO);
}

void Zef400::slotNewPowerAmplifierNodes(const Kubus::IdentifyFoundNodes& found)
{
    const int count = takeNewNodes(found, powerAmplifiers, powerAmplifierUpdater);
    if (count > 0)
        Kubus::kuPrint(QStringLiteral("NEW power amplifiers: %1").arg(count), Q_FUNC_INFO);
}

void Zef400::slotMainboardUpToDate(const Kubus::CanDeviceInfo&)
{
    ++mainboardFirmwaresDone;
    updateState();
}

void Zef400::slotMainboardNotUpToDate(const Kubus::CanDeviceInfo&)
{
    ++mainboardFirmwaresDone;
    updateState();
}

void Zef400::slotPowerAmplifierUpToDate(const Kubus::CanDeviceInfo&)
{
    ++powerAmplifierFirmwaresDone;
    updateState();
}

void Zef400::slotPowerAmplifierNotUpToDate(const Kubus::CanDeviceInfo&)
{
    ++powerAmplifierFirmwaresDone;
    updateState();
}

void Zef400::clearForceAll()
{
    mainboardUpdater.setForceUpdateDevice(false);
    powerAmplifierUpdater.setForceUpdateDevice(false);
}

int Zef400::hdfTotal() const
{
    return 2 * int(hdf->getPowerAmplifiers().size() + hdf->getBoards().size());
}

void Zef400::updateState()
{
    const int done = mainboardFirmwaresDone + powerAmplifierFirmwaresDone;
    if (done == expectedFirmwares) {
        state = Idle;
        clearForceAll();
    }
    const int total = hdfTotal();
    emit signalProgress(done, total);
    if (done != total) {
        waitTimer.start();
        return;
    }
    state = Idle;
    clearForceAll();
    waitTimer.stop();
    emit signalShowMessage(QStringLiteral("\nAll firmwares successfully processed.\n"));
    finishRun(true);
}

void Zef400::slotStopWaitingForDevices()
{
    if (state == Busy) {
        waitTimer.start();
        return;
    }
    emit signalShowMessage(QStringLiteral("Not all devices could be found.\n"));
    finishRun(false);
}

void Zef400::finishRun(bool ok)
{
    const QString path = qEnvironmentVariable(RunReport::EnvironmentVariable);
    if (!path.isEmpty()) {
        QString error;
        if (!runReport.write(path, ok, double(runClock.elapsed()) / 1000.0, &error))
            Kubus::kuPrint(
                QStringLiteral("Run record %1 not written: %2").arg(path, error), Q_FUNC_INFO);
    }
    emit signalUpdateFinished(ok);
}

// A node whose label cannot be read is reported once, not twice. Without taking its second
// firmware off the expectation the run would stay Busy for good: the watchdog re-arms while
// Busy, so a rack with one unreadable board would never end.
void Zef400::slotLabelGivenUp(const Kubus::CanDeviceInfo&)
{
    --expectedFirmwares;
}

void Zef400::collectOutcome(const FirmwareOutcome& outcome)
{
    runReport.add(outcome);
}

void Zef400::startPass(bool readOnlyPass)
{
    emit signalProgress(0, 1);
    waitTimer.start();
    expectedFirmwares = 0;
    mainboardUpdater.setReadOnly(readOnlyPass);
    powerAmplifierUpdater.setReadOnly(readOnlyPass);
    mainboardFirmwaresDone = 0;
    powerAmplifierFirmwaresDone = 0;
    mainboards.clear();
    powerAmplifiers.clear();
}

void Zef400::updateAllDevices()
{
    if (state == Busy)
        return;
    startPass(false);
}

void Zef400::readAllDevices()
{
    if (state == Busy)
        return;
    startPass(true);
}

void Zef400::forceMainboardPart()
{
    mainboardFirmwaresDone = 0;
    mainboardUpdater.setForceUpdateDevice(true);
    for (const Kubus::CanDeviceInfo& node : std::as_const(mainboards)) {
        state = Busy;
        mainboardUpdater.keepUpToDate(node);
    }
}

void Zef400::forcePowerAmplifierPart()
{
    powerAmplifierFirmwaresDone = 0;
    powerAmplifierUpdater.setForceUpdateDevice(true);
    for (const Kubus::CanDeviceInfo& node : std::as_const(powerAmplifiers)) {
        state = Busy;
        powerAmplifierUpdater.keepUpToDate(node);
    }
}

void Zef400::updateMainboardsForced()
{
    if (state == Busy)
        return;
    emit signalProgress(0, 1);
    waitTimer.start();
    mainboardUpdater.setReadOnly(false);
    autoUpdate = false;
    forceMainboardPart();
}

void Zef400::updatePowerAmplifiersForced()
{
    if (state == Busy)
        return;
    emit signalProgress(0, 1);
    waitTimer.start();
    powerAmplifierUpdater.setReadOnly(false);
    autoUpdate = false;
    forcePowerAmplifierPart();
}

void Zef400::updateAllDevicesForced()
{
    if (state == Busy)
        return;
    emit signalProgress(0, 1);
    waitTimer.start();
    mainboardUpdater.setReadOnly(false);
    powerAmplifierUpdater.setReadOnly(false);
    autoUpdate = false;
    mainboardFirmwaresDone = 0;
    powerAmplifierFirmwaresDone = 0;
    forceMainboardPart();
    forcePowerAmplifierPart();
}

void Zef400::setUsedFirmwareVersion(int code)
{
    if (state == Busy)
        return;
    QString directory
        = Platform::rootPath(QString::fromLatin1(FirmwareImage::defaultImageDirectory()));
    int stored = 0;
    for (const Release& release : Releases)
        if (release.code == code && code != 0) {
            stored = code;
            directory += QLatin1Char('/') + QLatin1String(release.label);
        }
    firmwareVersionCode = stored;
    mainboardUpdater.setFirmwareImageDir(directory);
    powerAmplifierUpdater.setFirmwareImageDir(directory);
}

int Zef400::usedFirmwareVersion()
{
    return firmwareVersionCode;
}

void Zef400::resetOnLine()
{
    powerAmplifierUpdater.resetOnLine();
    mainboardUpdater.resetOnLine();
}

void Zef400::resetDevices()
{
    qDebug().noquote() << "resetDevices ...";
    for (const Kubus::CanDeviceInfo& node : std::as_const(mainboards)) {
        mainboardUpdater.asyncResetDevice(node);
        qDebug() << "resetting " << node;
    }
    for (const Kubus::CanDeviceInfo& node : std::as_const(powerAmplifiers)) {
        powerAmplifierUpdater.asyncResetDevice(node);
        qDebug() << "resetting " << node;
    }
    qDebug().noquote() << "resetDevices done";
}

void Zef400::sendBroadcastReset()
{
    CanBus::CanMessage reset(CanBus::SCM_RESET_MODULE, 0, 0);
    reset.identifier().setNodeId(CanBus::CanIdentifier::BroadcastNodeId);
    reset.identifier().setDestination(15);
    reset.identifier().setAckRequest(false);
    for (CanBus::CanDeviceScm* device : { &mainboardCanDevice, &powerAmplifierCanDevice }) {
        try {
            device->writeMessage(reset);
        } catch (const CanBus::CanException& e) {
            Kubus::kuPrint(
                QStringLiteral("Broadcast reset not sent: %1").arg(e.toString()), Q_FUNC_INFO);
        }
    }
}

void Zef400::waitForCanDeviceReady()
{
    int elapsed = 0;
    while (!mainboardCanDevice.isReady() && elapsed != DeviceReadyLimitMs) {
        QThread::msleep(DeviceReadyStepMs);
        elapsed += DeviceReadyStepMs;
        qDebug() << "Waiting for CanDevices ... " << elapsed;
    }
    qDebug() << "Waiting for CanDevices on power amplifier bus "
             << (powerAmplifierCanDevice.isReady() ? "true" : "false");
    for (;;) {
        if (powerAmplifierCanDevice.isReady() && elapsed < DeviceReadyLimitMs) {
            qDebug() << "CanDevices ready after " << elapsed / 1000 << " seconds";
            emit canDevicesReady();
            return;
        }
        if (elapsed >= DeviceReadyLimitMs) {
            qDebug() << "CanDevices are not ready even after " << elapsed / 1000 << " seconds";
            emit canDevicesReady();
            return;
        }
        QThread::msleep(DeviceReadyStepMs);
        elapsed += DeviceReadyStepMs;
        qDebug() << "Waiting for CanDevices ... " << elapsed;
    }
}

void Zef400::readPositions()
{
    if (state == Busy)
        return;
    emit signalShowMessage(QStringLiteral("Switching devices to operate mode\n"));
    for (const Kubus::CanDeviceInfo& node : std::as_const(mainboards)) {
        Kubus::Operate operate;
        operate.nodeId = node.nodeId;
        Kubus::Request<Kubus::MainBoardBus, Kubus::Operate>(sender(), operate).execute();
    }
    for (const Kubus::CanDeviceInfo& node : std::as_const(powerAmplifiers)) {
        Kubus::Operate operate;
        operate.nodeId = node.nodeId;
        Kubus::Request<Kubus::PowerAmplifierBus, Kubus::Operate>(sender(), operate).execute();
    }

    emit signalShowMessage(QStringLiteral("Reading postions ...\n"));
    for (const Kubus::CanDeviceInfo& node : std::as_const(mainboards)) {
        Kubus::Operate operate;
        operate.nodeId = node.nodeId;
        Kubus::Request<Kubus::MainBoardBus, Kubus::Operate>(sender(), operate).execute();

        Kubus::MainBoard_GetEquipment equipment;
        equipment.nodeId = node.nodeId;
        Kubus::MainBoard_TP_COMPONENTS_AND_POSITION components;
        Kubus::RequestSequence sequence;
        sequence.makeRequest<Kubus::MainBoardBus, Kubus::MainBoard_GetEquipment,
            Kubus::MainBoardBus, Kubus::MainBoard_TP_COMPONENTS_AND_POSITION>(
            equipment, components, node.nodeId);
        sequence.process(sender());

        QVector<bool> slotList;
        for (int slot = 1; slot <= 4; ++slot)
            slotList.append(components.powerAmplifierPresent.value(slot));
        PowerAmplifierPositionFinder::SearchJob job(slotList);
        job.mainBoardNodeId = node.nodeId;
        job.rack = components.locationRackNumber;
        job.unit = components.locationUnitNumber;
        emit signalShowMessage(QStringLiteral("Mainboard %1 at rack(%2)unit(%3)\n")
                                   .arg(node.nodeId + 1)
                                   .arg(job.rack)
                                   .arg(job.unit));
        positionFinder.addSearchJob(job);
    }
}

void Zef400::newMeasuredValues(const Kubus::PowerAmplifier_AMP_POSITION& record)
{
    positionFinder.newSlotInfo(record.nodeId, record.slot);
}

void Zef400::positionOfPowerAmplifierFound(
    int nodeId, const PowerAmplifierPositionFinder::Position& position)
{
    positions.insert(nodeId, position);
    emit signalShowMessage(QStringLiteral("Amplifier %1 at rack(%2)unit(%3)position(%4)\n")
                               .arg(nodeId + 1)
                               .arg(position.rack)
                               .arg(position.unit)
                               .arg(position.slot + 1));
}

void Zef400::printPosition(FirmwareImage::DeviceType deviceType, int nodeId)
{
    if (deviceType != FirmwareImage::PowerAmplifier || !positions.contains(nodeId))
        return;
    const PowerAmplifierPositionFinder::Position position = positions.value(nodeId);
    emit signalShowMessage(QStringLiteral("  - Location: rack(%1)unit(%2)position(A%3)\n")
                               .arg(position.rack)
                               .arg(position.unit)
                               .arg(position.slot + 1));
}

void Zef400::slotStartUpdater()
{
    slotRestartUpdater();
}

void Zef400::slotRestartUpdater()
{
    Kubus::kuPrint("Updater: starting ...", Q_FUNC_INFO);
    updaterOutput.clear();
    updaterProcess.start(Platform::rootPath(QString::fromLatin1(UpdaterProgram)),
        { QStringLiteral("ZEF400"), QStringLiteral("9120.4400"), QStringLiteral("02"),
            QStringLiteral("-"), QStringLiteral("-") },
        QIODevice::ReadWrite);
}

void Zef400::slotUpdaterStarted()
{
    Kubus::kuPrint("Updater: started", Q_FUNC_INFO);
    emit signalUpdaterStatus(QStringLiteral("Please start Distributor update."));
}

namespace {
// The bytes up to the first NUL, as Latin-1 text.
QString untilNul(const QByteArray& bytes)
{
    const int nul = int(bytes.indexOf('\0'));
    return QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul));
}
} // namespace

void Zef400::slotReadUpdaterOutput()
{
    checkUpdaterOutput(untilNul(updaterProcess.readAllStandardOutput()));
}

void Zef400::slotReadUpdaterError()
{
    checkUpdaterOutput(untilNul(updaterProcess.readAllStandardError()));
}

void Zef400::checkUpdaterOutput(const QString& chunk)
{
    const QString trimmed = chunk.trimmed();
    if (!trimmed.isEmpty())
        Kubus::kuPrint(QStringLiteral("Updater: %1").arg(trimmed), Q_FUNC_INFO);
    updaterOutput += chunk;
    if (updaterOutput.contains(QLatin1String("PIAS: Error:"))) {
        Kubus::kuPrint("Distributor: could not bind to port", Q_FUNC_INFO);
        QThread::sleep(1);
        updaterProcess.terminate();
    } else if (chunk.contains(QLatin1String("TransferOpen"))) {
        emit signalUpdaterStatus(QStringLiteral("Distributor: transferring data ..."));
    } else if (chunk.contains(QLatin1String("TransferClose"))) {
        emit signalUpdaterStatus(QStringLiteral("Distributor: installing then rebooting"));
    }
}
