#include "sim/simulator.h"

#include "kubus/log/kulog.h"
#include "platform/rootpath.h"
#include "sim/rackdescription.h"
#include "sim/simbus.h"
#include "sim/statedump.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/signalfd.h>
#include <unistd.h>

namespace Sim {

namespace {

sigset_t controlSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGUSR1);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

} // namespace

Simulator::Simulator(QObject* parent)
    : QObject(parent)
{
    m_clock.start();
}

Simulator::~Simulator()
{
    delete m_signalNotifier;
    if (m_signalFd >= 0)
        ::close(m_signalFd);
    qDeleteAll(m_buses);
    m_buses.clear();
}

void Simulator::blockControlSignals()
{
    const sigset_t set = controlSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool Simulator::start(const Options& options, QString* error)
{
    m_options = options;
    if (!Platform::haveRoot()) {
        *error = "ZEF400_ROOT is not set: the simulator serves dev/can0 and dev/can1 under it";
        return false;
    }

    RackDescription rack = options.rackFile.isEmpty() ? RackDescription::defaultRack()
                                                      : RackDescription::fromFile(options.rackFile);
    if (!rack.ok()) {
        *error = options.rackFile.isEmpty()
            ? rack.errorText()
            : QString("%1: %2").arg(options.rackFile, rack.errorText());
        return false;
    }
    for (const QString& spec : options.faults) {
        NodeFault fault;
        if (!NodeFault::parse(spec, &fault, error)
            || !RackDescription::applyFault(rack.nodes, fault, error)) {
            *error = QString("--fault %1: %2").arg(NodeFault::shortPiece(spec), *error);
            return false;
        }
    }

    if (!options.traceFile.isEmpty() && !m_trace.open(options.traceFile, error))
        return false;

    // Before the sockets listen: whoever waits for them may signal at once. A signal that came
    // earlier is pending and is read here too.
    const sigset_t taken = controlSignals();
    m_signalFd = ::signalfd(-1, &taken, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_signalFd < 0) {
        *error
            = QString("cannot take signals: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_signalNotifier = new QSocketNotifier(m_signalFd, QSocketNotifier::Read, this);
    connect(m_signalNotifier, &QSocketNotifier::activated, this, &Simulator::onSignal);

    for (int bus = 0; bus < 2; ++bus) {
        auto* simBus = new SimBus(
            bus, rack.nodes, m_clock, options.realtime, m_trace.isOpen() ? &m_trace : nullptr);
        m_buses.append(simBus);
        for (const SimNode& node : simBus->nodes()) {
            for (const SimNode::ActiveFault& active : node.faults)
                Kubus::kuPrint(
                    QString("%1: fault %2").arg(node.name(), active.fault.spec), Q_FUNC_INFO);
        }
        if (!simBus->listen(Platform::rootPath(QString("/dev/can%1").arg(bus)), error))
            return false;
    }

    // The units' backplanes: a mainboard on can0 drives the slot lines of the amplifiers on can1.
    connect(m_buses.at(0), &SimBus::slotSignalled, m_buses.at(1), &SimBus::signalSlot,
        Qt::QueuedConnection);

    Kubus::kuPrint(
        QString("Simulator running%1").arg(options.realtime ? " in real time" : ""), Q_FUNC_INFO);
    return true;
}

bool Simulator::writeDump()
{
    if (m_options.dumpFile.isEmpty()) {
        Kubus::kuPrint("No state dump: started without --dump", Q_FUNC_INFO);
        return false;
    }
    QString error;
    if (!StateDump::write(m_options.dumpFile, m_buses, m_clock.nsecsElapsed() / 1000, &error)) {
        Kubus::kuPrint(QString("State dump failed: %1").arg(error), Q_FUNC_INFO);
        return false;
    }
    return true;
}

void Simulator::onSignal()
{
    signalfd_siginfo info {};
    if (::read(m_signalFd, &info, sizeof info) != ssize_t(sizeof info))
        return;
    if (info.ssi_signo == SIGUSR1) {
        writeDump();
        return;
    }
    Kubus::kuPrint(QString("Simulator ends on signal %1").arg(info.ssi_signo), Q_FUNC_INFO);
    for (SimBus* bus : m_buses)
        bus->logSummary();
    if (!m_options.dumpFile.isEmpty())
        writeDump();
    QCoreApplication::exit(0);
}

} // namespace Sim
