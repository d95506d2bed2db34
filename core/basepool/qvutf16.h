// UTF-16 code units <-> code points, for wide text in the binary streams. wchar_t holds code
// points here; the streams carry 16-bit units.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace QvDetail {

inline constexpr char32_t kReplacementChar = 0xFFFD;

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
// CUtf16Decoder fed all units at once and finished: a surrogate that is not part of a pair
// becomes U+FFFD.
inline size_t DecodeUtf16(const unsigned char* bytes, size_t units, wchar_t* out) noexcept {
    // Text without surrogates, by far the most common, is one unit per character: two plain
    // loops that the compiler can vectorise.
    if constexpr (std::endian::native == std::endian::little) {
        unsigned surrogates = 0;
        for (size_t k = 0; k < units; ++k) {
            uint16_t u;
            std::memcpy(&u, bytes + 2 * k, 2);
            surrogates |= (u & 0xF800u) == 0xD800u;
        }
        if (!surrogates) {
            for (size_t k = 0; k < units; ++k) {
                uint16_t u;
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
                *o++ = static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
                ++i;
                continue;
            }
        }
        *o++ = static_cast<wchar_t>(kReplacementChar);
    }
    return static_cast<size_t>(o - out);
}

// Turns a sequence of UTF-16 units, delivered in pieces, into code points. A surrogate that
// is not part of a pair becomes U+FFFD.
class CUtf16Decoder {
public:
    explicit CUtf16Decoder(std::wstring& out) noexcept : m_out(out) {}

    // `bytes` holds `units` little-endian 16-bit units.
    void Feed(const unsigned char* bytes, size_t units) {
        for (size_t i = 0; i < units; ++i) {
            const char32_t u = static_cast<char32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
            if (m_high != 0) {
                if (u >= 0xDC00 && u <= 0xDFFF) {
                    m_out.push_back(static_cast<wchar_t>(0x10000 + ((m_high - 0xD800) << 10) +
                                                         (u - 0xDC00)));
                    m_high = 0;
                    continue;
                }
                m_out.push_back(static_cast<wchar_t>(kReplacementChar));
                m_high = 0;
            }
            if (u >= 0xD800 && u <= 0xDBFF) {
                m_high = u;
            } else if (u >= 0xDC00 && u <= 0xDFFF) {
                m_out.push_back(static_cast<wchar_t>(kReplacementChar));
            } else {
                m_out.push_back(static_cast<wchar_t>(u));
            }
        }
    }

    // Call after the last unit: a high surrogate left over becomes U+FFFD.
    void Finish() {
        if (m_high != 0) m_out.push_back(static_cast<wchar_t>(kReplacementChar));
        m_high = 0;
    }

private:
    std::wstring& m_out;
    char32_t m_high = 0;
};

}  // namespace QvDetail
