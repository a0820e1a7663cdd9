#pragma once

#include <QSet>
#include <QTimer>
#include <QWidget>

// The program's one full-screen window. It takes the start-up's read-only and forced-update
// settings and ends the program through its quit path.
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

public slots:
    void reboot();
    void quit();
    void stop();
    void startUpdater();

private:
    // Ends the program: the event loop is left through a queued call, so the timer's own
    // handler returns first.
    QTimer quitTimer;
};
