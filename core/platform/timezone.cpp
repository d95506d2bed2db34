#include "timezone.h"

#include <errno.h>
#include <time.h>

namespace Tavrin::Platform {

namespace {

tm ToTm(const STimeFields& f) {
    tm t{};
    t.tm_year = f.year - 1900;
    t.tm_mon = f.month - 1;
    t.tm_mday = f.day;
    t.tm_hour = f.hour;
    t.tm_min = f.minute;
    t.tm_sec = f.second;
    t.tm_isdst = -1;
    return t;
}

bool FromTm(const tm& t, STimeFields& f) {
    const long long year = static_cast<long long>(t.tm_year) + 1900;
    if (year < 0 || year > 65535) return false;
    f.year = static_cast<unsigned short>(year);
    f.month = static_cast<unsigned short>(t.tm_mon + 1);
    f.dayOfWeek = static_cast<unsigned short>(t.tm_wday);
    f.day = static_cast<unsigned short>(t.tm_mday);
    f.hour = static_cast<unsigned short>(t.tm_hour);
    f.minute = static_cast<unsigned short>(t.tm_min);
    f.second = static_cast<unsigned short>(t.tm_sec);
    return true;
}

}  // namespace

bool UtcToLocal(STimeFields& fields) noexcept {
    if (!IsConvertible(fields)) return false;
    tm utc = ToTm(fields);
    utc.tm_isdst = 0;
    errno = 0;
    const time_t when = ::timegm(&utc);
    if (when == static_cast<time_t>(-1) && errno != 0) return false;
    ::tzset();  // localtime_r need not notice a changed TZ on its own
    tm local{};
    if (!::localtime_r(&when, &local)) return false;
    STimeFields result = fields;
    if (!FromTm(local, result)) return false;
    fields = result;
    return true;
}

bool LocalToUtc(STimeFields& fields) noexcept {
    if (!IsConvertible(fields)) return false;
    tm local = ToTm(fields);
    errno = 0;
    const time_t when = ::mktime(&local);
    if (when == static_cast<time_t>(-1) && errno != 0) return false;
    tm utc{};
    if (!::gmtime_r(&when, &utc)) return false;
    STimeFields result = fields;
    if (!FromTm(utc, result)) return false;
    fields = result;
    return true;
}

}  // namespace Tavrin::Platform
