#pragma once

#include "kubus/log/callstack.h"
#include "kubus/log/kulog.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QThread>

#include <mutex>

namespace Kubus {

// The per-key sub-buses of bus type B. Only the master (the bus for all nodes) has a key map;
// every sub-bus lives in the one thread of its type.
template <class B, class K> class BusPerKey {
public:
    using KeyMap = QMap<K, B*>;

    virtual ~BusPerKey()
    {
        if (master == this)
            master = nullptr;
        if (keys) {
            qDeleteAll(*keys);
            delete keys;
        }
    }

    // One thread for all buses of type B. Never destroyed: a bus still running at program exit
    // must not abort the exit by destroying its running thread.
    static QThread& bus_thread()
    {
        static QThread* thread = [] {
            auto* t = new QThread;
            t->setObjectName(QStringLiteral("KubusBus"));
            return t;
        }();
        return *thread;
    }

    static inline BusPerKey* master = nullptr;

    B* keyBus(K key)
    {
        if (!keys)
            return nullptr;
        {
            std::lock_guard<std::mutex> lock(keysMutex);
            const auto it = keys->constFind(key);
            if (it != keys->constEnd())
                return it.value();
        }
        kuPrint(QString("BusPerKey -> unknown key %1").arg(key), Q_FUNC_INFO);
        printCallStack();
        return nullptr;
    }

    void createKeyBus(K key)
    {
        if (!keys)
            return;
        std::lock_guard<std::mutex> lock(keysMutex);
        if (!keys->contains(key))
            keys->insert(key, newNodeBus(bus_thread()));
    }

    bool connectToKey(K key, const QString& signal, QObject* receiver, const QString& slot,
        Qt::ConnectionType type)
    {
        if (!master)
            return false;
        createKeyBus(key);
        B* bus = master->keyBus(key);
        if (!bus)
            return false;
        // Qt 4 converted with toAscii(); toLatin1() is its replacement.
        return QObject::connect(
            bus, signal.toLatin1().constData(), receiver, slot.toLatin1().constData(), type);
    }

    virtual B* newNodeBus(QThread& thread) = 0;

protected:
    BusPerKey() = default;
    BusPerKey(const BusPerKey&) = delete;
    BusPerKey& operator=(const BusPerKey&) = delete;

    // Called by instance() on the bus for all nodes: the first one becomes the master.
    void becomeMaster()
    {
        if (master)
            return;
        keys = new KeyMap;
        master = this;
    }

    bool hasKeyMap() const { return keys != nullptr; }

private:
    KeyMap* keys = nullptr;
    // The map is written by whoever learns of a node (proxy, clients) while the bus thread reads
    // it for every forwarded record.
    std::mutex keysMutex;
};

} // namespace Kubus
