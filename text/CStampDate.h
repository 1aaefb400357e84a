#pragma once

#include <string>

// The moment a text's {date} shows: taken once when the run starts (or
// given with --date), so that every file and every worker of a batch, and
// a batch across midnight, say the same. Kept as "YYYY-MM-DD HH:MM:SS".
class CStampDate {
public:
    // Reads "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS"; false when it is not a
    // real date and time of years 1 to 9999.
    bool read(const std::string& text);
    // The local time now, as read() takes it.
    static std::string now();

    // `format` with its conversions replaced: %Y %y %m %d %H %M %S %j %B %b
    // %A %a and %%, with English names; the conversions are done here, never
    // by the C library, whose unknown ones end a program on some systems.
    std::string format(const std::string& format) const;
    // The first conversion of `format` that format() does not know ("%Q"),
    // or empty when there is none.
    static std::string unknownConversion(const std::string& format);

private:
    int m_year = 1970, m_month = 1, m_day = 1, m_hour = 0, m_minute = 0, m_second = 0;
};
