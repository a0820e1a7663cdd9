#pragma once

#include "kubus/bus/bufferoneresponse.h"
#include "kubus/bus/channel.h"
#include "kubus/log/kulog.h"

#include <QObject>
#include <QThread>

namespace Kubus {

// The framed error text of the Kubus layer: a line of 73 dashes above and below the message.
QString errorBanner(const char* message);

// One blocking request on bus type BUS: sends the request record and blocks the calling thread
// until the response arrives. There is no time limit here; the CAN command that serves the
// request always answers, with a time-out status if need be.
//
//     Kubus::Request<Kubus::MainBoardBus, Kubus::Ping> request(sender(), ping);
//     const Kubus::Ping::Response response = request.execute();
//
// `sender` is QObject::sender() of the requesting object (it is protected, so the requester
// passes it): a request from a slot that a bus of this type is delivering is refused with
// status 3, since waiting there would block the thread that must deliver the response.
template <class BUS, class T> class Request {
public:
    using Response = typename T::Response;
    using Buffer = BufferOneResponse<T, Channel<T>>;

    Request(QObject* sender, const T& request)
        : sender(sender)
        , request(request)
        , bus(BUS::instance())
    {
    }

    bool isBusMessageProcessingActive() const
    {
        const bool fromBus = sender && qobject_cast<const BUS*>(sender);
        if (!fromBus && QThread::currentThread() != &BUS::bus_thread())
            return false;
        kuPrint(errorBanner("ERROR in Kubus Request: Request called while processing a Kubus "
                            "message."),
            Q_FUNC_INFO);
        return true;
    }

    Response execute()
    {
        if (isBusMessageProcessingActive())
            return refused(3);
        Buffer& buffer = *bus;
        if (!buffer.startRequestProcessing())
            return refused(4);
        buffer.channel->send(request);
        return buffer.waitForResponse();
    }

private:
    static Response refused(int status)
    {
        Response response;
        response.nodeId = -1;
        response.status = status;
        return response;
    }

    QObject* const sender;
    const T request;
    BUS* const bus;
};

} // namespace Kubus
