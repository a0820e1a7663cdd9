#pragma once

#include <QMetaType>

namespace Kubus {

// Records travel as arguments of queued signals, so each type must be known to the meta-type
// system under the name the buses use in their signatures ("Kubus::X", "Kubus::X::Response").
template <class R> void registerRecordType()
{
    if (!QMetaType::fromName(R::staticTypeName()).isValid())
        qRegisterMetaType<R>(R::staticTypeName());
}

// One record type of a bus: whoever has a record calls send, whoever wants it listens to message.
template <class T> class Channel {
public:
    Channel() { registerRecordType<T>(); }
    virtual ~Channel() = default;

    virtual void send(const T& record) = 0;
    virtual void message(const T& record) = 0;
};

} // namespace Kubus
