// The per-thread C-runtime locale: a guard that runs the calling thread in the "C" locale,
// and the locale-aware number conversions that read the thread's current locale.
// Internal to the library; the guard is exported only so that tests can drive it.
#pragma once

#include <locale.h>  // NOLINT(modernize-deprecated-headers): POSIX locale_t, uselocale

#include <cstddef>
#if defined(_WIN32)
#include <string>
#endif

namespace Tavrin::Platform {

// Switches the calling thread to the "C" locale (decimal point '.', no grouping) for the
// guard's lifetime, and gives the thread back its previous locale on every exit, exceptions
// included. A thread that was following the process-wide locale follows it again afterwards.
// Guards nest; each must be destroyed on the thread that created it, in reverse order.
class CThreadLocaleGuard {
public:
    CThreadLocaleGuard() noexcept;
    ~CThreadLocaleGuard();
    CThreadLocaleGuard(const CThreadLocaleGuard&) = delete;
    CThreadLocaleGuard& operator=(const CThreadLocaleGuard&) = delete;

private:
#if defined(_WIN32)
    int m_previousMode;            // the thread's locale mode (_configthreadlocale) before
    std::string m_previousLocale;  // its own locale before, when it had one
#else
    locale_t m_previous;
#endif
};

#if defined(_WIN32)
// Whether the C runtime gives threads locales of their own (_configthreadlocale). Without it
// a guard switches only the library's own conversions below to "C", not the process-wide
// locale that other threads share.
bool HasPerThreadLocale() noexcept;
// The C runtime's _configthreadlocale(mode) when it has one, else -1. (The import library of
// mingw-w64 links a stand-in that never enables per-thread locales; this is the real one.)
int ConfigThreadLocale(int mode) noexcept;
#else
// The process-wide cached "C" locale object (never freed).
locale_t CLocale() noexcept;

// The calling thread's current locale object: the one set by uselocale, or LC_GLOBAL_LOCALE
// when the thread follows the process-wide locale. LC_GLOBAL_LOCALE is not valid for the
// *_l functions; use the conversions below, which handle it.
locale_t CurrentThreadLocale() noexcept;
#endif

// True when the calling thread's number conversions are certainly those of the "C" locale
// (inside a CThreadLocaleGuard); false when that is not known.
bool InCLocale() noexcept;

// strtod in the calling thread's current locale: parses a prefix of the zero-terminated `text`,
// sets `*end` past it (to `text` when nothing was parsed).
double StrToDouble(const char* text, const char** end) noexcept;
// wcstod in the calling thread's current locale, as StrToDouble.
double WcsToDouble(const wchar_t* text, const wchar_t** end) noexcept;

// Prints `value` with "%f" in the calling thread's current locale into `buffer`; returns the
// snprintf result (the full length, or a negative value when printing fails).
int PrintFixed(char* buffer, size_t size, double value) noexcept;

}  // namespace Tavrin::Platform
