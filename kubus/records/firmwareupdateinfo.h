#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

namespace Kubus {

// One firmware image to transfer, with the version texts that go into the node's label.
class FirmwareUpdateInfo {
public:
    static const char* staticTypeName() { return "Kubus::FirmwareUpdateInfo"; }

    // Even values are AT90 images, odd ones FPGA images; below 2 the mainboard's.
    enum FirmwareUpdateType {
        MainBoardAT90 = 0,
        MainBoardFPGA = 1,
        PowerAmplifierAT90 = 2,
        PowerAmplifierFPGA = 3,
    };

    FirmwareUpdateType type = MainBoardAT90;
    QString versionPrefix;
    QByteArray data; // the image bytes
    QString version;
};

} // namespace Kubus

Q_DECLARE_METATYPE(Kubus::FirmwareUpdateInfo)
