#include "app/zef400widget.h"

#include "app/keypresseater.h"
#include "app/panelscreenshots.h"
#include "app/zef400.h"
#include "kubus/catalogue/mainboardbus.h"
#include "kubus/catalogue/poweramplifierbus.h"
#include "kubus/log/kulog.h"
#include "platform/rootpath.h"

#include <QApplication>
#include <QDebug>
#include <QMenu>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QTextCursor>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>

namespace {

const char* const TitleStyle = "QLabel { background-color : white; color : #00509C; font-weight "
                               ": bold ; font-size : 16pt }";
const char* const LogStyle
    = "QPlainTextEdit { background-color : white; color : black; font: \"Courier\"; }";
const char* const UpdaterStatusStyle
    = "QProgressBar { text-align: center; font-weight : bold; font-color: #00ff00; } "
      "QProgressBar::chunk { background-color: #00509C; width: 20px; }";
const char* const EndOfRunStyle = "QProgressBar { text-align: center; font-weight : bold } "
                                  "QProgressBar::chunk { background-color: %1; width: 20px; }";

constexpr int QuitNowMs = 1;
constexpr int QuitLaterMs = 30000;

QString describe(bool all)
{
    return all ? QStringLiteral("true") : QStringLiteral("false");
}

// Sorted, so that the log line does not depend on the set's hash order.
QString describe(const QSet<int>& nodeIds)
{
    QList<int> sorted = nodeIds.values();
    std::sort(sorted.begin(), sorted.end());
    QStringList texts;
    for (int id : sorted)
        texts << QString::number(id);
    return QLatin1Char('{') + texts.join(QLatin1String(", ")) + QLatin1Char('}');
}

void logSetter(const char* name, const QString& value, const char* function)
{
    Kubus::kuPrint(QStringLiteral("%1(%2)").arg(QLatin1String(name), value), function);
}

} // namespace

const QList<int>& Zef400Widget::serviceKeySequence()
{
    // Status, Home, Home, Menu, Back, Status.
    static const QList<int> sequence { 5, 3, 3, 1, 2, 5 };
    return sequence;
}

Zef400Widget::Zef400Widget(QWidget* parent)
    : QWidget(parent)
{
    sequenceDisarmed = true;
    statusPresses = 0;
    guiShown = false;

    connect(this, &Zef400Widget::triggerServiceMenu, this, &Zef400Widget::showServiceMenu,
        Qt::QueuedConnection);
    connect(
        this, &Zef400Widget::triggerShowGui, this, &Zef400Widget::showGui, Qt::QueuedConnection);
    connect(this, &Zef400Widget::triggerErrorMenu, this, &Zef400Widget::showErrorMenu,
        Qt::QueuedConnection);

    keyEater = new KeyPressEater(this);
    qApp->installEventFilter(keyEater);
    connect(keyEater, &KeyPressEater::keyPressed_Menu, this, &Zef400Widget::showMenu);
    connect(keyEater, &KeyPressEater::keyPressed, this, &Zef400Widget::keyPressed);

    orchestrator = new Zef400(-1);
    connect(orchestrator, &Zef400::signalShowMessage, this, &Zef400Widget::slotShowMessage);
    connect(orchestrator, &Zef400::signalUpdateFinished, this, &Zef400Widget::slotUpdateFinished);
    connect(orchestrator, &Zef400::signalUpdaterStatus, this, &Zef400Widget::slotUpdaterStatus);
    connect(orchestrator, &Zef400::signalProgress, this, &Zef400Widget::slotProgress);
    connect(orchestrator, &Zef400::signalStartingFirmwareUpdateOnNode, this,
        &Zef400Widget::slotStartingFirmwareUpdateOnNode);
    connect(Kubus::PowerAmplifierBus::instance(), SIGNAL(message(Kubus::FirmwareUpdateProgress)),
        this, SLOT(slotFirmwareUpdateProgress(Kubus::FirmwareUpdateProgress)));
    connect(Kubus::MainBoardBus::instance(), SIGNAL(message(Kubus::FirmwareUpdateProgress)), this,
        SLOT(slotFirmwareUpdateProgress(Kubus::FirmwareUpdateProgress)));
    QTimer::singleShot(1, this, &Zef400Widget::startUpdater);

    titleLabel.setText(QStringLiteral("QRX%1 ZEF400 Firmware Update").arg(QChar(0x00AE)));
    titleLabel.setStyleSheet(QLatin1String(TitleStyle));
    titleLabel.setAlignment(Qt::AlignHCenter);
    logView.setReadOnly(true);
    logView.setCenterOnScroll(true);
    logView.setStyleSheet(QLatin1String(LogStyle));
    statusBar.setMinimum(0);
    statusBar.setValue(0);
    statusBar.setFormat(QStringLiteral("Update state: %p%"));
    firmwareBar.setMinimum(0);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(&titleLabel);
    layout->addWidget(&logView);
    layout->addWidget(&firmwareBar);
    layout->addWidget(&statusBar);
    titleLabel.hide();
    logView.hide();
    firmwareBar.hide();
    statusBar.hide();

    // The picture is drawn for the controller's screen; on a larger one (a PC) it is stretched
    // to the screen rather than tiled.
    QPixmap picture(QStringLiteral(":/images/Quorix.png"));
    if (picture.isNull())
        Kubus::kuPrint("Background picture :/images/Quorix.png missing", Q_FUNC_INFO);
    else if (const QScreen* screen = QGuiApplication::primaryScreen();
             screen && screen->size() != picture.size())
        picture = picture.scaled(screen->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPalette background = palette();
    background.setBrush(QPalette::Window, QBrush(picture));
    setPalette(background);
    setAutoFillBackground(true);

    slotShowMessage(QStringLiteral("Starting ZEF400 Firmware Update ...\n"));

    serviceMenuEnabled = false;
    orchestrator->setReadOnly(false);

    quitTimer.setInterval(QuitNowMs);
    connect(&quitTimer, &QTimer::timeout, this, [this] {
        if (orchestrator)
            orchestrator->stop();
        QMetaObject::invokeMethod(qApp, "quit", Qt::QueuedConnection);
    });

    serviceSequence = serviceKeySequence();

    const QString screenshots = qEnvironmentVariable(PanelScreenshots::EnvironmentVariable);
    if (!screenshots.isEmpty())
        new PanelScreenshots(this, orchestrator, screenshots);
}

Zef400Widget::~Zef400Widget()
{
    stop();
}

void Zef400Widget::setReadOnly(bool readOnly)
{
    qDebug().noquote() << "Read only mode";
    logSetter("setReadOnly", describe(readOnly), Q_FUNC_INFO);
    orchestrator->setReadOnly(readOnly);
}

void Zef400Widget::setForceMainboardUpdate(bool all)
{
    logSetter("setForceMainboardUpdate", describe(all), Q_FUNC_INFO);
    orchestrator->setForceMainboardUpdate(all);
}

void Zef400Widget::setForceMainboardUpdate(const QSet<int>& nodeIds)
{
    logSetter("setForceMainboardUpdate", describe(nodeIds), Q_FUNC_INFO);
    orchestrator->setForceMainboardUpdate(nodeIds);
}

void Zef400Widget::setForceMainboardUpdateAT90(bool all)
{
    logSetter("setForceMainboardUpdateAT90", describe(all), Q_FUNC_INFO);
    orchestrator->setForceMainboardUpdateAT90(all);
}

void Zef400Widget::setForceMainboardUpdateAT90(const QSet<int>& nodeIds)
{
    logSetter("setForceMainboardUpdateAT90", describe(nodeIds), Q_FUNC_INFO);
    orchestrator->setForceMainboardUpdateAT90(nodeIds);
}

void Zef400Widget::setForceMainboardUpdateFPGA(bool all)
{
    logSetter("setForceMainboardUpdateFPGA", describe(all), Q_FUNC_INFO);
    orchestrator->setForceMainboardUpdateFPGA(all);
}

void Zef400Widget::setForceMainboardUpdateFPGA(const QSet<int>& nodeIds)
{
    logSetter("setForceMainboardUpdateFPGA", describe(nodeIds), Q_FUNC_INFO);
    orchestrator->setForceMainboardUpdateFPGA(nodeIds);
}

void Zef400Widget::setForceAmplifierUpdate(bool all)
{
    logSetter("setForceAmplifierUpdate", describe(all), Q_FUNC_INFO);
    orchestrator->setForceAmplifierUpdate(all);
}

void Zef400Widget::setForceAmplifierUpdate(const QSet<int>& nodeIds)
{
    logSetter("setForceAmplifierUpdate", describe(nodeIds), Q_FUNC_INFO);
    orchestrator->setForceAmplifierUpdate(nodeIds);
}

void Zef400Widget::setForceAmplifierUpdateAT90(bool all)
{
    logSetter("setForceAmplifierUpdateAT90", describe(all), Q_FUNC_INFO);
    orchestrator->setForceAmplifierUpdateAT90(all);
}

void Zef400Widget::setForceAmplifierUpdateAT90(const QSet<int>& nodeIds)
{
    logSetter("setForceAmplifierUpdateAT90", describe(nodeIds), Q_FUNC_INFO);
    orchestrator->setForceAmplifierUpdateAT90(nodeIds);
}

void Zef400Widget::setForceAmplifierUpdateFPGA(bool all)
{
    logSetter("setForceAmplifierUpdateFPGA", describe(all), Q_FUNC_INFO);
    orchestrator->setForceAmplifierUpdateFPGA(all);
}

void Zef400Widget::setForceAmplifierUpdateFPGA(const QSet<int>& nodeIds)
{
    logSetter("setForceAmplifierUpdateFPGA", describe(nodeIds), Q_FUNC_INFO);
    orchestrator->setForceAmplifierUpdateFPGA(nodeIds);
}

void Zef400Widget::slotShowMessage(const QString& text)
{
    logView.moveCursor(QTextCursor::End);
    logView.insertPlainText(text);
    logView.moveCursor(QTextCursor::End);
    Kubus::kuPrint(QStringLiteral("Screen: %1").arg(text.trimmed()), Q_FUNC_INFO);
}

void Zef400Widget::slotProgress(int done, int total)
{
    if (statusBar.maximum() != total)
        statusBar.setMaximum(total);
    statusBar.setStyleSheet(QString());
    statusBar.setValue(done);
}

void Zef400Widget::slotFirmwareUpdateProgress(Kubus::FirmwareUpdateProgress progress)
{
    firmwareBar.show();
    if (firmwareBar.maximum() != progress.count)
        firmwareBar.setMaximum(progress.count);
    const QString format
        = progress.phase == 0 ? QStringLiteral("Erase: %p%") : QStringLiteral("Write: %p%");
    if (firmwareBar.format() != format)
        firmwareBar.setFormat(format);
    firmwareBar.setValue(progress.current);
}

void Zef400Widget::slotUpdaterStatus(const QString& text)
{
    statusBar.setMaximum(1);
    statusBar.setValue(1);
    statusBar.setStyleSheet(QLatin1String(UpdaterStatusStyle));
    statusBar.setFormat(text);
    Kubus::kuPrint(QStringLiteral("Progress: %1").arg(text.trimmed()), Q_FUNC_INFO);
}

void Zef400Widget::slotStartingFirmwareUpdateOnNode(int)
{
    emit triggerShowGui();
}

void Zef400Widget::slotUpdateFinished(bool ok)
{
    statusBar.setMaximum(1);
    statusBar.setValue(1);
    statusBar.setStyleSheet(QString::fromLatin1(EndOfRunStyle)
                                .arg(ok ? QLatin1String("#00FF00") : QLatin1String("#FF0000")));
    if (!ok) {
        statusBar.setFormat(QStringLiteral("ERROR: System not ready!"));
        logView.moveCursor(QTextCursor::Start);
    }
    Kubus::kuPrint("Progress: Update Finished", Q_FUNC_INFO);
    if (statusPresses > 2) {
        statusBar.setFormat(QStringLiteral("System starts in 30 seconds ..."));
        quitTimer.setInterval(QuitLaterMs);
    } else {
        statusBar.setFormat(QStringLiteral("Starting system now ..."));
        quitTimer.setInterval(QuitNowMs);
    }
    quitTimer.start();
}

void Zef400Widget::showGui()
{
    guiShown = true;
    titleLabel.show();
    logView.show();
    statusBar.show();
    logView.setFocus();
}

void Zef400Widget::keyPressed(int number)
{
    if (number == 5) {
        ++statusPresses;
        if (statusPresses == 3)
            emit triggerShowGui();
    }
    if (!sequenceDisarmed) {
        if (serviceSequence.value(sequencePosition) == number)
            ++sequencePosition;
        else
            sequenceDisarmed = true;
        if (sequencePosition == serviceSequence.size()) {
            sequenceDisarmed = true;
            enableServiceMenu();
        }
    } else if (number == 4) {
        sequencePosition = 0;
        sequenceDisarmed = false;
    }
}

void Zef400Widget::enableServiceMenu()
{
    serviceMenuEnabled = true;
    emit triggerServiceMenu();
}

void Zef400Widget::showMenu()
{
    if (guiShown && serviceMenuEnabled)
        showServiceMenu();
}

void Zef400Widget::showServiceMenu()
{
    showGui();
    statusBar.setFormat(QStringLiteral("Service mode enabled"));
    quitTimer.stop();
    quitTimer.setInterval(QuitNowMs);
    emit closeErrorMenu();

    QMenu menu;
    connect(keyEater, &KeyPressEater::keyPressed_Back, &menu, &QMenu::close);
    menu.addSeparator();
    Zef400* o = orchestrator;
    auto queued = [o](QMenu* into, const QString& text, void (Zef400::*slot)()) {
        QAction* action = into->addAction(text);
        QObject::connect(action, &QAction::triggered, o, slot, Qt::QueuedConnection);
    };
    queued(&menu, QStringLiteral("Update devices if necessary"), &Zef400::updateAllDevices);
    queued(&menu, QStringLiteral("Read firmware status only"), &Zef400::readAllDevices);
    queued(&menu, QStringLiteral("Read amplifier positions"), &Zef400::readPositions);
    QMenu* force = menu.addMenu(QStringLiteral("Force firmware update"));
    queued(force, QStringLiteral("All mainboards"), &Zef400::updateMainboardsForced);
    queued(force, QStringLiteral("All power amplifiers"), &Zef400::updatePowerAmplifiersForced);
    queued(force, QStringLiteral("All mainboards and power amplifiers"),
        &Zef400::updateAllDevicesForced);
    menu.addSeparator();
    queued(&menu, QStringLiteral("Start QRX distributor updater"), &Zef400::slotStartUpdater);
    queued(&menu, QStringLiteral("Reset hardware"), &Zef400::resetOnLine);
    queued(&menu, QStringLiteral("Reset via CAN"), &Zef400::resetDevices);
    connect(
        menu.addAction(QStringLiteral("Reboot")), &QAction::triggered, this, &Zef400Widget::reboot);
    connect(menu.addAction(QStringLiteral("Quit")), &QAction::triggered, this, &Zef400Widget::quit);
    menu.exec(QPoint(320, 0));
}

void Zef400Widget::showErrorMenu()
{
    QMenu menu;
    connect(keyEater, &KeyPressEater::keyPressed_Back, &menu, &QMenu::close);
    connect(this, &Zef400Widget::closeErrorMenu, &menu, &QMenu::close);
    connect(menu.addAction(QStringLiteral("Exit")), &QAction::triggered, this, &Zef400Widget::quit);
    connect(
        menu.addAction(QStringLiteral("Reboot")), &QAction::triggered, this, &Zef400Widget::reboot);
    menu.exec(QPoint(320, 0));
}

void Zef400Widget::reboot()
{
    const QByteArray command = Platform::rootPathBytes(QStringLiteral("reboot"));
    if (std::system(command.constData()) != 0)
        Kubus::kuPrint(
            QStringLiteral("Reboot command failed: %1").arg(QString::fromLocal8Bit(command)),
            Q_FUNC_INFO);
}

void Zef400Widget::quit()
{
    quitTimer.start();
}

void Zef400Widget::stop()
{
    delete orchestrator;
    orchestrator = nullptr;
}

void Zef400Widget::startUpdater()
{
    if (orchestrator)
        orchestrator->startup();
}

void Zef400Widget::useFirmware(int code, const char* label)
{
    QMetaObject::invokeMethod(
        orchestrator, [o = orchestrator, code] { o->setUsedFirmwareVersion(code); },
        Qt::QueuedConnection);
    slotShowMessage(QStringLiteral("\nUsing firmware version %1").arg(QLatin1String(label)));
}

void Zef400Widget::use_latest()
{
    useFirmware(0, "latest");
}

void Zef400Widget::use_1_14_0()
{
    useFirmware(1140, "1.14.0");
}

void Zef400Widget::use_1_13_1()
{
    useFirmware(1131, "1.13.1");
}

void Zef400Widget::use_1_12_5()
{
    useFirmware(1125, "1.12.5");
}

void Zef400Widget::use_1_11_2()
{
    useFirmware(1112, "1.11.2");
}
