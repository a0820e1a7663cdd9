#include "app/panelscreenshots.h"

#include "app/zef400.h"
#include "kubus/log/kulog.h"
#include "kubus/catalogue/mainboardbus.h"
#include "kubus/catalogue/poweramplifierbus.h"

#include <QApplication>
#include <QDir>
#include <QLayout>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

PanelScreenshots::PanelScreenshots(QWidget* window, Zef400* orchestrator, const QString& directory)
    : QObject(window)
    , window(window)
    , directory(directory)
{
    QDir().mkpath(directory);
    connect(Kubus::PowerAmplifierBus::instance(), SIGNAL(message(Kubus::FirmwareUpdateProgress)),
        this, SLOT(slotFirmwareUpdateProgress(Kubus::FirmwareUpdateProgress)));
    connect(Kubus::MainBoardBus::instance(), SIGNAL(message(Kubus::FirmwareUpdateProgress)), this,
        SLOT(slotFirmwareUpdateProgress(Kubus::FirmwareUpdateProgress)));
    connect(
        orchestrator, &Zef400::signalUpdateFinished, this, &PanelScreenshots::slotUpdateFinished);
}

QImage PanelScreenshots::grabScreen(QWidget* window)
{
    // A bar shown a moment ago has its place only once the layout has run.
    if (window->layout())
        window->layout()->activate();
    QPixmap screen = window->grab();
    const QPoint origin = window->mapToGlobal(QPoint(0, 0));
    QPainter painter(&screen);
    QWidget* top = QApplication::activePopupWidget();
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* popup : windows)
        if (popup != top && popup->isVisible() && popup->windowType() == Qt::Popup)
            painter.drawPixmap(popup->pos() - origin, popup->grab());
    // The active one (a submenu) lies above the menu that opened it.
    if (top)
        painter.drawPixmap(top->pos() - origin, top->grab());
    painter.end();
    return screen.toImage();
}

bool PanelScreenshots::save(const QString& name)
{
    const QString path = QDir(directory).filePath(name + QStringLiteral(".png"));
    if (!grabScreen(window).save(path, "PNG")) {
        Kubus::kuPrint(QStringLiteral("Screenshot not written: %1").arg(path), Q_FUNC_INFO);
        return false;
    }
    Kubus::kuPrint(QStringLiteral("Screenshot: %1").arg(path), Q_FUNC_INFO);
    return true;
}

void PanelScreenshots::slotFirmwareUpdateProgress(Kubus::FirmwareUpdateProgress progress)
{
    if (!firstTaken) {
        firstTaken = true;
        save(QStringLiteral("first-transfer"));
    } else if (!midTaken && progress.phase != 0 && progress.count > 0
        && 2 * progress.current >= progress.count) {
        midTaken = true;
        save(QStringLiteral("mid-transfer"));
    }
}

void PanelScreenshots::slotUpdateFinished(bool)
{
    save(QStringLiteral("end"));
}
