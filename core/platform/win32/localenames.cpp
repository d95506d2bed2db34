// Weekday and month names on Windows: GetDateFormatW in the user's default locale.
#include "core/platform/localenames.h"

#include <windows.h>

namespace Tavrin::Platform {

namespace {

bool IsLeap(unsigned year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

}  // namespace

unsigned int AppendLocaleName(ELocaleName which, unsigned short year, unsigned short month,
                              unsigned short day, std::wstring& out) {
    static constexpr unsigned char kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    // GetDateFormatW checks the date too; checking first gives the same answer as on Linux for
    // every date, whatever the system version accepts.
    if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 ||
        day > kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0)) {
        return kErrorInvalidParameter;
    }
    SYSTEMTIME date{};
    date.wYear = year;
    date.wMonth = month;
    date.wDay = day;
    const wchar_t* picture = which == ELocaleName::Weekday ? L"dddd"
                             : which == ELocaleName::Month ? L"MMMM"
                                                           : L"MMM";
    wchar_t buffer[256];
    const int length = ::GetDateFormatW(LOCALE_USER_DEFAULT, 0, &date, picture, buffer,
                                        static_cast<int>(sizeof buffer / sizeof buffer[0]));
    if (length <= 0) return static_cast<unsigned int>(::GetLastError());
    out.append(buffer, static_cast<size_t>(length - 1));  // the count includes the NUL
    return 0;
}

}  // namespace Tavrin::Platform
