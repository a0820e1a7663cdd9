#pragma once

#include <QObject>

// Turns the front-panel keys into signals. Installed on the application object, it sees the key
// presses of every widget: the five panel keys (delivered by the keypad driver as the digits 1 to
// 5) are consumed, Left and Right are followed by a page key for the focused view.
class KeyPressEater : public QObject {
    Q_OBJECT

public:
    explicit KeyPressEater(QObject* parent = nullptr);

signals:
    void keyPressed_Menu();
    void keyPressed_Back();
    void keyPressed_Home();
    void keyPressed_Function();
    void keyPressed_Status();
    void keyPressed(int number);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
