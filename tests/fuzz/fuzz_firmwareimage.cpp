// Firmware image files: any payload cuts into whole blocks, padded with erased flash.
#include "app/firmwareimage.h"
#include "canbus/nodes/firmwareimagecluster.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

using CanBus::FirmwareImageCluster;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("image.bin"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();

    const CanBus::FirmwareImage image(path);
    const QByteArray payload = image.data();
    const FirmwareImageCluster cluster(payload);
    QByteArray joined;
    for (const FirmwareImageCluster::tUpdateBlock& block : cluster.blocks()) {
        if (block.data.size() != FirmwareImageCluster::blockSize
            || block.crc != FirmwareImageCluster::calcCrc16(block.data))
            std::abort();
        joined += block.data;
    }
    if (joined.size() - payload.size() >= 256
        || joined != payload + QByteArray(int(joined.size() - payload.size()), char(0xFF)))
        std::abort();
    return 0;
}
