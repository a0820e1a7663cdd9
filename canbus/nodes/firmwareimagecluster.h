#pragma once

#include <QByteArray>
#include <QVector>

namespace CanBus {

// A firmware payload cut into the 256-byte blocks in which a node's memory is written and
// checked; the last block is filled up with 0xFF (erased flash), and each block carries the
// CRC-16/MODBUS of all its 256 bytes.
class FirmwareImageCluster {
public:
    struct tUpdateBlock {
        QByteArray data; // exactly blockSize bytes
        quint32 crc = 0;
    };

    static constexpr int blockSize = 256;

    FirmwareImageCluster() = default;
    explicit FirmwareImageCluster(const QByteArray& image);

    void clusterImage(const QByteArray& image);
    static quint16 calcCrc16(const QByteArray& bytes);

    const QVector<tUpdateBlock>& blocks() const { return m_blocks; }

private:
    QVector<tUpdateBlock> m_blocks;
};

} // namespace CanBus
