// Number text of the text formats: what a stream's inserters give in the "C" locale with no
// format flags, made without the stream.
#pragma once

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "core/tavrin/common/bytes.h"

namespace Tavrin::Detail {

// Significant digits written for floating values: enough to read each value back exactly. The
// writers also set them as the stream's precision, which is part of what a Write leaves behind.
inline constexpr int kFloatDigits = 9;
inline constexpr int kDoubleDigits = 17;

// `Out` is std::string or CTextBuffer.

// Appends `value` in decimal, as the stream's inserter for its type writes it.
template <class Out, class T>
void AppendInteger(Out& out, T value) {
    static_assert(std::is_integral_v<T> && sizeof(T) <= 8);
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

namespace GeneralText {

__extension__ typedef unsigned __int128 U128;  // GCC and Clang, on every target we build

// 10^0 to 10^38, every power that fits in 128 bits.
struct SPowersOfTen {
    U128 v[39];
    int bits[39];  // bit length of each
    constexpr SPowersOfTen() : v(), bits() {
        v[0] = 1;
        for (int i = 1; i < 39; ++i) v[i] = v[i - 1] * 10;
        for (int i = 0; i < 39; ++i) {
            for (U128 p = v[i]; p != 0; p >>= 1) ++bits[i];
        }
    }
    constexpr U128 operator[](int i) const { return v[i]; }
};
inline constexpr SPowersOfTen kPow10;

// The `digits` significant digits of the finite, positive value `m` * 2^`e` (0 < m < 2^53),
// rounded half to even, as the integer `q` (10^(digits-1) <= q < 10^digits) with the decimal
// exponent `x` of its first digit. False outside the range where 128-bit arithmetic is exact;
// the caller then formats some other way.
inline bool Digits(uint64_t m, int e, int digits, uint64_t& q, int& x) noexcept {
    if (e < 0) {  // integers take the exact path below
        const int zeros = std::min(std::countr_zero(m), -e);
        m >>= zeros;
        e += zeros;
    }
    const int bits = 64 - std::countl_zero(m);
    if (bits + e > 127 || e < -127) return false;
    // floor(log10(v)) to within one (78913 / 2^18 is log10(2) to 6 digits); corrected below.
    x = ((bits - 1 + e) * 78913) >> 18;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int s = digits - 1 - x;  // q = v * 10^s, rounded
        if (s > 38 || s < -38) return false;
        U128 whole = 0;
        bool above = false;  // the dropped part is more than half
        bool half = false;   // exactly half
        if (e >= 0) {
            const U128 n = static_cast<U128>(m) << e;
            if (s >= 0) {
                if (bits + e + kPow10.bits[s] > 128) return false;  // the product might not fit
                whole = n * kPow10[s];
            } else {
                const U128 d = kPow10[-s];  // even
                whole = n / d;
                const U128 r = n - whole * d;
                above = r > d / 2;
                half = r == d / 2;
            }
        } else {
            if (s < 0) return false;  // a fraction of ten digits or more: rare
            if (bits + kPow10.bits[s] > 128) return false;
            const U128 n = static_cast<U128>(m) * kPow10[s];
            const int shift = -e;
            whole = n >> shift;
            const U128 r = n - (whole << shift);
            const U128 h = static_cast<U128>(1) << (shift - 1);
            above = r > h;
            half = r == h;
        }
        if (whole >= kPow10[digits]) {
            ++x;
            continue;
        }
        if (whole < kPow10[digits - 1]) {
            --x;
            continue;
        }
        uint64_t result = static_cast<uint64_t>(whole);
        if (above || (half && (result & 1) != 0)) ++result;
        if (result == static_cast<uint64_t>(kPow10[digits])) {
            result /= 10;
            ++x;
        }
        q = result;
        return true;
    }
    return false;
}

// "00" to "99".
inline constexpr char kDigitPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// printf's %.*g of the digits `q` (exactly `digits` of them) with exponent `x`.
inline char* Format(char* out, bool negative, uint64_t q, int x, int digits) noexcept {
    char text[20];
    int at = digits;
    // The low eight digits in 32-bit arithmetic, which is cheaper, then the rest.
    uint32_t low = static_cast<uint32_t>(q);
    if (q >= 100000000) {
        low = static_cast<uint32_t>(q % 100000000);
        q /= 100000000;
        for (int i = 0; i < 4; ++i, low /= 100) {
            at -= 2;
            std::memcpy(text + at, kDigitPairs + static_cast<size_t>(low % 100) * 2, 2);
        }
        low = static_cast<uint32_t>(q);  // below 10^9
    }
    while (low >= 100) {
        at -= 2;
        std::memcpy(text + at, kDigitPairs + static_cast<size_t>(low % 100) * 2, 2);
        low /= 100;
    }
    if (low >= 10) {
        std::memcpy(text + at - 2, kDigitPairs + static_cast<size_t>(low) * 2, 2);
    } else {
        text[at - 1] = static_cast<char>('0' + low);
    }
    int used = digits;
    while (used > 1 && text[used - 1] == '0') --used;  // %g drops trailing zeros
    if (negative) *out++ = '-';
    if (x < -4 || x >= digits) {
        *out++ = text[0];
        if (used > 1) {
            *out++ = '.';
            CopySmall(out, text + 1, static_cast<size_t>(used - 1));
            out += used - 1;
        }
        *out++ = 'e';
        *out++ = x < 0 ? '-' : '+';
        const int a = x < 0 ? -x : x;
        if (a >= 100) *out++ = static_cast<char>('0' + a / 100);
        std::memcpy(out, kDigitPairs + static_cast<size_t>(a % 100) * 2, 2);
        return out + 2;
    }
    if (x < 0) {
        std::memcpy(out, "0.0000", static_cast<size_t>(1 - x));  // "0." and -x-1 zeros
        out += 1 - x;
        CopySmall(out, text, static_cast<size_t>(used));
        return out + used;
    }
    const int whole = x + 1;  // digits before the point
    if (used <= whole) {
        CopySmall(out, text, static_cast<size_t>(used));
        std::memset(out + used, '0', static_cast<size_t>(whole - used));
        return out + whole;
    }
    CopySmall(out, text, static_cast<size_t>(whole));
    out[whole] = '.';
    CopySmall(out + whole + 1, text + whole, static_cast<size_t>(used - whole));
    return out + used + 1;
}

}  // namespace GeneralText

// Writes `value` with `digits` (1 to 17) significant digits in general notation (printf's
// %.*g), which is what the stream's inserter gives with that precision and no float format
// field set; at most 32 bytes. Values in the usual range are formatted with exact 128-bit
// arithmetic, the rest by std::to_chars, which gives the same text but more slowly.
inline char* WriteGeneral(char* out, double value, int digits) noexcept {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
    const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
    if (exponent != 0 && exponent != 0x7FF) {
        uint64_t q = 0;
        int x = 0;
        if (GeneralText::Digits(fraction | (uint64_t{1} << 52), exponent - 1075, digits, q, x)) {
            return GeneralText::Format(out, negative, q, x, digits);
        }
    }
    return std::to_chars(out, out + 32, value, std::chars_format::general, digits).ptr;
}

// Appends `value` as WriteGeneral writes it.
template <class Out>
void AppendGeneral(Out& out, double value, int digits) {
    char buffer[32];
    out.append(buffer, WriteGeneral(buffer, value, digits));
}

}  // namespace Tavrin::Detail
