#include "kubus/channel.h"
#include "kubus/recordlist.h"
#include "recordmarker.h"
#include "recordprobe.h"

#include <QThread>
#include <QtTest>

#include <functional>

namespace {

struct Crossing {
    RecordProbe* sender;
    RecordProbe* receiver;
    QVariant* arrived; // set, queued, in this thread by what the receiver takes
};

// Registers T, checks the name it is known by, and sends one marked record from this thread
// to the probe in the worker thread through a queued connection made from signature texts.
template <typename T> QString crossThreads(const char* cppName, Crossing& c, int number)
{
    const QByteArray name = QByteArray("Kubus::") + cppName;
    if (name != T::staticTypeName())
        return "staticTypeName() is " + QString(T::staticTypeName());
    Kubus::registerRecordType<T>();
    const QMetaType byName = QMetaType::fromName(name);
    if (!byName.isValid())
        return "not registered under " + name;
    if (byName != QMetaType::fromType<T>() || name != QMetaType::fromType<T>().name())
        return "registered as " + QString(QMetaType::fromType<T>().name());

    const QByteArray signal = "2carry(" + name + ")";
    const QByteArray slot = "1take(" + name + ")";
    const QMetaObject::Connection connection
        = QObject::connect(c.sender, signal, c.receiver, slot, Qt::QueuedConnection);
    if (!connection)
        return "cannot connect " + signal;
    T record;
    mark(record, number);
    emit c.sender->carry(record);
    const bool arrived = QTest::qWaitFor([&] { return c.arrived->isValid(); }, 5000);
    QObject::disconnect(connection);
    if (!arrived)
        return "nothing arrived";
    if (c.arrived->metaType() != QMetaType::fromType<T>())
        return "arrived as " + QString(c.arrived->metaType().name());
    const int got = markOf(c.arrived->value<T>());
    return got == number ? QString() : QString("arrived with marker %1").arg(got);
}

} // namespace

using Check = std::function<QString(Crossing&, int)>;
Q_DECLARE_METATYPE(Check)

class TestMetaTypes : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void crossesThreadsUnderFullName_data();
    void crossesThreadsUnderFullName();

private:
    QThread worker;
    RecordProbe sender;
    RecordProbe receiver;
    QVariant arrived;
};

void TestMetaTypes::initTestCase()
{
    receiver.moveToThread(&worker);
    // The sink lives in this thread: what the worker's probe takes comes back queued.
    connect(
        &receiver, &RecordProbe::taken, this, [this](const QVariant& v) { arrived = v; },
        Qt::QueuedConnection);
    worker.start();
}

void TestMetaTypes::cleanupTestCase()
{
    worker.quit();
    worker.wait();
}

void TestMetaTypes::crossesThreadsUnderFullName_data()
{
    QTest::addColumn<Check>("check");
#define ROW(kind, T)                                                                               \
    QTest::newRow(#T) << Check([](Crossing& c, int n) { return crossThreads<Kubus::T>(#T, c, n); });
    KUBUS_RECORD_TYPES(ROW)
#undef ROW
}

void TestMetaTypes::crossesThreadsUnderFullName()
{
    QFETCH(Check, check);
    static int number = 0;
    ++number;
    arrived = QVariant();
    Crossing crossing { &sender, &receiver, &arrived };
    const QString problem = check(crossing, number);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

QTEST_GUILESS_MAIN(TestMetaTypes)
#include "tst_metatypes.moc"
