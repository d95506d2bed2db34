// UTF-7 (code page 65000) as Windows converts it: Windows' set of characters written directly,
// base-64 runs always closed with "-", and bytes outside a run read as the characters of the
// same number.
#pragma once

#include <cstddef>

namespace Tavrin::Platform::Detail {

// Both count with `out` null and return kConversionFailed when `capacity` is too small. Wide
// text holds code points; a UTF-16 unit read without its partner stays a surrogate code point.
size_t Utf7ToWide(const char* text, size_t length, wchar_t* out, size_t capacity);
size_t WideToUtf7(const wchar_t* text, size_t length, char* out, size_t capacity);

}  // namespace Tavrin::Platform::Detail
