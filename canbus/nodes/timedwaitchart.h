#pragma once

#include "canbus/engine/statemachinecommandbase.h"

#include <QFinalState>
#include <QState>
#include <QTimer>

namespace CanBus {

// The chart of the node control commands that wait a fixed time for the node's answer:
// Send -> Wait -> Done. Wait starts the wait timer and Done ends the job with status 0; the
// command adds the transitions that send, take the answer and give up.
struct TimedWaitChart {
    QState* root;
    QState* send;
    QState* wait;
    QFinalState* done;
};

inline TimedWaitChart buildTimedWaitChart(
    StateMachineCommandBase& command, QTimer& waitTimer, int waitMs, QState* parent)
{
    waitTimer.setInterval(waitMs);
    waitTimer.setSingleShot(true);
    TimedWaitChart chart;
    chart.root = new QState(parent);
    chart.send = new QState(chart.root);
    chart.wait = new QState(chart.root);
    chart.done = new QFinalState(chart.root);
    chart.root->setInitialState(chart.send);
    QObject::connect(chart.wait, &QState::entered, &waitTimer, qOverload<>(&QTimer::start));
    QObject::connect(
        chart.done, &QState::entered, &command, &StateMachineCommandBase::slotDataWritten);
    return chart;
}

} // namespace CanBus
