#include "app/panelscreenshots.h"
#include "app/zef400.h"
#include "app/zef400widget.h"
#include "common/simulatorprocess.h"
#include "kubus/mainboardbus.h"
#include "kubus/poweramplifierbus.h"
#include "kubus/threadutils.h"

#include <QApplication>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <set>

// The front panel in this process against zef400-sim, on an 800x480 screen: keys typed into the
// window as the keypad delivers them, the service menu and what its entries do to the simulated
// boards, the bars, the end of a run, and a picture of each state (PNG files in the build folder).
class TestPanel : public QObject {
    Q_OBJECT

    struct Bar {
        bool mainboardBus;
        int phase;
        QString format;
        int maximum, value;
    };
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<SimulatorProcess> sim;
    std::unique_ptr<Zef400Widget> window;
    QList<int> logKeys; // key presses that reached the log view
    QStringList statuses; // the bundle updater's status texts
    QVector<Bar> bars; // the firmware bar after each progress record

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress)
            logKeys << static_cast<QKeyEvent*>(event)->key();
        return false;
    }

    // One root for the whole process: the program reads its hardware description (1 mainboard,
    // 1 amplifier) once.
    void start(const QByteArray& rack)
    {
        if (!dir) {
            dir = std::make_unique<QTemporaryDir>();
            QCOMPARE(QProcess::execute(ZEF_SOURCE_DIR "/scripts/make-root", { dir->path(), "--amplifiers", "1" }), 0);
        }
        QFile rackFile(dir->path() + "/panel.rack");
        QVERIFY(rackFile.open(QIODevice::WriteOnly) && rackFile.write(rack) == rack.size());
        rackFile.close();
        sim = std::make_unique<SimulatorProcess>(dir->path());
        QVERIFY2(sim->start({ "--rack", rackFile.fileName() }), qPrintable(sim->output()));
        qputenv("ZEF400_ROOT", dir->path().toLocal8Bit());
        window = std::make_unique<Zef400Widget>();
        window->logWidget()->installEventFilter(this);
        for (QObject* bus : { (QObject*)Kubus::MainBoardBus::instance(), (QObject*)Kubus::PowerAmplifierBus::instance() })
            connect(bus, SIGNAL(message(Kubus::FirmwareUpdateProgress)), this, SLOT(recordBar(Kubus::FirmwareUpdateProgress)));
        connect(window->orchestratorObject(), &Zef400::signalUpdaterStatus, this, [this](const QString& s) { statuses << s; });
        window->showFullScreen();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void type(const QList<int>& keys) // Qt key codes, or the panel's key numbers 1 to 5
    {
        for (int key : keys)
            QTest::keyClick(window->windowHandle(), Qt::Key(key < 10 ? Qt::Key_0 + key : key));
        QCoreApplication::processEvents();
    }

    // Saves the screen as NAME.png and checks the picture: the panel's size, and text in the
    // log's area when the log is shown.
    void shot(const QString& name)
    {
        const QString path = QStringLiteral(ZEF_SHOT_DIR "/%1.png").arg(name);
        QVERIFY(PanelScreenshots::grabScreen(window.get()).save(path));
        const QImage image(path);
        QCOMPARE(image.size(), QSize(800, 480));
        QWidget* text = window->logWidget()->viewport();
        const QImage area = image.copy(QRect(text->mapTo(window.get(), QPoint()), text->size()));
        std::set<QRgb> colours;
        for (int y = 0; y < area.height(); ++y)
            for (int x = 0; x < area.width(); ++x)
                colours.insert(area.pixel(x, y));
        QVERIFY2(!window->isGuiShown() || colours.size() >= 8, qPrintable(path));
    }

    // Types keys; once the service menu is open, act runs inside its modal loop and closes it.
    bool withMenu(const QList<int>& keys, const std::function<void(QMenu*)>& act)
    {
        bool opened = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget()); menu && !opened) {
                opened = true;
                act(menu);
                while (QWidget* popup = QApplication::activePopupWidget()) // act failed half way
                    popup->close();
            }
        });
        poll.start(10);
        type(keys);
        return opened && !QApplication::activePopupWidget();
    }

    // Opens the menu with the Menu key and picks the entries of path, e.g. a submenu's.
    void choose(const QStringList& path)
    {
        QVERIFY(withMenu({ 1 }, [&](QMenu* menu) {
            for (const QString& text : path)
                for (QAction* action : menu->actions())
                    if (action->text() == text) {
                        menu->setActiveAction(action);
                        QTest::keyClick(menu, Qt::Key_Return);
                        menu = action->menu();
                        break;
                    }
        }));
    }

    QString log() const { return window->logWidget()->toPlainText(); }
    QByteArray payload(const QString& file) const
    {
        QFile image(dir->path() + "/usr/local/FwUpdate/" + file);
        const QByteArray bytes = image.open(QIODevice::ReadOnly) ? image.readAll() : QByteArray();
        return bytes.mid(bytes.indexOf('\0', 16) + 1);
    }
    QVariant dump(const QString& node, const char* key) { return sim->requestDump() ? sim->dumpValue(node, key) : QVariant(); }

private slots:
    void recordBar(Kubus::FirmwareUpdateProgress progress)
    {
        QProgressBar* bar = window->firmwareWidget();
        bars.append({ sender() == Kubus::MainBoardBus::instance(), progress.phase, bar->format(), bar->maximum(), bar->value() });
    }

    // The mainboard is out of date, the amplifier the description promises never answers.
    void automaticRunThatFails()
    {
        start("bus can0\nmainboard part=91204500 variant=1 serial=1001 rack=1 unit=1 slots=1 at90=1.13.1 fpga=1.13.1\n");
        QImage background(":/images/Quorix.png");
        QVERIFY(!background.isNull());
        QCOMPARE(PanelScreenshots::grabScreen(window.get()).convertToFormat(QImage::Format_RGB32), background.convertToFormat(QImage::Format_RGB32));
        shot("hidden");
        type({ 5, 5 });
        QVERIFY(!window->isGuiShown() && !window->logWidget()->isVisible());

        QTRY_VERIFY_WITH_TIMEOUT(window->isGuiShown(), 60000); // the first transfer starts
        QVERIFY(window->logWidget()->isVisible() && window->statusWidget()->isVisible());
        type({ 1, 2, 3, 4, Qt::Key_Left });
        QCOMPARE(logKeys, QList<int>({ Qt::Key_Left, Qt::Key_PageUp }));
        QVERIFY(!QApplication::activePopupWidget());
        QTRY_VERIFY_WITH_TIMEOUT(!bars.isEmpty() && bars.last().phase == 1, 60000);
        QVERIFY(window->firmwareWidget()->isVisible());
        shot("running");

        QTRY_VERIFY_WITH_TIMEOUT(log().endsWith("Not all devices could be found.\n"), 120000);
        QProgressBar* status = window->statusWidget();
        QCOMPARE(status->styleSheet(), QString("QProgressBar { text-align: center; font-weight : bold } QProgressBar::chunk { background-color: #FF0000; width: 20px; }"));
        QCOMPARE(status->format(), QString("Starting system now ..."));
        QCOMPARE(window->countdownMs(), 1);
        QCOMPARE(window->logWidget()->textCursor().position(), 0);
        shot("failure");

        // Both images went through the bar: erased in 256-byte units (AT90) or one 64 KiB unit
        // (FPGA), written in 256-byte blocks, each transfer ending full.
        const int at90 = (payload("BO/91204500_AT90.bin").size() + 255) / 256;
        const int fpga = (payload("BO/91204500_FPGA.bin").size() + 255) / 256;
        std::set<std::tuple<int, QString, int>> seen;
        for (const Bar& bar : std::as_const(bars)) {
            QVERIFY(bar.mainboardBus);
            QCOMPARE(bar.format, QString(bar.phase == 0 ? "Erase: %p%" : "Write: %p%"));
            if (bar.value == bar.maximum)
                seen.insert({ bar.phase, bar.format, bar.maximum });
        }
        QCOMPARE(seen, (std::set<std::tuple<int, QString, int>> { { 1, "Write: %p%", at90 }, { 1, "Write: %p%", fpga } }));
        QVERIFY(std::any_of(bars.begin(), bars.end(), [&](const Bar& b) { return b.phase == 0 && b.maximum == at90; }));
        QVERIFY(std::any_of(bars.begin(), bars.end(), [&](const Bar& b) { return b.phase == 0 && b.maximum == 1; }));
        window.reset();
        QCOMPARE(sim->stop(), 0);
    }

    // Everything current; the service functions below go on with this window and simulator.
    void statusKeysThenSuccess()
    {
        start("bus can0\nmainboard part=91204500 variant=1 serial=1001 rack=2 unit=3 slots=3 at90=1.14.0 fpga=1.14.0\n"
            "bus can1\namplifier part=91204700 variant=1 serial=2001 slot=3 at90=1.14.0 fpga=1.14.0\n");
        type({ 5, 5 });
        QVERIFY(!window->isGuiShown());
        type({ 5 });
        QVERIFY(window->isGuiShown() && window->logWidget()->isVisible());
        type({ 5, 1 });
        QVERIFY(window->isGuiShown() && !QApplication::activePopupWidget());
        QTRY_VERIFY_WITH_TIMEOUT(log().endsWith("\nAll firmwares successfully processed.\n"), 60000);
        QCOMPARE(window->statusWidget()->format(), QString("System starts in 30 seconds ..."));
        QVERIFY(window->statusWidget()->styleSheet().contains("background-color: #00FF00;"));
        QVERIFY(window->isCountingDown() && window->countdownMs() == 30000);
        shot("success");
    }

    void serviceSequence_data()
    {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<bool>("opens");
        QTest::newRow("sequence without Function") << QList<int> { 5, 3, 3, 1, 2, 5 } << false;
        QTest::newRow("wrong key disarms") << QList<int> { 4, 5, 3, 2, 3, 1, 2, 5 } << false;
        QTest::newRow("Function in the middle is a wrong key") << QList<int> { 4, 5, 3, 4, 5, 3, 3, 1, 2, 5 } << false;
        QTest::newRow("Function again re-arms") << QList<int> { 4, 5, 3, 4, 4, 5, 3, 3, 1, 2, 5 } << true;
    }
    void serviceSequence()
    {
        QFETCH(QList<int>, keys);
        QFETCH(bool, opens);
        QStringList entries, forced;
        const bool opened = withMenu(keys, [&](QMenu* menu) {
            for (QAction* action : menu->actions())
                entries << action->text();
            for (QAction* action : menu->actions().value(4)->menu()->actions())
                forced << action->text();
            // Qt keeps a menu the style's frame width off the screen's edge.
            QVERIFY(menu->pos().x() == 320 && menu->pos().y() <= 2);
            QVERIFY(!window->isCountingDown() && window->countdownMs() == 1);
            QCOMPARE(window->statusWidget()->format(), QString("Service mode enabled"));
            shot("menu");
            type({ 2 });
        });
        QCOMPARE(opened, opens);
        QCOMPARE(window->isServiceMenuEnabled(), opens);
        if (opens) {
            QCOMPARE(entries, QStringList({ "", "Update devices if necessary", "Read firmware status only", "Read amplifier positions", "Force firmware update", "", "Start QRX distributor updater", "Reset hardware", "Reset via CAN", "Reboot", "Quit" }));
            QCOMPARE(forced, QStringList({ "All mainboards", "All power amplifiers", "All mainboards and power amplifiers" }));
        }
    }

    void positionsAndPasses()
    {
        choose({ "Read amplifier positions" });
        const int amplifier = dump("can1_2001", "nodeid").toInt() + 1;
        QTRY_VERIFY_WITH_TIMEOUT(log().contains(QString("Amplifier %1 at rack(2)unit(3)position(3)\n").arg(amplifier)), 30000);
        QVERIFY(log().contains(QString("Switching devices to operate mode\nReading postions ...\nMainboard %1 at rack(2)unit(3)\n").arg(dump("can0_1001", "nodeid").toInt() + 1)));
        // Both passes show every label again, now with the amplifier's location.
        for (const char* entry : { "Read firmware status only", "Update devices if necessary" }) {
            const int ends = log().count("All firmwares successfully processed."), labels = log().count("New Power amplifier with id");
            choose({ entry });
            QTRY_VERIFY_WITH_TIMEOUT(log().count("All firmwares successfully processed.") > ends, 30000);
            QCOMPARE(log().count("New Power amplifier with id"), labels + 1);
            QCOMPARE(log().count("  - Location: rack(2)unit(3)position(A3)\n"), labels);
        }
    }

    void forcedPassesRewriteFlash()
    {
        const QMap<QString, QString> entries { { "can0_1001", "All mainboards" }, { "can1_2001", "All power amplifiers" }, { "both", "All mainboards and power amplifiers" } };
        for (const QString& forced : entries.keys()) {
            QMap<QString, int> written;
            for (const char* node : { "can0_1001", "can1_2001" })
                written[node] = dump(node, "fw_blocks_written").toInt();
            const int ends = log().count("All firmwares successfully processed.");
            choose({ "Force firmware update", entries[forced] });
            QTRY_VERIFY_WITH_TIMEOUT(log().count("All firmwares successfully processed.") > ends, 90000);
            for (const QString& node : written.keys())
                QCOMPARE(dump(node, "fw_blocks_written").toInt() > written[node], forced == node || forced == "both");
        }
        for (const QString file : { "BO/91204500_AT90.bin", "BO/91204500_FPGA.bin", "PA/91204700_AT90.bin", "PA/91204700_FPGA.bin" })
            QCOMPARE(sim->flash(file.startsWith("BO") ? "can0_1001" : "can1_2001", file.endsWith("AT90.bin") ? "at90" : "fpga").left(payload(file).size()), payload(file));
    }

    void resetViaCanReidentifies()
    {
        const int resets = dump("can1_2001", "resets").toInt() + dump("can0_1001", "resets").toInt();
        choose({ "Reset via CAN" });
        QTRY_VERIFY_WITH_TIMEOUT(dump("can1_2001", "resets").toInt() + dump("can0_1001", "resets").toInt() == resets + 2, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(dump("can0_1001", "present").toBool() && dump("can0_1001", "nodeid").toInt() != 255
                && dump("can1_2001", "present").toBool() && dump("can1_2001", "nodeid").toInt() != 255, 20000);
    }

    // The stand-in prints var/lib/standin/SwUpdateDaemon.out; after "PIAS: Error:" the later
    // "TransferOpen" changes nothing.
    void distributorUpdaterRebootQuit()
    {
        for (const char* output : { "TransferOpen\n", "PIAS: Error: bind\nTransferOpen\n", "TransferClose\n" }) {
            QFile out(dir->path() + "/var/lib/standin/SwUpdateDaemon.out");
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(output) > 0);
            out.close();
            const int before = statuses.size();
            choose({ "Start QRX distributor updater" });
            QTRY_VERIFY(statuses.size() > before + (output[0] == 'P' ? 0 : 1));
            // The next start waits for this run's end, as a technician would.
            auto* updater = window->orchestratorObject()->findChild<QProcess*>();
            QTRY_VERIFY([&] {
                bool running = true;
                QMetaObject::invokeMethod(updater, [&] { running = updater->state() != QProcess::NotRunning; }, Qt::BlockingQueuedConnection);
                return !running;
            }());
        }
        QTRY_COMPARE(statuses, QStringList({ "Please start Distributor update.", "Distributor: transferring data ...", "Please start Distributor update.",
                                   "Please start Distributor update.", "Distributor: installing then rebooting" }));
        QVERIFY(window->statusWidget()->styleSheet().contains("background-color: #00509C;"));
        choose({ "Reboot" });
        QFile calls(dir->path() + "/var/log/calls.log");
        QVERIFY(calls.open(QIODevice::ReadOnly));
        QCOMPARE(calls.readAll(), QByteArray("SwUpdateDaemon ZEF400 9120.4400 02 - -\n").repeated(3) + "reboot\n");
        choose({ "Quit" });
        QVERIFY(window->isCountingDown() && window->countdownMs() == 1);
        QVERIFY(std::none_of(logKeys.begin(), logKeys.end(), [](int k) { return k >= Qt::Key_1 && k <= Qt::Key_5; }));
        window.reset();
    }
};

int main(int argc, char** argv)
{
    Kubus::useQtEventDispatcher();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" ZEF_TEST_DATA "/panel-screen.json");
    QApplication application(argc, argv);
    TestPanel test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_panel.moc"
