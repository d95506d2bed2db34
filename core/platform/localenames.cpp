#include "localenames.h"

#include <locale.h>
#include <time.h>
#include <wchar.h>

namespace Tavrin::Platform {

namespace {

locale_t UserLocale() {
    static const locale_t userLocale = [] {
        locale_t l = ::newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr));
        if (!l) l = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        return l;
    }();
    return userLocale;
}

bool IsLeap(unsigned year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

// 0 = Sunday, from the days since 1601-01-01 (a Monday) by the proleptic Gregorian rules.
int DayOfWeek(unsigned year, unsigned month, unsigned day) {
    static constexpr int kBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const long long y = static_cast<long long>(year) - 1601;
    long long days = y * 365 + y / 4 - y / 100 + y / 400 + kBefore[month - 1] + (day - 1);
    if (month > 2 && IsLeap(year)) ++days;
    return static_cast<int>((days + 1) % 7);
}

}  // namespace

unsigned int AppendLocaleName(ELocaleName which, unsigned short year, unsigned short month,
                              unsigned short day, std::wstring& out) {
    static constexpr unsigned char kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 ||
        day > kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0)) {
        return kErrorInvalidParameter;
    }
    const locale_t locale = UserLocale();
    if (!locale) return kErrorInvalidParameter;

    tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_wday = DayOfWeek(year, month, day);
    // %OB and %Ob are the stand-alone (nominative) forms, which is what a lone month picture
    // gives; they equal %B and %b in languages without such forms.
    const wchar_t* format = which == ELocaleName::Weekday ? L"%A"
                            : which == ELocaleName::Month ? L"%OB"
                                                          : L"%Ob";
    wchar_t buffer[1024];
    const size_t length =
        ::wcsftime_l(buffer, sizeof buffer / sizeof buffer[0], format, &t, locale);
    if (length == 0) return kErrorInsufficientBuffer;
    out.append(buffer, length);
    return 0;
}

}  // namespace Tavrin::Platform
