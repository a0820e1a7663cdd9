#include "canbus/nodes/firmwareupdatehelper.h"

namespace CanBus {

FirmwareUpdateHelper::FirmwareUpdateHelper(const Kubus::FirmwareUpdateInfo& info)
    : m_type(info.type)
    , m_cluster(info.data)
{
    const QByteArray& image = info.data;
    const unsigned unit = isFpga() ? 65536u : unsigned(BlockSize);
    m_eraseUnits = unsigned(image.size()) / unit + (unsigned(image.size()) % unit ? 1 : 0);

    const QByteArray version = info.version.toLatin1().left(10);
    if (!isFpga()) {
        QByteArray prefix = info.versionPrefix.toLatin1().left(10);
        prefix.append(QByteArray(10 - prefix.size(), '\0'));
        m_version = prefix.right(2);
    }
    m_version.append(version);
    m_version.append(QByteArray(VersionBlockSize - m_version.size(), '\0'));
    reset();
}

void FirmwareUpdateHelper::incrementCurrentBlock()
{
    if (++m_currentBlock >= blocks())
        m_currentBlock = 0;
}

quint8 FirmwareUpdateHelper::versionSelector() const
{
    return m_type <= Kubus::FirmwareUpdateInfo::MainBoardFPGA ? 48 : 0;
}

unsigned FirmwareUpdateHelper::versionAddress() const
{
    return (isFpga() ? 136u : 124u) + 4 * m_versionPos;
}

QByteArray FirmwareUpdateHelper::versionWord() const
{
    return m_version.mid(int(4 * m_versionPos), 4);
}

void FirmwareUpdateHelper::reset()
{
    // An image of one block has only block 0.
    m_currentBlock = blocks() > 1 ? 1 : 0;
    m_versionPos = 0;
    m_eraseUnit = 0;
}

} // namespace CanBus
