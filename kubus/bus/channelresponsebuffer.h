#pragma once

#include "kubus/bus/bufferoneresponse.h"
#include "kubus/bus/channel.h"

namespace Kubus {

// A request channel: the request itself (through Channel<T>) plus its response, with the
// response buffer the blocking requests wait on.
template <class T> class ChannelResponseBuffer : public BufferOneResponse<T, Channel<T>> {
public:
    using Response = typename T::Response;

    ChannelResponseBuffer() { registerRecordType<Response>(); }

    virtual void send(const Response& response) = 0;
    virtual void message(const Response& response) = 0;
    using Channel<T>::send;
    using Channel<T>::message;
};

} // namespace Kubus
