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

// Converts UTC fields to local time of the current zone (TZ), in place; milliseconds are kept
// and the day of week is set. Returns false, leaving the fields unchanged, when they are not a
// valid date and time (years 1601-30827) or the C library cannot convert them.
bool UtcToLocal(STimeFields& fields) noexcept;

// Converts local-time fields of the current zone to UTC, in place, with the daylight-saving
// rule of that date. Same validity rule and failure behaviour as UtcToLocal.
bool LocalToUtc(STimeFields& fields) noexcept;

}  // namespace Tavrin::Platform
