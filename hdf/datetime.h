#pragma once

#include <string>

namespace Base {

// The date-and-time value of the base library: a calendar date with a time of day, read from
// the texts that description files carry. A text that is no date leaves the value invalid.
class DateTime {
public:
    DateTime() = default;

    // Accepts "YYYY-MM-DD", "DD.MM.YYYY" and "YYYY/MM/DD", each optionally followed by a blank
    // or "T" and "hh:mm" or "hh:mm:ss".
    static DateTime fromText(const std::string& text);

    bool isValid() const { return m_valid; }
    int year() const { return m_year; }
    int month() const { return m_month; }
    int day() const { return m_day; }
    int hour() const { return m_hour; }
    int minute() const { return m_minute; }
    int second() const { return m_second; }

    // "YYYY-MM-DD hh:mm:ss", or an empty text when invalid.
    std::string toString() const;

    friend bool operator==(const DateTime& a, const DateTime& b)
    {
        return a.m_valid == b.m_valid && a.m_year == b.m_year && a.m_month == b.m_month
            && a.m_day == b.m_day && a.m_hour == b.m_hour && a.m_minute == b.m_minute
            && a.m_second == b.m_second;
    }

private:
    bool m_valid = false;
    int m_year = 0;
    int m_month = 0;
    int m_day = 0;
    int m_hour = 0;
    int m_minute = 0;
    int m_second = 0;
};

} // namespace Base
