#include "app/firmwareimage.h"

#include "platform/rootpath.h"

#include <QFile>

namespace CanBus {

namespace {

constexpr int tagOffset = 0;
constexpr int tagLength = 8;
constexpr int versionOffset = 16;
constexpr int versionLength = 16;

QString textUpToNul(const QByteArray& bytes)
{
    const int end = bytes.indexOf('\0');
    return QString::fromLatin1(end < 0 ? bytes : bytes.left(end));
}

} // namespace

FirmwareImage::FirmwareImage(DeviceType deviceType, FirmwareType firmwareType)
    : m_deviceType(deviceType)
    , m_firmwareType(firmwareType)
    , m_imageDirectory(Platform::rootPath(defaultImageDirectory()))
{
    registerMetaTypes();
    loadImage(m_deviceType, m_firmwareType);
}

FirmwareImage::FirmwareImage(const QString& path)
    : m_imageDirectory(Platform::rootPath(defaultImageDirectory()))
{
    registerMetaTypes();
    readFromFile(path);
}

FirmwareImage::FirmwareImage(const QByteArray& data)
    : m_data(data)
    , m_imageDirectory(Platform::rootPath(defaultImageDirectory()))
{
    registerMetaTypes();
}

FirmwareImage::FirmwareImage(Kubus::FirmwareUpdateInfo::FirmwareUpdateType type)
    : m_imageDirectory(Platform::rootPath(defaultImageDirectory()))
{
    registerMetaTypes();
    // Types above the last known one are taken as the last one.
    const int t = qBound(0, int(type), 3);
    m_deviceType = t < 2 ? MainBoard : PowerAmplifier;
    m_firmwareType = t % 2 == 0 ? AT90 : FPGA;
    loadImage(m_deviceType, m_firmwareType);
}

void FirmwareImage::registerMetaTypes()
{
    qRegisterMetaType<DeviceType>("CanBus::FirmwareImage::DeviceType");
    qRegisterMetaType<FirmwareType>("CanBus::FirmwareImage::FirmwareType");
}

void FirmwareImage::setImageDirectory(const QString& directory)
{
    m_imageDirectory = directory;
    loadImage(m_deviceType, m_firmwareType);
}

QString FirmwareImage::fileName(
    const QString& directory, DeviceType deviceType, FirmwareType firmwareType)
{
    const bool mainBoard = deviceType == MainBoard;
    return QString("%1/%2/%3_%4.bin")
        .arg(directory, mainBoard ? "BO" : "PA")
        .arg(mainBoard ? 91204500 : 91204700)
        .arg(firmwareType == AT90 ? "AT90" : "FPGA");
}

bool FirmwareImage::loadImage(DeviceType deviceType, FirmwareType firmwareType)
{
    return readFromFile(fileName(m_imageDirectory, deviceType, firmwareType));
}

bool FirmwareImage::readFromFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // A file that cannot even hold an empty version with its NUL has no header at all.
    if (file.size() < versionOffset + 1) {
        m_fileTag.clear();
        m_version.clear();
        m_data.clear();
        return false;
    }
    // The header has no length field: the payload starts right after the version's NUL.
    file.seek(tagOffset);
    m_fileTag = textUpToNul(file.peek(tagLength));
    file.seek(versionOffset);
    m_version = textUpToNul(file.peek(versionLength));
    if (file.seek(m_version.size() + versionOffset + 1))
        m_data = file.readAll();
    else
        m_data.clear();
    return !m_data.isEmpty();
}

} // namespace CanBus
