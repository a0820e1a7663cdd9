#include "canbus/nodes/identifymodule.h"

#include "canbus/engine/statemachine.h"
#include "canbus/nodes/changabletimer.h"
#include "canbus/nodes/identifystatechart.h"
#include "canbus/routing/candestinationsetter.h"
#include "canbus/routing/canmessageevent.h"
#include "kubus/log/kulog.h"
#include "kubus/thread/signaledunblocker.h"

#include <QFinalState>
#include <QSignalTransition>
#include <QState>

namespace CanBus {

IdentifyModule::IdentifyModule(
    CanFilter& filter, CanDestinationSetter& setter, const QString& cacheFile)
    : m_filter(filter)
    , m_setter(setter)
    , m_machine(new StateMachine(this))
    , m_chart(
          new IdentifyStateChart(*m_machine, setter, IdentifyStateChart::Config, cacheFile, this))
    , m_repeatTimer(new ChangableTimer(this))
{
    m_thread.setObjectName(
        QStringLiteral("Identify ") + CanIdentifier::toString(setter.destination()));
    m_repeatTimer->setSingleShot(true);
    m_repeatTimer->setNextInterval(4000);

    auto* idle = new QState(m_machine);
    QState* cycle = m_chart->state();
    m_machine->addState(cycle);
    m_result = new QState(m_machine);
    m_machine->setInitialState(idle);

    idle->addTransition(this, &IdentifyModule::startIdentify, cycle);
    idle->addTransition(m_repeatTimer, &QTimer::timeout, cycle);
    cycle->addTransition(cycle, &QState::finished, m_result);
    cycle->addTransition(this, &IdentifyModule::stopIdentify, idle);
    m_result->addTransition(this, &IdentifyModule::calcKubusMessagesFinished, idle);
    connect(this, &IdentifyModule::stopIdentify, m_repeatTimer, &QTimer::stop);
    connect(m_result, &QState::exited, m_repeatTimer, &ChangableTimer::startNextInterval);
    m_resultConnection
        = connect(m_result, &QState::entered, this, &IdentifyModule::onIdentifyResult);
    connect(this, &IdentifyModule::startTimer, this, &IdentifyModule::startIdentify,
        Qt::QueuedConnection);

    moveToThread(&m_thread);
    m_thread.start();
    Kubus::SignaledUnblocker started(m_machine, SIGNAL(started()));
    StateMachine* machine = m_machine;
    QMetaObject::invokeMethod(
        m_machine, [machine] { machine->start(); }, Qt::QueuedConnection);
    started.block();
}

IdentifyModule::~IdentifyModule()
{
    emit stopIdentify();
    // Timers can only be stopped in their own thread: the machine, the chart and the repeat
    // timer are taken down there.
    QMetaObject::invokeMethod(
        m_machine,
        [this] {
            m_machine->stop();
            delete m_machine;
            delete m_chart;
            delete m_repeatTimer;
        },
        Qt::BlockingQueuedConnection);
    m_machine = nullptr;
    m_chart = nullptr;
    m_repeatTimer = nullptr;
    m_thread.quit();
    m_thread.wait();
}

void IdentifyModule::setWaitForReplyInterval(int ms)
{
    m_chart->setWaitForReplyInterval(ms);
}

void IdentifyModule::setRepeatInterval(int ms)
{
    m_repeatTimer->setNextInterval(ms);
}

void IdentifyModule::setMinimumFindNodes(int count)
{
    m_minimumFindNodes = count;
}

void IdentifyModule::setSendFoundNodes(bool on)
{
    m_sendFoundNodes = on;
}

void IdentifyModule::initCachedNodes()
{
    // The chart lives in the module's thread; its frames and database are used there only.
    IdentifyStateChart* chart = m_chart;
    QMetaObject::invokeMethod(
        m_chart, [chart] { chart->initCachedNodes(); }, Qt::BlockingQueuedConnection);
}

void IdentifyModule::start()
{
    emit startTimer();
}

void IdentifyModule::stop()
{
    emit stopIdentify();
}

void IdentifyModule::incomingMessage(const CanMessage& message)
{
    m_machine->postEvent(new CanMessageEvent(message));
}

void IdentifyModule::stopIdentifyMessage()
{
    disconnect(m_resultConnection);
    m_resultConnection = connect(
        m_result, &QState::entered, this, &IdentifyModule::slotOnIdentifyResultNoKubusMessageSend);
}

void IdentifyModule::startIdentifyMessage()
{
    disconnect(m_resultConnection);
    m_resultConnection
        = connect(m_result, &QState::entered, this, &IdentifyModule::onIdentifyResult);
}

void IdentifyModule::slotOnIdentifyResultNoKubusMessageSend()
{
    m_chart->dataBase().clear();
    emit calcKubusMessagesFinished();
}

std::pair<bool, int> IdentifyModule::findNode(
    const Kubus::CanDeviceInfo& info, const QVector<Kubus::CanDeviceInfo>& list) const
{
    for (const Kubus::CanDeviceInfo& entry : list)
        if (entry.serialNumber == info.serialNumber && entry.partNumber == info.partNumber
            && entry.variant == info.variant)
            return { true, entry.nodeId };
    for (const Kubus::CanDeviceInfo& entry : list) {
        if (entry.nodeId != info.nodeId)
            continue;
        Kubus::kuPrint(QStringLiteral("Canbus error detected: unknown device uses node id which "
                                      "is already in use: %1")
                           .arg(info.nodeId),
            Q_FUNC_INFO);
        Kubus::kuPrint(QStringLiteral("Available node: %1").arg(entry.toString()), Q_FUNC_INFO);
        Kubus::kuPrint(QStringLiteral("Unknown node  : %1").arg(info.toString()), Q_FUNC_INFO);
        Kubus::kuPrint("This error will be ignored!", Q_FUNC_INFO);
        return { true, info.nodeId };
    }
    return { false, 0 };
}

void IdentifyModule::onIdentifyResult()
{
    Kubus::IdentifyFoundNodes found;
    found.nodes = m_chart->dataBase().nodes();

    QVector<Kubus::CanDeviceInfo> missed;
    int silent = 0;
    for (Kubus::CanDeviceInfo& known : m_knownNodes) {
        const auto [isFound, nodeId] = findNode(known, found.nodes);
        if (isFound) {
            known.missCounter = 0;
            if (nodeId != known.nodeId)
                Kubus::kuPrint(QStringLiteral("---> Different nodeIds - new id: %1  ild id %2")
                                   .arg(nodeId)
                                   .arg(known.nodeId),
                    Q_FUNC_INFO);
            continue;
        }
        Kubus::kuPrint(QStringLiteral("IdentifyModule: no answer from node %1 (%2.%3.%4)")
                           .arg(known.nodeId)
                           .arg(known.estimatedPartNumber())
                           .arg(known.variant)
                           .arg(known.serialNumber),
            Q_FUNC_INFO);
        ++silent;
        if (++known.missCounter >= known.missLimit)
            missed.append(known);
    }
    if (!m_knownNodes.isEmpty() && silent == m_knownNodes.size())
        Kubus::kuPrint("All nodes are lost!", Q_FUNC_INFO);

    for (const Kubus::CanDeviceInfo& node : std::as_const(found.nodes)) {
        if (findNode(node, m_knownNodes).first)
            continue;
        m_knownNodes.append(node);
        m_newNodes.nodes.append(node);
    }
    for (const Kubus::CanDeviceInfo& gone : std::as_const(missed)) {
        for (int i = 0; i < m_knownNodes.size(); ++i) {
            const Kubus::CanDeviceInfo& known = m_knownNodes.at(i);
            if (known.serialNumber == gone.serialNumber && known.partNumber == gone.partNumber
                && known.variant == gone.variant) {
                m_knownNodes.removeAt(i);
                break;
            }
        }
    }

    if (!m_chart->dataBase().nodesWithoutId().isEmpty()) {
        Kubus::IdentifyFoundNodes withoutId;
        withoutId.nodes = m_chart->dataBase().nodesWithoutId();
        emit nodesWithoutId(withoutId);
    }
    if (m_sendFoundNodes)
        emit foundNodes(found);
    sendNewNodes(m_minimumFindNodes);
    if (!missed.isEmpty()) {
        logNodes(QStringLiteral("Missed nodes:"), missed);
        Kubus::IdentifyMissingNodes missing;
        missing.nodes = missed;
        emit missingNodes(missing);
    }
    m_chart->cache().update(found);
    m_chart->dataBase().clear();
    emit calcKubusMessagesFinished();
}

void IdentifyModule::sendNewNodes(int minimum)
{
    if (m_newNodes.nodes.isEmpty() || m_newNodes.nodes.size() < minimum)
        return;
    logNodes(QStringLiteral("New nodes:"), m_newNodes.nodes);
    emit newNodes(m_newNodes);
    m_newNodes.nodes.clear();
}

void IdentifyModule::logNodes(const QString& label, const QVector<Kubus::CanDeviceInfo>& list) const
{
    QString ids;
    for (const Kubus::CanDeviceInfo& info : list)
        ids += QString::number(info.nodeId) + QLatin1Char(' ');
    Kubus::kuPrint(QStringLiteral("IdentifyModule on %1 bus. %2 %3")
                       .arg(CanIdentifier::toString(m_setter.destination()), label, ids),
        Q_FUNC_INFO);
}

} // namespace CanBus
