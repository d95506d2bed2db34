// Rules the variant's conversions share: the exception boundary of a conversion, how a floating
// value reaches an integer or a float, and how a char and a one-character wide text relate.
#pragma once

#include <cmath>
#include <string>

#include <tavrin/iexception.h>

#include "core/basepool/raise.h"

namespace Tavrin::Detail::Variant {

// A conversion lets exceptions of the library through and turns anything else into its own.
template <class F>
decltype(auto) Converting(F&& convert) {
    try {
        return convert();
    } catch (const IException&) {
        throw;
    } catch (...) {
        Raise(ERaise::VariantConvertOther);
    }
}

// How a floating value reaches an integer target after rounding.
enum class EIntermediate { Int32, Int64, UInt64 };

inline constexpr unsigned long long kIndefinite32 = 0x80000000ull;
inline constexpr unsigned long long kIndefinite64 = 0x8000000000000000ull;

// Rounds (integral values stay, others floor(x + 0.5)) and truncates through `via`. Values
// that the intermediate cannot hold give its x86 "integer indefinite" pattern.
inline unsigned long long RoundToBits(double x, EIntermediate via) {
    const double r = x == std::floor(x) ? x : std::floor(x + 0.5);
    switch (via) {
        case EIntermediate::Int32:
            if (!(r >= -2147483648.0 && r < 2147483648.0)) return kIndefinite32;
            return static_cast<unsigned long long>(static_cast<long long>(static_cast<int>(r)));
        case EIntermediate::Int64:
            if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) return kIndefinite64;
            return static_cast<unsigned long long>(static_cast<long long>(r));
        case EIntermediate::UInt64:
            if (r >= 0.0 && r < 18446744073709551616.0) return static_cast<unsigned long long>(r);
            if (r > -9223372036854775808.0 && r < 0.0) {
                return static_cast<unsigned long long>(static_cast<long long>(r));
            }
            return kIndefinite64;
    }
    return kIndefinite64;
}

// double to float, rounding to nearest; values beyond the float range become the largest float
// or infinity as IEEE rounding gives, without the undefined out-of-range conversion.
inline float NarrowToFloat(double value) {
    constexpr double kMax = 3.4028234663852886e38;       // FLT_MAX
    constexpr double kOverflow = 3.4028235677973366e38;  // FLT_MAX + half an ulp
    if (std::isnan(value) || std::isinf(value)) return static_cast<float>(value);
    if (value >= kOverflow) return HUGE_VALF;
    if (value <= -kOverflow) return -HUGE_VALF;
    if (value > kMax) return static_cast<float>(kMax);
    if (value < -kMax) return static_cast<float>(-kMax);
    return static_cast<float>(value);
}

// A wide text that is one UTF-16 unit, the only wide text that converts to a char.
inline bool IsSingleUnit(const std::wstring& text) {
    // Always true where wchar_t has 16 bits.
    return text.size() == 1 && (static_cast<unsigned long>(text[0]) & ~0xFFFFul) == 0;
}

// The char of a one-unit wide text: its low byte.
inline char CharOfUnit(wchar_t unit) {
    return static_cast<char>(static_cast<unsigned char>(unit & 0xFF));
}

// A char printed as one unit: the byte taken as signed 8-bit, sign-extended to 16 bits.
inline wchar_t UnitOfChar(char c) {
    return static_cast<wchar_t>(
        static_cast<unsigned short>(static_cast<short>(static_cast<signed char>(c))));
}

}  // namespace Tavrin::Detail::Variant
