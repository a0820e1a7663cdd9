#pragma once

#include "canbus/engine/cannodeengine.h"
#include "canbus/engine/statemachine.h"
#include "canbus/engine/statemachinecommandbase.h"
#include "kubus/log/kulog.h"
#include "kubus/request/requestinfoof.h"

namespace CanBus {

// A command serving one Kubus request type: it keeps the request of the current job and the
// response that answers it. Every job is answered exactly once, with status 0 done, 1 time-out or
// 2 CAN communication error.
//
// Each concrete command class declares the signal message(const Request::Response&) and the
// slot incomingMessage(const Request&), overriding the two operations below, so that the bus
// can connect to them by their signature text.
template <class Request> class StateMachineCommand : public StateMachineCommandBase {
public:
    using RequestType = Request;
    using Response = typename Request::Response;

    enum Status { Done = 0, Timeout = 1, CanCommunicationError = 2 };

    explicit StateMachineCommand(CanNodeEngine& engine, QObject* parent = nullptr)
        : StateMachineCommandBase(engine, parent)
    {
        // A record left at node id -1 complains when destroyed.
        m_request.nodeId = int(engine.nodeId());
        m_response.nodeId = int(engine.nodeId());
    }

    // The signal of the concrete class.
    virtual void message(const Response& response) = 0;
    // The slot of the concrete class: queues the request as a job of the node's machine.
    virtual void incomingMessage(const Request& request) = 0;
    // The job's request, before the working state runs; templates take their values from it.
    virtual void setCurrentRequest(const Request&) { }

    void nextRequest(unsigned jobId, Kubus::RequestInfo* info) override
    {
        takeRequest(jobId, info);
        setCurrentRequest(m_request);
        emit triggered();
    }

    // Answered as timed out, without running (the machine has finished: nothing runs).
    void abandonJob(unsigned jobId, Kubus::RequestInfo* info) override
    {
        takeRequest(jobId, info);
        answer(Timeout);
        m_currentJobId = 0;
    }

    void dataWritten() override { answer(Done); }
    void timeoutError() override { answer(Timeout); }
    void canCommunicationError() override { answer(CanCommunicationError); }

    const Request& currentRequest() const { return m_request; }
    Response& response() { return m_response; }

protected:
    // The job's request out of its handle; a fresh response addressed like it.
    void takeRequest(unsigned jobId, Kubus::RequestInfo* info)
    {
        m_currentJobId = jobId;
        m_answered = false;
        if (auto* typed = dynamic_cast<Kubus::RequestInfoOf<Request>*>(info)) {
            m_request = typed->request;
        } else {
            Kubus::kuPrint("Error in StateMachineCommand: request is null", Q_FUNC_INFO);
            m_request = Request();
        }
        delete info;
        Response fresh;
        fresh.nodeId = m_request.nodeId;
        fresh.spontaneous = m_request.spontaneous;
        m_response = fresh;
    }

    void queueRequest(const Request& request)
    {
        m_stateMachine.addJob(this, new Kubus::RequestInfoOf<Request>(request));
    }

    void answer(int status)
    {
        // The end of the working state, the timer and an error frame can meet in one step of
        // the machine; the first one answers.
        if (m_answered) {
            Kubus::kuPrint(QStringLiteral("Job %1 already answered, status %2 dropped")
                               .arg(m_currentJobId)
                               .arg(status),
                Q_FUNC_INFO);
            return;
        }
        m_answered = true;
        m_response.status = status;
        m_response.nodeId = int(m_engine.nodeId());
        message(m_response);
    }

    Request m_request;
    Response m_response;
    bool m_answered = false;
};

} // namespace CanBus
