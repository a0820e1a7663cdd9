#pragma once

#include "kubus/bus/responsebufferbase.h"

namespace Kubus {

// The one-slot response buffer of request type T on one bus; C is the bus's channel for T,
// through which the blocking request sends.
template <class T, class C> class BufferOneResponse : public C, public ResponseBufferBase {
public:
    using Response = typename T::Response;

    BufferOneResponse()
        : channel(this)
    {
        // -2 marks "no response yet" without the complaint a record with -1 makes when destroyed.
        response.nodeId = -2;
    }

    // Stores r if a requester waits for it and wakes the requester; any other response is left
    // to be announced only.
    void deliverResponse(const Response& r)
    {
        if (!beginDelivery())
            return;
        response = r;
        endDelivery();
    }

    // Only after startRequestProcessing() returned true, in the same thread: blocks until the
    // response is stored, then hands it out and frees the buffer for the next request.
    Response waitForResponse()
    {
        waitLocked();
        Response fetched = response;
        finishFetch();
        return fetched;
    }

    C* const channel;

private:
    Response response;
};

} // namespace Kubus
