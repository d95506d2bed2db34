// Local time on Windows: the system's conversions with the current time-zone settings.
#include "core/platform/timezone.h"

#include <windows.h>

namespace Tavrin::Platform {

namespace {

bool IsLeap(unsigned year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

// The range of the Linux conversions, so that both systems refuse the same fields (the
// system functions would otherwise accept an out-of-range day of week, for example).
bool IsValid(const STimeFields& f) {
    static constexpr unsigned char kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (f.year < 1601 || f.year > 30827 || f.month < 1 || f.month > 12) return false;
    const unsigned days = kDays[f.month - 1] + (f.month == 2 && IsLeap(f.year) ? 1u : 0u);
    return f.day >= 1 && f.day <= days && f.hour < 24 && f.minute < 60 && f.second < 60 &&
           f.milliseconds < 1000;
}

SYSTEMTIME ToSystemTime(const STimeFields& f) {
    SYSTEMTIME t{};
    t.wYear = f.year;
    t.wMonth = f.month;
    t.wDay = f.day;
    t.wHour = f.hour;
    t.wMinute = f.minute;
    t.wSecond = f.second;
    t.wMilliseconds = f.milliseconds;
    return t;
}

// The converted time back into the fields, with its day of week worked out by the system
// (through FILETIME, which also checks the result); the milliseconds stay as they were.
bool FromSystemTime(const SYSTEMTIME& converted, STimeFields& f) {
    FILETIME fileTime{};
    SYSTEMTIME t{};
    if (!::SystemTimeToFileTime(&converted, &fileTime) || !::FileTimeToSystemTime(&fileTime, &t)) {
        return false;
    }
    f.year = t.wYear;
    f.month = t.wMonth;
    f.dayOfWeek = t.wDayOfWeek;
    f.day = t.wDay;
    f.hour = t.wHour;
    f.minute = t.wMinute;
    f.second = t.wSecond;
    return true;
}

}  // namespace

bool UtcToLocal(STimeFields& fields) noexcept {
    if (!IsValid(fields)) return false;
    const SYSTEMTIME utc = ToSystemTime(fields);
    SYSTEMTIME local{};
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return false;
    STimeFields result = fields;
    if (!FromSystemTime(local, result)) return false;
    fields = result;
    return true;
}

bool LocalToUtc(STimeFields& fields) noexcept {
    if (!IsValid(fields)) return false;
    const SYSTEMTIME local = ToSystemTime(fields);
    SYSTEMTIME utc{};
    if (!::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc)) return false;
    STimeFields result = fields;
    if (!FromSystemTime(utc, result)) return false;
    fields = result;
    return true;
}

}  // namespace Tavrin::Platform
