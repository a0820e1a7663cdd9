#pragma once

#include <QList>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QSettings>
#include <QVector>

namespace CanBus {

// Finds which power amplifier sits in which slot: for one unit at a time the unit's mainboard
// signals each wanted slot, and the amplifier in a signalled slot answers with its slot number.
// A unit with slots still missing after the answer window goes back to the end of the list, so
// other units come first; after five retries it is given up.
class PowerAmplifierPositionFinder : public QObject {
    Q_OBJECT

public:
    struct Position {
        int rack = -1;
        int unit = -1;
        int slot = -1;
    };

    // One unit to search; slots[i] true: an amplifier is expected in slot i.
    struct SearchJob {
        explicit SearchJob(const QVector<bool>& slotList = QVector<bool>());

        int mainBoardNodeId = -1;
        int rack = 0;
        int unit = 0;
        // "slots" is a keyword of the toolkit.
        QVector<bool> slotList;
        int maxRetries = 5;
        int retries = 0;
        int interval = 1000;
        int slotsNeeded = 0;
        int slotsFound = 0;
    };

    explicit PowerAmplifierPositionFinder(QObject* parent = nullptr);

    // Callable from any thread.
    void addSearchJob(const SearchJob& job);

    Position cachedPosition(int nodeId);
    void savePositionToCache(int nodeId, const Position& position);

    bool isSearching() const { return m_searching; }

public slots:
    void findPowerAmplifierPositions();
    void positionTimeout();
    void newSlotInfo(int nodeId, int slot);

signals:
    void startFindPowerAmplifierPositions();
    void positionOfPowerAmplifierFound(
        int nodeId, CanBus::PowerAmplifierPositionFinder::Position position);

private:
    bool m_searching = false;
    SearchJob m_currentJob;
    QList<SearchJob> m_jobs;
    // Guards the job list and the start of a search; jobs come from other threads.
    QMutex m_mutex;
    QSettings m_cache;
};

} // namespace CanBus

Q_DECLARE_METATYPE(CanBus::PowerAmplifierPositionFinder::Position)
