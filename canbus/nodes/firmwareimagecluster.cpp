#include "canbus/nodes/firmwareimagecluster.h"

namespace CanBus {

FirmwareImageCluster::FirmwareImageCluster(const QByteArray& image)
{
    clusterImage(image);
}

void FirmwareImageCluster::clusterImage(const QByteArray& image)
{
    for (int start = 0; start < image.size(); start += blockSize) {
        tUpdateBlock block;
        block.data = image.mid(start, blockSize);
        block.data.append(QByteArray(blockSize - block.data.size(), char(0xFF)));
        block.crc = calcCrc16(block.data);
        m_blocks.append(block);
    }
}

quint16 FirmwareImageCluster::calcCrc16(const QByteArray& bytes)
{
    quint16 crc = 0xFFFF;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

} // namespace CanBus
