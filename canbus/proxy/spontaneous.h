#pragma once

#include "canbus/device/canasyncreadwrite.h"
#include "canbus/frame/canmessaget.h"
#include "canbus/proxy/handlespontaneous.h"
#include "canbus/routing/spontaneousreceiver.h"

namespace CanBus {

// The handler of one message type that nodes send on their own: acknowledges the frame when the
// node asks for it, decodes it into its measured-value record and sends that on the bus.
template <class BUS, eCanMessageType TYPE, class Record>
class Spontaneous : public SpontaneousReceiver {
public:
    explicit Spontaneous(CanAsyncReadWrite* pair, QObject* parent = nullptr)
        : SpontaneousReceiver(parent)
        , m_pair(pair)
    {
    }

protected:
    void handleCanMessage(const CanMessage& frame) override
    {
        if (m_pair && frame.ackRequest()) {
            // The pair lives in the bus's I/O thread.
            const CanMessage ack = CanMessageT<SCM_MSG_ACK>(frame);
            CanAsyncReadWrite* pair = m_pair;
            QMetaObject::invokeMethod(
                pair, [pair, ack] { pair->write(ack); }, Qt::QueuedConnection);
        }
        Record record;
        record.nodeId = int(frame.nodeId());
        record.spontaneous = true;
        HandleSpontaneous::decode(frame, record);
        BUS::instance()->send(record);
    }

private:
    CanAsyncReadWrite* m_pair;
};

} // namespace CanBus
