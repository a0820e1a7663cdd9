#pragma once

#include "app/deviceupdater.h"
#include "app/runreport.h"
#include "canbus/device/candevicescm.h"
#include "canbus/nodes/poweramplifierpositionfinder.h"
#include "canbus/proxy/mainboardproxy.h"
#include "canbus/proxy/poweramplifierproxy.h"
#include "kubus/catalogue/measuredrecords.h"
#include "kubus/catalogue/onewayrecords.h"
#include "kubus/records/candeviceinfo.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <QVector>

namespace HdfParser {
class HdfFileParser;
}

// The heart of the update run. Learns of nodes from identification, hands every new node to the
// updater of its kind, counts the processed firmwares against what the hardware description
// promises and reports messages, progress and the result to the front panel. Also offers the
// service operations of the front panel and supervises the bundle updater.
//
// Threads: constructed, started and destroyed in the GUI thread; it lives in its own thread,
// where every slot reached by a signal runs, so counters, lists and state are touched there
// only. Both updaters share a second thread, in which their blocking requests wait.
class Zef400 : public QObject {
    Q_OBJECT

public:
    enum State { Idle = 0, Busy = 1 };

    // The window passes -1; the value has no further meaning.
    explicit Zef400(int unused = -1);
    ~Zef400() override;

    void setReadOnly(bool on);
    void setForceMainboardUpdate(bool all);
    void setForceMainboardUpdate(const QSet<int>& nodeIds);
    void setForceMainboardUpdateAT90(bool all);
    void setForceMainboardUpdateAT90(const QSet<int>& nodeIds);
    void setForceMainboardUpdateFPGA(bool all);
    void setForceMainboardUpdateFPGA(const QSet<int>& nodeIds);
    void setForceAmplifierUpdate(bool all);
    void setForceAmplifierUpdate(const QSet<int>& nodeIds);
    void setForceAmplifierUpdateAT90(bool all);
    void setForceAmplifierUpdateAT90(const QSet<int>& nodeIds);
    void setForceAmplifierUpdateFPGA(bool all);
    void setForceAmplifierUpdateFPGA(const QSet<int>& nodeIds);
    void setState(State newState) { state = newState; }

    // For diagnostics and tests: what the run knows now (orchestrator thread only).
    State currentState() const { return state; }
    const QMap<int, CanBus::PowerAmplifierPositionFinder::Position>& knownPositions() const
    {
        return positions;
    }

signals:
    void signalShowMessage(const QString& text);
    void signalUpdateFinished(bool ok);
    void signalUpdaterStatus(const QString& text);
    void signalProgress(int done, int total);
    void canDevicesReady();
    void signalStartingFirmwareUpdateOnNode(int nodeId);

public slots:
    void stop();
    void startup();
    void readAllDevices();
    void updateAllDevices();
    void readPositions();
    void updateAllDevicesForced();
    void updateMainboardsForced();
    void updatePowerAmplifiersForced();
    void setUsedFirmwareVersion(int code);
    int usedFirmwareVersion();
    void resetOnLine();
    void resetDevices();
    void sendBroadcastReset();
    void waitForCanDeviceReady();
    void slotNewMainBoardNodes(const Kubus::IdentifyFoundNodes& found);
    void slotNewPowerAmplifierNodes(const Kubus::IdentifyFoundNodes& found);
    void slotMainboardUpToDate(const Kubus::CanDeviceInfo& node);
    void slotMainboardNotUpToDate(const Kubus::CanDeviceInfo& node);
    void slotPowerAmplifierUpToDate(const Kubus::CanDeviceInfo& node);
    void slotPowerAmplifierNotUpToDate(const Kubus::CanDeviceInfo& node);
    void slotStartUpdater();
    void slotRestartUpdater();
    void slotUpdaterStarted();
    void slotReadUpdaterOutput();
    void slotReadUpdaterError();
    void slotStopWaitingForDevices();
    void newMeasuredValues(const Kubus::PowerAmplifier_AMP_POSITION& record);
    void positionOfPowerAmplifierFound(
        int nodeId, const CanBus::PowerAmplifierPositionFinder::Position& position);
    void printPosition(CanBus::FirmwareImage::DeviceType deviceType, int nodeId);

private slots:
    void collectOutcome(const FirmwareOutcome& outcome);
    void slotLabelGivenUp(const Kubus::CanDeviceInfo& node);
    // Runs in the orchestrator thread before it is quit: stops what lives there and hands this
    // object back to the GUI thread, which destroys it.
    void leaveOrchestratorThread(QThread* target);

private:
    // Node intake of one bus: adds the nodes not yet in list and hands them on.
    int takeNewNodes(const Kubus::IdentifyFoundNodes& found, QVector<Kubus::CanDeviceInfo>& list,
        DeviceUpdater& updater);
    void updateState();
    void clearForceAll();
    void startPass(bool readOnlyPass);
    void forceMainboardPart();
    void forcePowerAmplifierPart();
    void checkUpdaterOutput(const QString& chunk);
    void finishRun(bool ok);
    int hdfTotal() const;

    bool autoUpdate = true;
    QVector<Kubus::CanDeviceInfo> mainboards;
    QVector<Kubus::CanDeviceInfo> powerAmplifiers;
    DeviceUpdater mainboardUpdater;
    DeviceUpdater powerAmplifierUpdater;
    QThread orchestratorThread;
    CanBus::CanDeviceScm mainboardCanDevice;
    CanBus::CanDeviceScm powerAmplifierCanDevice;
    CanBus::MainBoardProxy mainboardProxy;
    CanBus::PowerAmplifierProxy powerAmplifierProxy;
    QThread updaterThread;
    HdfParser::HdfFileParser* hdf;
    int expectedFirmwares = 0;
    int mainboardFirmwaresDone = 0;
    int powerAmplifierFirmwaresDone = 0;
    State state = Idle;
    QProcess updaterProcess;
    QString updaterOutput;
    QTimer waitTimer;
    // The selected release code; usedFirmwareVersion() reads it.
    int firmwareVersionCode = 0;
    CanBus::PowerAmplifierPositionFinder positionFinder;
    QMap<int, CanBus::PowerAmplifierPositionFinder::Position> positions;

    // The machine-readable record of the run, written when ZEF400_RUN_REPORT names a file.
    RunReport runReport;
    QElapsedTimer runClock;
    bool started = false;
};
