/// \file
/// Conversion between narrow text in a Windows code page and wide text.
///
/// Wide text on this platform holds code points in wchar_t; code page numbers are Windows
/// code-page numbers (65001 is UTF-8; 0, 1 and 3, the system's ANSI, OEM and thread code
/// pages, are UTF-8 here, and 2, the Mac code page, is Mac Roman 10000). Other code pages
/// convert as Windows converts them: a wide character with no exact mapping becomes its
/// best-fit character, or else the code page's default character ("?", 0x6F in EBCDIC code
/// pages), one for each UTF-16 unit (two for a character beyond U+FFFF); a lead byte without a
/// valid trail byte becomes one default wide character (U+30FB in the Japanese code pages, "?"
/// in the others). In UTF-8, invalid input sequences become U+FFFD; a surrogate pair held in
/// two wide characters is written as its code point and any other surrogate becomes U+FFFD.
/// Unknown code pages, the UTF-16 and UTF-32 code pages (1200, 1201, 12000, 12001) and null
/// text give an empty result. Failures of the conversion itself throw Tavrin::CException.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <tavrin/export.h>

namespace Tavrin::Encodings {

/// Zero-terminated narrow text in `codePage` to wide text.
TAVRIN_API std::wstring FromCodePage(const char* text, unsigned int codePage);
/// FromCodePage(text, 65001).
TAVRIN_API std::wstring FromUTF8(const char* text);
/// Zero-terminated wide text to narrow text in `codePage`.
TAVRIN_API std::string ToCodePage(const wchar_t* text, unsigned int codePage);
/// ToCodePage(text, 65001).
TAVRIN_API std::string ToUTF8(const wchar_t* text);

/// Fast paths for the text formats: the same conversions over counted text (stopping at the
/// first NUL, as the zero-terminated forms do), appending to `out`.
///@{
TAVRIN_API void AppendUTF8(std::string& out, std::wstring_view text);
TAVRIN_API void AppendFromUTF8(std::wstring& out, std::string_view text);
///@}

}  // namespace Tavrin::Encodings
