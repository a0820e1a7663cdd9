#include "kubus/records/amplfrqtablechecksum.h"

namespace Kubus {

QDebug operator<<(QDebug debug, const AmplFrqTableCheckSum& sum)
{
    QDebugStateSaver saver(debug);
    debug.setAutoInsertSpaces(true);
    debug << "a_rAMPL_FRQ_TABLE_CHECK_SUM.uiCheckSum"
          << "=" << sum.checkSum;
    return debug;
}

} // namespace Kubus
