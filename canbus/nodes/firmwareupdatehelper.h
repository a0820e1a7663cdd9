#pragma once

#include "kubus/firmwareupdateinfo.h"

#include <QByteArray>
#include <QVector>

namespace CanBus {

// Where one transfer stands, with the image cut into the node's 256-byte blocks (the last one
// filled up with 0xFF) and each block's CRC-16/MODBUS, the erase units and the version block that
// goes into the node's label.
class FirmwareUpdateHelper {
public:
    static constexpr int BlockSize = 256;
    static constexpr int VersionBlockSize = 12;

    explicit FirmwareUpdateHelper(const Kubus::FirmwareUpdateInfo& info);

    static quint16 calcCrc16(const QByteArray& bytes);

    unsigned currentBlock() const { return m_currentBlock; }
    QByteArray currentBlockBytes() const { return m_blocks.value(int(m_currentBlock)); }
    quint16 currentBlockCrc() const { return m_crcs.value(int(m_currentBlock)); }
    // Blocks go 1, 2, ..., blocks - 1 and then 0: block 0 holds the start of the program, so a
    // node whose transfer broke off never finds a valid start over a half-written image.
    void incrementCurrentBlock();
    bool isLastBlock() const { return m_currentBlock == 0; }
    unsigned blocks() const { return unsigned(m_blocks.size()); }
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
    Kubus::FirmwareUpdateInfo::FirmwareUpdateType m_type;
    QVector<QByteArray> m_blocks;
    QVector<quint16> m_crcs;
    QByteArray m_version;
    unsigned m_currentBlock = 1;
    unsigned m_versionPos = 0;
    unsigned m_eraseUnit = 0;
    unsigned m_eraseUnits = 0;
};

} // namespace CanBus
