#include "canbus/nodes/candeviceinfocache.h"

#include "kubus/log/kulog.h"
#include "platform/rootpath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <fcntl.h>
#include <unistd.h>

namespace CanBus {

namespace {

const QString ArrayName = QStringLiteral("CanNodes");
const char* const EntryKeys[] = { "nodeId", "partNumber", "variant", "serialNumber" };

// Flushes a file or folder to the disk; the rename of the cache is only safe after both.
void syncToDisk(const QString& path, bool directory)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
        (directory ? O_RDONLY | O_DIRECTORY : O_RDWR) | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

CanDeviceInfoCache::CanDeviceInfoCache(QObject* parent, const QString& fileName)
    : QObject(parent)
    , m_fileName(fileName)
    , m_path(Platform::rootPath(fileName))
{
    read();
}

int CanDeviceInfoCache::findNode(int nodeId, const QVector<Kubus::CanDeviceInfo>& nodes)
{
    for (int i = 0; i < nodes.size(); ++i)
        if (nodes.at(i).nodeId == nodeId)
            return i;
    return -1;
}

// A file this program wrote always holds the entry count, every key of every entry and nothing
// else in the group. QSettings sorts the keys, so "size" is the last line of the file: a file
// cut short loses it or leaves entries beyond it.
QString CanDeviceInfoCache::check() const
{
    if (!QFileInfo::exists(m_path))
        return QString();
    QSettings settings(m_path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return QStringLiteral("not an INI file");
    settings.beginGroup(ArrayName);
    bool ok = false;
    const int size = settings.value(QStringLiteral("size")).toString().toInt(&ok);
    if (!ok || size < 0)
        return QStringLiteral("no valid entry count");
    static const QRegularExpression entryKey(QStringLiteral("^(\\d+)/(\\w+)$"));
    const QStringList keys = settings.allKeys();
    for (const QString& key : keys) {
        if (key == QLatin1String("size"))
            continue;
        const auto match = entryKey.match(key);
        const int index = match.hasMatch() ? match.captured(1).toInt() : 0;
        if (index < 1 || index > size)
            return QStringLiteral("unexpected key '%1'").arg(key);
    }
    for (int i = 1; i <= size; ++i) {
        for (const char* name : EntryKeys) {
            const QString key = QStringLiteral("%1/%2").arg(i).arg(QLatin1String(name));
            const qlonglong value = settings.value(key).toString().toLongLong(&ok);
            if (!ok || value < 0 || value > 0xFFFFFFFFLL
                || (qstrcmp(name, "nodeId") == 0 && value > 255))
                return QStringLiteral("entry %1 has no valid '%2'").arg(i).arg(QLatin1String(name));
        }
    }
    return QString();
}

void CanDeviceInfoCache::read()
{
    m_cached.nodes.clear();
    const QString damage = check();
    m_damaged = !damage.isEmpty();
    if (m_damaged) {
        Kubus::kuPrint(
            QStringLiteral("Node cache '%1' is damaged (%2): not used, rebuilt after the "
                           "next identification")
                .arg(m_fileName, damage),
            Q_FUNC_INFO);
    } else {
        QSettings settings(m_path, QSettings::IniFormat);
        const int size = settings.beginReadArray(ArrayName);
        for (int i = 0; i < size; ++i) {
            settings.setArrayIndex(i);
            Kubus::CanDeviceInfo info;
            info.partNumber = settings.value(QStringLiteral("partNumber"), 0).toUInt();
            info.variant = settings.value(QStringLiteral("variant"), 0).toUInt();
            info.serialNumber = settings.value(QStringLiteral("serialNumber"), 0).toUInt();
            info.nodeId = settings.value(QStringLiteral("nodeId"), -1).toInt();
            info.missLimit = 3;
            info.missCounter = 0;
            info.at90FirmwareValid = true;
            info.fpgaFirmwareValid = true;
            m_cached.nodes.append(info);
        }
        settings.endArray();
    }
    if (m_cached.nodes.isEmpty())
        Kubus::kuPrint(QStringLiteral("No nodes found in '%1'").arg(m_fileName), Q_FUNC_INFO);
}

void CanDeviceInfoCache::write()
{
    const QString temporary = m_path + QStringLiteral(".new");
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QFile::remove(temporary);
    {
        QSettings settings(temporary, QSettings::IniFormat);
        settings.remove(ArrayName);
        settings.beginWriteArray(ArrayName, int(m_cached.nodes.size()));
        for (int i = 0; i < m_cached.nodes.size(); ++i) {
            const Kubus::CanDeviceInfo& info = m_cached.nodes.at(i);
            settings.setArrayIndex(i);
            settings.setValue(QStringLiteral("nodeId"), info.nodeId);
            settings.setValue(QStringLiteral("partNumber"), info.partNumber);
            settings.setValue(QStringLiteral("variant"), info.variant);
            settings.setValue(QStringLiteral("serialNumber"), info.serialNumber);
        }
        settings.endArray();
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            Kubus::kuPrint(QStringLiteral("Cannot write '%1'").arg(m_fileName), Q_FUNC_INFO);
            QFile::remove(temporary);
            return;
        }
    }
    syncToDisk(temporary, false);
    if (::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(m_path).constData())
        != 0) {
        Kubus::kuPrint(QStringLiteral("Cannot replace '%1'").arg(m_fileName), Q_FUNC_INFO);
        QFile::remove(temporary);
        return;
    }
    syncToDisk(QFileInfo(m_path).absolutePath(), true);
    ::sync();
    m_damaged = false;
    if (m_cached.nodes.isEmpty())
        Kubus::kuPrint(QStringLiteral("Writing 0 nodes to '%1'").arg(m_fileName), Q_FUNC_INFO);
}

void CanDeviceInfoCache::update(const Kubus::IdentifyFoundNodes& found)
{
    if (isDifferent(found) || m_damaged) {
        m_cached = found;
        write();
    }
}

bool CanDeviceInfoCache::isDifferent(const Kubus::IdentifyFoundNodes& found) const
{
    const int d = int(found.nodes.size()) - int(m_cached.nodes.size());
    if (d != 0) {
        Kubus::kuPrint(QStringLiteral("Different node size for '%1': %2%3")
                           .arg(m_fileName, d > 0 ? QStringLiteral("+") : QStringLiteral("-"))
                           .arg(qAbs(d)),
            Q_FUNC_INFO);
        return true;
    }
    // A cached id that is no longer among the found ones is a change too: otherwise a node
    // replaced by another one under a new id would be cached with the old id forever.
    for (const Kubus::CanDeviceInfo& cached : m_cached.nodes) {
        const int index = findNode(cached.nodeId, found.nodes);
        if (index < 0) {
            Kubus::kuPrint(
                QStringLiteral("Node %1 is no longer in '%2'").arg(cached.nodeId).arg(m_fileName),
                Q_FUNC_INFO);
            return true;
        }
        const Kubus::CanDeviceInfo& now = found.nodes.at(index);
        if (now.serialNumber != cached.serialNumber || now.variant != cached.variant
            || now.partNumber != cached.partNumber || now.nodeId != cached.nodeId) {
            Kubus::kuPrint(QStringLiteral("Content for '%1' on node %2 has changed")
                               .arg(m_fileName)
                               .arg(cached.nodeId),
                Q_FUNC_INFO);
            Kubus::kuPrint(QStringLiteral("from: ") + cached.toString(), Q_FUNC_INFO);
            Kubus::kuPrint(QStringLiteral("to  : ") + now.toString(), Q_FUNC_INFO);
            return true;
        }
    }
    return false;
}

} // namespace CanBus
