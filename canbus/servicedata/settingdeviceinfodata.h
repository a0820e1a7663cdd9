#pragma once

#include "canbus/engine/bufferedsignaltransition.h"
#include "canbus/servicedata/servicedata.h"
#include "kubus/log/kulog.h"

#include <QByteArray>
#include <QState>

namespace CanBus {

// After the last word of a field: converts the field's buffer into its value, sets it on the
// record and empties the buffer. Words are whole, so the buffer may hold up to three bytes more
// than the field; only the first FIELD::length count.
template <class FIELD, class Record> class SettingDeviceInfoData : public BufferedSignalTransition {
public:
    SettingDeviceInfoData(StateMachine& machine, QByteArray& buffer, Record& record, QState* source,
        QAbstractState* target)
        : BufferedSignalTransition(machine, source, SIGNAL(entered()), target, source)
        , m_buffer(buffer)
        , m_record(record)
    {
    }

protected:
    void onTransition(QEvent*) override
    {
        if (m_buffer.size() < FIELD::length) {
            Kubus::kuPrint(QStringLiteral("bytes needed   : %1").arg(FIELD::length), Q_FUNC_INFO);
            Kubus::kuPrint(QStringLiteral("bytes available: %1").arg(m_buffer.size()), Q_FUNC_INFO);
        }
        ServiceData::convertAndSet<FIELD>(m_buffer, m_record);
        m_buffer.clear();
    }

private:
    QByteArray& m_buffer;
    Record& m_record;
};

} // namespace CanBus
