#pragma once

#include "kubus/catalogue/onewayrecords.h"

#include <QLabel>
#include <QList>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSet>
#include <QTimer>
#include <QWidget>

class KeyPressEater;
class Zef400;

// The program's one full-screen window: a log of the update, an overall progress bar and a
// firmware-transfer bar, hidden until the first transfer or three Status presses. It owns the
// orchestrator, ends the program when the run is finished, and opens a hidden service menu after
// Function and the six keys of the service sequence.
class Zef400Widget : public QWidget {
    Q_OBJECT

public:
    explicit Zef400Widget(QWidget* parent = nullptr);
    ~Zef400Widget() override;

    void setReadOnly(bool readOnly);
    void setForceMainboardUpdate(bool all);
    void setForceMainboardUpdate(const QSet<int>& nodeIds);
    void setForceMainboardUpdateAT90(bool all);
    void setForceMainboardUpdateAT90(const QSet<int>& nodeIds);
    void setForceMainboardUpdateFPGA(bool all);
    void setForceMainboardUpdateFPGA(const QSet<int>& nodeIds);
    void setForceAmplifierUpdate(bool all);
    void setForceAmplifierUpdate(const QSet<int>& nodeIds);
    void setForceAmplifierUpdateAT90(bool all);
    void setForceAmplifierUpdateAT90(const QSet<int>& nodeIds);
    void setForceAmplifierUpdateFPGA(bool all);
    void setForceAmplifierUpdateFPGA(const QSet<int>& nodeIds);

    // For tests and pictures of the states.
    Zef400* orchestratorObject() const { return orchestrator; }
    QPlainTextEdit* logWidget() { return &logView; }
    QProgressBar* statusWidget() { return &statusBar; }
    QProgressBar* firmwareWidget() { return &firmwareBar; }
    bool isGuiShown() const { return guiShown; }
    bool isServiceMenuEnabled() const { return serviceMenuEnabled; }
    int countdownMs() const { return quitTimer.interval(); }
    bool isCountingDown() const { return quitTimer.isActive(); }

    // The service access code: Function, then these six panel keys.
    static const QList<int>& serviceKeySequence();

signals:
    void triggerShowGui();
    void triggerServiceMenu();
    void triggerErrorMenu();
    void closeErrorMenu();

public slots:
    void slotShowMessage(const QString& text);
    void slotUpdateFinished(bool ok);
    void slotFirmwareUpdateProgress(Kubus::FirmwareUpdateProgress progress);
    void slotUpdaterStatus(const QString& text);
    void slotProgress(int done, int total);
    void slotStartingFirmwareUpdateOnNode(int nodeId);
    void showGui();
    void showMenu();
    void showServiceMenu();
    void reboot();
    void quit();
    void enableServiceMenu();
    void keyPressed(int number);
    void stop();
    void startUpdater();
    void showErrorMenu();
    void use_latest();
    void use_1_14_0();
    void use_1_13_1();
    void use_1_12_5();
    void use_1_11_2();

private:
    void useFirmware(int code, const char* label);

    QPlainTextEdit logView;
    QProgressBar statusBar;
    QProgressBar firmwareBar;
    QLabel titleLabel;
    Zef400* orchestrator = nullptr;
    KeyPressEater* keyEater = nullptr;
    bool serviceMenuEnabled = false;
    QList<int> serviceSequence;
    int sequencePosition = 0;
    bool sequenceDisarmed = true;
    int statusPresses = 0;
    bool guiShown = false;
    // Ends the program: the event loop is left through a queued call, so the timer's own
    // handler returns first.
    QTimer quitTimer;
};
