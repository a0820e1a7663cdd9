#include "canbus/nodes/operate.h"

#include "canbus/commands/sendmessageandwaitforacknowledgestate.h"

namespace CanBus {

Operate::Operate(CanNodeEngine& engine, QObject* parent)
    : StateMachineCommand<Kubus::Operate>(engine, parent)
    , m_sender(engine.canMessageFactory())
{
}

QState* Operate::state(QState* parent)
{
    auto* root
        = new SendMessageAndWaitForAcknowledgeState<SendMessage_SCM_SET_OPERATE, SCM_SET_OPERATE>(
            m_engine, m_sender, parent);
    connect(root, &QState::finished, this, &StateMachineCommandBase::slotDataWritten);
    return root;
}

void Operate::incomingMessage(const Kubus::Operate& request)
{
    queueRequest(request);
}

} // namespace CanBus
