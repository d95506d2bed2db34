// Local time of the machine's current time zone, the stand-in for
// SystemTimeToTzSpecificLocalTime and TzSpecificLocalTimeToSystemTime.
#pragma once

namespace Tavrin::Platform {

// Broken-down time, fields in the order of the date-time record.
struct STimeFields {
    unsigned short year;
    unsigned short month;
    unsigned short dayOfWeek;  // 0 = Sunday
    unsigned short day;
    unsigned short hour;
    unsigned short minute;
    unsigned short second;
    unsigned short milliseconds;
};

// Whether the fields are a date and time both systems convert: years 1601-30827, a day that
// exists in its month, times within the day. Windows' own functions would accept more (an
// out-of-range day of week, for example), so both systems check this first.
inline bool IsConvertible(const STimeFields& f) noexcept {
    static constexpr unsigned char kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (f.year < 1601 || f.year > 30827 || f.month < 1 || f.month > 12) return false;
    const bool leap = f.year % 4 == 0 && (f.year % 100 != 0 || f.year % 400 == 0);
    const unsigned days = kDays[f.month - 1] + (f.month == 2 && leap ? 1u : 0u);
    return f.day >= 1 && f.day <= days && f.hour < 24 && f.minute < 60 && f.second < 60 &&
           f.milliseconds < 1000;
}

// Converts UTC fields to local time of the current zone (TZ), in place; milliseconds are kept
// and the day of week is set. Returns false, leaving the fields unchanged, when they are not a
// valid date and time (years 1601-30827) or the C library cannot convert them.
bool UtcToLocal(STimeFields& fields) noexcept;

// Converts local-time fields of the current zone to UTC, in place, with the daylight-saving
// rule of that date. Same validity rule and failure behaviour as UtcToLocal.
bool LocalToUtc(STimeFields& fields) noexcept;

}  // namespace Tavrin::Platform
