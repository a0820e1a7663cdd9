#pragma once

#include <QDebug>
#include <QString>

namespace Kubus {

// A fixed array of measured values, counted from 1 as the node's message describes them.
template <typename T, int value_count> class MeasuredValues {
public:
    MeasuredValues()
    {
        for (T& v : values)
            v = T();
    }

    // A bad index must not corrupt the record: it gets a shared scratch element instead.
    T& value(int index)
    {
        if (index < 1 || index > value_count) {
            qDebug().noquote() << QString::fromLatin1("ERROR in %1: invalid index %2")
                                      .arg(QLatin1String(Q_FUNC_INFO))
                                      .arg(index);
            static T dummy;
            return dummy;
        }
        return values[index - 1];
    }
    T value(int index) const { return const_cast<MeasuredValues*>(this)->value(index); }

    static constexpr int count() { return value_count; }

private:
    T values[value_count];
};

} // namespace Kubus
