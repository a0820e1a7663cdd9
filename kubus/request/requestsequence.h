#pragma once

#include "kubus/request/requeststate.h"
#include "kubus/request/statemachine.h"

#include <QFinalState>
#include <QTimer>

namespace Kubus {

// A short chain of steps, each sending a request and waiting for a record, run to its end by
// process(). The whole chain is limited to 30 s; after a time-out the records of the steps that
// did not complete keep their previous contents.
class RequestSequence : public StateMachine {
    Q_OBJECT
public:
    static constexpr int timeoutMs = 30000;

    explicit RequestSequence(QObject* parent = nullptr);

    // Adds one step. `request` and `result` are held by reference until the sequence has run;
    // `request` is read when the step sends it.
    template <class SBUS, class SREQ, class RBUS, class RREC>
    void makeRequest(SREQ& request, RREC& result, int nodeId)
    {
        auto* step = new RequestState<SBUS, SREQ, RBUS, RREC>(this, request, result, nodeId);
        if (lastRequest)
            lastRequest->addTransition(lastRequest, &QState::finished, step);
        else
            setInitialState(step);
        connect(step, &QState::entered, this, &RequestSequence::requestEntered);
        connect(step, &QState::finished, this, &RequestSequence::requestFinished);
        lastRequest = step;
    }

    // Runs the steps in the caller's thread (its events keep being processed) until the last one
    // has finished or the time limit has passed. `sender` is QObject::sender() of the caller.
    void process(QObject* sender);

public slots:
    void machineTimeout();
    void requestEntered() { }
    void requestFinished() { }

private:
    QState* lastRequest = nullptr;
    QFinalState* end = nullptr;
    QTimer timer;
};

} // namespace Kubus
