#pragma once

#include "canbus/frame/canmessage.h"
#include "kubus/catalogue/onewayrecords.h"

#include <QObject>
#include <QThread>
#include <QVector>

#include <atomic>
#include <utility>

class QState;

namespace CanBus {

class CanDestinationSetter;
class CanFilter;
class ChangableTimer;
class IdentifyStateChart;
class StateMachine;

// The node discovery of one bus, in a thread of its own. Identify cycles follow each other with
// the repeat interval between the end of one and the start of the next:
//
//   Idle --start / repeat timer--> Cycle --chart done--> Result --reported--> Idle
//
// After each cycle it compares the answering nodes with the known ones and reports found, new
// and missing nodes. While a firmware transfer runs the cycles go on (a node that restarts
// after its update must get its id again) but nothing is reported or cached: the node being
// updated is silent for a while and must not count as missing.
class IdentifyModule : public QObject {
    Q_OBJECT

public:
    IdentifyModule(CanFilter& filter, CanDestinationSetter& setter, const QString& cacheFile);
    ~IdentifyModule() override;

    void setWaitForReplyInterval(int ms);
    void setRepeatInterval(int ms);
    void setMinimumFindNodes(int count);
    void setSendFoundNodes(bool on);

    void initCachedNodes();

    // (found, node id) of info in list: by identity, or by node id as a conflict.
    std::pair<bool, int> findNode(
        const Kubus::CanDeviceInfo& info, const QVector<Kubus::CanDeviceInfo>& list) const;

public slots:
    void start();
    void stop();
    void incomingMessage(const CanBus::CanMessage& message);
    void stopIdentifyMessage();
    void startIdentifyMessage();
    void onIdentifyResult();
    void slotOnIdentifyResultNoKubusMessageSend();

signals:
    void foundNodes(const Kubus::IdentifyFoundNodes& nodes);
    void newNodes(const Kubus::IdentifyNewNodes& nodes);
    void missingNodes(const Kubus::IdentifyMissingNodes& nodes);
    // Nodes that answered a cycle but got no id, every id of the bus being taken; emitted before
    // that cycle's foundNodes, and only when there are such nodes.
    void nodesWithoutId(const Kubus::IdentifyFoundNodes& nodes);
    void calcKubusMessagesFinished();
    void stopIdentify();
    void startTimer();
    void startIdentify();

private:
    void sendNewNodes(int minimum);
    void logNodes(const QString& label, const QVector<Kubus::CanDeviceInfo>& list) const;

    CanFilter& m_filter;
    CanDestinationSetter& m_setter;
    StateMachine* m_machine;
    IdentifyStateChart* m_chart;
    ChangableTimer* m_repeatTimer;
    QThread m_thread;
    // The setters are called from other threads.
    std::atomic<int> m_minimumFindNodes { 1 };
    std::atomic<bool> m_sendFoundNodes { false };
    Kubus::IdentifyNewNodes m_newNodes;
    QVector<Kubus::CanDeviceInfo> m_knownNodes;
    QState* m_result = nullptr;
    QMetaObject::Connection m_resultConnection;
};

} // namespace CanBus
