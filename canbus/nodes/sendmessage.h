#pragma once

#include "canbus/frame/canmessaget.h"
#include "canbus/routing/canmessagefactory.h"

#include <functional>

namespace CanBus {

// Builds one frame of TYPE with its defaults, lets the owner fill it from its current job and
// sends it through the node's factory: the sender of a send-and-wait step. The builder is asked
// anew on every send, so a chart built once serves every job.
template <eCanMessageType TYPE> class SendMessage {
public:
    using Builder = std::function<void(CanMessageT<TYPE>&)>;

    SendMessage(CanMessageFactory& factory, Builder builder = Builder())
        : m_factory(factory)
        , m_builder(std::move(builder))
    {
    }

    void sendCanMessage()
    {
        CanMessageT<TYPE> frame;
        if (m_builder)
            m_builder(frame);
        m_factory.sendMessage(frame);
    }

private:
    CanMessageFactory& m_factory;
    Builder m_builder;
};

using SendMessage_SCM_RESET_MODULE = SendMessage<SCM_RESET_MODULE>;
using SendMessage_SCM_SET_OPERATE = SendMessage<SCM_SET_OPERATE>;
using SendMessage_SCM_FW_ACC_CONTROL = SendMessage<SCM_FW_ACC_CONTROL>;
using SendMessage_SCM_FW_ACC_ERASE = SendMessage<SCM_FW_ACC_ERASE>;
using SendMessage_SCM_FW_ACC_BL_WRITE = SendMessage<SCM_FW_ACC_BL_WRITE>;
using SendMessage_SCM_FW_ACC_BL_W_END = SendMessage<SCM_FW_ACC_BL_W_END>;

} // namespace CanBus
