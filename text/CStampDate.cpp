#include "text/CStampDate.h"

#include <cstdio>
#include <ctime>

namespace {

const char* const kMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                 "July",    "August",   "September", "October", "November", "December"};
const char* const kDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr const char* kConversions = "YymdHMSjBbAa%";

bool leapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month)
{
    static const int kDaysIn[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leapYear(year) ? 29 : kDaysIn[month - 1];
}

// Days from 1 January of year 1 (a Monday, in the proleptic Gregorian calendar) to the date.
long daysSinceYearOne(int year, int month, int day)
{
    const long before = year - 1;
    long days = before * 365 + before / 4 - before / 100 + before / 400;
    for (int m = 1; m < month; ++m)
        days += daysInMonth(year, m);
    return days + day - 1;
}

// `value` in at least `width` digits, zeros in front.
std::string padded(long value, int width)
{
    char text[32];
    std::snprintf(text, sizeof text, "%0*ld", width, value);
    return text;
}

} // namespace

bool CStampDate::read(const std::string& text)
{
    // Digits where digits stand: sscanf alone would take signs and spaces.
    const std::string shape = "dddd-dd-dd dd:dd:dd";
    for (size_t at = 0; at < text.size() && at < shape.size(); ++at)
        if ((shape[at] == 'd') != (text[at] >= '0' && text[at] <= '9'))
            return false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char tail = 0;
    const bool whole = text.size() == 19 && std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &year, &month, &day,
                                                        &hour, &minute, &second, &tail) == 6;
    const bool dateOnly =
        text.size() == 10 && std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &tail) == 3;
    if ((!whole && !dateOnly) || year < 1 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return false;
    m_year = year, m_month = month, m_day = day, m_hour = hour, m_minute = minute, m_second = second;
    return true;
}

std::string CStampDate::now()
{
    const std::time_t clock = std::time(nullptr);
    const std::tm* local = std::localtime(&clock);
    char text[80] = "1970-01-01 00:00:00";
    if (local)
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local->tm_year + 1900, local->tm_mon + 1,
                      local->tm_mday, local->tm_hour, local->tm_min, local->tm_sec);
    return text;
}

std::string CStampDate::unknownConversion(const std::string& format)
{
    for (size_t at = 0; at < format.size(); ++at) {
        if (format[at] != '%')
            continue;
        if (at + 1 >= format.size() || std::string(kConversions).find(format[at + 1]) == std::string::npos)
            return format.substr(at, 2);
        ++at;
    }
    return std::string();
}

std::string CStampDate::format(const std::string& format) const
{
    const long days = daysSinceYearOne(m_year, m_month, m_day);
    const int weekday = static_cast<int>((days + 1) % 7); // 0 = Sunday
    std::string text;
    for (size_t at = 0; at < format.size(); ++at) {
        if (format[at] != '%' || at + 1 >= format.size()) {
            text += format[at];
            continue;
        }
        switch (format[++at]) {
        case 'Y':
            text += padded(m_year, 4);
            break;
        case 'y':
            text += padded(m_year % 100, 2);
            break;
        case 'm':
            text += padded(m_month, 2);
            break;
        case 'd':
            text += padded(m_day, 2);
            break;
        case 'H':
            text += padded(m_hour, 2);
            break;
        case 'M':
            text += padded(m_minute, 2);
            break;
        case 'S':
            text += padded(m_second, 2);
            break;
        case 'j':
            text += padded(days - daysSinceYearOne(m_year, 1, 1) + 1, 3);
            break;
        case 'B':
            text += kMonths[m_month - 1];
            break;
        case 'b':
            text += std::string(kMonths[m_month - 1], 3);
            break;
        case 'A':
            text += kDays[weekday];
            break;
        case 'a':
            text += std::string(kDays[weekday], 3);
            break;
        default:
            text += format[at];
            break; // "%%"
        }
    }
    return text;
}
