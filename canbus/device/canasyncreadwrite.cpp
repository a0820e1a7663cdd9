#include "canbus/device/canasyncreadwrite.h"

#include "canbus/device/candevice.h"
#include "canbus/device/canreader.h"
#include "canbus/device/canwriter.h"
#include "kubus/log/kulog.h"
#include "kubus/thread/threadstopper.h"
#include "kubus/thread/threadutils.h"
#include "kubus/thread/tsanannotations.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

namespace CanBus {

namespace {
// The pairs handed out by instance(), with the number of users that have not released them yet.
// Empty again when every user has released its pair, so nothing is left for the static
// destructors at exit, when the devices are long gone.
struct Registry {
    struct Entry {
        CanAsyncReadWrite* pair = nullptr;
        int users = 0;
    };
    QMutex mutex;
    QHash<CanDevice*, Entry> pairs;
};

Registry& registry()
{
    static Registry r;
    return r;
}
} // namespace

CanAsyncReadWrite* CanAsyncReadWrite::instance(CanDevice* device)
{
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    Registry::Entry& entry = r.pairs[device];
    if (!entry.pair)
        entry.pair = new CanAsyncReadWrite(device);
    ++entry.users;
    return entry.pair;
}

void CanAsyncReadWrite::release(CanDevice* device)
{
    CanAsyncReadWrite* last = nullptr;
    {
        Registry& r = registry();
        QMutexLocker lock(&r.mutex);
        const auto entry = r.pairs.find(device);
        if (entry == r.pairs.end() || --entry->users > 0)
            return;
        last = entry->pair;
        r.pairs.erase(entry);
    }
    delete last;
}

CanAsyncReadWrite::CanAsyncReadWrite(CanDevice* device, QObject* parent)
    : QObject(parent)
    , m_device(device)
    , m_readerThread(new QThread)
    , m_writerThread(new QThread)
    , m_reader(new CanReader(*device))
    , m_writer(new CanWriter(*device))
{
    qRegisterMetaType<QList<CanMessage>>("QList<CanMessage>");
    qRegisterMetaType<CanException>("CanException");
    qRegisterMetaType<CanMessage>("CanMessage");
    m_readerThread->setObjectName(QStringLiteral("CanReader"));
    m_writerThread->setObjectName(QStringLiteral("CanWriter"));

    connect(m_reader, &CanReader::ackRead, this, &CanAsyncReadWrite::readerAckRead,
        Qt::QueuedConnection);
    connect(
        m_reader, &CanReader::readError, this, &CanAsyncReadWrite::readError, Qt::QueuedConnection);
    connect(
        this, &CanAsyncReadWrite::triggerRead, m_reader, &CanReader::read, Qt::QueuedConnection);
    connect(
        m_writer, &CanWriter::ackWrite, this, &CanAsyncReadWrite::ackWrite, Qt::QueuedConnection);
    connect(m_writer, &CanWriter::writeError, this, &CanAsyncReadWrite::writeError,
        Qt::QueuedConnection);
    connect(
        this, &CanAsyncReadWrite::triggerWrite, m_writer, &CanWriter::write, Qt::QueuedConnection);

    // QThread::wait is a join the thread checker cannot see (Qt is not built for it); these
    // two marks tell it that everything a stopped thread did is over.
    for (QThread* thread : { m_readerThread, m_writerThread })
        connect(
            thread, &QThread::finished, thread, [thread] { ZEF_TSAN_RELEASE(thread); },
            Qt::DirectConnection);

    setAutoRead(true);
    start();
}

CanAsyncReadWrite::~CanAsyncReadWrite()
{
    {
        Registry& r = registry();
        QMutexLocker lock(&r.mutex);
        if (r.pairs.value(m_device).pair == this)
            r.pairs.remove(m_device);
    }
    stop();
    delete m_writer;
    delete m_reader;
    delete m_writerThread;
    delete m_readerThread;
}

void CanAsyncReadWrite::start()
{
    try {
        m_device->open(CanDevice::Blocking);
    } catch (const CanException& exception) {
        // The threads still start: reads and writes then fail as DEVICE_NOT_OPEN, and the
        // owner sees through isReady() that the device never came up.
        Kubus::kuPrint(QString("Error when opening the CAN device: %1").arg(exception.toString()),
            Q_FUNC_INFO);
    }
    for (auto [object, thread] : { std::pair<QObject*, QThread*>(m_reader, m_readerThread),
             std::pair<QObject*, QThread*>(m_writer, m_writerThread) }) {
        if (object->thread() != thread)
            object->moveToThread(thread);
        if (!thread->isRunning())
            thread->start();
        Kubus::waitForRunning(*thread);
    }
    if (m_autoRead.load())
        emit triggerRead();
}

void CanAsyncReadWrite::stop()
{
    setAutoRead(false);
    m_device->close();
    Kubus::ThreadStopper::processEventsAndStop(*m_writerThread);
    Kubus::ThreadStopper::processEventsAndStop(*m_readerThread);
    ZEF_TSAN_ACQUIRE(m_writerThread);
    ZEF_TSAN_ACQUIRE(m_readerThread);
}

void CanAsyncReadWrite::setAutoRead(bool on)
{
    m_autoRead.store(on);
    disconnect(m_autoReadConnection);
    // The chain hangs on readDone, once per read, rather than on every frame: a read that
    // brings several frames would otherwise queue reads faster than they are used.
    if (on)
        m_autoReadConnection = connect(
            m_reader, &CanReader::readDone, m_reader, &CanReader::read, Qt::QueuedConnection);
}

void CanAsyncReadWrite::read()
{
    emit triggerRead();
}

void CanAsyncReadWrite::write(const CanMessage& message)
{
    emit triggerWrite(message);
}

void CanAsyncReadWrite::readerAckRead(const CanMessage& message)
{
    emit ackRead(message);
}

} // namespace CanBus
