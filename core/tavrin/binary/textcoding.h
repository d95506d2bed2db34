// How the binary format carries texts. Narrow text: a 32-bit byte count, then the bytes up to
// the text's first zero byte. Wide text: a length prefix (FF FE FF, then the count of UTF-16
// units in the shortest of four forms), then the units, little-endian, up to the text's first
// zero character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>

#include "core/basepool/utf.h"

namespace Tavrin::Binary {

// Whether one of the bytes of `word` is zero.
inline bool HasZeroByte(uint64_t word) noexcept {
    return ((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) != 0;
}

// Narrow text ends at its first zero byte.
inline size_t NarrowLength(const std::string& text) noexcept {
    // Short texts, the usual case, are checked a word at a time (the last word overlapping the
    // one before), within their own bytes.
    const size_t n = text.size();
    if (n >= 8 && n <= 32) {
        uint64_t word = 0;
        bool zero = false;
        for (size_t i = 0; i + 8 < n; i += 8) {
            std::memcpy(&word, text.data() + i, 8);
            zero |= HasZeroByte(word);
        }
        std::memcpy(&word, text.data() + n - 8, 8);
        if (!zero && !HasZeroByte(word)) return n;
    } else if (n >= 4 && n < 8) {  // two overlapping halves
        uint32_t a = 0;
        uint32_t b = 0;
        std::memcpy(&a, text.data(), 4);
        std::memcpy(&b, text.data() + n - 4, 4);
        const uint64_t word = (uint64_t{a} << 32) | b;
        if (!HasZeroByte(word)) return n;
    }
    // NOLINTNEXTLINE(bugprone-not-null-terminated-result): a search, nothing is copied
    const void* zero = std::memchr(text.data(), 0, text.size());
    return zero ? static_cast<size_t>(static_cast<const char*>(zero) - text.data()) : text.size();
}

// Wide text ends at its first zero character; it is carried as UTF-16 units. A character
// beyond U+FFFF takes two units; one beyond U+10FFFF is carried as U+FFFD.
inline size_t WideLength(const std::wstring& text) noexcept { return std::wcslen(text.c_str()); }

// UTF-16 units of `length` wide characters; `basic` tells whether all of them are of the basic
// plane, one unit each as they stand.
inline uint64_t Utf16Units(const wchar_t* text, size_t length, bool& basic) noexcept {
    uint32_t high = 0;
    for (size_t i = 0; i < length; ++i) high |= static_cast<uint32_t>(text[i]) >> 16;
    basic = !high;
    if (basic) return length;
    uint64_t units = 0;
    for (size_t i = 0; i < length; ++i) units += Detail::Utf16Length(text[i]);
    return units;
}

// Size of the wide length prefix for `units` code units.
inline size_t WidePrefixSize(uint64_t units) noexcept {
    if (units < 0xFF) return 4;
    if (units < 0xFFFE) return 6;
    if (units < 0xFFFFFFFFull) return 10;
    return 18;
}

// Writes the prefix for `units` code units at `p` (WidePrefixSize(units) bytes); returns the
// position behind it.
inline unsigned char* PutWidePrefix(unsigned char* p, uint64_t units) noexcept {
    *p++ = 0xFF;
    *p++ = 0xFE;
    *p++ = 0xFF;
    if (units < 0xFF) {
        *p++ = static_cast<unsigned char>(units);
        return p;
    }
    *p++ = 0xFF;
    if (units < 0xFFFE) {
        const uint16_t n = static_cast<uint16_t>(units);
        std::memcpy(p, &n, 2);
        return p + 2;
    }
    *p++ = 0xFF;
    *p++ = 0xFF;
    if (units < 0xFFFFFFFFull) {
        const uint32_t n = static_cast<uint32_t>(units);
        std::memcpy(p, &n, 4);
        return p + 4;
    }
    const uint32_t mark = 0xFFFFFFFFu;
    std::memcpy(p, &mark, 4);
    std::memcpy(p + 4, &units, 8);
    return p + 12;
}

// Writes `length` wide characters at `p` as one UTF-16 unit each (2 * length bytes), as they
// stand when all of them are of the basic plane; tells whether they were.
inline bool PutBasicUtf16(unsigned char* p, const wchar_t* text, size_t length) noexcept {
    uint32_t high = 0;
    for (size_t i = 0; i < length; ++i) {
        const uint32_t c = static_cast<uint32_t>(text[i]);
        high |= c >> 16;
        const uint16_t unit = static_cast<uint16_t>(c);
        std::memcpy(p + 2 * i, &unit, 2);
    }
    return high == 0;
}

// Writes `length` wide characters as UTF-16 units at `p` (2 * Utf16Units bytes); returns the
// position behind them. `basic` as Utf16Units found it.
inline unsigned char* PutUtf16(unsigned char* p, const wchar_t* text, size_t length,
                               bool basic) noexcept {
    // Text of the basic plane only, by far the most common, is one unit per character.
    if (basic) {
        for (size_t i = 0; i < length; ++i) {
            const uint16_t unit = static_cast<uint16_t>(text[i]);
            std::memcpy(p + 2 * i, &unit, 2);
        }
        return p + 2 * length;
    }
    for (size_t i = 0; i < length; ++i) {
        uint16_t units[2];
        const unsigned n = Detail::EncodeUtf16(text[i], units);
        std::memcpy(p, units, size_t{2} * n);
        p += size_t{2} * n;
    }
    return p;
}

}  // namespace Tavrin::Binary
