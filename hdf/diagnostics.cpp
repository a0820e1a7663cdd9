#include "hdf/diagnostics.h"

#include "kubus/log/kulog.h"

#include <utility>

namespace Base {

Diagnostics::Diagnostics(std::string name, Level level)
    : m_name(std::move(name))
    , m_level(level)
{
}

void Diagnostics::trace(Level level, const std::string& text, const char* function) const
{
    if (!enabled(level))
        return;
    Kubus::kuPrint((m_name + ": " + text).c_str(), function);
}

} // namespace Base
