#include "kubus/bus/responsebufferbase.h"

#include "kubus/log/callstack.h"
#include "kubus/log/kulog.h"

#include <QThread>

namespace Kubus {

const char* ResponseBufferBase::stateText(int state)
{
    switch (state) {
    case Ready:
        return "Ready";
    case RequestProcessingStarted:
        return "RequestProcessingStarted";
    case WaitingForResponse:
        return "WaitingForResponse";
    case WaitingForResponseFetch:
        return "WaitingForResponseFetch";
    }
    return "Unknown state";
}

bool ResponseBufferBase::heldByThisThread() const
{
    return holder.load() == QThread::currentThreadId();
}

ResponseBufferBase::State ResponseBufferBase::currentState()
{
    if (heldByThisThread())
        return state;
    std::lock_guard<std::mutex> lock(mutex);
    return state;
}

bool ResponseBufferBase::startRequestProcessing()
{
    State current;
    if (heldByThisThread()) {
        // A request of the same type made while this thread is still sending one: locking again
        // would deadlock on our own mutex.
        current = state;
    } else {
        mutex.lock();
        current = state;
        if (current != RequestProcessingStarted && current != WaitingForResponse
            && current != WaitingForResponseFetch) {
            state = RequestProcessingStarted;
            holder.store(QThread::currentThreadId());
            return true;
        }
        mutex.unlock();
    }

    kuErrorLine(true);
    if (current == WaitingForResponseFetch)
        kuPrint("ERROR in Kubus Request: Last response wasn't fechted.\n", Q_FUNC_INFO);
    else
        kuPrint("ERROR in Kubus Request: Nested requests are not supported by Kubus.", Q_FUNC_INFO);
    kuPrint(QString("Current state: '%1'").arg(QLatin1String(stateText(current))), Q_FUNC_INFO);
    printCallStack();
    return false;
}

void ResponseBufferBase::waitLocked()
{
    if (state == RequestProcessingStarted) {
        state = WaitingForResponse;
        holder.store(nullptr);
        // No time limit: the CAN side answers every request, with a time-out status if need be.
        std::unique_lock<std::mutex> lock(mutex, std::adopt_lock);
        condition.wait(lock, [this] { return state != WaitingForResponse; });
        lock.release();
        holder.store(QThread::currentThreadId());
        return;
    }
    kuErrorLine(true);
    kuPrint("ERROR in Kubus Request: waiting for reponse not possible.", Q_FUNC_INFO);
    printCallStack();
}

void ResponseBufferBase::finishFetch()
{
    state = Ready;
    holder.store(nullptr);
    mutex.unlock();
}

bool ResponseBufferBase::beginDelivery()
{
    if (heldByThisThread()) {
        // Answered synchronously from inside the requester's own send: the lock is ours already.
        if (state != RequestProcessingStarted)
            return false;
        reentrantDelivery = true;
        return true;
    }
    mutex.lock();
    if (state != WaitingForResponse) {
        mutex.unlock();
        return false;
    }
    return true;
}

void ResponseBufferBase::endDelivery()
{
    state = WaitingForResponseFetch;
    if (reentrantDelivery) {
        reentrantDelivery = false;
        return;
    }
    condition.notify_all();
    mutex.unlock();
}

} // namespace Kubus
