// Label reads per second for one node through the whole command path (blocking Kubus request,
// node engine and command state machine, routing, device, zef400-sim in fast mode, and back),
// beside bare request/answer round trips of the same service-data frame through the same
// device and simulator. Rounds interleave the two; medians and spread per frame exchanged.

#include "canbus/commands/commandclasses.h"
#include "canbus/device/canasyncreadwrite.h"
#include "canbus/device/candevicescm.h"
#include "canbus/engine/cannodeengine.h"
#include "canbus/engine/statemachine.h"
#include "canbus/routing/candestinationsetter.h"
#include "canbus/routing/canfilter.h"
#include "canbus/routing/canmessagefactory.h"
#include "canbus/routing/canspontaneousmessagefactory.h"
#include "kubus/catalogue/mainboardbus.h"
#include "kubus/request/request.h"
#include "kubus/thread/signaledunblocker.h"
#include "kubus/thread/threadstopper.h"
#include "kubus/thread/threadutils.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

using namespace CanBus;

namespace {

// Counts the frames the controller receives, and lets the main thread wait for a count.
struct Arrivals {
    std::mutex mutex;
    std::condition_variable condition;
    long count = 0;

    void arrived()
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++count;
        condition.notify_all();
    }
    long now()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return count;
    }
    bool waitFor(long target)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return condition.wait_for(lock, std::chrono::seconds(5), [&] { return count >= target; });
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    // The program's own setting, so that the hand-overs measured are the program's.
    Kubus::useQtEventDispatcher();
    QCoreApplication app(argc, argv);
    const int rounds = 7;
    const int labelsPerRound = argc > 1 ? QByteArray(argv[1]).toInt() : 20;

    QTemporaryDir root;
    QDir(root.path()).mkpath("dev");
    QFile(root.filePath("dev/uio0")).open(QIODevice::WriteOnly);
    QFile rack(root.filePath("bench.rack"));
    rack.open(QIODevice::WriteOnly);
    rack.write("bus can0\nmainboard part=91204500 variant=1 serial=1001 nodeid=1 at90=1.13.1 "
               "fpga=1.13.1\n");
    rack.close();
    qputenv("ZEF400_ROOT", QFile::encodeName(root.path()));

    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.setStandardOutputFile(QProcess::nullDevice());
    sim.start(QStringLiteral(ZEF_BIN_DIR "/zef400-sim"), { "--rack", rack.fileName() });
    QElapsedTimer wait;
    wait.start();
    while (!QFile::exists(root.filePath("dev/can1")) && wait.elapsed() < 10000)
        QThread::msleep(10);

    // The wiring a bus proxy makes: pair, filter and destination setter in an I/O thread, one
    // node engine with its idle state and the label command.
    Kubus::MainBoardBus::instance()->start();
    CanDeviceScm device { CanConfiguration(CanConfiguration::MainBoardBus) };
    QThread io;
    auto* pair = new CanAsyncReadWrite(&device);
    CanSpontaneousMessageFactory spontaneous;
    CanFilter filter(spontaneous);
    CanDestinationSetter setter(CanIdentifier::MainBoard);
    Arrivals arrivals;
    QObject::connect(pair, &CanAsyncReadWrite::ackRead, &filter, &CanFilter::incommingMessage);
    QObject::connect(
        pair, &CanAsyncReadWrite::ackRead, pair, [&] { arrivals.arrived(); }, Qt::DirectConnection);
    QObject::connect(&setter, &CanDestinationSetter::outMessage, pair, &CanAsyncReadWrite::write);
    for (QObject* o : { static_cast<QObject*>(pair), static_cast<QObject*>(&filter),
             static_cast<QObject*>(&setter) })
        o->moveToThread(&io);
    Kubus::waitForRunning(io);

    auto* engine = new CanNodeEngine(1);
    filter.registerCanMessageFactory(1, engine->canMessageFactory());
    QObject::connect(&engine->canMessageFactory(), &CanMessageFactory::writeMessage, &setter,
        &CanDestinationSetter::inMessage);
    Kubus::waitForRunning(engine->thread());
    StateMachine& machine = engine->stateMachine();
    auto* idle = new QState(&machine);
    machine.setInitialState(idle);
    QObject::connect(idle, &QState::entered, &machine, &StateMachine::setIdle);
    auto* label = new MainBoardCommand_GetLabel_Board(*engine);
    QState* outer = label->commandState();
    machine.addState(outer);
    idle->addTransition(label, &StateMachineCommandBase::triggered, outer);
    outer->addTransition(outer, &QState::finished, idle);
    label->moveToThread(&engine->thread());
    Kubus::MainBoardBus::instance()->connectToNode(1, "2message(Kubus::MainBoard_GetLabel_Board)",
        label, "1incomingMessage(Kubus::MainBoard_GetLabel_Board)", Qt::AutoConnection);
    QObject::connect(label, SIGNAL(message(Kubus::MainBoard_GetLabel_Board::Response)),
        Kubus::MainBoardBus::instance(), SLOT(send(Kubus::MainBoard_GetLabel_Board::Response)));
    machine.moveToThread(&engine->thread());
    engine->canMessageFactory().moveToThread(&engine->thread());
    {
        Kubus::SignaledUnblocker started(&machine, SIGNAL(started()));
        QMetaObject::invokeMethod(&machine, [&machine] { machine.start(); });
        started.block();
    }

    Kubus::MainBoard_GetLabel_Board request;
    request.nodeId = 1;
    const auto readLabel = [&] {
        return Kubus::Request<Kubus::MainBoardBus, Kubus::MainBoard_GetLabel_Board>(
            nullptr, request)
            .execute();
    };
    // The frame of one exchange, as the label command sends it to node 1.
    CanMessageT<SCM_SERVICE_DATA_RD> read;
    read.setServiceDataSelector(48);
    read.setAddress(12);
    read.setNodeId(1);
    read.setDestination(CanIdentifier::MainBoard);

    // Warm-up, and the number of exchanges one label takes.
    const long before = arrivals.now();
    if (readLabel().status != 0) {
        std::fprintf(stderr, "label read failed: is zef400-sim answering service data?\n");
        return 1;
    }
    const long exchangesPerLabel = arrivals.now() - before;
    const long exchanges = exchangesPerLabel * labelsPerRound;

    std::vector<double> commandUs, bareUs;
    bool ok = true;
    for (int round = 0; round < rounds && ok; ++round) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < labelsPerRound; ++i)
            ok = ok && readLabel().status == 0;
        commandUs.push_back(timer.nsecsElapsed() / 1000.0 / double(exchanges));

        timer.start();
        for (long i = 0; i < exchanges && ok; ++i) {
            const long target = arrivals.now() + 1;
            QMetaObject::invokeMethod(pair, [pair, read] { pair->write(read); });
            ok = arrivals.waitFor(target);
        }
        bareUs.push_back(timer.nsecsElapsed() / 1000.0 / double(exchanges));
        std::printf("round %d: label path %.1f us, bare round trip %.1f us per exchange\n",
            round + 1, commandUs.back(), bareUs.back());
    }
    if (!ok) {
        std::fprintf(stderr, "a read failed or an answer did not come\n");
        return 1;
    }

    const double command = median(commandUs);
    const double bare = median(bareUs);
    std::printf("one board label = %ld service-data exchanges\n", exchangesPerLabel);
    std::printf("label path: median %.1f us per exchange (%.1f-%.1f), %.0f labels/s\n", command,
        *std::min_element(commandUs.begin(), commandUs.end()),
        *std::max_element(commandUs.begin(), commandUs.end()),
        1e6 / (command * double(exchangesPerLabel)));
    std::printf("bare round trip: median %.1f us per exchange (%.1f-%.1f)\n", bare,
        *std::min_element(bareUs.begin(), bareUs.end()),
        *std::max_element(bareUs.begin(), bareUs.end()));

    pair->stop();
    Kubus::ThreadStopper::processEventsAndStop(engine->thread());
    delete label;
    delete engine;
    Kubus::ThreadStopper::processEventsAndStop(io);
    delete pair;
    Kubus::MainBoardBus::instance()->stop();
    sim.terminate();
    sim.waitForFinished(5000);

    std::printf("ratio: %.3f time per exchange through the command path over twice a bare round "
                "trip\n",
        command / (2 * bare));
    return 0;
}
