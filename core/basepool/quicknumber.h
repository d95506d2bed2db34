// Shortcuts for the number texts a writer makes, shared by the text readers: each gives
// exactly what QvVariant::ConvertText gives for that text, in either text form; any other text
// takes the variant's way.
#pragma once

#include <cfloat>
#include <limits>
#include <string_view>
#include <type_traits>

#include "core/basepool/qvvariantrules.h"
#include "core/platform/threadlocale.h"

namespace Tavrin::Detail::Variant {

// Text of 1 to 19 decimal digits, optionally after a minus, without a leading zero (a lone 0
// aside): the variant scans it as a decimal integer, modulo 2^64, and takes the bits the
// target type holds. (A leading zero would make it octal for the signed types.)
template <class T>
bool QuickInteger(std::string_view text, T& target) {
    size_t i = !text.empty() && text[0] == '-' ? 1 : 0;
    const size_t digits = text.size() - i;
    if (digits == 0 || digits > 19 || (text[i] == '0' && digits != 1)) return false;
    unsigned long long value = 0;
    for (; i < text.size(); ++i) {
        const auto digit = static_cast<unsigned int>(static_cast<unsigned char>(text[i]) - '0');
        if (digit > 9) return false;
        value = value * 10 + digit;
    }
    target = static_cast<T>(text[0] == '-' ? 0ull - value : value);
    return true;
}

// Text -?D+(.D+)? of at most 17 bytes after the sign whose digits, taken as one integer, are
// at most 2^53: the integer and the power of ten (at most 10^15) are exact doubles, so one
// division rounds the value correctly, as the variant's conversion does (in the "C" locale,
// which a Read holds; the check keeps the two the same elsewhere too).
inline bool QuickDecimal(std::string_view text, double& target) {
    static_assert(std::numeric_limits<double>::is_iec559 && FLT_EVAL_METHOD == 0);
    static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const char* p = text.data();
    const char* const end = p + text.size();
    const bool negative = p != end && *p == '-';
    if (negative) ++p;
    // More digits make an integer above 2^53 unless they start with zeros, which writers do
    // not write.
    if (end - p > 17) return false;
    const char* const first = p;
    const char* point = nullptr;
    unsigned long long digits = 0;
    for (; p != end; ++p) {
        const auto digit = static_cast<unsigned int>(static_cast<unsigned char>(*p) - '0');
        if (digit <= 9) {
            digits = digits * 10 + digit;
        } else if (*p == '.' && point == nullptr) {
            point = p;
        } else {
            return false;
        }
    }
    const auto fraction = point != nullptr ? static_cast<size_t>(end - point - 1) : 0;
    const auto count = static_cast<size_t>(end - first) - (point != nullptr ? 1 : 0);
    if (point == first || (point != nullptr && fraction == 0) || count == 0 ||
        digits > (1ull << 53)) {
        return false;
    }
    if (!Platform::InCLocale()) return false;
    const double value = static_cast<double>(digits) / kPowers[fraction];
    target = negative ? -value : value;
    return true;
}

template <class T>
bool QuickNumber(std::string_view text, T& target) {
    if constexpr (std::is_same_v<T, double>) {
        return QuickDecimal(text, target);
    } else if constexpr (std::is_same_v<T, float>) {
        double value = 0;
        if (!QuickDecimal(text, value)) return false;
        target = NarrowToFloat(value);
        return true;
    } else if constexpr (std::is_integral_v<T> && !std::is_same_v<T, char> &&
                         !std::is_same_v<T, bool>) {
        return QuickInteger(text, target);
    } else {
        return false;
    }
}

}  // namespace Tavrin::Detail::Variant
