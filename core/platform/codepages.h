// Conversion between Windows code pages and wide text, the stand-in for MultiByteToWideChar and
// WideCharToMultiByte (flags 0, no default character) for every code page except UTF-8.
//
// Wide text holds code points. Invalid input bytes become U+FFFD; a character with no mapping in
// the target code page becomes that code page's "?". Converters are opened once per thread and
// kept.
#pragma once

#include <cstddef>

namespace Tavrin::Platform {

// Returned when the code page is not supported, the text is null or `capacity` is too small.
inline constexpr size_t kConversionFailed = static_cast<size_t>(-1);

// Converts `length` bytes of `text` in `codePage` to wide characters. With `out` null it only
// counts them; otherwise it writes at most `capacity` characters to `out`. Returns the count
// (no terminating NUL is added) or kConversionFailed.
size_t CodePageToWide(unsigned int codePage, const char* text, size_t length, wchar_t* out,
                      size_t capacity);

// Converts `length` wide characters of `text` to bytes in `codePage`, counting or writing as
// CodePageToWide does. Code points above U+10FFFF are taken as U+FFFD.
size_t WideToCodePage(unsigned int codePage, const wchar_t* text, size_t length, char* out,
                      size_t capacity);

}  // namespace Tavrin::Platform
