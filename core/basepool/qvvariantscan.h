// How the variant reads numbers and truth values out of text, in both character widths: the
// rules of formatted input in the "C" locale (white space, sign, digits), except for floating
// values, which the thread's current locale reads.
#pragma once

#include <string>
#include <string_view>

#include "core/basepool/chars.h"

namespace Tavrin::Detail::Variant {

// A counted text ends at its first NUL, as the zero-terminated forms do.
template <class Ch>
std::basic_string_view<Ch> UpToNul(std::basic_string_view<Ch> text) {
    const size_t nul = text.find(Ch(0));
    return nul == std::basic_string_view<Ch>::npos ? text : text.substr(0, nul);
}

// Formatted input of a 64-bit integer: white space, sign, digits. With `prefixes` ("%i") a
// leading 0x/0X selects hexadecimal and a leading 0 octal; otherwise decimal only ("%u").
// The value accumulates modulo 2^64. Returns false when no digit was scanned.
template <class Ch>
bool ScanInteger(const Ch* p, const Ch* end, bool prefixes, unsigned long long& out) {
    while (p != end && IsSpace(*p)) ++p;
    bool negative = false;
    if (p != end && (*p == Ch('+') || *p == Ch('-'))) {
        negative = *p == Ch('-');
        ++p;
    }
    unsigned base = 10;
    bool scanned = false;
    if (prefixes && p != end && *p == Ch('0')) {
        ++p;
        if (p != end && (*p == Ch('x') || *p == Ch('X'))) {
            // "0x" is a prefix, not a number: at least one hexadecimal digit must follow,
            // otherwise nothing was scanned ("0x", "0xg" fail as formatted input does).
            base = 16;
            ++p;
        } else {
            scanned = true;  // the 0 of an octal number is a digit, whatever follows
            base = 8;
        }
    }
    unsigned long long value = 0;
    for (; p != end; ++p) {
        const unsigned digit = DigitValue(*p);
        if (digit >= base) break;
        value = value * base + digit;
        scanned = true;
    }
    if (!scanned) return false;
    out = negative ? 0ull - value : value;
    return true;
}

// The counted text, up to its first NUL, as an integer; false when no digit was scanned.
template <class Ch>
bool ScanInteger(std::basic_string_view<Ch> text, bool prefixes, unsigned long long& out) {
    text = UpToNul(text);
    return ScanInteger(text.data(), text.data() + text.size(), prefixes, out);
}

// `text` equals the lower-case ASCII `word` in any letter case.
template <class Ch>
bool EqualsIgnoringCase(std::basic_string_view<Ch> text, const char* word) {
    for (const Ch c : text) {
        if (*word == '\0') return false;
        if (ToLowerAscii(c) != static_cast<Ch>(*word++)) return false;
    }
    return *word == '\0';
}

// true / false in any letter case, 1 / 0; `ok` false for anything else.
template <class Ch>
bool ParseBool(std::basic_string_view<Ch> text, bool& ok) {
    text = UpToNul(text);
    ok = true;
    if (text.size() == 1 && text[0] == Ch('1')) return true;
    if (text.size() == 1 && text[0] == Ch('0')) return false;
    if (EqualsIgnoringCase(text, "true")) return true;
    if (EqualsIgnoringCase(text, "false")) return false;
    ok = false;
    return false;
}

// strtod / wcstod in the thread's locale over the whole text (zero-terminated, or counted up to
// its first NUL). Anything left over raises VariantStringToDouble.
double TextToDouble(const char* text);
double TextToDouble(const wchar_t* text);
double TextToDouble(std::string_view text);
double TextToDouble(std::wstring_view text);

}  // namespace Tavrin::Detail::Variant
