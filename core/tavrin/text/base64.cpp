#include <tavrin/base64.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/basepool/raise.h"
#include "core/tavrin/common/blobtext.h"

namespace Tavrin::Base64 {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Full groups per line when encoding with line breaks: 18 groups make 72 characters.
constexpr size_t kGroupsPerLine = 18;

// Character classes of the decode table. Values are 0..63; every other class has bit 6 set,
// so the OR of four classes is below 64 exactly when all four are values.
constexpr uint8_t kPad = 64;
constexpr uint8_t kSkip = 65;
constexpr uint8_t kEnd = 66;
constexpr uint8_t kInvalid = 67;

constexpr std::array<uint8_t, 256> MakeDecodeTable() {
    std::array<uint8_t, 256> table{};
    for (auto& entry : table) entry = kInvalid;
    for (uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
    table['='] = kPad;
    table['\t'] = kSkip;
    table['\n'] = kSkip;
    table['\r'] = kSkip;
    table[' '] = kSkip;
    table[0] = kEnd;
    return table;
}
constexpr std::array<uint8_t, 256> kDecode = MakeDecodeTable();

// The two characters of every 12-bit value, so that a group of three bytes takes two lookups.
constexpr std::array<char, 8192> MakePairTable() {
    std::array<char, 8192> table{};
    for (size_t v = 0; v < 4096; ++v) {
        table[2 * v] = kAlphabet[v >> 6];
        table[2 * v + 1] = kAlphabet[v & 63];
    }
    return table;
}
constexpr std::array<char, 8192> kPairs = MakePairTable();

// Decode tables for whole groups: the OR of the four entries of a group of value characters
// holds its three bytes in memory order (byte 0 in bits 0-7); any other class sets bit 24.
constexpr uint32_t kNotValue = 0x01000000;
template <int kPosition>
constexpr std::array<uint32_t, 256> MakeGroupTable() {
    std::array<uint32_t, 256> table{};
    for (size_t c = 0; c < 256; ++c) {
        const uint32_t v = kDecode[c];
        if (v >= 64) {
            table[c] = kNotValue;
        } else if (kPosition == 0) {
            table[c] = v << 2;
        } else if (kPosition == 1) {
            table[c] = (v >> 4) | ((v & 15) << 12);
        } else if (kPosition == 2) {
            table[c] = ((v >> 2) << 8) | ((v & 3) << 22);
        } else {
            table[c] = v << 16;
        }
    }
    return table;
}
constexpr auto kGroup0 = MakeGroupTable<0>();
constexpr auto kGroup1 = MakeGroupTable<1>();
constexpr auto kGroup2 = MakeGroupTable<2>();
constexpr auto kGroup3 = MakeGroupTable<3>();

inline void EncodeGroup(const unsigned char* in, char* out) noexcept {
    const uint32_t v = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
    std::memcpy(out, &kPairs[size_t{2} * (v >> 12)], 2);
    std::memcpy(out + 2, &kPairs[size_t{2} * (v & 0xFFF)], 2);
}

inline char* EncodeGroups(const unsigned char*& in, size_t groups, char* out) noexcept {
    for (size_t i = 0; i < groups; ++i, in += 3, out += 4) EncodeGroup(in, out);
    return out;
}

#if defined(__SSE2__)
// True when all 16 bytes at p are value characters.
inline bool AllValues(const unsigned char* p) noexcept {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Bytes of 0x80 and above compare as negative and fall outside every range.
    auto inRange = [&v](char lo, char hi) {
        return _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(lo - 1))),
                             _mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(hi + 1))));
    };
    const __m128i values = _mm_or_si128(
        _mm_or_si128(inRange('A', 'Z'), inRange('a', 'z')),
        _mm_or_si128(inRange('0', '9'), _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('+')),
                                                     _mm_cmpeq_epi8(v, _mm_set1_epi8('/')))));
    return _mm_movemask_epi8(values) == 0xFFFF;
}
#endif

// Counts the value and pad characters of the `length` bytes at p up to the end or the first
// invalid character, passing over skip characters. Returns that stop point.
const unsigned char* Scan(const unsigned char* p, size_t length, size_t& count) noexcept {
    const unsigned char* const end = p + length;
    size_t n = 0;
    while (p < end) {
#if defined(__SSE2__)
        if (end - p >= 16 && AllValues(p)) {
            p += 16;
            n += 16;
            continue;
        }
#endif
        // Character by character up to the next block, or to the stop point.
        const unsigned char* const blockEnd = end - p >= 16 ? p + 16 : end;
        for (; p < blockEnd; ++p) {
            const uint8_t k = kDecode[*p];
            if (k <= kPad) {
                ++n;
            } else if (k != kSkip) {
                count = n;
                return p;
            }
        }
    }
    count = n;
    return p;
}

// The decoded size of text whose scan stopped at `stop` after counting `count` characters:
// the pads right before the stop point do not count.
size_t SizeOf(const unsigned char* text, const unsigned char* stop, size_t count) noexcept {
    while (count > 0 && stop > text && stop[-1] == '=') {
        --count;
        --stop;
    }
    return count * 3 / 4;
}

// The decoding pass over [p, stop), which holds only value, pad and skip characters. Writes at
// most `capacity` bytes to `out` and stores their count in `written`. Returns false when value
// characters remain after `capacity` bytes are filled.
bool DecodePass(const unsigned char* p, const unsigned char* stop, unsigned char* out,
                size_t capacity, size_t& written) noexcept {
    size_t o = 0;
    auto next = [&]() -> uint8_t {
        while (p < stop) {
            const uint8_t k = kDecode[*p++];
            if (k != kSkip) return k;
        }
        return kEnd;  // the stop point: end of text or an invalid character alike
    };
    for (;;) {
        // Skip characters between groups (line breaks) are passed over as the first `next`
        // below would, so that the block-wise loop can go on.
        while (p < stop && kDecode[*p] == kSkip) ++p;
        // Whole groups of four value characters, written four bytes at a time while there is
        // room for the fourth (it is overwritten by the next group).
        if constexpr (std::endian::native == std::endian::little) {
            while (stop - p >= 4 && capacity - o >= 4) {
                const uint32_t x = kGroup0[p[0]] | kGroup1[p[1]] | kGroup2[p[2]] | kGroup3[p[3]];
                if (x >= kNotValue) break;
                std::memcpy(out + o, &x, 4);
                p += 4;
                o += 3;
            }
        }
        while (stop - p >= 4 && capacity - o >= 3) {
            const uint32_t x = kGroup0[p[0]] | kGroup1[p[1]] | kGroup2[p[2]] | kGroup3[p[3]];
            if (x >= kNotValue) break;
            out[o] = static_cast<unsigned char>(x);
            out[o + 1] = static_cast<unsigned char>(x >> 8);
            out[o + 2] = static_cast<unsigned char>(x >> 16);
            p += 4;
            o += 3;
        }

        // One group, character by character, with skips, pads and the capacity checks.
        written = o;
        const uint8_t c1 = next();
        if (c1 >= 64) return true;  // end, invalid or pad
        const uint8_t c2 = next();
        if (c2 >= 64) return true;
        if (o == capacity) return false;
        out[o] = static_cast<unsigned char>((c1 << 2) | (c2 >> 4));
        written = o + 1;
        const uint8_t c3 = next();
        if (c3 == kEnd) return true;
        if (o + 1 == capacity) return c3 == kPad;
        if (c3 == kPad) return true;
        out[o + 1] = static_cast<unsigned char>(((c2 & 15) << 4) | (c3 >> 2));
        written = o + 2;
        const uint8_t c4 = next();
        if (c4 == kEnd) return true;
        if (o + 2 == capacity) return c4 == kPad;
        if (c4 == kPad) return true;
        out[o + 2] = static_cast<unsigned char>(((c3 & 3) << 6) | c4);
        o += 3;
    }
}

}  // namespace

std::string Encode(const void* data, size_t size, bool lineBreaks) {
    std::string text;
    if (size == 0) return text;
    if (data == nullptr) Detail::Raise(Detail::ERaise::Base64Encode);

    const size_t groups = size / 3;
    const size_t rest = size % 3;
    const size_t breaks = lineBreaks ? groups / kGroupsPerLine : 0;
    // Below this bound the length cannot overflow: it is less than 5 per group.
    if (groups + 1 > text.max_size() / 5) Detail::Raise(Detail::ERaise::Base64Encode);
    const size_t length = (groups + (rest != 0 ? 1 : 0)) * 4 + breaks;
    try {
        text.resize(length);
    } catch (const std::bad_alloc&) {
        Detail::Raise(Detail::ERaise::Base64Encode);
    } catch (const std::length_error&) {
        Detail::Raise(Detail::ERaise::Base64Encode);
    }

    const auto* in = static_cast<const unsigned char*>(data);
    char* out = text.data();
    if (breaks != 0) {
        // A line break follows every 18th full group, the last one included.
        for (size_t line = 0; line < breaks; ++line) {
            out = EncodeGroups(in, kGroupsPerLine, out);
            *out++ = '\n';
        }
        out = EncodeGroups(in, groups % kGroupsPerLine, out);
    } else {
        out = EncodeGroups(in, groups, out);
    }
    if (rest == 1) {
        out[0] = kAlphabet[in[0] >> 2];
        out[1] = kAlphabet[(in[0] & 3) << 4];
        out[2] = '=';
        out[3] = '=';
    } else if (rest == 2) {
        const unsigned int v = (unsigned{in[0]} << 8) | in[1];
        out[0] = kAlphabet[v >> 10];
        out[1] = kAlphabet[(v >> 4) & 63];
        out[2] = kAlphabet[(v & 15) << 2];
        out[3] = '=';
    }
    return text;
}

}  // namespace Tavrin::Base64

namespace Tavrin::Detail {

SBase64Scan ScanBase64(std::string_view text) noexcept {
    SBase64Scan scan;
    scan.begin = reinterpret_cast<const unsigned char*>(text.data());
    size_t count = 0;
    // A NUL is a stop point of the scan, as the terminator of the zero-terminated forms.
    scan.stop = Base64::Scan(scan.begin, text.size(), count);
    scan.size = Base64::SizeOf(scan.begin, scan.stop, count);
    return scan;
}

void DecodeScannedBase64(const SBase64Scan& scan, unsigned char* out) {
    if (scan.size == 0 || out == nullptr) Raise(ERaise::Base64Decode);
    size_t written = 0;
    if (!Base64::DecodePass(scan.begin, scan.stop, out, scan.size, written)) {
        Raise(ERaise::Base64Decode);
    }
    std::memset(out + written, 0, scan.size - written);
}

}  // namespace Tavrin::Detail

namespace Tavrin::Base64 {

size_t GetDecodedSize(const char* text) {
    if (text == nullptr) return 0;
    const auto* begin = reinterpret_cast<const unsigned char*>(text);
    size_t count = 0;
    const unsigned char* stop = Scan(begin, std::strlen(text), count);
    return SizeOf(begin, stop, count);
}

size_t Decode(const char* text, void* buffer, size_t bufferSize) {
    if (text == nullptr) Detail::Raise(Detail::ERaise::Base64Decode);
    const auto* begin = reinterpret_cast<const unsigned char*>(text);
    size_t count = 0;
    const unsigned char* stop = Scan(begin, std::strlen(text), count);
    const size_t size = SizeOf(begin, stop, count);
    if (size == 0 || size > bufferSize || buffer == nullptr) {
        Detail::Raise(Detail::ERaise::Base64Decode);
    }
    // The pass is bounded by a size computed from the same characters, so it cannot run out
    // of room: every value character it decodes was counted. Decoding straight into the
    // caller's buffer therefore leaves it untouched on every failure above.
    auto* out = static_cast<unsigned char*>(buffer);
    size_t written = 0;
    if (!DecodePass(begin, stop, out, size, written)) {
        Detail::Raise(Detail::ERaise::Base64Decode);
    }
    // A pad before further characters ends the pass early; the rest of the size is zero.
    std::memset(out + written, 0, size - written);
    return size;
}

}  // namespace Tavrin::Base64
