#pragma once

#include "canbus/frame/canmessage.h"
#include "canbus/routing/canmessagetypeobject.h"

#include <QHash>
#include <QObject>

namespace CanBus {

// Frames in and out for one node. In: every frame of the node is handed to the signal object of
// its type, which the node's state-machine transitions listen to. Out: every frame a command
// builds gets the node's id before it goes to the bus's destination setter.
class CanMessageFactory : public QObject {
    Q_OBJECT

public:
    struct Entry {
        CanIdentifier identifier;
        CanMessageType* signalObject = nullptr;
    };

    // Creates and registers one signal object for every known message type.
    explicit CanMessageFactory(unsigned nodeId, QObject* parent = nullptr);

    unsigned nodeId() const { return m_nodeId; }

    // Registers or replaces the signal object of a type (the factory takes it as a child).
    void addCommand(eCanMessageType type, CanMessageType* signalObject);
    template <eCanMessageType TYPE> CanMessageType* signalObject() const
    {
        return signalObject(TYPE);
    }
    CanMessageType* signalObject(eCanMessageType type) const;
    // The frame's signal object, null for a type not registered.
    CanMessageType* findSignalObject(const CanMessage& message) const;

    // Called from the bus's I/O thread; the signal objects emit in the factory's (the node's)
    // thread, where the node's state machine takes the signal as an event.
    void interpretIncomingCanMessage(const CanMessage& message);

    // A frame built with a node id below 255 leaves with this node's id; a broadcast keeps 255.
    void sendMessage(CanMessage message);

    // The type's name, or "UNKNOWN_MESSAGE".
    static QString messageDescription(eCanMessageType type);

signals:
    void unknownMessage();
    void writeMessage(const CanBus::CanMessage& message);

protected:
    // Written only while the factory is built, then only read (also from the I/O thread).
    QHash<unsigned, Entry> m_entries;

private:
    const unsigned m_nodeId;
};

} // namespace CanBus
