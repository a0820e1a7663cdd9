#pragma once

#include "app/firmwareimage.h"
#include "app/firmwareoutcome.h"
#include "kubus/catalogue/requestrecords.h"
#include "kubus/records/candeviceinfo.h"
#include "kubus/records/deviceinfoversion.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <mutex>

// Brings every node of one device kind to the firmware of the selected release: reads the
// node's label, shows type and versions, decides per firmware (AT90, then FPGA) whether to write,
// runs the transfer through a blocking Kubus request and reports each firmware once.
//
// Lives in the updater thread, where its requests block; the orchestrator hands nodes over by a
// queued signal, so they are handled one after the other in the order they came. Flags, sets
// and images are set from the orchestrator or GUI thread, hence the lock.
class DeviceUpdater : public QObject {
    Q_OBJECT

public:
    explicit DeviceUpdater(CanBus::FirmwareImage::DeviceType deviceType);

    CanBus::FirmwareImage::DeviceType type() const { return deviceType; }

    void keepUpToDate(const Kubus::CanDeviceInfo& node);

    void setForceUpdateDevice(bool on);
    void setForceUpdateDevice(const QSet<int>& nodeIds);
    void setForceUpdateAT90(bool on);
    void setForceUpdateAT90(const QSet<int>& nodeIds);
    void setForceUpdateFPGA(bool on);
    void setForceUpdateFPGA(const QSet<int>& nodeIds);
    bool isForced(int nodeId, CanBus::FirmwareImage::FirmwareType firmwareType) const;

    void setReadOnly(bool on);
    bool isReadOnly() const;

    void setFirmwareImageDir(const QString& directory);
    // The version text of the selected release's image, empty when there is no image.
    QString imageVersion(CanBus::FirmwareImage::FirmwareType firmwareType) const;

    void resetOnLine();
    void asyncResetDevice(const Kubus::CanDeviceInfo& node);

    static bool checkVersionString(const QString& text);
    // "9120.4500.01" from part number 91204500 and variant 1.
    static QString typeText(quint32 partNumber, quint32 variant);
    void firmwareStatusMessage(
        const QString& device, const QString& firmware, int nodeId, const QString& text);

    bool readMainBoardLabel(const Kubus::CanDeviceInfo& node, Kubus::DeviceInfoVersion* version);
    bool readPowerAmplifierLabel(
        const Kubus::CanDeviceInfo& node, Kubus::DeviceInfoVersion* version);
    bool updateMainBoard(const Kubus::CanDeviceInfo& node, const Kubus::DeviceInfoVersion& version);
    bool updatePowerAmplifier(
        const Kubus::CanDeviceInfo& node, const Kubus::DeviceInfoVersion& version);
    bool updateFirmware(const Kubus::FirmwareUpdate& record);

signals:
    void signalStartingFirmwareUpdateOnNode(int nodeId);
    void signalUpToDate(const Kubus::CanDeviceInfo& node);
    void signalNotUpToDate(const Kubus::CanDeviceInfo& node);
    void signalReadLabel(const Kubus::CanDeviceInfo& node);
    void signalUpdateNode(Kubus::CanDeviceInfo node, const Kubus::DeviceInfoVersion& version);
    void signalShowMessage(const QString& text);
    void typePrinted(CanBus::FirmwareImage::DeviceType deviceType, int nodeId);
    // What became of one firmware, for the run record; emitted before its up-to-date report.
    void firmwareProcessed(const FirmwareOutcome& outcome);
    // The node's label could not be read: it gets one report instead of two. Emitted before
    // that report, so the orchestrator stops waiting for the second one.
    void labelGivenUp(const Kubus::CanDeviceInfo& node);

public slots:
    void slotReadLabel(const Kubus::CanDeviceInfo& node);
    void slotUpdateNode(const Kubus::CanDeviceInfo& node, const Kubus::DeviceInfoVersion& version);

private:
    // Both firmwares of one node, AT90 first, each reported once.
    template <class BUS>
    bool updateNode(const Kubus::CanDeviceInfo& node, const Kubus::DeviceInfoVersion& version);
    template <class BUS>
    bool updateDevice(const Kubus::CanDeviceInfo& node, const Kubus::DeviceInfoVersion& label,
        CanBus::FirmwareImage::FirmwareType firmwareType);
    template <class BUS>
    bool updateFirmware(int nodeId, Kubus::FirmwareUpdateInfo::FirmwareUpdateType type,
        const QString& bundleVersion, const CanBus::FirmwareImage& image);
    template <class BUS> void sendReset(int nodeId);

    QString deviceName() const;
    CanBus::FirmwareImage image(CanBus::FirmwareImage::FirmwareType firmwareType) const;
    void report(const Kubus::CanDeviceInfo& node, bool upToDate);

    const CanBus::FirmwareImage::DeviceType deviceType;
    CanBus::FirmwareImage at90Image;
    CanBus::FirmwareImage fpgaImage;
    bool readOnly = false;
    bool forceAT90 = false;
    bool forceFPGA = false;
    QSet<int> forcedAT90Nodes;
    QSet<int> forcedFPGANodes;
    int labelRetries = 0;

    // Guards the flags, sets and images above (not labelRetries: updater thread only).
    mutable std::mutex settingsMutex;
    // The outcome of the firmware in hand, filled by updateDevice.
    FirmwareOutcome current;
};
