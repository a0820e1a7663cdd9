#include "noderig.h"

#include "canbus/engine/statemachine.h"
#include "canbus/routing/canmessagefactory.h"
#include "kubus/catalogue/mainboardbus.h"
#include "kubus/catalogue/poweramplifierbus.h"
#include "kubus/thread/signaledunblocker.h"
#include "kubus/thread/threadstopper.h"
#include "kubus/thread/threadutils.h"

#include <QFinalState>
#include <QState>

using namespace CanBus;

NodeRig::NodeRig(int bus)
    : m_bus(bus)
{
    Kubus::MainBoardBus::instance()->start();
    Kubus::PowerAmplifierBus::instance()->start();
    m_device = std::make_unique<CanDeviceScm>(CanConfiguration(
        bus == 0 ? CanConfiguration::MainBoardBus : CanConfiguration::PowerAmplifierBus));
    m_pair = new CanAsyncReadWrite(m_device.get());
    m_spontaneous = new CanSpontaneousMessageFactory;
    m_filter = new CanFilter(*m_spontaneous);
    m_setter = new CanDestinationSetter(
        bus == 0 ? CanIdentifier::MainBoard : CanIdentifier::PowerAmplifier);
    QObject::connect(m_pair, &CanAsyncReadWrite::ackRead, m_filter, &CanFilter::incommingMessage,
        Qt::QueuedConnection);
    QObject::connect(m_setter, &CanDestinationSetter::outMessage, m_pair, &CanAsyncReadWrite::write,
        Qt::QueuedConnection);
    m_ioThread.setObjectName("RigIo");
    for (QObject* object : { static_cast<QObject*>(m_pair), static_cast<QObject*>(m_filter),
             static_cast<QObject*>(m_setter), static_cast<QObject*>(m_spontaneous) })
        object->moveToThread(&m_ioThread);
    Kubus::waitForRunning(m_ioThread);
}

NodeRig::~NodeRig()
{
    m_pair->stop();
    for (auto& [id, node] : m_nodes) {
        // Commands live in the node's thread: it ends before they go.
        Kubus::ThreadStopper::processEventsAndStop(node.engine->thread());
        node.commands.clear();
        node.engine.reset();
    }
    Kubus::ThreadStopper::processEventsAndStop(m_ioThread);
    delete m_pair;
    delete m_filter;
    delete m_setter;
    delete m_spontaneous;
}

CanNodeEngine& NodeRig::addNode(
    unsigned nodeId, const std::function<Commands(CanNodeEngine&)>& makeCommands)
{
    Node& node = m_nodes[nodeId];
    node.engine = std::make_unique<CanNodeEngine>(nodeId);
    CanNodeEngine& engine = *node.engine;
    m_filter->registerCanMessageFactory(nodeId, engine.canMessageFactory());
    QObject::connect(&engine.canMessageFactory(), &CanMessageFactory::writeMessage, m_setter,
        &CanDestinationSetter::inMessage);
    Kubus::waitForRunning(engine.thread());
    Commands commands = makeCommands(engine);

    StateMachine& machine = engine.stateMachine();
    auto* idle = new QState(&machine);
    machine.setInitialState(idle);
    QObject::connect(idle, &QState::entered, &machine, &StateMachine::setIdle);

    Kubus::Bus* bus = m_bus == 0 ? static_cast<Kubus::Bus*>(Kubus::MainBoardBus::instance())
                                 : static_cast<Kubus::Bus*>(Kubus::PowerAmplifierBus::instance());
    for (auto& command : commands) {
        QState* outer = command->commandState();
        machine.addState(outer);
        idle->addTransition(command.get(), &StateMachineCommandBase::triggered, outer);
        outer->addTransition(outer, &QState::finished, idle);
        command->moveToThread(&engine.thread());
        // A test's own command without a meta-object of its own is driven directly.
        if (command->metaObject() == &StateMachineCommandBase::staticMetaObject)
            continue;

        const QString name = QString(command->metaObject()->className())
                                 .remove("CanBus::")
                                 .replace("Command_", "_");
        const QString request = "(Kubus::" + name + ")";
        const QString response = "(Kubus::" + name + "::Response)";
        const bool in = m_bus == 0
            ? Kubus::MainBoardBus::instance()->connectToNode(int(nodeId), "2message" + request,
                command.get(), "1incomingMessage" + request, Qt::AutoConnection)
            : Kubus::PowerAmplifierBus::instance()->connectToNode(int(nodeId), "2message" + request,
                command.get(), "1incomingMessage" + request, Qt::AutoConnection);
        const bool out = QObject::connect(
            command.get(), qPrintable("2message" + response), bus, qPrintable("1send" + response));
        if (!in || !out)
            qFatal("cannot connect %s", qPrintable(name));
    }
    node.commands = std::move(commands);

    machine.moveToThread(&engine.thread());
    engine.canMessageFactory().moveToThread(&engine.thread());
    Kubus::SignaledUnblocker started(&machine, SIGNAL(started()));
    QMetaObject::invokeMethod(
        &machine, [&machine] { machine.start(); }, Qt::QueuedConnection);
    started.block();
    return engine;
}
