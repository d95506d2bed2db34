#include "core/basepool/utf.h"

#include <cstdint>
#include <cstring>
#include <cwchar>

// Block paths for the two widths of wchar_t: 32-bit lanes where wide text holds code points,
// 16-bit lanes where it holds UTF-16 units.
#if defined(__SSE2__) && WCHAR_MAX > 0xFFFF
#define TAVRIN_UTF_SSE_WIDE32 1
#elif defined(__SSE2__)
#define TAVRIN_UTF_SSE_WIDE16 1
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Tavrin::Detail {
namespace {

inline bool IsTrail(unsigned int b) noexcept { return (b & 0xC0) == 0x80; }

// Decodes the sequence that starts with the byte b0 >= 0x80 at p, `left` bytes before the end.
// Each maximal invalid subpart (a byte that cannot start a sequence, or the longest prefix of a
// valid sequence that is cut short) becomes one U+FFFD; overlong forms, encoded surrogates and
// values above U+10FFFF are invalid. Stores the bytes used in `used`.
inline char32_t DecodeSequence(const unsigned char* p, size_t left, size_t& used) noexcept {
    const unsigned int b0 = p[0];
    used = 1;
    if (b0 < 0xC2) return kReplacementChar;  // a trail byte, or C0/C1 that only start overlongs
    if (b0 < 0xE0) {
        if (left < 2 || !IsTrail(p[1])) return kReplacementChar;
        used = 2;
        return static_cast<char32_t>(((b0 & 0x1F) << 6) | (p[1] & 0x3F));
    }
    if (b0 < 0xF0) {
        // The second byte's range excludes overlongs (E0) and surrogates (ED).
        const unsigned int lo = b0 == 0xE0 ? 0xA0 : 0x80;
        const unsigned int hi = b0 == 0xED ? 0x9F : 0xBF;
        if (left < 2 || p[1] < lo || p[1] > hi) return kReplacementChar;
        used = 2;
        if (left < 3 || !IsTrail(p[2])) return kReplacementChar;
        used = 3;
        return static_cast<char32_t>(((b0 & 0x0F) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3F));
    }
    if (b0 < 0xF5) {
        // The second byte's range excludes overlongs (F0) and values above U+10FFFF (F4).
        const unsigned int lo = b0 == 0xF0 ? 0x90 : 0x80;
        const unsigned int hi = b0 == 0xF4 ? 0x8F : 0xBF;
        if (left < 2 || p[1] < lo || p[1] > hi) return kReplacementChar;
        used = 2;
        if (left < 3 || !IsTrail(p[2])) return kReplacementChar;
        used = 3;
        if (left < 4 || !IsTrail(p[3])) return kReplacementChar;
        used = 4;
        return static_cast<char32_t>(((b0 & 0x07) << 18) | ((p[1] & 0x3Fu) << 12) |
                                     ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3F));
    }
    return kReplacementChar;
}

// Decodes `n` bytes of UTF-8 that hold no NUL. With kWrite the wide characters go to `out` (at
// most `capacity`); otherwise they are only counted. With 16-bit wchar_t a code point above
// U+FFFF takes two (a surrogate pair), still no more than its four bytes. Returns the count, or
// kUtfNoRoom when `capacity` is too small.
template <bool kWrite>
size_t DecodeUtf8Text(const unsigned char* p, size_t n, wchar_t* out, size_t capacity) noexcept {
    const unsigned char* const end = p + n;
    size_t o = 0;
    while (p < end) {
#if defined(TAVRIN_UTF_SSE_WIDE32) || defined(TAVRIN_UTF_SSE_WIDE16)
        // A block of 16 ASCII bytes at once.
        if (end - p >= 16 && (!kWrite || capacity - o >= 16)) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            if (_mm_movemask_epi8(v) == 0) {
                if constexpr (kWrite) {
                    const __m128i zero = _mm_setzero_si128();
                    const __m128i lo = _mm_unpacklo_epi8(v, zero);
                    const __m128i hi = _mm_unpackhi_epi8(v, zero);
                    auto* d = reinterpret_cast<__m128i*>(out + o);
#if defined(TAVRIN_UTF_SSE_WIDE32)
                    _mm_storeu_si128(d, _mm_unpacklo_epi16(lo, zero));
                    _mm_storeu_si128(d + 1, _mm_unpackhi_epi16(lo, zero));
                    _mm_storeu_si128(d + 2, _mm_unpacklo_epi16(hi, zero));
                    _mm_storeu_si128(d + 3, _mm_unpackhi_epi16(hi, zero));
#else
                    _mm_storeu_si128(d, lo);
                    _mm_storeu_si128(d + 1, hi);
#endif
                }
                p += 16;
                o += 16;
                continue;
            }
        }
#endif
        // Otherwise the block sequence by sequence, then the next block.
        const unsigned char* const blockEnd = end - p >= 16 ? p + 16 : end;
        while (p < blockEnd) {
            char32_t c = 0;
            if (*p < 0x80) {
                c = *p++;
            } else {
                size_t used = 0;
                c = DecodeSequence(p, static_cast<size_t>(end - p), used);
                p += used;
            }
            if (sizeof(wchar_t) == 2 && c > 0xFFFF) {
                if constexpr (kWrite) {
                    if (capacity - o < 2) return kUtfNoRoom;
                    out[o] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
                    out[o + 1] = static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
                }
                o += 2;
                continue;
            }
            if constexpr (kWrite) {
                if (o == capacity) return kUtfNoRoom;
                out[o] = static_cast<wchar_t>(c);
            }
            ++o;
        }
    }
    return o;
}

// The code point that the wide character c (taken from p[-1]) stands for in UTF-8: a surrogate
// pair in two wide characters becomes its code point (p moves past the low half); any other
// surrogate and any value above U+10FFFF becomes U+FFFD.
inline uint32_t Unpaired(uint32_t c, const wchar_t*& p, const wchar_t* end) noexcept {
    if (c <= 0xDBFF && p < end && static_cast<uint32_t>(*p) - 0xDC00u <= 0x3FFu) {
        return 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(*p++) - 0xDC00);
    }
    return 0xFFFD;
}

inline bool IsSpecial(uint32_t c) noexcept { return c - 0xD800u < 0x800u || c > 0x10FFFF; }

// The UTF-8 bytes of the code point c in memory order (first byte in bits 0-7), without
// branches on its length, which mixed text makes unpredictable.
inline uint32_t Utf8Word(uint32_t c, size_t& size) noexcept {
    const uint32_t two = 0x80C0u | (c >> 6) | ((c & 0x3F) << 8);
    const uint32_t three = 0x8080E0u | (c >> 12) | (((c >> 6) & 0x3F) << 8) | ((c & 0x3F) << 16);
    const uint32_t four = 0x808080F0u | (c >> 18) | (((c >> 12) & 0x3F) << 8) |
                          (((c >> 6) & 0x3F) << 16) | ((c & 0x3F) << 24);
    const size_t longer = size_t{c >= 0x80} + size_t{c >= 0x800} + size_t{c >= 0x10000};
    size = 1 + longer;
    const uint32_t words[4] = {c, two, three, four};  // an indexed load, not a branch
    return words[longer];
}

}  // namespace

// Number of UTF-8 bytes of `n` wide characters, with the replacements of Unpaired.
size_t Utf8Length(const wchar_t* p, size_t n) noexcept {
    const wchar_t* const end = p + n;
    size_t o = 0;
    while (p < end) {
#if defined(TAVRIN_UTF_SSE_WIDE32)
        // Four characters at once: one byte each, plus one for each of the limits 0x7F,
        // 0x7FF and 0xFFFF that a character passes. Lanes are summed every block.
        // Runs of ASCII, 16 characters at a time.
        while (end - p >= 16) {
            const auto* s = reinterpret_cast<const __m128i*>(p);
            const __m128i any =
                _mm_or_si128(_mm_or_si128(_mm_loadu_si128(s), _mm_loadu_si128(s + 1)),
                             _mm_or_si128(_mm_loadu_si128(s + 2), _mm_loadu_si128(s + 3)));
            const __m128i high = _mm_and_si128(any, _mm_set1_epi32(~0x7F));
            if (_mm_movemask_epi8(_mm_cmpeq_epi32(high, _mm_setzero_si128())) != 0xFFFF) break;
            p += 16;
            o += 16;
        }
        __m128i extra = _mm_setzero_si128();
        size_t blocks = 0;
        while (end - p >= 4 && blocks < 4096) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i surrogate = _mm_and_si128(_mm_cmpgt_epi32(v, _mm_set1_epi32(0xD7FF)),
                                                    _mm_cmplt_epi32(v, _mm_set1_epi32(0xE000)));
            const __m128i outside = _mm_or_si128(_mm_cmpgt_epi32(v, _mm_set1_epi32(0x10FFFF)),
                                                 _mm_cmplt_epi32(v, _mm_setzero_si128()));
            if (_mm_movemask_epi8(_mm_or_si128(surrogate, outside)) != 0) break;
            const __m128i limits =
                _mm_add_epi32(_mm_add_epi32(_mm_cmpgt_epi32(v, _mm_set1_epi32(0x7F)),
                                            _mm_cmpgt_epi32(v, _mm_set1_epi32(0x7FF))),
                              _mm_cmpgt_epi32(v, _mm_set1_epi32(0xFFFF)));
            extra = _mm_sub_epi32(extra, limits);
            p += 4;
            ++blocks;
        }
        alignas(16) uint32_t lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), extra);
        o += blocks * 4 + lanes[0] + lanes[1] + lanes[2] + lanes[3];
        if (blocks == 4096) continue;
        if (p == end) break;
        // A surrogate or an out-of-range value among the next four, or fewer than four left.
        const wchar_t* const blockEnd = end - p >= 4 ? p + 4 : end;
#elif defined(TAVRIN_UTF_SSE_WIDE16)
        // Runs of ASCII, 16 units at a time, then up to 16 units one by one.
        while (end - p >= 16) {
            const auto* s = reinterpret_cast<const __m128i*>(p);
            const __m128i high = _mm_and_si128(
                _mm_or_si128(_mm_loadu_si128(s), _mm_loadu_si128(s + 1)), _mm_set1_epi16(~0x7F));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xFFFF) break;
            p += 16;
            o += 16;
        }
        const wchar_t* const blockEnd = end - p >= 16 ? p + 16 : end;
#else
        const wchar_t* const blockEnd = end;
#endif
        while (p < blockEnd) {
            auto c = static_cast<uint32_t>(*p++);
            if (IsSpecial(c)) c = Unpaired(c, p, end);
            o += 1 + (c >= 0x80) + (c >= 0x800) + (c >= 0x10000);
        }
    }
    return o;
}

// Encodes `n` wide characters as UTF-8 into `out` (at most `capacity` bytes), with the
// replacements of Unpaired. Returns the count, or kUtfNoRoom when `capacity` is too small.
size_t EncodeUtf8(const wchar_t* p, size_t n, char* out, size_t capacity) noexcept {
    const wchar_t* const end = p + n;
    size_t o = 0;
    while (p < end) {
#if defined(TAVRIN_UTF_SSE_WIDE32)
        // A block of 16 ASCII characters at once.
        if (end - p >= 16 && capacity - o >= 16) {
            const auto* s = reinterpret_cast<const __m128i*>(p);
            const __m128i a = _mm_loadu_si128(s);
            const __m128i b = _mm_loadu_si128(s + 1);
            const __m128i c = _mm_loadu_si128(s + 2);
            const __m128i d = _mm_loadu_si128(s + 3);
            const __m128i high = _mm_and_si128(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d)),
                                               _mm_set1_epi32(~0x7F));
            if (_mm_movemask_epi8(_mm_cmpeq_epi32(high, _mm_setzero_si128())) == 0xFFFF) {
                const __m128i bytes =
                    _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), bytes);
                p += 16;
                o += 16;
                continue;
            }
        }
#elif defined(TAVRIN_UTF_SSE_WIDE16)
        // A block of 16 ASCII units at once.
        if (end - p >= 16 && capacity - o >= 16) {
            const auto* s = reinterpret_cast<const __m128i*>(p);
            const __m128i a = _mm_loadu_si128(s);
            const __m128i b = _mm_loadu_si128(s + 1);
            const __m128i high = _mm_and_si128(_mm_or_si128(a, b), _mm_set1_epi16(~0x7F));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) == 0xFFFF) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm_packus_epi16(a, b));
                p += 16;
                o += 16;
                continue;
            }
        }
#endif
        // Otherwise the block character by character, then the next block.
        const wchar_t* const blockEnd = end - p >= 16 ? p + 16 : end;
        while (p < blockEnd) {
            auto c = static_cast<uint32_t>(*p++);
            if (c < 0x80) {  // most characters of mixed text
                if (o == capacity) return kUtfNoRoom;
                out[o++] = static_cast<char>(c);
                continue;
            }
            if (IsSpecial(c)) c = Unpaired(c, p, end);
            size_t size = 0;
            const uint32_t word = Utf8Word(c, size);
            if (capacity - o >= 4) {
                std::memcpy(out + o, &word, 4);  // the bytes past `size` are written over later
            } else {
                if (capacity - o < size) return kUtfNoRoom;
                for (size_t i = 0; i < size; ++i) out[o + i] = static_cast<char>(word >> (8 * i));
            }
            o += size;
        }
    }
    return o;
}

size_t Utf8DecodedLength(const char* text, size_t n) noexcept {
    return DecodeUtf8Text<false>(reinterpret_cast<const unsigned char*>(text), n, nullptr, 0);
}

size_t DecodeUtf8(const char* text, size_t n, wchar_t* out, size_t capacity) noexcept {
    return DecodeUtf8Text<true>(reinterpret_cast<const unsigned char*>(text), n, out, capacity);
}

void AppendUtf8(std::string& out, std::wstring_view text) {
    if (text.empty()) return;
    if (const wchar_t* nul = std::wmemchr(text.data(), L'\0', text.size())) {
        text = text.substr(0, static_cast<size_t>(nul - text.data()));
    }
    // One pass into room for the longest result (four bytes a character), then trimmed: the
    // callers append many short values to one growing text, where the room is reused.
    const size_t old = out.size();
    const size_t room = text.size() * 4;
    out.resize(old + room);
    out.resize(old + EncodeUtf8(text.data(), text.size(), out.data() + old, room));
}

void AppendFromUtf8(std::wstring& out, std::string_view text) {
    if (text.empty()) return;
    if (const void* nul = std::memchr(text.data(), '\0', text.size())) {
        text = text.substr(0, static_cast<size_t>(static_cast<const char*>(nul) - text.data()));
    }
    // Every byte gives at most one character (a four-byte sequence at most two UTF-16 units),
    // so the length is room enough.
    const size_t old = out.size();
    out.resize(old + text.size());
    const size_t count = DecodeUtf8Text<true>(reinterpret_cast<const unsigned char*>(text.data()),
                                              text.size(), out.data() + old, text.size());
    out.resize(old + count);
}

}  // namespace Tavrin::Detail
