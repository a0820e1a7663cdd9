#include "canbus/engine/candeferredtransition.h"

#include "canbus/frame/canmessage.h"
#include "canbus/routing/canmessagetypeobject.h"
#include "kubus/log/kulog.h"

#include <QDebug>
#include <QMetaMethod>
#include <QStateMachine>

namespace CanBus {

CanDeferredTransition::CanDeferredTransition(QState* source)
    : QAbstractTransition(source)
{
}

bool CanDeferredTransition::eventTest(QEvent* event)
{
    if (!event)
        return false;
    if (event->type() == QEvent::StateMachineSignal) {
        const auto* signalEvent = static_cast<const QStateMachine::SignalEvent*>(event);
        QObject* sender = signalEvent->sender();
        const QMetaMethod method
            = sender ? sender->metaObject()->method(signalEvent->signalIndex()) : QMetaMethod();
        if (method.name() == "finished")
            return false;
        if (!qobject_cast<CanMessageType*>(sender)) {
            QString text;
            QDebug(&text).nospace() << "Deferred event lost. Sender: " << sender << ",  Signal: \""
                                    << method.methodSignature().constData() << "\"";
            Kubus::kuPrint(text, Q_FUNC_INFO);
            return false;
        }
        const QList<QVariant> arguments = signalEvent->arguments();
        if (arguments.size() == 1 && arguments.first().canConvert<CanMessage>()) {
            const CanMessage frame = arguments.first().value<CanMessage>();
            if (frame.messageType() != SCM_IDENTIFY)
                Kubus::kuPrint("          CanMessage: " + frame.toString(), Q_FUNC_INFO);
        }
        return false;
    }
    if (event->type() != QEvent::None)
        Kubus::kuPrint(QStringLiteral("Deferred event: %1").arg(int(event->type())), Q_FUNC_INFO);
    return false;
}

} // namespace CanBus
