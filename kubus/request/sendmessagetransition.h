#pragma once

#include <QSignalTransition>

namespace Kubus {

// Sends a record on bus type BUS when it fires. The record is held by reference and read only
// then, so a caller may fill it in after the step was made.
template <class BUS, class T> class SendMessageTransition : public QSignalTransition {
public:
    SendMessageTransition(const QObject* sender, const char* signal, T& record)
        : QSignalTransition(sender, signal)
        , record(record)
    {
    }

protected:
    void onTransition(QEvent* event) override
    {
        QSignalTransition::onTransition(event);
        BUS::instance()->send(record);
    }

private:
    T& record;
};

} // namespace Kubus
