#pragma once

#include "kubus/bus/channel.h"

#include <QDebug>
#include <QSignalTransition>
#include <QStateMachine>

namespace Kubus {

// Fires on the first record of type T that the bus of one node (or, for node id -1, the bus for
// all nodes) announces, and copies it into the caller's record. Field values are not compared.
template <class BUS, class T> class ReceiveMessageTransition : public QSignalTransition {
public:
    ReceiveMessageTransition(T& result, int nodeId)
        : result(result)
    {
        registerRecordType<T>();
        const QByteArray signal = QByteArray("message(") + T::staticTypeName() + ')';
        if (nodeId != -1)
            BUS::instance()->connectToNode(nodeId, *this, signal.constData());
        else
            BUS::instance()->connectToAllNodes(*this, signal.constData());
    }

protected:
    void onTransition(QEvent* event) override
    {
        QSignalTransition::onTransition(event);
        if (event->type() != QEvent::StateMachineSignal) {
            qDebug() << "State machine error: not a QStateMachine::SignalEvent";
            return;
        }
        const auto* signalEvent = static_cast<QStateMachine::SignalEvent*>(event);
        const QList<QVariant> arguments = signalEvent->arguments();
        if (arguments.size() != 1 || !arguments.at(0).canConvert<T>()) {
            qDebug() << "State machine error: not a kubus message argument";
            return;
        }
        result = arguments.at(0).value<T>();
    }

private:
    T& result;
};

} // namespace Kubus
