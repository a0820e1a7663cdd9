#include "app/zef400.h"
#include "common/simulatorprocess.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The orchestrator in this process against the simulator: the release it selects, the wait for
// the CAN devices, and its end while a transfer is still running.
class TestOrchestrator : public QObject {
    Q_OBJECT

    static bool makeRoot(const QString& dir)
    {
        return QProcess::execute(QStringLiteral(ZEF_SOURCE_DIR "/scripts/make-root"), { dir }) == 0;
    }

    static QStringList texts(const QSignalSpy& spy)
    {
        QStringList all;
        for (const QList<QVariant>& args : spy)
            all << args.first().toString();
        return all;
    }

private slots:
    // The built-in rack is at 1.13.1: with that release selected every firmware is current.
    void selectedReleaseAndDeviceWait()
    {
        QTemporaryDir dir;
        QVERIFY(makeRoot(dir.path()));
        qputenv("ZEF400_ROOT", dir.path().toLocal8Bit());
        SimulatorProcess sim(dir.path());
        QVERIFY2(sim.start(), qPrintable(sim.output()));

        Zef400 orchestrator;
        orchestrator.setUsedFirmwareVersion(1200);
        QCOMPARE(orchestrator.usedFirmwareVersion(), 0);
        orchestrator.setUsedFirmwareVersion(1131);
        QCOMPARE(orchestrator.usedFirmwareVersion(), 1131);
        QSignalSpy shown(&orchestrator, &Zef400::signalShowMessage);
        QSignalSpy finished(&orchestrator, &Zef400::signalUpdateFinished);
        QSignalSpy progress(&orchestrator, &Zef400::signalProgress);
        orchestrator.startup();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);
        QCOMPARE(finished.first().first().toBool(), true);
        const QStringList all = texts(shown);
        QVERIFY(all.contains("Mainboard 1 AT90: OK\n"));
        QVERIFY(all.contains("Power amplifier 4 FPGA: OK\n"));
        QVERIFY(all.filter("Updating").isEmpty());
        // Two firmwares a board, one mainboard and four amplifiers in the description.
        QCOMPARE(progress.last().at(0).toInt(), 10);
        QCOMPARE(progress.last().at(1).toInt(), 10);

        QSignalSpy ready(&orchestrator, &Zef400::canDevicesReady);
        QMetaObject::invokeMethod(&orchestrator, "waitForCanDeviceReady", Qt::QueuedConnection);
        QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 1, 10000);
    }

    // Quit in the middle of a transfer that would wait for its 150 s limit: the orchestrator
    // ends its commands with the devices and is gone within seconds.
    void endsDuringATransfer()
    {
        QTemporaryDir dir;
        QVERIFY(makeRoot(dir.path()));
        qputenv("ZEF400_ROOT", dir.path().toLocal8Bit());
        SimulatorProcess sim(dir.path());
        QVERIFY2(sim.start({ "--fault", "can0,silent,type=900", "--fault", "can1,silent,type=900" }),
            qPrintable(sim.output()));

        auto* orchestrator = new Zef400;
        QSignalSpy starting(orchestrator, &Zef400::signalStartingFirmwareUpdateOnNode);
        orchestrator->startup();
        QTRY_COMPARE_WITH_TIMEOUT(starting.count(), 1, 30000);
        // The first block end went out and stays unanswered.
        const QRegularExpression blockEnd(R"(can[01] ...900..#\S* T$)");
        QTRY_VERIFY_WITH_TIMEOUT(!sim.traceLines().filter(blockEnd).isEmpty(), 10000);
        QElapsedTimer clock;
        clock.start();
        delete orchestrator;
        QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestOrchestrator)
#include "tst_orchestrator.moc"
