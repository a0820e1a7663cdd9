#pragma once

#include "canbus/engine/statemachinecommand.h"
#include "canbus/routing/canmessagefactory.h"
#include "canbus/servicedata/receivingservicedata.h"
#include "canbus/servicedata/sendingservicedatarequest.h"
#include "canbus/servicedata/settingdeviceinfodata.h"

#include <QFinalState>
#include <QState>

namespace CanBus {

// A command that reads fields of the node's service data in 4-byte words, strictly one request
// outstanding at a time. Its working state is a chain built once:
//
//   root: initial --entered / request word--> wait --answer--> got --entered / request next--> ...
//         --entered / set field--> ... --entered--> final       (final entered: slotDataWritten)
//
// There is no time limit per word: the command's time-out ends a read the node does not answer.
template <class Request> class GetServiceDataCommand : public StateMachineCommand<Request> {
public:
    GetServiceDataCommand(CanNodeEngine& engine, quint8 selector, QObject* parent = nullptr)
        : StateMachineCommand<Request>(engine, parent)
        , m_selector(selector)
    {
    }

    quint8 selector() const { return m_selector; }
    void setSelector(quint8 selector) { m_selector = selector; }

    // Two states under parent: the request for the word holding address goes out on previous's
    // entry, the answer leads to the second state, which is returned.
    QState* read4Bytes(
        QState* parent, QState* previous, unsigned address, int skip, const char* name)
    {
        if (address % 4 != 0)
            Kubus::kuPrint("Error: wrong address: % 4 != 0", Q_FUNC_INFO);
        auto* wait = new QState(parent);
        auto* got = new QState(parent);
        CanMessageFactory& factory = this->m_engine.canMessageFactory();
        new SendingServiceDataRequest(
            this->m_stateMachine, factory, m_selector, previous, wait, address, name);
        new ReceivingServiceData(
            this->m_stateMachine, factory, m_selector, m_buffer, wait, got, address, skip);
        return got;
    }

    // The words that cover bytes address .. address + n - 1; the last state, or previous for n 0.
    QState* readNBytes(int n, QState* parent, QState* previous, unsigned address, const char* name)
    {
        if (n <= 0)
            return previous;
        const unsigned last = address + unsigned(n) - 1;
        QState* state = read4Bytes(parent, previous, address & ~3u, int(address % 4), name);
        for (unsigned word = (address & ~3u) + 4; word <= (last & ~3u); word += 4)
            state = read4Bytes(parent, state, word, 0, name);
        return state;
    }

    // Reads one field and sets it on the response.
    template <class FIELD> QState* read(QState* parent, QState* previous)
    {
        QState* last = readNBytes(FIELD::length, parent, previous, FIELD::address, FIELD::text);
        auto* set = new QState(parent);
        new SettingDeviceInfoData<FIELD, typename Request::Response>(
            this->m_stateMachine, m_buffer, this->m_response, last, set);
        return set;
    }

    QState* state(QState* parent) override
    {
        auto* root = new QState(parent);
        auto* initial = new QState(root);
        root->setInitialState(initial);
        QState* last = readFields(root, initial);
        auto* done = new QFinalState(root);
        last->addTransition(last, &QState::entered, done);
        QObject::connect(done, &QState::entered, this, &StateMachineCommandBase::slotDataWritten);
        return root;
    }

    // The chain of field reads, from initial on; returns its last state.
    virtual QState* readFields(QState* root, QState* initial) = 0;

protected:
    // A new job starts with an empty buffer, whatever the last one left behind.
    void setCurrentRequest(const Request&) override { m_buffer.clear(); }

    quint8 m_selector;
    QByteArray m_buffer;
};

} // namespace CanBus
