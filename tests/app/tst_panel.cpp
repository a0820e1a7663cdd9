#include "app/panelscreenshots.h"
#include "app/zef400.h"
#include "app/zef400widget.h"
#include "common/simulatorprocess.h"
#include "kubus/thread/threadutils.h"

#include <QApplication>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The front panel in this process against zef400-sim on an 800x480 screen: keys typed into the
// window as the keypad delivers them, the service menu and its entries' effect on the boards,
// the bars, the end of a run, and pictures of each state (PNG files in the build folder).
class TestPanel : public QObject {
    Q_OBJECT

    QTemporaryDir dir; // one root: the program reads its hardware description once
    std::unique_ptr<SimulatorProcess> sim;
    std::unique_ptr<Zef400Widget> window;
    QList<int> logKeys; // key presses that reached the log view
    QStringList statuses; // the bundle updater's status texts
    int updaterEnds = 0;

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress)
            logKeys << static_cast<QKeyEvent*>(event)->key();
        return false;
    }
    void start(const QString& rack)
    {
        sim = std::make_unique<SimulatorProcess>(dir.path());
        QVERIFY(sim->start({ "--rack", ZEF_TEST_DATA "/" + rack }));
        window = std::make_unique<Zef400Widget>();
        window->logWidget()->installEventFilter(this);
        Zef400* o = window->orchestratorObject();
        connect(o, &Zef400::signalUpdaterStatus, this, [this](QString text) { statuses << text; });
        auto* updater = o->findChild<QProcess*>({}, Qt::FindDirectChildrenOnly); // not yet started
        connect(updater, &QProcess::finished, this, [this] { ++updaterEnds; });
        window->showFullScreen();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void type(const QList<int>& keys) // the panel's key numbers 1 to 5, or Qt key codes
    {
        for (int key : keys)
            QTest::keyClick(window->windowHandle(), Qt::Key(key < 10 ? Qt::Key_0 + key : key));
        QCoreApplication::processEvents();
    }
    // Writes NAME.png of the panel's size; where the log shows, it is not blank.
    void shot(const QString& name)
    {
        const QImage image = PanelScreenshots::grabScreen(window.get());
        QVERIFY(image.size() == QSize(800, 480) && image.save(ZEF_SHOT_DIR "/" + name + ".png"));
        const QWidget* text = window->logWidget()->viewport();
        const QImage area = image.copy(QRect(text->mapTo(window.get(), QPoint()), text->size()));
        bool varied = !window->isGuiShown();
        for (int i = 0; i < area.width() * area.height() && !varied; ++i)
            varied = area.pixel(i % area.width(), i / area.width()) != area.pixel(0, 0);
        QVERIFY2(varied, qPrintable(name));
    }
    // Types keys (the Menu key by default); once the service menu is open, check runs inside its
    // modal loop and the entries of path are picked (none: the Back key closes it).
    bool menu(const QStringList& path, const QList<int>& keys = { 1 },
        const std::function<void(QMenu*)>& check = nullptr)
    {
        bool opened = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || std::exchange(opened, true))
                return;
            if (check)
                check(menu);
            for (const QString& text : path)
                for (QAction* action : menu->actions())
                    if (action->text() == text) {
                        menu->setActiveAction(action);
                        QTest::keyClick(std::exchange(menu, action->menu()), Qt::Key_Return);
                    }
            if (QApplication::activePopupWidget())
                type({ 2 });
        });
        poll.start(10);
        type(keys);
        return opened && !QApplication::activePopupWidget();
    }
    QString log() const { return window->logWidget()->toPlainText(); }
    int dump(const char* node, const char* key)
    {
        return sim->requestDump() ? sim->dumpValue(node, key).toInt() : -1;
    }

private slots:
    void initTestCase()
    {
        const QStringList arguments { dir.path(), "--amplifiers", "1" };
        QCOMPARE(QProcess::execute(ZEF_SOURCE_DIR "/scripts/make-root", arguments), 0);
        qputenv("ZEF400_ROOT", dir.path().toLocal8Bit());
    }

    // The mainboard is out of date, the amplifier the description promises never answers.
    void automaticRunThatFails()
    {
        start("panel-failure.rack");
        QCOMPARE(PanelScreenshots::grabScreen(window.get()).convertToFormat(QImage::Format_RGB32),
            QImage(":/images/Quorix.png").convertToFormat(QImage::Format_RGB32));
        shot("hidden");
        QTRY_VERIFY_WITH_TIMEOUT(window->logWidget()->isVisible(), 60000); // the first transfer
        type({ 1, 2, 3, 4, 5, Qt::Key_Left });
        QCOMPARE(logKeys, QList<int>({ Qt::Key_Left, Qt::Key_PageUp }));
        QTRY_VERIFY_WITH_TIMEOUT(window->firmwareWidget()->format() == "Write: %p%", 60000);
        shot("running");
        QTRY_VERIFY_WITH_TIMEOUT(log().endsWith("Not all devices could be found.\n"), 120000);
        QVERIFY(window->statusWidget()->styleSheet().contains("background-color: #FF0000;"));
        QCOMPARE(window->statusWidget()->format(), QString("Starting system now ..."));
        QVERIFY(window->countdownMs() == 1 && window->logWidget()->textCursor().position() == 0);
        shot("failure");
        // The FPGA image, written last, in 256-byte blocks after the tag, 8 unused bytes, the
        // version and its NUL; the bar ends full.
        const int blocks
            = (QFile(dir.path() + "/usr/local/FwUpdate/BO/91204500_FPGA.bin").size() - 23 + 255)
            / 256;
        QVERIFY(window->firmwareWidget()->maximum() == blocks
            && window->firmwareWidget()->value() == blocks);
        window.reset();
        QCOMPARE(sim->stop(), 0);
    }

    // Everything current; the functions below go on with this window and simulator.
    void statusKeysThenSuccess()
    {
        start("panel-service.rack");
        type({ 5, 5 });
        QVERIFY(!window->isGuiShown());
        type({ 5, 5 });
        QTRY_VERIFY_WITH_TIMEOUT(
            log().endsWith("\nAll firmwares successfully processed.\n"), 60000);
        QVERIFY(window->logWidget()->isVisible() && window->countdownMs() == 30000);
        QCOMPARE(window->statusWidget()->format(), QString("System starts in 30 seconds ..."));
        shot("success");
    }

    void serviceSequence_data()
    {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<bool>("opens");
        QTest::newRow("without Function") << QList<int> { 5, 3, 3, 1, 2, 5 } << false;
        QTest::newRow("wrong key disarms") << QList<int> { 4, 5, 3, 2, 3, 1, 2, 5 } << false;
        QTest::newRow("Function in the middle is wrong")
            << QList<int> { 4, 5, 3, 4, 5, 3, 3, 1, 2, 5 } << false;
        QTest::newRow("Function again re-arms")
            << QList<int> { 4, 5, 3, 4, 4, 5, 3, 3, 1, 2, 5 } << true;
    }
    void serviceSequence()
    {
        QFETCH(QList<int>, keys);
        QFETCH(bool, opens);
        QStringList entries;
        const bool opened = menu({}, keys, [&](QMenu* menu) {
            for (QAction* action : menu->actions() + menu->actions()[4]->menu()->actions())
                entries << action->text();
            // Qt keeps a menu the style's frame width off the screen's edge.
            QVERIFY(menu->pos().x() == 320 && menu->pos().y() <= 2 && window->countdownMs() == 1);
            QVERIFY(!window->isCountingDown()
                && window->statusWidget()->format() == "Service mode enabled");
            shot("menu");
        });
        QVERIFY(opened == opens && window->isServiceMenuEnabled() == opens);
        QCOMPARE(entries.join('|'),
            opens ? QString("|Update devices if necessary|Read firmware status only|Read amplifier "
                            "positions|Force firmware update||Start QRX distributor updater|Reset "
                            "hardware|Reset via CAN|Reboot|Quit|All mainboards|All power "
                            "amplifiers|All mainboards and power amplifiers")
                  : QString());
    }

    void entries()
    {
        QVERIFY(menu({ "Read amplifier positions" }));
        QTRY_VERIFY(log().endsWith(
            "Mainboard 1 at rack(2)unit(3)\nAmplifier 1 at rack(2)unit(3)position(3)\n"));
        QVERIFY(menu({ "Read firmware status only" })); // the labels again, with the location
        QTRY_VERIFY(log().count("All firmwares successfully processed.") == 2);
        QCOMPARE(log().count("  - Location: rack(2)unit(3)position(A3)\n"), 1);
        // A forced pass rewrites the amplifier only; each transfer ends with a reset.
        QVERIFY(menu({ "Force firmware update", "All power amplifiers" }));
        QTRY_VERIFY_WITH_TIMEOUT(log().count("All firmwares successfully processed.") == 3, 60000);
        QVERIFY(dump("can0_1001", "fw_blocks_written") == 0 && dump("can1_2001", "resets") == 2);
        QFile fpga(dir.path() + "/usr/local/FwUpdate/PA/91204700_FPGA.bin");
        QVERIFY(fpga.open(QIODevice::ReadOnly));
        const QByteArray payload = fpga.readAll().mid(23);
        QCOMPARE(sim->flash("can1_2001", "fpga").left(payload.size()), payload);
        QVERIFY(menu({ "Reset via CAN" })); // every node restarts and is given a node id again
        QTRY_VERIFY(dump("can0_1001", "resets") == 1 && dump("can1_2001", "resets") == 3);
        // A dump blocks this thread while the simulator writes it (seconds under the thread
        // checker): ask once a second and let the window's thread work in between.
        bool back = false;
        for (int i = 0; i < 60 && !back; ++i) {
            QTest::qWait(1000);
            back = dump("can0_1001", "nodeid") < 255 && dump("can1_2001", "nodeid") < 255;
        }
        QVERIFY(back);
        QFile out(dir.path() + "/var/lib/standin/SwUpdateDaemon.out");
        int runs = 0;
        for (const char* said :
            { "TransferOpen\n", "PIAS: Error: x\nTransferOpen\n", "TransferClose\n" }) {
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(said) > 0 && out.flush());
            out.close();
            QVERIFY(menu({ "Start QRX distributor updater" }) && ++runs);
            QTRY_COMPARE(updaterEnds, runs); // before the next start
        }
        QTRY_COMPARE(statuses.join('|'),
            QString("Please start Distributor update.|Distributor: transferring data ...|Please "
                    "start Distributor update.|Please start Distributor update.|Distributor: "
                    "installing then rebooting"));
        QFile calls(dir.path() + "/var/log/calls.log");
        QVERIFY(menu({ "Reboot" }) && calls.open(QIODevice::ReadOnly));
        QCOMPARE(calls.readAll(),
            QByteArray("SwUpdateDaemon ZEF400 9120.4400 02 - -\n").repeated(3) + "reboot\n");
        QVERIFY(menu({ "Quit" }) && window->isCountingDown() && window->countdownMs() == 1);
        QVERIFY(std::none_of(logKeys.begin(), logKeys.end(),
            [](int key) { return key >= Qt::Key_1 && key <= Qt::Key_5; }));
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
