// Code-page conversions on Windows: MultiByteToWideChar and WideCharToMultiByte, flags 0 and no
// default character, which is how the system converts for every code page it knows.
#include "core/platform/codepages.h"

#include <windows.h>

#include <climits>

namespace Tavrin::Platform {

namespace {

// The system counts in int: longer texts and larger buffers cannot be given in one call.
bool FitsInt(size_t n) noexcept { return n <= static_cast<size_t>(INT_MAX); }

int Room(size_t capacity) noexcept {
    return FitsInt(capacity) ? static_cast<int>(capacity) : INT_MAX;
}

}  // namespace

size_t CodePageToWide(unsigned int codePage, const char* text, size_t length, wchar_t* out,
                      size_t capacity) {
    if (text == nullptr || !FitsInt(length)) return kConversionFailed;
    if (length == 0) return ::IsValidCodePage(codePage) ? 0 : kConversionFailed;
    if (out != nullptr && capacity == 0) return kConversionFailed;
    const int n = ::MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), out,
                                        out != nullptr ? Room(capacity) : 0);
    return n > 0 ? static_cast<size_t>(n) : kConversionFailed;
}

size_t WideToCodePage(unsigned int codePage, const wchar_t* text, size_t length, char* out,
                      size_t capacity) {
    if (text == nullptr || !FitsInt(length)) return kConversionFailed;
    if (length == 0) return ::IsValidCodePage(codePage) ? 0 : kConversionFailed;
    if (out != nullptr && capacity == 0) return kConversionFailed;
    const int n = ::WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), out,
                                        out != nullptr ? Room(capacity) : 0, nullptr, nullptr);
    return n > 0 ? static_cast<size_t>(n) : kConversionFailed;
}

}  // namespace Tavrin::Platform
