#include "responder.h"
#include "tests/common/logcapture.h"

#include "kubus/catalogue/mainboardbus.h"
#include "kubus/catalogue/poweramplifierbus.h"
#include "kubus/request/requestsequence.h"
#include "kubus/request/statemachine.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QState>
#include <QtTest>

#include <csignal>
#include <cstdio>

using namespace Kubus;

class TestRequestSequence : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void stepsWaitForTheirOwnNode();
    void emptySequenceReturnsAtOnce();
    void missingAnswerEndsAfterTimeLimit();
    void startFromMainBoardBusSlotIsFatal();
};

void TestRequestSequence::initTestCase()
{
    MainBoardBus::instance()->start();
    PowerAmplifierBus::instance()->start();
}

void TestRequestSequence::cleanupTestCase()
{
    MainBoardBus::instance()->stop();
    PowerAmplifierBus::instance()->stop();
}

void TestRequestSequence::stepsWaitForTheirOwnNode()
{
    MainBoardBus* mb = MainBoardBus::instance();
    PowerAmplifierBus* pa = PowerAmplifierBus::instance();
    mb->supportNode(5);
    pa->supportNode(6);
    Responder responder;
    // Node 5 answers first with a value of its own; only node 3's answer may end step one.
    responder.onRequest<MainBoardBus, Ping>(mb, [mb](const Ping& request) {
        for (int node : { 5, request.nodeId }) {
            MainBoard_TP_TEMP temp;
            temp.nodeId = node;
            temp.value(1) = node * 10 + request.value;
            Responder::deliver(mb, temp);
        }
    });
    responder.onRequest<PowerAmplifierBus, Reset>(pa, [pa](const Reset& request) {
        PowerAmplifier_AMP_POSITION position;
        position.nodeId = request.nodeId;
        position.slot = 200 + request.nodeId;
        Responder::deliver(pa, position);
    });

    Ping ping;
    ping.nodeId = 3;
    MainBoard_TP_TEMP temp;
    temp.nodeId = 0;
    Reset reset;
    reset.nodeId = 0;
    PowerAmplifier_AMP_POSITION position;
    position.nodeId = 0;

    RequestSequence sequence;
    sequence.makeRequest<MainBoardBus, Ping, MainBoardBus, MainBoard_TP_TEMP>(ping, temp, 3);
    sequence.makeRequest<PowerAmplifierBus, Reset, PowerAmplifierBus, PowerAmplifier_AMP_POSITION>(
        reset, position, -1);
    // Requests are read when their step sends them, not when the step is made.
    ping.value = 4;
    reset.nodeId = 6;

    QElapsedTimer timer;
    timer.start();
    sequence.process(nullptr);
    QVERIFY(timer.elapsed() < 5000);
    QVERIFY(sequence.isFinished());
    QCOMPARE(temp.nodeId, 3);
    QCOMPARE(temp.value(1), 34);
    QCOMPARE(position.nodeId, 6);
    QCOMPARE(position.slot, 206);
}

void TestRequestSequence::emptySequenceReturnsAtOnce()
{
    RequestSequence sequence;
    LogCapture log;
    QElapsedTimer timer;
    timer.start();
    sequence.process(nullptr);
    QVERIFY(timer.elapsed() < 1000);
    QVERIFY(log.stop().contains("Error: No request available."));
    QVERIFY(!sequence.isRunning());
}

void TestRequestSequence::missingAnswerEndsAfterTimeLimit()
{
    // Nobody answers: only the sequence's own time limit of 30 s ends it.
    Ping ping;
    ping.nodeId = 9;
    MainBoard_TP_TEMP temp;
    temp.nodeId = 0;
    temp.value(1) = 17;
    RequestSequence sequence;
    sequence.makeRequest<MainBoardBus, Ping, MainBoardBus, MainBoard_TP_TEMP>(ping, temp, 9);

    bool runningAt29s = false;
    QTimer::singleShot(29000, Qt::PreciseTimer, [&] { runningAt29s = sequence.isRunning(); });
    LogCapture log;
    QElapsedTimer timer;
    timer.start();
    sequence.process(nullptr);
    const qint64 elapsed = timer.elapsed();
    QVERIFY(runningAt29s);
    QVERIFY2(elapsed < 30500, qPrintable(QString::number(elapsed)));
    QVERIFY(log.stop().contains(
        QString(73, '-') + "\n ERROR in Kubus RequestSequence: timeout.\n" + QString(73, '-')));
    QVERIFY(!sequence.isRunning());
    // Finished, so that a later wait returns at once.
    QVERIFY(sequence.isFinished());
    QCOMPARE(temp.nodeId, 0);
    QCOMPARE(temp.value(1), 17);
}

void TestRequestSequence::startFromMainBoardBusSlotIsFatal()
{
    // The fatal end runs in a child: this same program, told so by its environment.
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZEF_TEST_CHILD", "fatal");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForFinished(20000));
    const QString out = QString::fromLatin1(child.readAllStandardOutput());
    const QString err = QString::fromLatin1(child.readAllStandardError());
    QVERIFY2(out.contains(QString(73, '-')
                 + "\n ERROR in Kubus StateMachine: start called while processing a Kubus "
                   "message.\n"
                 + QString(73, '-')),
        qPrintable(out));
    QVERIFY2(err.contains("Exiting now"), qPrintable(err));
    QVERIFY(!out.contains("machine started"));
    // A fatal message aborts the program.
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QCOMPARE(child.exitCode(), SIGABRT);
}

// The child's part: a state machine started from a slot that the mainboard bus delivers.
static int startFromBusSlot(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    MainBoardBus* mb = MainBoardBus::instance();
    mb->start();
    StateMachine machine;
    machine.setInitialState(new QState(&machine));
    QObject receiver;
    QObject::connect(mb, qOverload<const IdentifyFoundNodes&>(&MainBoardBus::message), &receiver,
        [&machine, mb] { machine.start(mb); }, Qt::DirectConnection);
    mb->send(IdentifyFoundNodes());
    std::puts("machine started");
    return 0;
}

int main(int argc, char** argv)
{
    if (qgetenv("ZEF_TEST_CHILD") == "fatal")
        return startFromBusSlot(argc, argv);
    QCoreApplication app(argc, argv);
    TestRequestSequence test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_requestsequence.moc"
