#include "canbus/nodes/poweramplifierpositionfinder.h"

#include "kubus/catalogue/mainboardbus.h"
#include "kubus/log/kulog.h"
#include "platform/rootpath.h"

#include <QMutexLocker>
#include <QTimer>

namespace CanBus {

namespace {

const QString CacheFile = QStringLiteral("/var/etc/PowerAmplifierPositionCache.ini");
const QString CacheArray = QStringLiteral("Positions");

} // namespace

PowerAmplifierPositionFinder::SearchJob::SearchJob(const QVector<bool>& slotList)
    : slotList(slotList)
    , slotsNeeded(int(std::count(slotList.begin(), slotList.end(), true)))
{
}

PowerAmplifierPositionFinder::PowerAmplifierPositionFinder(QObject* parent)
    : QObject(parent)
    , m_cache(Platform::rootPath(CacheFile), QSettings::IniFormat)
{
    if (!QMetaType::fromName("CanBus::PowerAmplifierPositionFinder::Position").isValid())
        qRegisterMetaType<Position>("CanBus::PowerAmplifierPositionFinder::Position");
    connect(this, &PowerAmplifierPositionFinder::startFindPowerAmplifierPositions, this,
        &PowerAmplifierPositionFinder::findPowerAmplifierPositions, Qt::QueuedConnection);
}

void PowerAmplifierPositionFinder::addSearchJob(const SearchJob& job)
{
    QMutexLocker lock(&m_mutex);
    m_jobs.append(job);
    emit startFindPowerAmplifierPositions();
}

void PowerAmplifierPositionFinder::findPowerAmplifierPositions()
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_searching || m_jobs.isEmpty())
            return;
        m_searching = true;
        m_currentJob = m_jobs.takeFirst();
    }
    Kubus::kuPrint(QStringLiteral("Searching for amplifiers in rack %1 unit %2 ...")
                       .arg(m_currentJob.rack)
                       .arg(m_currentJob.unit),
        Q_FUNC_INFO);
    for (int slot = 0; slot < m_currentJob.slotList.size(); ++slot) {
        if (!m_currentJob.slotList.at(slot))
            continue;
        Kubus::MainBoard_SetPosition_PowerAmplifier request;
        request.nodeId = m_currentJob.mainBoardNodeId;
        request.value1 = slot;
        Kubus::MainBoardBus::instance()->send(request);
    }
    QTimer::singleShot(m_currentJob.interval, this, &PowerAmplifierPositionFinder::positionTimeout);
}

void PowerAmplifierPositionFinder::newSlotInfo(int nodeId, int slot)
{
    if (!m_searching || slot < 0 || slot >= m_currentJob.slotList.size()
        || !m_currentJob.slotList.at(slot))
        return;
    ++m_currentJob.slotsFound;
    m_currentJob.slotList[slot] = false;
    Position position;
    position.rack = m_currentJob.rack;
    position.unit = m_currentJob.unit;
    position.slot = slot;
    emit positionOfPowerAmplifierFound(nodeId, position);
}

void PowerAmplifierPositionFinder::positionTimeout()
{
    const SearchJob& job = m_currentJob;
    if (job.slotsFound == job.slotsNeeded) {
        Kubus::kuPrint(
            QStringLiteral("    Finished. SUCCESS %1 amplifiers found in rack %2 unit %3.")
                .arg(job.slotsFound)
                .arg(job.rack)
                .arg(job.unit),
            Q_FUNC_INFO);
    } else if (job.retries >= job.maxRetries) {
        Kubus::kuPrint(QStringLiteral("    Finished. ERROR: %1 amplifiers found but %2 are needed "
                                      "in rack %4 unit %5. Tried it %3 times.")
                           .arg(job.slotsFound)
                           .arg(job.slotsNeeded)
                           .arg(job.retries)
                           .arg(job.rack)
                           .arg(job.unit),
            Q_FUNC_INFO);
    } else {
        SearchJob retry = job;
        ++retry.retries;
        addSearchJob(retry);
    }
    {
        QMutexLocker lock(&m_mutex);
        m_searching = false;
    }
    QTimer::singleShot(
        job.interval, this, &PowerAmplifierPositionFinder::startFindPowerAmplifierPositions);
}

PowerAmplifierPositionFinder::Position PowerAmplifierPositionFinder::cachedPosition(int nodeId)
{
    Position position;
    const int size = m_cache.beginReadArray(CacheArray);
    if (nodeId >= 0 && nodeId < size) {
        m_cache.setArrayIndex(nodeId);
        position.rack = m_cache.value(QStringLiteral("rack"), -1).toInt();
        position.unit = m_cache.value(QStringLiteral("unit"), -1).toInt();
        position.slot = m_cache.value(QStringLiteral("slot"), -1).toInt();
    }
    m_cache.endArray();
    return position;
}

void PowerAmplifierPositionFinder::savePositionToCache(int nodeId, const Position& position)
{
    const Position cached = cachedPosition(nodeId);
    if (cached.rack == position.rack && cached.unit == position.unit
        && cached.slot == position.slot)
        return;
    const int size = m_cache.beginReadArray(CacheArray);
    m_cache.endArray();
    m_cache.beginWriteArray(CacheArray, qMax(size, nodeId + 1));
    m_cache.setArrayIndex(nodeId);
    m_cache.setValue(QStringLiteral("rack"), position.rack);
    m_cache.setValue(QStringLiteral("unit"), position.unit);
    m_cache.setValue(QStringLiteral("slot"), position.slot);
    m_cache.endArray();
    m_cache.sync();
}

} // namespace CanBus
