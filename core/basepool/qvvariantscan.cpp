#include "core/basepool/qvvariantscan.h"

#include <charconv>
#include <cstring>
#include <system_error>
#include <type_traits>

#include "core/basepool/raise.h"
#include "core/platform/threadlocale.h"

namespace Tavrin::Detail::Variant {
namespace {

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// The whole of `text` as a plain decimal number: -?D+(.D+)?([eE][+-]?D+)?. For such text
// from_chars gives what strtod gives in the "C" locale (both round correctly), much faster;
// anything else (spaces, signs, hexadecimal, inf, nan, a range error) is left to strtod.
bool PlainDecimal(std::string_view text, double& value) noexcept {
    const char* p = text.data();
    const char* const end = p + text.size();
    if (p != end && *p == '-') ++p;
    const char* digits = p;
    while (p != end && IsDigit(*p)) ++p;
    if (p == digits) return false;
    if (p != end && *p == '.') {
        digits = ++p;
        while (p != end && IsDigit(*p)) ++p;
        if (p == digits) return false;
    }
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p != end && (*p == '+' || *p == '-')) ++p;
        digits = p;
        while (p != end && IsDigit(*p)) ++p;
        if (p == digits) return false;
    }
    if (p != end || !Platform::InCLocale()) return false;
    const std::from_chars_result result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

// The counted forms need a terminator; short texts stay on the stack.
template <class Ch>
double CountedToDouble(std::basic_string_view<Ch> text) {
    text = UpToNul(text);
    if constexpr (std::is_same_v<Ch, char>) {
        double value = 0;
        if (PlainDecimal(text, value)) return value;
    }
    Ch small[128];
    if (text.size() < sizeof small / sizeof small[0]) {
        std::memcpy(small, text.data(), text.size() * sizeof(Ch));
        small[text.size()] = Ch(0);
        return TextToDouble(static_cast<const Ch*>(small));
    }
    return TextToDouble(std::basic_string<Ch>(text).c_str());
}

}  // namespace

double TextToDouble(const char* text) {
    double value = 0;
    if (PlainDecimal(text, value)) return value;
    const char* end = nullptr;
    value = Platform::StrToDouble(text, &end);
    if (*end != '\0') Raise(ERaise::VariantStringToDouble);
    return value;
}

double TextToDouble(const wchar_t* text) {
    const wchar_t* end = nullptr;
    const double value = Platform::WcsToDouble(text, &end);
    if (*end != L'\0') Raise(ERaise::VariantStringToDouble);
    return value;
}

double TextToDouble(std::string_view text) { return CountedToDouble(text); }

double TextToDouble(std::wstring_view text) { return CountedToDouble(text); }

}  // namespace Tavrin::Detail::Variant
