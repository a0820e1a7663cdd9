#pragma once

#include "canbus/commands/receivingresult.h"
#include "canbus/commands/sendingrequest.h"
#include "canbus/engine/cannodeengine.h"
#include "canbus/engine/statemachinecommand.h"
#include "canbus/frame/canmessaget.h"
#include "canbus/routing/canmessagefactory.h"

#include <QFinalState>
#include <QState>

namespace CanBus {

// A command that sends one frame of TYPE built from the request. Without reply it answers done
// as soon as the frame is handed on; with reply it waits for the node's frame of the same type.
//
//   without reply:  S --S entered / send--> F
//   with reply:     S --S entered / send--> A --frame of TYPE--> B --B entered--> F
//   F entered: slotDataWritten()
template <eCanMessageType TYPE, class Request, bool withAck>
class WriteOnlyCommand : public StateMachineCommand<Request> {
public:
    explicit WriteOnlyCommand(CanNodeEngine& engine, QObject* parent = nullptr)
        : StateMachineCommand<Request>(engine, parent)
    {
    }

    // Fills a frame that carries the type's defaults from the current request.
    virtual void prepareMessage(CanMessageT<TYPE>& frame) = 0;

    QState* state(QState* parent) override
    {
        StateMachine& machine = this->m_stateMachine;
        CanMessageFactory& factory = this->m_engine.canMessageFactory();
        auto* working = new QState(parent);
        auto* send = new QState(working);
        auto* done = new QFinalState(working);
        working->setInitialState(send);
        const auto prepare = [this](CanMessageT<TYPE>& frame) { prepareMessage(frame); };
        if constexpr (withAck) {
            auto* wait = new QState(working);
            auto* received = new QState(working);
            new SendingRequest<TYPE, Request>(machine, factory, send, wait, prepare);
            new ReceivingResult<TYPE, Request>(machine, factory, wait, received);
            received->addTransition(received, &QState::entered, done);
        } else {
            new SendingRequest<TYPE, Request>(machine, factory, send, done, prepare);
        }
        QObject::connect(done, &QState::entered, this, &StateMachineCommandBase::slotDataWritten);
        return working;
    }
};

} // namespace CanBus
