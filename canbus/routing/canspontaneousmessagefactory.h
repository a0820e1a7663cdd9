#pragma once

#include "canbus/frame/canmessage.h"
#include "canbus/routing/canmessagetypeobject.h"

#include <QHash>
#include <QObject>

namespace CanBus {

// The signal objects of the types a node sends on its own (identify, amplifier values, test
// points), one set per bus: the spontaneous handlers listen to them, whatever node sent.
class CanSpontaneousMessageFactory : public QObject {
    Q_OBJECT

public:
    explicit CanSpontaneousMessageFactory(QObject* parent = nullptr);

    bool isRegistered(const CanMessage& message) const;
    CanMessageType* signalObject(eCanMessageType type) const;
    template <eCanMessageType TYPE> CanMessageType* signalObject() const
    {
        return signalObject(TYPE);
    }

public slots:
    void interpretIncomingCanMessage(const CanBus::CanMessage& message);

signals:
    void unknownMessage();

private:
    // Filled by the constructor, then only read (isRegistered runs in the I/O thread).
    QHash<unsigned, CanMessageType*> m_objects;
};

} // namespace CanBus
