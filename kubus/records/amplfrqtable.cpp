#include "kubus/records/amplfrqtable.h"

#include <cstring>

namespace Kubus {

void AmplFrqTable::Table::setColumn(int column, const AmplFrqTablePartData& part)
{
    for (int row = 0; row < rowCount; ++row)
        values[row][column] = part.values[row];
}

void AmplFrqTable::setTable(const AmplFrqTablePartData& part)
{
    table.setColumn(fillColumn, part);
    fillColumn = (fillColumn + 1) % Table::columnCount;
}

float AmplFrqTable::unpackFloat(unsigned long packed)
{
    const quint32 bits = (quint32(packed & 0xFF) << 24) | (quint32((packed >> 8) & 0xFF) << 16)
        | (quint32((packed >> 16) & 0xFF) << 8) | quint32((packed >> 24) & 0xFF);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

QDebug operator<<(QDebug debug, const AmplFrqTable& t)
{
    QDebugStateSaver saver(debug);
    debug.setAutoInsertSpaces(true);
    debug << "a_rAMPL_FRQ_TABLE.uiBlockId"
          << "=" << t.blockId << "\n"
          << "a_rAMPL_FRQ_TABLE.uiCheckSum"
          << "=" << t.checkSum << "\n"
          << "a_rAMPL_FRQ_TABLE.fFrqStart"
          << "=" << t.frqStart << "\n"
          << "a_rAMPL_FRQ_TABLE.fStepSize"
          << "=" << t.stepSize << "\n"
          << "a_rAMPL_FRQ_TABLE.uiStepCount"
          << "=" << t.stepCount << "\n"
          << "a_rAMPL_FRQ_TABLE.ucDbStart"
          << "=" << unsigned(t.dbStart) << "\n"
          << "a_rAMPL_FRQ_TABLE.ucDbStep"
          << "=" << unsigned(t.dbStep) << "\n"
          << "a_rAMPL_FRQ_TABLE.ucDbCount"
          << "=" << unsigned(t.dbCount) << "\n"
          << "a_rAMPL_FRQ_TABLE.uiDbOutputFactor"
          << "=" << t.dbOutputFactor;
    for (int row = 0; row < AmplFrqTable::Table::rowCount; ++row) {
        for (int column = 0; column < AmplFrqTable::Table::columnCount; ++column) {
            debug << "\n"
                  << "a_rAMPL_FRQ_TABLE.table.getValue( iIndex1, iIndex2 )"
                  << "=" << t.table.getValue(row, column);
        }
    }
    return debug;
}

} // namespace Kubus
