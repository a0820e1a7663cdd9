#pragma once

#include "kubus/request/receivemessagetransition.h"
#include "kubus/request/sendmessagetransition.h"

#include <QFinalState>
#include <QState>

namespace Kubus {

// One step of a request sequence: on entry it sends `request` on bus SBUS, then waits for a
// record of type RREC from node `nodeId` on bus RBUS (any node for -1) and copies it into
// `result`; it emits finished() when that record has arrived.
template <class SBUS, class SREQ, class RBUS, class RREC> class RequestState : public QState {
public:
    RequestState(QState* parent, SREQ& request, RREC& result, int nodeId)
        : QState(parent)
    {
        auto* send = new QState(this);
        auto* wait = new QState(this);
        auto* done = new QFinalState(this);
        setInitialState(send);

        auto* sending = new SendMessageTransition<SBUS, SREQ>(send, SIGNAL(entered()), request);
        sending->setTargetState(wait);
        send->addTransition(sending);

        auto* receiving = new ReceiveMessageTransition<RBUS, RREC>(result, nodeId);
        receiving->setTargetState(done);
        wait->addTransition(receiving);
    }
};

} // namespace Kubus
