#include "hdf/datetime.h"

#include <cstdio>

namespace Base {

namespace {

int daysInMonth(int year, int month)
{
    static const int days[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

} // namespace

DateTime DateTime::fromText(const std::string& text)
{
    DateTime t;
    const char* s = text.c_str();
    int y = 0, mo = 0, d = 0, n = 0;
    if (std::sscanf(s, "%4d-%2d-%2d%n", &y, &mo, &d, &n) != 3
        && std::sscanf(s, "%2d.%2d.%4d%n", &d, &mo, &y, &n) != 3
        && std::sscanf(s, "%4d/%2d/%2d%n", &y, &mo, &d, &n) != 3)
        return t;
    const char* rest = s + n;
    int h = 0, mi = 0, sec = 0;
    if (*rest == ' ' || *rest == 'T') {
        int m = 0;
        if (std::sscanf(rest + 1, "%2d:%2d%n", &h, &mi, &m) != 2)
            return t;
        rest += 1 + m;
        if (*rest == ':') {
            if (std::sscanf(rest + 1, "%2d%n", &sec, &m) != 1)
                return t;
            rest += 1 + m;
        }
    }
    if (*rest != '\0' || y < 1 || mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h < 0
        || h > 23 || mi < 0 || mi > 59 || sec < 0 || sec > 59)
        return t;
    t.m_valid = true;
    t.m_year = y;
    t.m_month = mo;
    t.m_day = d;
    t.m_hour = h;
    t.m_minute = mi;
    t.m_second = sec;
    return t;
}

std::string DateTime::toString() const
{
    if (!m_valid)
        return std::string();
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", m_year, m_month, m_day,
        m_hour, m_minute, m_second);
    return buffer;
}

} // namespace Base
