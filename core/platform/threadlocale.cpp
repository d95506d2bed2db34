#include "threadlocale.h"

#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

namespace Tavrin::Platform {

locale_t CLocale() noexcept {
    // Created once; newlocale of "C" cannot fail short of memory exhaustion, and then
    // LC_GLOBAL_LOCALE is the least harmful fallback.
    static const locale_t cLocale = [] {
        locale_t l = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        return l ? l : LC_GLOBAL_LOCALE;
    }();
    return cLocale;
}

CThreadLocaleGuard::CThreadLocaleGuard() noexcept : m_previous(::uselocale(CLocale())) {}

CThreadLocaleGuard::~CThreadLocaleGuard() {
    if (m_previous) ::uselocale(m_previous);
}

locale_t CurrentThreadLocale() noexcept { return ::uselocale(static_cast<locale_t>(nullptr)); }

bool InCLocale() noexcept { return ::uselocale(static_cast<locale_t>(nullptr)) == CLocale(); }

// Plain strtod and snprintf already read the thread's locale set by uselocale (or the global
// one), which is exactly the locale these conversions must use.
double StrToDouble(const char* text, const char** end) noexcept {
    char* stop = nullptr;
    const double value = ::strtod(text, &stop);
    *end = stop;
    return value;
}

double WcsToDouble(const wchar_t* text, const wchar_t** end) noexcept {
    wchar_t* stop = nullptr;
    const double value = ::wcstod(text, &stop);
    *end = stop;
    return value;
}

int PrintFixed(char* buffer, size_t size, double value) noexcept {
    return ::snprintf(buffer, size, "%f", value);
}

}  // namespace Tavrin::Platform
