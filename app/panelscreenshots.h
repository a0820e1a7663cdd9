#pragma once

#include "kubus/catalogue/onewayrecords.h"

#include <QImage>
#include <QObject>
#include <QString>

class QWidget;
class Zef400;

// Pictures of the front panel for demonstrations: with ZEF400_SCREENSHOTS=DIR the window saves
// what it shows as DIR/first-transfer.png (first transfer progress), DIR/mid-transfer.png (the
// first transfer half written, both bars showing) and DIR/end.png (the result of the run), and
// logs each path. The window creates this only when the variable is set.
class PanelScreenshots : public QObject {
    Q_OBJECT

public:
    static constexpr const char* EnvironmentVariable = "ZEF400_SCREENSHOTS";

    // Connects after the window's own slots, so every picture shows the state they left.
    PanelScreenshots(QWidget* window, Zef400* orchestrator, const QString& directory);

    // The screen as the user sees it: the window with any pop-up menus drawn over it.
    static QImage grabScreen(QWidget* window);

    // Writes the screen to DIR/name.png; false (logged) when it cannot.
    bool save(const QString& name);

public slots:
    void slotFirmwareUpdateProgress(Kubus::FirmwareUpdateProgress progress);
    void slotUpdateFinished(bool ok);

private:
    QWidget* window;
    QString directory;
    bool firstTaken = false;
    bool midTaken = false;
};
