// The library's one coder between wide text and UTF-8 or UTF-16.
//
// Wide text holds code points where wchar_t has 32 bits (Linux) and UTF-16 units where it has 16
// (Windows); a code point above U+FFFF is then a surrogate pair of two wide characters. Both give
// the same UTF-8 and UTF-16 bytes. Every conversion gives a result for any input, never an error:
// - UTF-8 input: each maximal invalid subpart (a byte that cannot start a sequence, or the longest
//   prefix of a valid sequence that is cut short) becomes one U+FFFD; overlong forms, encoded
//   surrogates and values above U+10FFFF are invalid.
// - UTF-16 input: a surrogate that is not part of a pair becomes U+FFFD (on both systems, so
//   that a document reads as the same values everywhere).
// - Wide input to UTF-8: a surrogate pair held in two wide characters is written as its code
//   point; any other surrogate and any value above U+10FFFF becomes U+FFFD.
// - Wide input to UTF-16: a value above U+10FFFF becomes U+FFFD; a surrogate passes as one unit.
//
// The UTF-16 coder is inline (the binary streams code one character at a time); the UTF-8 coder
// works on whole texts in utf.cpp.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace Tavrin::Detail {

inline constexpr wchar_t kReplacementChar = 0xFFFD;

// Returned by the counted UTF-8 coders when the output's capacity is too small.
inline constexpr size_t kUtfNoRoom = static_cast<size_t>(-1);

// ---- UTF-8 --------------------------------------------------------------------------------------

// Number of UTF-8 bytes that EncodeUtf8 gives for `n` wide characters.
size_t Utf8Length(const wchar_t* text, size_t n) noexcept;

// Encodes `n` wide characters (NUL included) into `out`, at most `capacity` bytes. Returns the
// byte count, or kUtfNoRoom when `capacity` is too small (the bytes written are then undefined).
// With four bytes or more of room left per character, it may write up to three bytes past the
// count (inside `capacity`).
size_t EncodeUtf8(const wchar_t* text, size_t n, char* out, size_t capacity) noexcept;

// Number of wide characters that DecodeUtf8 gives for `n` bytes.
size_t Utf8DecodedLength(const char* text, size_t n) noexcept;

// Decodes `n` bytes (NUL included) into `out`, at most `capacity` characters. Returns the
// character count, or kUtfNoRoom when `capacity` is too small. Never more characters than bytes.
size_t DecodeUtf8(const char* text, size_t n, wchar_t* out, size_t capacity) noexcept;

// Appends the UTF-8 form of `text` up to its first NUL to `out`: the fast path of every text
// format, one pass into reused room.
void AppendUtf8(std::string& out, std::wstring_view text);

// Appends the wide form of the UTF-8 `text` up to its first NUL to `out`.
void AppendFromUtf8(std::wstring& out, std::string_view text);

// The same conversions into a new string.
inline std::string Utf8FromWide(std::wstring_view text) {
    std::string out;
    AppendUtf8(out, text);
    return out;
}

inline std::wstring WideFromUtf8(std::string_view text) {
    std::wstring out;
    AppendFromUtf8(out, text);
    return out;
}

// ---- UTF-16 -------------------------------------------------------------------------------------

// Number of UTF-16 units for one wide character: 2 above U+FFFF, else 1. A value that is no
// code point (above U+10FFFF) is written as U+FFFD, one unit.
inline unsigned Utf16Length(wchar_t c) noexcept {
    const uint32_t v = static_cast<uint32_t>(c);
    return (v > 0xFFFF && v <= 0x10FFFF) ? 2u : 1u;
}

// Stores the units of `c` at `out`, returns how many.
inline unsigned EncodeUtf16(wchar_t c, uint16_t* out) noexcept {
    uint32_t v = static_cast<uint32_t>(c);
    if (v <= 0xFFFF) {
        out[0] = static_cast<uint16_t>(v);
        return 1;
    }
    if (v > 0x10FFFF) {
        out[0] = static_cast<uint16_t>(kReplacementChar);
        return 1;
    }
    v -= 0x10000;
    out[0] = static_cast<uint16_t>(0xD800 + (v >> 10));
    out[1] = static_cast<uint16_t>(0xDC00 + (v & 0x3FF));
    return 2;
}

// Decodes `units` little-endian 16-bit units at `bytes` into `out`, which has room for
// `units` characters; returns how many characters were stored. Gives the same characters as
// CUtf16Decoder fed all units at once and finished.
inline size_t DecodeUtf16(const unsigned char* bytes, size_t units, wchar_t* out) noexcept {
    // Text without surrogates, by far the most common, is one unit per character: two plain
    // loops that the compiler can vectorise.
    if constexpr (std::endian::native == std::endian::little) {
        unsigned surrogates = 0;
        for (size_t k = 0; k < units; ++k) {
            uint16_t u = 0;
            std::memcpy(&u, bytes + 2 * k, 2);
            surrogates |= (u & 0xF800u) == 0xD800u;
        }
        if (!surrogates) {
            for (size_t k = 0; k < units; ++k) {
                uint16_t u = 0;
                std::memcpy(&u, bytes + 2 * k, 2);
                out[k] = static_cast<wchar_t>(u);
            }
            return units;
        }
    }
    wchar_t* o = out;
    size_t i = 0;
    while (i < units) {
        const uint32_t u = static_cast<uint32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        ++i;
        if (u - 0xD800u >= 0x800u) {  // not a surrogate
            *o++ = static_cast<wchar_t>(u);
            continue;
        }
        if (u <= 0xDBFF && i < units) {
            const uint32_t v = static_cast<uint32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
            if (v - 0xDC00u < 0x400u) {
                if constexpr (sizeof(wchar_t) == 2) {
                    *o++ = static_cast<wchar_t>(u);
                    *o++ = static_cast<wchar_t>(v);
                } else {
                    *o++ = static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
                }
                ++i;
                continue;
            }
        }
        *o++ = kReplacementChar;
    }
    return static_cast<size_t>(o - out);
}

// Turns a sequence of UTF-16 units, delivered in pieces, into wide text (code points, or checked
// UTF-16 where wchar_t has 16 bits), appended to the string given at construction (which must
// outlive the decoder).
class CUtf16Decoder {
public:
    explicit CUtf16Decoder(std::wstring& out) noexcept : m_out(out) {}

    // `bytes` holds `units` little-endian 16-bit units.
    void Feed(const unsigned char* bytes, size_t units) {
        for (size_t i = 0; i < units; ++i) {
            const char32_t u = static_cast<char32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
            if (m_high != 0) {
                if (u >= 0xDC00 && u <= 0xDFFF) {
                    if constexpr (sizeof(wchar_t) == 2) {
                        const wchar_t pair[2] = {static_cast<wchar_t>(m_high),
                                                 static_cast<wchar_t>(u)};
                        m_out.append(pair, 2);
                    } else {
                        m_out.push_back(static_cast<wchar_t>(0x10000 + ((m_high - 0xD800) << 10) +
                                                             (u - 0xDC00)));
                    }
                    m_high = 0;
                    continue;
                }
                m_out.push_back(kReplacementChar);
                m_high = 0;
            }
            if (u >= 0xD800 && u <= 0xDBFF) {
                m_high = u;
            } else if (u >= 0xDC00 && u <= 0xDFFF) {
                m_out.push_back(kReplacementChar);
            } else {
                m_out.push_back(static_cast<wchar_t>(u));
            }
        }
    }

    // Call after the last unit: a high surrogate left over becomes U+FFFD.
    void Finish() {
        if (m_high != 0) m_out.push_back(kReplacementChar);
        m_high = 0;
    }

private:
    std::wstring& m_out;
    char32_t m_high = 0;
};

}  // namespace Tavrin::Detail
