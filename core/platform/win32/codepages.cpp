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

// The count of a conversion call. 0 is also the answer for text that gives nothing (a UTF-7
// "+" without anything after it): a failure only when the system says so.
size_t Count(int n) noexcept {
    if (n > 0) return static_cast<size_t>(n);
    return ::GetLastError() == ERROR_SUCCESS ? 0 : kConversionFailed;
}

}  // namespace

size_t CodePageToWide(unsigned int codePage, const char* text, size_t length, wchar_t* out,
                      size_t capacity) {
    if (text == nullptr || !FitsInt(length)) return kConversionFailed;
    if (length == 0) return ::IsValidCodePage(codePage) ? 0 : kConversionFailed;
    // No room at all: the system would take that as a size query; it is enough only for a
    // text that gives nothing.
    const bool noRoom = out != nullptr && capacity == 0;
    ::SetLastError(ERROR_SUCCESS);
    const size_t n =
        Count(::MultiByteToWideChar(codePage, 0, text, static_cast<int>(length),
                                    noRoom ? nullptr : out, out != nullptr ? Room(capacity) : 0));
    return noRoom && n != 0 ? kConversionFailed : n;
}

size_t WideToCodePage(unsigned int codePage, const wchar_t* text, size_t length, char* out,
                      size_t capacity) {
    if (text == nullptr || !FitsInt(length)) return kConversionFailed;
    if (length == 0) return ::IsValidCodePage(codePage) ? 0 : kConversionFailed;
    const bool noRoom = out != nullptr && capacity == 0;
    ::SetLastError(ERROR_SUCCESS);
    const size_t n = Count(
        ::WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), noRoom ? nullptr : out,
                              out != nullptr ? Room(capacity) : 0, nullptr, nullptr));
    return noRoom && n != 0 ? kConversionFailed : n;
}

}  // namespace Tavrin::Platform
