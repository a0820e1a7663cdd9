#include "kubus/mainboardbus.h"
#include "kubus/poweramplifierbus.h"
#include "kubus/recordlist.h"
#include "recordmarker.h"

#include <QSignalSpy>
#include <QtTest>

#include <cstring>
#include <functional>

namespace {

constexpr int node = 7;

// send(record) on the bus for all nodes announces it there, and, unless it is a record without
// node id, once more on the node's own bus.
template <typename BUS, typename T> QString announcesOnSend(const char* kind, const char* cppName)
{
    BUS* bus = BUS::instance();
    bus->supportNode(node);
    BUS* nodeBus = bus->keyBus(node);
    if (!nodeBus)
        return "no node bus";
    const QByteArray signal = QByteArray("2message(Kubus::") + cppName + ")";
    QSignalSpy onAll(bus, signal.constData());
    QSignalSpy onNode(nodeBus, signal.constData());
    if (!onAll.isValid())
        return "no signal " + signal.mid(1);

    T record;
    mark(record, node);
    bus->send(record);

    const int forwarded = std::strcmp(kind, "oneway") == 0 ? 0 : 1;
    if (onAll.count() != 1 || onNode.count() != forwarded)
        return QString("announced %1 times on all, %2 on the node bus")
            .arg(onAll.count())
            .arg(onNode.count());
    const int got = markOf(onAll.first().first().value<T>());
    return got == node ? QString() : QString("announced with marker %1").arg(got);
}

} // namespace

using Check = std::function<QString()>;
Q_DECLARE_METATYPE(Check)

class TestBuses : public QObject {
    Q_OBJECT

private slots:
    void instanceIsOnePerType();
    void sendAnnounces_data();
    void sendAnnounces();
};

void TestBuses::instanceIsOnePerType()
{
    Kubus::MainBoardBus* mainBoard = Kubus::MainBoardBus::instance();
    QCOMPARE(Kubus::MainBoardBus::instance(), mainBoard);
    Kubus::PowerAmplifierBus* amplifier = Kubus::PowerAmplifierBus::instance();
    QCOMPARE(Kubus::PowerAmplifierBus::instance(), amplifier);
    QVERIFY(static_cast<QObject*>(mainBoard) != static_cast<QObject*>(amplifier));
    QVERIFY(
        static_cast<QObject*>(mainBoard)->thread() != static_cast<QObject*>(amplifier)->thread());
}

void TestBuses::sendAnnounces_data()
{
    QTest::addColumn<Check>("check");
#define MAINBOARD_ROW(kind, T)                                                                     \
    QTest::newRow("MainBoardBus " #T)                                                              \
        << Check([] { return announcesOnSend<Kubus::MainBoardBus, Kubus::T>(#kind, #T); });
#define AMPLIFIER_ROW(kind, T)                                                                     \
    QTest::newRow("PowerAmplifierBus " #T)                                                         \
        << Check([] { return announcesOnSend<Kubus::PowerAmplifierBus, Kubus::T>(#kind, #T); });
    KUBUS_MAINBOARDBUS_TYPES(MAINBOARD_ROW)
    KUBUS_POWERAMPLIFIERBUS_TYPES(AMPLIFIER_ROW)
#undef MAINBOARD_ROW
#undef AMPLIFIER_ROW
}

void TestBuses::sendAnnounces()
{
    QFETCH(Check, check);
    const QString problem = check();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

QTEST_GUILESS_MAIN(TestBuses)
#include "tst_buses.moc"
