#include "kubus/log/kulog.h"
#include "kubus/thread/threadutils.h"
#include "sim/rackdescription.h"
#include "sim/simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    // Before any thread exists, so that every thread inherits the blocked set.
    Sim::Simulator::blockControlSignals();
    // The log server's port belongs to the program under test; the simulator's own log server
    // takes any free port so that both can run side by side.
    qputenv("ZEF400_LOG_PORT", "0");
    Kubus::useQtEventDispatcher();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("zef400-sim");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "CAN node simulator: plays the boards of both buses on the device sockets dev/can0 and "
        "dev/can1 under ZEF400_ROOT.");
    parser.addHelpOption();
    const QCommandLineOption rack("rack", "Rack description (default: the built-in rack).", "FILE");
    const QCommandLineOption trace("trace", "Write every frame of both buses to FILE.", "FILE");
    const QCommandLineOption realtime(
        "realtime", "Deliver each frame only when its modelled end has passed on the wall clock.");
    const QCommandLineOption fault(
        "fault", "Add a fault, e.g. can1/2003,silent (repeatable; see sim/README.md).", "SPEC");
    const QCommandLineOption dump(
        "dump", "Write the node model to FILE on SIGUSR1 and at the end.", "FILE");
    const QCommandLineOption checkRack(
        "check-rack", "Only read the rack file (and faults), print errors and exit.");
    const QCommandLineOption printRack("print-default-rack", "Print the built-in rack and exit.");
    parser.addOptions({ rack, trace, realtime, fault, dump, checkRack, printRack });
    parser.process(app);

    if (parser.isSet(printRack)) {
        std::fputs(Sim::RackDescription::defaultRackText().toLatin1().constData(), stdout);
        return 0;
    }
    if (parser.isSet(checkRack)) {
        const QString file = parser.value(rack);
        Sim::RackDescription description = file.isEmpty() ? Sim::RackDescription::defaultRack()
                                                          : Sim::RackDescription::fromFile(file);
        if (!description.ok()) {
            std::fprintf(stderr, "zef400-sim: %s: %s\n", qPrintable(file),
                qPrintable(description.errorText()));
            return 2;
        }
        // The faults of the command line are checked against the rack as a run would apply them.
        for (const QString& spec : parser.values(fault)) {
            Sim::NodeFault parsed;
            QString error;
            if (!Sim::NodeFault::parse(spec, &parsed, &error)
                || !Sim::RackDescription::applyFault(description.nodes, parsed, &error)) {
                std::fprintf(stderr, "zef400-sim: --fault %s: %s\n",
                    qPrintable(Sim::NodeFault::shortPiece(spec)), qPrintable(error));
                return 2;
            }
        }
        return 0;
    }

    Sim::Simulator::Options options;
    options.rackFile = parser.value(rack);
    options.traceFile = parser.value(trace);
    options.dumpFile = parser.value(dump);
    options.realtime = parser.isSet(realtime);
    options.faults = parser.values(fault);

    Sim::Simulator simulator;
    QString error;
    if (!simulator.start(options, &error)) {
        std::fprintf(stderr, "zef400-sim: %s\n", qPrintable(error));
        Kubus::kuPrint(QString("Simulator not started: %1").arg(error), Q_FUNC_INFO);
        return 2;
    }
    return app.exec();
}
