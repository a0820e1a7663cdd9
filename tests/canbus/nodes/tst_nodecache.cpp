#include "canbus/nodes/candeviceinfocache.h"

#include "tests/common/logcapture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using CanBus::CanDeviceInfoCache;
using Kubus::CanDeviceInfo;

namespace {

const QString CacheFile = QStringLiteral("/var/etc/CanNodesPowerAmplifier.ini");

CanDeviceInfo node(int nodeId, unsigned serial)
{
    CanDeviceInfo info;
    info.nodeId = nodeId;
    info.partNumber = 0x5B74;
    info.variant = 1;
    info.serialNumber = serial;
    return info;
}

Kubus::IdentifyFoundNodes nodes(std::initializer_list<CanDeviceInfo> list)
{
    Kubus::IdentifyFoundNodes found;
    found.nodes = list;
    return found;
}

QVector<int> ids(const Kubus::IdentifyFoundNodes& found)
{
    QVector<int> result;
    for (const auto& n : found.nodes)
        result << n.nodeId;
    return result;
}

} // namespace

class TestNodeCache : public QObject {
    Q_OBJECT

private:
    QTemporaryDir root;
    QString path() const { return root.path() + CacheFile; }

private slots:
    void initTestCase()
    {
        QVERIFY(root.isValid());
        qputenv("ZEF400_ROOT", root.path().toLocal8Bit());
    }
    void init() { QFile::remove(path()); }

    void writesOnlyChangesAndReadsBack()
    {
        LogCapture log;
        {
            CanDeviceInfoCache cache(nullptr, CacheFile);
            QVERIFY(cache.get().nodes.isEmpty());
            cache.update(nodes({ node(0, 2001), node(1, 2002), node(2, 2003) }));
        }
        QVERIFY(QFile::exists(path()));
        QVERIFY(!QFile::exists(path() + ".new"));

        CanDeviceInfoCache cache(nullptr, CacheFile);
        QCOMPARE(ids(cache.get()), QVector<int>({ 0, 1, 2 }));
        QCOMPARE(cache.get().nodes.at(2).serialNumber, 2003u);
        QCOMPARE(cache.get().nodes.at(0).missLimit, 3);
        const QDateTime written = QFileInfo(path()).lastModified();
        // Another order of the same nodes is no change.
        QVERIFY(!cache.isDifferent(nodes({ node(2, 2003), node(0, 2001), node(1, 2002) })));
        // Same id, another board.
        QVERIFY(cache.isDifferent(nodes({ node(0, 2001), node(1, 2009), node(2, 2003) })));
        cache.update(nodes({}));
        QVERIFY(cache.get().nodes.isEmpty());
        const QString text = log.stop();
        QVERIFY(text.contains("No nodes found in '/var/etc/CanNodesPowerAmplifier.ini'"));
        QVERIFY(text.contains("Different node size for '/var/etc/CanNodesPowerAmplifier.ini': +3"));
        QVERIFY(text.contains(
            "Content for '/var/etc/CanNodesPowerAmplifier.ini' on node 1 has changed"));
        QVERIFY(text.contains("from: 1, (" + QString::number(0x5B74 | 0x3300000) + ".1.2002)"));
        QVERIFY(text.contains("Different node size for '/var/etc/CanNodesPowerAmplifier.ini': -3"));
        QVERIFY(text.contains("Writing 0 nodes to '/var/etc/CanNodesPowerAmplifier.ini'"));
        QVERIFY(written.isValid());
    }

    // Whatever point a file is cut at, the cache either reads every node or reports the file
    // and reads nothing: a cut file never gives a shorter list that would be taken as the truth.
    void cutFileIsNeverTrusted()
    {
        {
            CanDeviceInfoCache cache(nullptr, CacheFile);
            QVector<CanDeviceInfo> list;
            for (int i = 0; i < 12; ++i)
                list << node(i, 2001 + i);
            Kubus::IdentifyFoundNodes found;
            found.nodes = list;
            cache.update(found);
        }
        QFile file(path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray whole = file.readAll();
        file.close();
        int reported = 0;
        for (int cut = 0; cut < whole.size(); ++cut) {
            QFile out(path());
            QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(whole.left(cut));
            out.close();
            LogCapture log;
            CanDeviceInfoCache cache(nullptr, CacheFile);
            const QString text = log.stop();
            if (cache.isDamaged()) {
                ++reported;
                QVERIFY(cache.get().nodes.isEmpty());
                QVERIFY(text.contains("is damaged"));
            } else {
                QCOMPARE(cache.get().nodes.size(), 12);
                QCOMPARE(cache.get().nodes.last().serialNumber, 2012u);
            }
        }
        QVERIFY(reported >= whole.size() - 2);
    }

    void damagedFileIsRebuilt_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("garbled bytes") << QByteArray("\x01\xff[[[=\n\x7f\x80size\n");
        QTest::newRow("letters for a number")
            << QByteArray("[CanNodes]\n1\\nodeId=x\n1\\partNumber=1\n1\\serialNumber=2\n"
                          "1\\variant=1\nsize=1\n");
        QTest::newRow("entry missing a key")
            << QByteArray("[CanNodes]\n1\\nodeId=4\n1\\partNumber=1\n1\\variant=1\nsize=1\n");
        QTest::newRow("node id out of range")
            << QByteArray("[CanNodes]\n1\\nodeId=300\n1\\partNumber=1\n1\\serialNumber=2\n"
                          "1\\variant=1\nsize=1\n");
        QTest::newRow("empty file") << QByteArray();
    }
    void damagedFileIsRebuilt()
    {
        QFETCH(QByteArray, content);
        QDir().mkpath(QFileInfo(path()).absolutePath());
        QFile out(path());
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(content);
        out.close();
        CanDeviceInfoCache cache(nullptr, CacheFile);
        QVERIFY(cache.isDamaged());
        QVERIFY(cache.get().nodes.isEmpty());
        // Even an identification that finds nothing rewrites a damaged file.
        cache.update(nodes({}));
        CanDeviceInfoCache reread(nullptr, CacheFile);
        QVERIFY(!reread.isDamaged());
        reread.update(nodes({ node(7, 2001) }));
        QCOMPARE(ids(CanDeviceInfoCache(nullptr, CacheFile).get()), QVector<int>({ 7 }));
    }
};

QTEST_GUILESS_MAIN(TestNodeCache)
#include "tst_nodecache.moc"
