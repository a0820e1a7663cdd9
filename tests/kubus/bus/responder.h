#pragma once

#include <QList>
#include <QObject>
#include <QThread>

#include <atomic>
#include <functional>

// Stands in for the CAN side of a bus: a QObject in a thread of its own that hears requests on
// the bus for all nodes and answers them as a node's command does, by a queued call of the bus's
// send slot. Answers can be held back until release(), to keep requests pending.
class Responder : public QObject {
    Q_OBJECT
public:
    Responder();
    ~Responder() override;

    // Runs `action` in the responder's thread for every request of type T announced on `bus`.
    template <class BUS, class T> void onRequest(BUS* bus, std::function<void(const T&)> action)
    {
        connect(
            bus, qOverload<const T&>(&BUS::message), this,
            [this, action](const T& request) {
                ++requestCount;
                if (holding)
                    pending.append([action, request] { action(request); });
                else
                    action(request);
            },
            Qt::QueuedConnection);
    }

    // Answers every request of type T with a response of the request's node id and status 0,
    // completed by `fill`.
    template <class BUS, class T>
    void answer(BUS* bus, std::function<void(const T&, typename T::Response&)> fill = {})
    {
        onRequest<BUS, T>(bus, [bus, fill](const T& request) {
            typename T::Response response;
            response.nodeId = request.nodeId;
            response.status = 0;
            if (fill)
                fill(request, response);
            deliver(bus, response);
        });
    }

    // Hands a record to the bus's send slot through the bus's own thread, as the CAN side does.
    template <class BUS, class R> static void deliver(BUS* bus, const R& record)
    {
        QMetaObject::invokeMethod(
            bus, [bus, record] { bus->send(record); }, Qt::QueuedConnection);
    }

    // Keeps answers back from now on / lets the kept ones and all later ones go.
    void hold() { holding = true; }
    void release();

    int requests() const { return requestCount; }

private:
    QThread worker;
    std::atomic<bool> holding { false };
    std::atomic<int> requestCount { 0 };
    QList<std::function<void()>> pending; // touched only in the worker thread
};
