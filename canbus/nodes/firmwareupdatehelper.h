#pragma once

#include "canbus/nodes/firmwareimagecluster.h"
#include "kubus/records/firmwareupdateinfo.h"

#include <QByteArray>

namespace CanBus {

// Where one transfer stands, with the image cut into the node's blocks, the erase units and the
// version block that goes into the node's label.
class FirmwareUpdateHelper {
public:
    static constexpr int BlockSize = FirmwareImageCluster::blockSize;
    static constexpr int VersionBlockSize = 12;

    explicit FirmwareUpdateHelper(const Kubus::FirmwareUpdateInfo& info);

    unsigned currentBlock() const { return m_currentBlock; }
    QByteArray currentBlockBytes() const { return currentBlockData().data; }
    quint16 currentBlockCrc() const { return quint16(currentBlockData().crc); }
    // Blocks go 1, 2, ..., blocks - 1 and then 0: block 0 holds the start of the program, so a
    // node whose transfer broke off never finds a valid start over a half-written image.
    void incrementCurrentBlock();
    bool isLastBlock() const { return m_currentBlock == 0; }
    unsigned blocks() const { return unsigned(m_cluster.blocks().size()); }
    int blockSize() const { return BlockSize; }
    Kubus::FirmwareUpdateInfo::FirmwareUpdateType updateType() const { return m_type; }
    bool isFpga() const { return m_type & 1; }

    const QByteArray& newFirmwareVersion() const { return m_version; }
    unsigned currentPosWriteFirmwareVersion() const { return m_versionPos; }
    void incrementCurrentPosWriteFirmwareVersion() { ++m_versionPos; }
    bool isLastWriteFirmwareVersion() const { return m_versionPos > 2; }
    // The service-data selector and byte address of the current version word.
    quint8 versionSelector() const;
    unsigned versionAddress() const;
    QByteArray versionWord() const;

    unsigned currentBlockToErase() const { return m_eraseUnit; }
    void incrementBlockToErase() { ++m_eraseUnit; }
    bool isLastBlockToErase() const { return m_eraseUnit >= m_eraseUnits; }
    unsigned blocksToErase() const { return m_eraseUnits; }
    quint8 firmwareSelector() const { return isFpga() ? 4 : 0; }

    void reset();

private:
    FirmwareImageCluster::tUpdateBlock currentBlockData() const
    {
        return m_cluster.blocks().value(int(m_currentBlock));
    }

    Kubus::FirmwareUpdateInfo::FirmwareUpdateType m_type;
    FirmwareImageCluster m_cluster;
    QByteArray m_version;
    unsigned m_currentBlock = 1;
    unsigned m_versionPos = 0;
    unsigned m_eraseUnit = 0;
    unsigned m_eraseUnits = 0;
};

} // namespace CanBus
