// Local time on Windows: the system's conversions with the current time-zone settings.
#include "core/platform/timezone.h"

#include <windows.h>

namespace Tavrin::Platform {

namespace {

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
    if (!IsConvertible(fields)) return false;
    const SYSTEMTIME utc = ToSystemTime(fields);
    SYSTEMTIME local{};
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return false;
    STimeFields result = fields;
    if (!FromSystemTime(local, result)) return false;
    fields = result;
    return true;
}

bool LocalToUtc(STimeFields& fields) noexcept {
    if (!IsConvertible(fields)) return false;
    const SYSTEMTIME local = ToSystemTime(fields);
    SYSTEMTIME utc{};
    if (!::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc)) return false;
    STimeFields result = fields;
    if (!FromSystemTime(utc, result)) return false;
    fields = result;
    return true;
}

}  // namespace Tavrin::Platform
