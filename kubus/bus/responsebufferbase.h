#pragma once

#include <QString>
#include <qnamespace.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace Kubus {

// The untyped half of a one-slot response buffer: its state, lock and wake-up, shared by every
// request type so that the typed buffers only add the stored response.
//
// Invariant: the requester holds `mutex` from startRequestProcessing() until the condition wait
// releases it, and again from the wake-up until the response is fetched. A deliverer can therefore
// store a response only while the requester really waits, and never between its fetch and the
// reset to Ready. `holder` names the thread that holds the mutex outside the wait, so that a
// response delivered synchronously inside the requester's own send is stored instead of
// deadlocking on the lock that thread already holds.
//
// The standard mutex and condition variable stand in for QMutex and QWaitCondition: the same
// semantics, but the thread checker sees through them (Qt's wait condition unlocks the mutex
// inside the uninstrumented library, which hides the ordering it provides).
class ResponseBufferBase {
public:
    enum State {
        Ready = 0,
        RequestProcessingStarted = 1,
        WaitingForResponse = 2,
        WaitingForResponseFetch = 3
    };

    static const char* stateText(int state);

    // Takes the buffer for one request; true leaves the mutex locked by the caller.
    bool startRequestProcessing();
    State currentState();

protected:
    ResponseBufferBase() = default;
    ~ResponseBufferBase() = default;
    ResponseBufferBase(const ResponseBufferBase&) = delete;
    ResponseBufferBase& operator=(const ResponseBufferBase&) = delete;

    // Waits until a response is stored; returns with the mutex still locked so that the caller
    // fetches under it and finally calls finishFetch().
    void waitLocked();
    void finishFetch();

    // Deliverer side: true when the caller may store the response now; then it must call
    // endDelivery() after storing.
    bool beginDelivery();
    void endDelivery();

    void setState(State s) { state = s; }

    std::mutex mutex;
    std::condition_variable condition;
    State state = Ready;

private:
    bool heldByThisThread() const;

    std::atomic<Qt::HANDLE> holder { nullptr };
    bool reentrantDelivery = false;
};

} // namespace Kubus
