#include "canbus/routing/candestinationsetter.h"
#include "canbus/routing/canfilter.h"
#include "canbus/frame/canmessaget.h"
#include "canbus/routing/canspontaneousmessagefactory.h"
#include "canbus/nodes/candeviceinfocache.h"
#include "canbus/nodes/changabletimer.h"
#include "canbus/nodes/identifymodule.h"

#include "tests/common/logcapture.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace CanBus;
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

QString entry(const CanDeviceInfo& info)
{
    return QString("%1 %2 %3 %4")
        .arg(info.nodeId)
        .arg(info.partNumber)
        .arg(info.variant)
        .arg(info.serialNumber);
}

QString idsText(const QVector<CanDeviceInfo>& list)
{
    QStringList out;
    for (const auto& n : list)
        out << QString::number(n.nodeId);
    return out.join(' ');
}

// The nodes of one bus, answered by hand through the bus filter as the device would deliver them.
// A node answers a number of identify requests (-1: every one) with its id byte and priority; an
// address frame gives it that id, from then on answered with priority 3.
struct HandNode {
    quint32 serial;
    unsigned id;
    unsigned priority;
    int answers;
};

class HandBus : public QObject {
public:
    HandBus(CanFilter& filter, CanDestinationSetter& setter, QVector<HandNode> nodes)
        : m_filter(filter)
        , m_nodes(std::move(nodes))
    {
        connect(&setter, &CanDestinationSetter::outMessage, this, &HandBus::heard);
    }
    QStringList addressed; // "serial -> id"

private:
    void heard(const CanMessage& frame)
    {
        for (HandNode& node : m_nodes) {
            if (frame.messageType() == SCM_IDENTIFY && node.answers != 0) {
                if (node.answers > 0)
                    --node.answers;
                CanMessageT<SCM_IDENTIFY> answer;
                answer.identifier().setPriority(node.priority);
                answer.setNodeId(node.id);
                answer.setScmPartNumber(0x5B74);
                answer.setScmVariantNumber(1);
                answer.setScmSerialNumber(node.serial);
                answer.setCanProtocolVersion(31);
                m_filter.incommingMessage(answer);
            } else if (frame.messageType() == SCM_SET_ADDR_CO
                && CanMessageT<SCM_SET_ADDR_CO>(frame).serialNumber() == node.serial) {
                node.id = CanMessageT<SCM_SET_ADDR_CO>(frame).canNodeId();
                node.priority = 3;
                addressed << QString("%1 -> %2").arg(node.serial).arg(node.id);
                CanMessage answer = frame;
                answer.setNodeId(node.id);
                m_filter.incommingMessage(answer);
            }
        }
    }

    CanFilter& m_filter;
    QVector<HandNode> m_nodes;
};

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

    // The file is an outside interface: a file of an earlier release reads as it was written,
    // and what is written now reads back under the same keys.
    void fileFormatIsKept()
    {
        QDir().mkpath(QFileInfo(path()).absolutePath());
        QFile out(path());
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("[CanNodes]\n1\\nodeId=5\n1\\partNumber=23412\n1\\serialNumber=2001\n"
                  "1\\variant=1\n2\\nodeId=0\n2\\partNumber=23412\n2\\serialNumber=2002\n"
                  "2\\variant=2\nsize=2\n");
        out.close();
        CanDeviceInfoCache cache(nullptr, CacheFile);
        QCOMPARE(cache.get().nodes.size(), 2);
        QCOMPARE(entry(cache.get().nodes.at(0)), QString("5 23412 1 2001"));
        QCOMPARE(entry(cache.get().nodes.at(1)), QString("0 23412 2 2002"));
        cache.update(nodes({ node(3, 2009) }));
        QSettings written(path(), QSettings::IniFormat);
        QCOMPARE(written.value("CanNodes/size").toInt(), 1);
        QCOMPARE(QString("%1 %2 %3 %4")
                     .arg(written.value("CanNodes/1/nodeId").toInt())
                     .arg(written.value("CanNodes/1/partNumber").toInt())
                     .arg(written.value("CanNodes/1/variant").toInt())
                     .arg(written.value("CanNodes/1/serialNumber").toInt()),
            QString("3 23412 1 2009"));
    }

    // Identification on a bus answered by hand: which answers carry an id, which free ids are
    // handed out, and when a silent node counts as missing.
    void identificationCycles()
    {
        CanSpontaneousMessageFactory spontaneous;
        CanFilter filter(spontaneous);
        CanDestinationSetter setter(CanIdentifier::PowerAmplifier);
        // 2001 has id 7; 2002 sends the id byte 9 with a priority that says it has none; 2003
        // has none. 2001 falls silent after the first cycle.
        HandBus bus(
            filter, setter, { { 2001, 7, 3, 1 }, { 2002, 9, 0, -1 }, { 2003, 255, 0, -1 } });
        IdentifyModule module(filter, setter, CacheFile);
        connect(&filter, &CanFilter::identifyMessage, &module, &IdentifyModule::incomingMessage,
            Qt::QueuedConnection);
        auto* repeat = module.findChild<ChangableTimer*>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(repeat);
        QCOMPARE(repeat->nextInterval(), 4000);

        QStringList reports;
        QObject receiver;
        connect(&module, &IdentifyModule::foundNodes, &receiver,
            [&](const Kubus::IdentifyFoundNodes& n) { reports << "found " + idsText(n.nodes); });
        connect(&module, &IdentifyModule::newNodes, &receiver,
            [&](const Kubus::IdentifyNewNodes& n) { reports << "new " + idsText(n.nodes); });
        connect(&module, &IdentifyModule::missingNodes, &receiver,
            [&](const Kubus::IdentifyMissingNodes& n) {
                reports << "missing " + idsText(n.nodes);
            });
        module.setWaitForReplyInterval(300);
        module.setRepeatInterval(10);
        module.setSendFoundNodes(true);
        module.initCachedNodes();
        module.start();
        QTRY_VERIFY_WITH_TIMEOUT(reports.filter("missing").size() == 1, 10000);
        module.stop();

        QCOMPARE(bus.addressed, QStringList({ "2002 -> 0", "2003 -> 1" }));
        // Silent in three cycles in a row: missing in the third.
        QCOMPARE(reports.mid(0, reports.indexOf("missing 7") + 1),
            QStringList({ "found 7 0 1", "new 7 0 1", "found 0 1", "found 0 1", "found 0 1",
                "missing 7" }));
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
