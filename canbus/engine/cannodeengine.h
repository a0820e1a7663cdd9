#pragma once

namespace CanBus {

class CanMessageFactory;
class StateMachine;

} // namespace CanBus

class QThread;

namespace CanBus {

// Everything of one node id: its message factory, its command state machine and the thread in
// which both, and all the node's commands, live. The owner moves them into the thread and
// starts it.
class CanNodeEngine {
public:
    explicit CanNodeEngine(unsigned nodeId);
    // Stops the thread after its pending events, then deletes machine, factory and thread.
    ~CanNodeEngine();
    CanNodeEngine(const CanNodeEngine&) = delete;
    CanNodeEngine& operator=(const CanNodeEngine&) = delete;

    unsigned nodeId() const;
    CanMessageFactory& canMessageFactory() const { return *m_factory; }
    StateMachine& stateMachine() const { return *m_stateMachine; }
    QThread& thread() const { return *m_thread; }

private:
    CanMessageFactory* const m_factory;
    StateMachine* const m_stateMachine;
    QThread* const m_thread;
};

} // namespace CanBus
