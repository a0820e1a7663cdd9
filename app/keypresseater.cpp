#include "app/keypresseater.h"

#include <QCoreApplication>
#include <QKeyEvent>

KeyPressEater::KeyPressEater(QObject* parent)
    : QObject(parent)
{
}

bool KeyPressEater::eventFilter(QObject* watched, QEvent* event)
{
    // A key press reaches the window's platform window first and is then handed on to the
    // focused widget. Judged at both, Left would be followed by two page keys and every key
    // would be counted twice, so only the widget's delivery is looked at.
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const int code = key->key();
    emit keyPressed(code - 48);
    switch (code) {
    case Qt::Key_1:
        emit keyPressed_Menu();
        return true;
    case Qt::Key_2:
        emit keyPressed_Back();
        return true;
    case Qt::Key_3:
        emit keyPressed_Home();
        return true;
    case Qt::Key_4:
        emit keyPressed_Function();
        return true;
    case Qt::Key_5:
        emit keyPressed_Status();
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right:
        // The panel has no page keys: Left and Right page the log as well as moving in it.
        QCoreApplication::postEvent(watched,
            new QKeyEvent(QEvent::KeyPress,
                code == Qt::Key_Left ? Qt::Key_PageUp : Qt::Key_PageDown, key->modifiers(),
                QString(), false, 1));
        return false;
    default:
        return QObject::eventFilter(watched, event);
    }
}
