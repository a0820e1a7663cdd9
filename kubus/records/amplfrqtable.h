#pragma once

#include "kubus/records/amplfrqtablepartdata.h"

#include <QDebug>
#include <QMetaType>

namespace Kubus {

// The amplitude-frequency table of a mainboard, filled field by field from service data.
class AmplFrqTable {
public:
    static const char* staticTypeName() { return "Kubus::AmplFrqTable"; }

    class Table {
    public:
        static constexpr int rowCount = AmplFrqTablePartData::rowCount;
        static constexpr int columnCount = 8;

        quint16 getValue(int row, int column) const { return values[row][column]; }
        void setColumn(int column, const AmplFrqTablePartData& part);

    private:
        quint16 values[rowCount][columnCount] = {};
    };

    void setBlockId(unsigned value) { blockId = value; }
    void setCheckSum(unsigned value) { checkSum = value; }
    // The node sends the float's bytes most significant first; they arrive packed least
    // significant first, so the packed integer is the float's bit pattern byte-swapped.
    void setFrqStart(unsigned long packed) { frqStart = unpackFloat(packed); }
    void setStepSize(unsigned long packed) { stepSize = unpackFloat(packed); }
    void setStepCount(unsigned value) { stepCount = value; }
    void setDbStart(unsigned char value) { dbStart = value; }
    void setDbStep(unsigned char value) { dbStep = value; }
    void setDbCount(unsigned char value) { dbCount = value; }
    void setDbOutputFactor(unsigned value) { dbOutputFactor = value; }
    // The eight parts arrive in column order; a ninth starts over at column 0.
    void setTable(const AmplFrqTablePartData& part);

    static float unpackFloat(unsigned long packed);

    quint32 blockId = 0;
    quint32 checkSum = 0;
    float frqStart = 0;
    float stepSize = 0;
    quint32 stepCount = 0;
    quint8 dbStart = 0;
    quint8 dbStep = 0;
    quint8 dbCount = 0;
    quint32 dbOutputFactor = 0;
    Table table;

private:
    int fillColumn = 0;
};

QDebug operator<<(QDebug debug, const AmplFrqTable& table);

} // namespace Kubus

Q_DECLARE_METATYPE(Kubus::AmplFrqTable)
