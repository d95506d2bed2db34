// Conversion between Windows code pages and wide text, the stand-in for MultiByteToWideChar and
// WideCharToMultiByte (flags 0, no default character) for every code page except UTF-8, with
// Windows' results: its byte assignments, its best fit for a character without an exact mapping
// and its default character otherwise (one for each UTF-16 unit), one default wide character for
// a lead byte without a valid trail byte.
//
// The single- and double-byte code pages go through tables built once per process from ICU's
// converters and corrected by tables generated from Windows' own conversions (see
// tools/codepages); UTF-7 has its own coder; the stateful code pages and GB 18030 go through ICU
// converters opened once per thread.
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
