#include "responder.h"

Responder::Responder()
{
    worker.setObjectName(QStringLiteral("Responder"));
    worker.start();
    moveToThread(&worker);
}

Responder::~Responder()
{
    worker.quit();
    worker.wait();
}

void Responder::release()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            holding = false;
            const auto actions = pending;
            pending.clear();
            for (const auto& action : actions)
                action();
        },
        Qt::QueuedConnection);
}
