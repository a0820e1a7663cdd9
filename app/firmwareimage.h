#pragma once

#include "kubus/records/firmwareupdateinfo.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

namespace CanBus {

// One firmware image of a release: the AT90 program or the FPGA configuration of one device
// kind. The file is "DIR/BO|PA/PARTNUMBER_AT90|FPGA.bin"; its header carries a tag and the
// version text, everything after the version's NUL is the payload, taken whole.
class FirmwareImage {
public:
    enum DeviceType { MainBoard = 0, PowerAmplifier = 1 };
    enum FirmwareType { AT90 = 0, FPGA = 1 };

    static const char* defaultImageDirectory() { return "/usr/local/FwUpdate"; }

    FirmwareImage(DeviceType deviceType, FirmwareType firmwareType);
    explicit FirmwareImage(const QString& path);
    explicit FirmwareImage(const QByteArray& data);
    explicit FirmwareImage(Kubus::FirmwareUpdateInfo::FirmwareUpdateType type);

    // Stores the directory and loads the image of the stored types from it.
    void setImageDirectory(const QString& directory);
    bool loadImage(DeviceType deviceType, FirmwareType firmwareType);
    // True when a payload of at least one byte was read; an unreadable file changes nothing.
    bool readFromFile(const QString& path);

    // "DIR/BO/91204500_AT90.bin" and its three siblings.
    static QString fileName(
        const QString& directory, DeviceType deviceType, FirmwareType firmwareType);

    QString version() const { return m_version; }
    QString fileTag() const { return m_fileTag; }
    QByteArray data() const { return m_data; }
    DeviceType deviceType() const { return m_deviceType; }
    FirmwareType firmwareType() const { return m_firmwareType; }
    QString imageDirectory() const { return m_imageDirectory; }

    // Both enumerations travel in queued signals under their full names.
    static void registerMetaTypes();

private:
    QString m_version;
    QString m_fileTag;
    QByteArray m_data;
    DeviceType m_deviceType = MainBoard;
    FirmwareType m_firmwareType = AT90;
    QString m_imageDirectory;
};

} // namespace CanBus

Q_DECLARE_METATYPE(CanBus::FirmwareImage::DeviceType)
Q_DECLARE_METATYPE(CanBus::FirmwareImage::FirmwareType)
