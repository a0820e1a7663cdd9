#pragma once

#include <string>

namespace Base {

// A named trace switch with a level, the part of the base library's diagnostics that this
// program uses: lines at or below the object's level go to the log, the rest are dropped
// before any text is built by the caller (ask enabled() first for costly texts).
class Diagnostics {
public:
    enum Level { Off = 0, Error = 1, Warning = 2, Info = 3, Debug = 4 };
    static constexpr Level DefaultLevel = Warning;

    explicit Diagnostics(std::string name, Level level = DefaultLevel);

    const std::string& name() const { return m_name; }
    Level level() const { return m_level; }
    void setLevel(Level level) { m_level = level; }
    bool enabled(Level level) const { return level != Off && level <= m_level; }

    // Logs "NAME: text" through the program's log when level is enabled.
    void trace(Level level, const std::string& text, const char* function) const;

private:
    std::string m_name;
    Level m_level;
};

} // namespace Base
