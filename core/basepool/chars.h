// Character classes of the "C" locale and ASCII checks, for every scanner of the library.
//
// The functions take any character type (char, unsigned char, wchar_t, char16_t ...): a char is
// compared by its value, so bytes 0x80-0xFF (negative chars) belong to no class here, as in the
// "C" locale. The 256-entry tables serve byte scanners that test one byte per lookup; build more
// with ByteTable from these predicates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace Tavrin::Detail {

// isspace of the "C" locale: space, TAB, LF, VT, FF, CR.
template <class Ch>
constexpr bool IsSpace(Ch c) noexcept {
    return c == Ch(' ') || (c >= Ch(9) && c <= Ch(13));
}

// isdigit of the "C" locale: 0-9.
template <class Ch>
constexpr bool IsDigit(Ch c) noexcept {
    return c >= Ch('0') && c <= Ch('9');
}

// Value of a hexadecimal digit (0-9, a-f, A-F), kNoDigit for any other character. A caller
// reading in base b takes the character as a digit when the value is below b.
inline constexpr unsigned kNoDigit = 99;

template <class Ch>
constexpr unsigned DigitValue(Ch c) noexcept {
    if (c >= Ch('0') && c <= Ch('9')) return static_cast<unsigned>(c - Ch('0'));
    if (c >= Ch('a') && c <= Ch('f')) return static_cast<unsigned>(c - Ch('a')) + 10;
    if (c >= Ch('A') && c <= Ch('F')) return static_cast<unsigned>(c - Ch('A')) + 10;
    return kNoDigit;
}

// tolower of the "C" locale: A-Z to a-z, everything else unchanged.
template <class Ch>
constexpr Ch ToLowerAscii(Ch c) noexcept {
    return (c >= Ch('A') && c <= Ch('Z')) ? static_cast<Ch>(c - Ch('A') + Ch('a')) : c;
}

// A byte below 0x80.
constexpr bool IsAscii(char c) noexcept { return static_cast<unsigned char>(c) < 0x80; }

// Every byte of `text` below 0x80. Eight bytes per step: most texts are ASCII throughout.
inline bool IsAscii(std::string_view text) noexcept {
    const char* p = text.data();
    size_t n = text.size();
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t word = 0;
        std::memcpy(&word, p, 8);
        if ((word & 0x8080808080808080ull) != 0) return false;
    }
    for (; n != 0; ++p, --n) {
        if (!IsAscii(*p)) return false;
    }
    return true;
}

// The table of a byte predicate, built at compile time: table[b] == pred(b).
template <class Pred>
constexpr std::array<bool, 256> ByteTable(Pred pred) {
    std::array<bool, 256> table{};
    for (unsigned b = 0; b < 256; ++b) table[b] = pred(static_cast<unsigned char>(b));
    return table;
}

// isspace of the "C" locale by table, for byte scanners.
inline constexpr std::array<bool, 256> kSpaceBytes =
    ByteTable([](unsigned char c) { return IsSpace(c); });

inline bool IsSpaceByte(char c) noexcept { return kSpaceBytes[static_cast<unsigned char>(c)]; }

}  // namespace Tavrin::Detail
