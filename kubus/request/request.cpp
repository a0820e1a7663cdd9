#include "kubus/request/request.h"

namespace Kubus {

QString errorBanner(const char* message)
{
    const QString dashes(73, QLatin1Char('-'));
    return QLatin1Char('\n') + dashes + QLatin1String("\n ") + QLatin1String(message)
        + QLatin1Char('\n') + dashes + QLatin1Char('\n');
}

} // namespace Kubus
