#include "canbus/proxy/proxy.h"

#include "canbus/device/canasyncreadwrite.h"
#include "canbus/engine/cannodeengine.h"
#include "canbus/engine/statemachine.h"
#include "canbus/engine/statemachinecommandbase.h"
#include "canbus/nodes/firmwareupdate.h"
#include "canbus/nodes/identifymodule.h"
#include "canbus/nodes/operate.h"
#include "canbus/nodes/ping.h"
#include "canbus/nodes/reset.h"
#include "canbus/proxy/identifyspontaneous.h"
#include "canbus/routing/candestinationsetter.h"
#include "canbus/routing/canfilter.h"
#include "canbus/routing/canmessagefactory.h"
#include "canbus/routing/canspontaneousmessagefactory.h"
#include "canbus/routing/spontaneousbase.h"
#include "kubus/bus/bus.h"
#include "kubus/log/kulog.h"
#include "kubus/thread/signaledunblocker.h"
#include "kubus/thread/threadstopper.h"
#include "kubus/thread/threadutils.h"

#include <QElapsedTimer>
#include <QFinalState>
#include <QMutexLocker>
#include <QSignalTransition>
#include <QState>
#include <QTimer>

#include <cstdio>

namespace CanBus {

Proxy::Proxy(
    CanDevice* device, CanIdentifier::eDestination destination, const QString& nodeCacheFile)
    : m_device(device)
    , m_spontaneousFactory(new CanSpontaneousMessageFactory)
    , m_filter(new CanFilter(*m_spontaneousFactory))
    , m_destinationSetter(new CanDestinationSetter(destination))
    , m_identifyModule(new IdentifyModule(*m_filter, *m_destinationSetter, nodeCacheFile))
    , m_destination(destination)
{
    const QString bus = CanIdentifier::toString(destination);
    m_proxyThread.setObjectName(QStringLiteral("Proxy ") + bus);
    m_spontaneousThread.setObjectName(QStringLiteral("Spontaneous ") + bus);
    m_ioThread.setObjectName(QStringLiteral("CanIo ") + bus);
    m_identifyModule->setMinimumFindNodes(1);
    m_firmwareTimeout = -1;
    if (m_device) {
        m_pair = CanAsyncReadWrite::instance(m_device);
        m_pair->moveToThread(&m_ioThread);
    }
    m_filter->moveToThread(&m_ioThread);
    m_destinationSetter->moveToThread(&m_ioThread);
    moveToThread(&m_proxyThread);
}

Proxy::~Proxy()
{
    stopApiService();
    delete m_identifyModule;
    {
        QMutexLocker lock(&m_nodesMutex);
        for (CanNodeEngine* engine : std::as_const(m_engines))
            Kubus::ThreadStopper::processEventsAndStop(engine->thread());
        qDeleteAll(m_commands);
        m_commands.clear();
        qDeleteAll(m_engines);
        m_engines.clear();
    }
    delete m_spontaneous;
    delete m_filter;
    delete m_destinationSetter;
    delete m_spontaneousFactory;
}

void Proxy::setBus(Kubus::Bus* bus)
{
    m_bus = bus;
    connect(this, SIGNAL(nodesChanged(Kubus::IdentifyNewNodes)), bus,
        SLOT(send(Kubus::IdentifyNewNodes)));
    connect(this, SIGNAL(nodesChanged(Kubus::IdentifyFoundNodes)), bus,
        SLOT(send(Kubus::IdentifyFoundNodes)));
    connect(this, SIGNAL(nodesChanged(Kubus::IdentifyMissingNodes)), bus,
        SLOT(send(Kubus::IdentifyMissingNodes)));
    connect(bus, SIGNAL(message(Kubus::IdentifyInfo)), this,
        SLOT(handleIdentifyInfo(Kubus::IdentifyInfo)));
}

void Proxy::startApiService()
{
    if (!m_device || m_started)
        return;
    m_started = true;
    connect(m_pair, &CanAsyncReadWrite::ackRead, m_filter, &CanFilter::incommingMessage,
        Qt::QueuedConnection);
    connect(m_filter, &CanFilter::spontaneousMessage, m_spontaneousFactory,
        &CanSpontaneousMessageFactory::interpretIncomingCanMessage, Qt::QueuedConnection);
    connect(m_destinationSetter, &CanDestinationSetter::outMessage, m_pair,
        &CanAsyncReadWrite::write, Qt::QueuedConnection);
    connect(m_filter, &CanFilter::identifyMessage, m_identifyModule,
        &IdentifyModule::incomingMessage, Qt::QueuedConnection);
    connect(m_identifyModule, &IdentifyModule::foundNodes, this, &Proxy::handleFoundNodes);
    connect(m_identifyModule, &IdentifyModule::newNodes, this, &Proxy::handleNewNodes);
    connect(m_identifyModule, &IdentifyModule::missingNodes, this, &Proxy::handleMissingNodes);
    connect(
        m_pair, &CanAsyncReadWrite::readError, this, &Proxy::handleReadError, Qt::QueuedConnection);

    m_proxyThread.start(QThread::InheritPriority);
    m_ioThread.start(QThread::InheritPriority);
    Kubus::waitForRunning(m_proxyThread);
    Kubus::waitForRunning(m_ioThread);

    if (m_spontaneous) {
        m_spontaneous->create(m_pair, *m_spontaneousFactory);
        for (auto* watcher : m_spontaneous->findChildren<IdentifySpontaneous*>()) {
            watcher->setStopForMaintenance(m_stopOnOtherBusMaster);
            connect(watcher, &IdentifySpontaneous::otherBusMaster, this, &Proxy::otherBusMaster);
        }
        m_spontaneous->moveToThread(&m_spontaneousThread);
        m_spontaneousFactory->moveToThread(&m_spontaneousThread);
        m_spontaneousThread.start(QThread::InheritPriority);
        Kubus::waitForRunning(m_spontaneousThread);
    }

    m_identifyModule->initCachedNodes();
    m_identifyModule->start();
    Kubus::kuPrint(
        QStringLiteral("Proxy on %1 bus started").arg(CanIdentifier::toString(m_destination)),
        Q_FUNC_INFO);
}

void Proxy::stopApiService()
{
    if (m_pair) {
        CanAsyncReadWrite* pair = m_pair;
        // The pair lives in the I/O thread; stop it there unless that thread is gone already.
        if (m_ioThread.isRunning())
            QMetaObject::invokeMethod(
                pair, [pair] { pair->stop(); }, Qt::BlockingQueuedConnection);
        else
            pair->stop();
    }
    m_identifyModule->stop();
    emit stopService();
    if (m_spontaneous)
        Kubus::ThreadStopper::processEventsAndStop(m_spontaneousThread);
    Kubus::ThreadStopper::processEventsAndStop(m_ioThread);
    Kubus::ThreadStopper::processEventsAndStop(m_proxyThread);
    if (m_pair) {
        // Nothing of the proxy uses the pair any more: the threads that did are stopped.
        CanAsyncReadWrite::release(m_device);
        m_pair = nullptr;
    }
}

void Proxy::handleIdentifyInfo(const Kubus::IdentifyInfo& info)
{
    // -1 (all bits set) leaves a setting as it is.
    if (unsigned(info.waitForReplyInterval) != 0xFFFFFFFFu)
        m_identifyModule->setWaitForReplyInterval(info.waitForReplyInterval);
    if (unsigned(info.repeatInterval) != 0xFFFFFFFFu)
        m_identifyModule->setRepeatInterval(info.repeatInterval);
    if (unsigned(info.minimumFindNodes) != 0xFFFFFFFFu)
        m_identifyModule->setMinimumFindNodes(info.minimumFindNodes);
    m_identifyModule->setSendFoundNodes(info.sendFoundNodes);
}

void Proxy::handleFoundNodes(const Kubus::IdentifyFoundNodes& nodes)
{
    for (const Kubus::CanDeviceInfo& node : nodes.nodes)
        addNodeStateMachine(unsigned(node.nodeId));
    emit nodesChanged(nodes);
}

void Proxy::handleNewNodes(const Kubus::IdentifyNewNodes& nodes)
{
    for (const Kubus::CanDeviceInfo& node : nodes.nodes)
        addNodeStateMachine(unsigned(node.nodeId));
    emit nodesChanged(nodes);
}

void Proxy::handleMissingNodes(const Kubus::IdentifyMissingNodes& nodes)
{
    emit nodesChanged(nodes);
}

// A failed read ends the reader's chain for good (our own close reads as DEVICE_NOT_OPEN): no
// answer can come any more, so a command waiting for one would only wait out its time-out.
void Proxy::handleReadError(const CanException& exception)
{
    if (exception.code() == CanException::DEVICE_NOT_OPEN || m_deviceLost.exchange(true))
        return;
    Kubus::kuPrint(QStringLiteral("CAN device of the %1 bus lost (%2): commands end at once")
                       .arg(CanIdentifier::toString(m_destination), exception.toString()),
        Q_FUNC_INFO);
    failRunningCommands();
    emit deviceLost(exception);
}

void Proxy::endAllCommands()
{
    m_deviceLost = true;
    failRunningCommands();
}

void Proxy::failRunningCommands()
{
    QMutexLocker lock(&m_nodesMutex);
    for (CanNodeEngine* engine : std::as_const(m_engines))
        engine->stateMachine().failRunningJob();
}

// Every node gets one machine: an idle state from which each command's outer state is entered
// on its trigger and left back to idle, so the node runs one command at a time.
void Proxy::addNodeStateMachine(unsigned nodeId)
{
    if (nodeId >= CanIdentifier::BroadcastNodeId)
        return;
    CanNodeEngine* engine = nullptr;
    {
        QMutexLocker lock(&m_nodesMutex);
        if (m_engines.contains(nodeId))
            return;
        engine = new CanNodeEngine(nodeId);
        m_engines.insert(nodeId, engine);
    }
    CanMessageFactory& factory = engine->canMessageFactory();
    m_filter->registerCanMessageFactory(nodeId, factory);
    connect(&factory, &CanMessageFactory::writeMessage, m_destinationSetter,
        &CanDestinationSetter::inMessage);
    Kubus::waitForRunning(engine->thread());

    StateMachine& machine = engine->stateMachine();
    auto* idle = new QState(&machine);
    auto* final = new QFinalState(&machine);
    machine.setInitialState(idle);
    idle->addTransition(this, &Proxy::stopService, final);
    connect(idle, &QState::entered, &machine, &StateMachine::setIdle);

    addCommands(*engine, idle);

    machine.moveToThread(&engine->thread());
    factory.moveToThread(&engine->thread());
    Kubus::SignaledUnblocker started(&machine, SIGNAL(started()));
    StateMachine* m = &machine;
    QMetaObject::invokeMethod(
        m, [m] { m->start(); }, Qt::QueuedConnection);
    started.block();
}

void Proxy::addCommand(QState* idle, StateMachineCommandBase* command, const QString& name)
{
    CanNodeEngine& engine = command->canNodeEngine();
    {
        QMutexLocker lock(&m_nodesMutex);
        m_commands.append(command);
    }
    QState* outer = command->commandState();
    engine.stateMachine().addState(outer);
    idle->addTransition(command, &StateMachineCommandBase::triggered, outer);
    outer->addTransition(outer, &QState::finished, idle);
    command->moveToThread(&engine.thread());
    // A job that starts after the device was lost missed failRunningCommands().
    StateMachine* machine = &engine.stateMachine();
    connect(command, &StateMachineCommandBase::started, command, [this, machine] {
        if (m_deviceLost)
            machine->failRunningJob();
    });

    QString request = name;
    if (request.isEmpty()) {
        request = QString::fromLatin1(command->metaObject()->className());
        request.remove(QStringLiteral("CanBus::"));
        request.replace(QStringLiteral("Command_"), QStringLiteral("_"));
    }
    if (!m_bus) {
        Kubus::kuPrint("No bus set", Q_FUNC_INFO);
        return;
    }
    const QString type = QStringLiteral("(Kubus::") + request;
    connectToNode(int(engine.nodeId()), QStringLiteral("2message") + type + QStringLiteral(")"),
        command, QStringLiteral("1incomingMessage") + type + QStringLiteral(")"));
    const QByteArray signal
        = (QStringLiteral("2message") + type + QStringLiteral("::Response)")).toLatin1();
    const QByteArray slot
        = (QStringLiteral("1send") + type + QStringLiteral("::Response)")).toLatin1();
    connect(command, signal.constData(), m_bus, slot.constData());
}

void Proxy::addFirmwareUpdate(FirmwareUpdate* command, QState* idle, Kubus::Bus* bus)
{
    command->setTimeoutInterval(m_firmwareTimeout);
    addCommand(idle, command);
    connect(command, SIGNAL(signalFirmwareUpdateProgress(Kubus::FirmwareUpdateProgress)), bus,
        SLOT(send(Kubus::FirmwareUpdateProgress)));
    connect(command, &FirmwareUpdate::signalStopIdentify, m_identifyModule,
        &IdentifyModule::stopIdentifyMessage);
    connect(command, &FirmwareUpdate::signalStartIdentify, m_identifyModule,
        &IdentifyModule::startIdentifyMessage);
}

void Proxy::addNodeCommands(
    CanNodeEngine& engine, QState* idle, const QList<StateMachineCommandBase*>& busCommands)
{
    addCommand(idle, new Reset(engine));
    addCommand(idle, new Ping(engine));
    addCommand(idle, new Operate(engine));
    for (StateMachineCommandBase* command : busCommands)
        addCommand(idle, command);
    addFirmwareUpdate(new FirmwareUpdate(engine), idle, m_bus);
}

FirmwareUpdate* Proxy::firmwareUpdateCommand(int nodeId) const
{
    QMutexLocker lock(&m_nodesMutex);
    for (StateMachineCommandBase* command : m_commands)
        if (int(command->canNodeEngine().nodeId()) == nodeId)
            if (auto* update = qobject_cast<FirmwareUpdate*>(command))
                return update;
    return nullptr;
}

void Proxy::startAliveTimer()
{
    static QTimer* timer = nullptr;
    if (!timer) {
        timer = new QTimer;
        timer->setSingleShot(true);
        timer->setInterval(2000);
        connect(timer, &QTimer::timeout, this, &Proxy::stillAlive);
    }
    timer->start();
}

void Proxy::stillAlive()
{
    static int counter = 0;
    static QElapsedTimer clock;
    const qint64 ms = clock.isValid() ? clock.restart() : (clock.start(), 0);
    std::printf("SERIAL(02)-%d-%lldms\n", counter++, static_cast<long long>(ms));
    std::fflush(stdout);
    startAliveTimer();
}

} // namespace CanBus
