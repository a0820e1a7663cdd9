// Node cache files as the controller may find them (written by an earlier release, cut short by
// a power loss, edited by hand): a file the check refuses gives no nodes; from a file it trusts
// every node has an id a bus can carry, and our own rewrite of those nodes reads back the same
// and is trusted again.
#include "canbus/nodes/candeviceinfocache.h"
#include "platform/rootpath.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

using CanBus::CanDeviceInfoCache;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

const QString CacheFile = QStringLiteral("/var/etc/CanNodesPowerAmplifier.ini");

bool same(const QVector<Kubus::CanDeviceInfo>& a, const QVector<Kubus::CanDeviceInfo>& b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i)
        if (a[i].nodeId != b[i].nodeId || a[i].partNumber != b[i].partNumber
            || a[i].variant != b[i].variant || a[i].serialNumber != b[i].serialNumber)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Every path of the cache lies under a root of our own; the files live in memory.
    static QTemporaryDir root(QDir(QStringLiteral("/dev/shm")).exists()
            ? QStringLiteral("/dev/shm/fuzz-nodecache-XXXXXX")
            : QDir::tempPath() + QStringLiteral("/fuzz-nodecache-XXXXXX"));
    check(root.isValid());
    qputenv("ZEF400_ROOT", QFile::encodeName(root.path()));
    QDir().mkpath(Platform::rootPath(QStringLiteral("/var/etc")));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const QString path = Platform::rootPath(CacheFile);
    QFile file(path);
    check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();

    CanDeviceInfoCache cache(nullptr, CacheFile);
    const QVector<Kubus::CanDeviceInfo> nodes = cache.get().nodes;
    if (cache.isDamaged()) {
        check(nodes.isEmpty());
        return 0;
    }
    for (const Kubus::CanDeviceInfo& node : nodes)
        check(node.nodeId >= 0 && node.nodeId <= 255);

    cache.write();
    const CanDeviceInfoCache again(nullptr, CacheFile);
    check(!again.isDamaged() && same(again.get().nodes, nodes));
    return 0;
}
