#pragma once

#include <QtGlobal>

namespace Kubus {

// One column of the amplitude-frequency table, as one service-data part delivers it.
class AmplFrqTablePartData {
public:
    static constexpr int rowCount = 128;

    quint16 value(int row) const { return values[row]; }
    void setValue(int row, quint16 value) { values[row] = value; }

    quint16 values[rowCount] = {};
};

} // namespace Kubus
