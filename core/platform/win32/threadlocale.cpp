// The per-thread C-runtime locale on Windows. Where the C runtime (msvcrt.dll) has
// _configthreadlocale, the guard gives the thread a locale of its own and sets it to "C" with
// setlocale, so that everything the thread does meanwhile (application callbacks included)
// sees "C". A runtime without it (Wine's msvcrt, for one) has only the process-wide locale,
// which the guard must not change under other threads: there the library's own number
// conversions alone use the "C" locale while a guard is active, through the runtime's *_l
// functions.
#include "core/platform/threadlocale.h"

#include <windows.h>

#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

namespace Tavrin::Platform {

namespace {

using ConfigThreadLocaleFn = int(__cdecl*)(int);
using CreateLocale = _locale_t(__cdecl*)(int, const char*);
using StrToDoubleL = double(__cdecl*)(const char*, char**, _locale_t);
using WcsToDoubleL = double(__cdecl*)(const wchar_t*, wchar_t**, _locale_t);
using PrintL = int(__cdecl*)(char*, size_t, const char*, _locale_t, ...);

// The runtime's locale functions, looked up once by name: the import library of mingw-w64
// stands in for some of them with functions that do nothing.
struct SRuntime {
    ConfigThreadLocaleFn configThreadLocale = nullptr;
    StrToDoubleL strtodL = nullptr;
    WcsToDoubleL wcstodL = nullptr;
    PrintL snprintfL = nullptr;
    _locale_t cLocale = nullptr;  // never freed

    SRuntime() noexcept {
        const HMODULE crt = ::GetModuleHandleW(L"msvcrt.dll");
        if (crt == nullptr) return;
        const auto find = [crt](const char* name) {
            return reinterpret_cast<void*>(::GetProcAddress(crt, name));
        };
        configThreadLocale = reinterpret_cast<ConfigThreadLocaleFn>(find("_configthreadlocale"));
        strtodL = reinterpret_cast<StrToDoubleL>(find("_strtod_l"));
        wcstodL = reinterpret_cast<WcsToDoubleL>(find("_wcstod_l"));
        snprintfL = reinterpret_cast<PrintL>(find("_snprintf_l"));
        if (const auto create = reinterpret_cast<CreateLocale>(find("_create_locale"))) {
            cLocale = create(LC_ALL, "C");
        }
    }
};

const SRuntime& Runtime() noexcept {
    static const SRuntime runtime;
    return runtime;
}

// How many guards are active on the thread.
thread_local unsigned t_guards = 0;

// The "C" locale object when the conversions must use it explicitly: inside a guard, on a
// runtime without per-thread locales.
_locale_t ExplicitCLocale() noexcept {
    const SRuntime& runtime = Runtime();
    return t_guards > 0 && runtime.configThreadLocale == nullptr ? runtime.cLocale : nullptr;
}

}  // namespace

CThreadLocaleGuard::CThreadLocaleGuard() noexcept : m_previousMode(-1) {
    ++t_guards;
    const SRuntime& runtime = Runtime();
    if (runtime.configThreadLocale == nullptr) return;
    m_previousMode = runtime.configThreadLocale(_ENABLE_PER_THREAD_LOCALE);
    // A thread that already had a locale of its own gets it back by name; one that followed
    // the process-wide locale simply follows it again (its own copy is dropped).
    if (m_previousMode == _ENABLE_PER_THREAD_LOCALE) {
        if (const char* current = ::setlocale(LC_ALL, nullptr)) m_previousLocale = current;
    }
    ::setlocale(LC_ALL, "C");
}

CThreadLocaleGuard::~CThreadLocaleGuard() {
    --t_guards;
    const SRuntime& runtime = Runtime();
    if (runtime.configThreadLocale == nullptr) return;
    if (m_previousMode == _ENABLE_PER_THREAD_LOCALE) {
        if (!m_previousLocale.empty()) ::setlocale(LC_ALL, m_previousLocale.c_str());
    } else if (m_previousMode == _DISABLE_PER_THREAD_LOCALE) {
        runtime.configThreadLocale(_DISABLE_PER_THREAD_LOCALE);
    }
}

bool InCLocale() noexcept { return t_guards > 0; }

bool HasPerThreadLocale() noexcept { return Runtime().configThreadLocale != nullptr; }

int ConfigThreadLocale(int mode) noexcept {
    const ConfigThreadLocaleFn config = Runtime().configThreadLocale;
    return config != nullptr ? config(mode) : -1;
}

double StrToDouble(const char* text, const char** end) noexcept {
    char* stop = nullptr;
    const _locale_t c = ExplicitCLocale();
    const StrToDoubleL strtodL = Runtime().strtodL;
    const double value =
        c != nullptr && strtodL != nullptr ? strtodL(text, &stop, c) : ::strtod(text, &stop);
    *end = stop;
    return value;
}

double WcsToDouble(const wchar_t* text, const wchar_t** end) noexcept {
    wchar_t* stop = nullptr;
    const _locale_t c = ExplicitCLocale();
    const WcsToDoubleL wcstodL = Runtime().wcstodL;
    const double value =
        c != nullptr && wcstodL != nullptr ? wcstodL(text, &stop, c) : ::wcstod(text, &stop);
    *end = stop;
    return value;
}

int PrintFixed(char* buffer, size_t size, double value) noexcept {
    const _locale_t c = ExplicitCLocale();
    const PrintL snprintfL = Runtime().snprintfL;
    if (c != nullptr && snprintfL != nullptr) {
        // This one answers -1 rather than the full length when the buffer is too small.
        return snprintfL(buffer, size, "%f", c, value);
    }
    return ::snprintf(buffer, size, "%f", value);
}

}  // namespace Tavrin::Platform
