#pragma once

#include "canbus/commands/writeonlycommand.h"

namespace CanBus {

// Asks the node to send one message of TARGET. Answers done once the poll is handed on; the
// values arrive later as the node's spontaneous frame.
template <class Request, eCanMessageType TARGET>
class PollCommand : public WriteOnlyCommand<SCM_POLL, Request, false> {
public:
    explicit PollCommand(CanNodeEngine& engine, QObject* parent = nullptr)
        : WriteOnlyCommand<SCM_POLL, Request, false>(engine, parent)
    {
    }

    void prepareMessage(CanMessageT<SCM_POLL>& frame) override
    {
        frame.setId(CanMessageT<TARGET>().rawIdentifier());
    }
};

} // namespace CanBus
