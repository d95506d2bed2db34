// Weekday and month names of the user's default locale, the stand-in for GetDateFormatW with
// the pictures "dddd", "MMMM" and "MMM".
#pragma once

#include <string>

namespace Tavrin::Platform {

enum class ELocaleName {
    Weekday,           // full weekday name of the date ("dddd")
    Month,             // full month name ("MMMM")
    MonthAbbreviated,  // abbreviated month name ("MMM")
};

// Error codes of the service, numbered as the platform numbers them.
constexpr unsigned int kErrorInvalidParameter = 87;
constexpr unsigned int kErrorInsufficientBuffer = 122;
constexpr unsigned int kErrorInvalidFlags = 1004;

// Appends the name for the date (year, month, day) to `out` and returns 0, or returns an error
// code and appends nothing: kErrorInvalidParameter when the date is not a valid calendar date
// of the years 1601-30827. The locale is the one the environment selects (LANG, LC_*), or "C"
// when that locale is not installed.
unsigned int AppendLocaleName(ELocaleName which, unsigned short year, unsigned short month,
                              unsigned short day, std::wstring& out);

}  // namespace Tavrin::Platform
