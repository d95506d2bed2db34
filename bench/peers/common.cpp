// The Base64 codec of the peers' text documents.
#include "common.h"

namespace PeersBench {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of each character, or 64 for a character outside the alphabet.
constexpr std::array<unsigned char, 256> MakeDecodeTable() {
    std::array<unsigned char, 256> table{};
    for (unsigned char& value : table) value = 64;
    for (unsigned i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
    return table;
}

constexpr std::array<unsigned char, 256> kDecode = MakeDecodeTable();

}  // namespace

void Base64Encode(const unsigned char* data, size_t size, char* out) noexcept {
    size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
        *out++ = kAlphabet[v >> 18];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = kAlphabet[(v >> 6) & 63];
        *out++ = kAlphabet[v & 63];
    }
    if (i < size) {
        const bool two = i + 1 < size;
        const uint32_t v = (uint32_t{data[i]} << 16) | (two ? uint32_t{data[i + 1]} << 8 : 0);
        *out++ = kAlphabet[v >> 18];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = two ? kAlphabet[(v >> 6) & 63] : '=';
        *out++ = '=';
    }
}

bool Base64Decode(std::string_view text, unsigned char* out, size_t size) noexcept {
    if (text.size() != Base64Size(size)) return false;
    const size_t padding = size % 3 == 0 ? 0 : 3 - size % 3;
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        uint32_t v = 0;
        for (size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            unsigned char digit = 0;
            if (last && k >= 4 - padding) {
                if (c != '=') return false;
            } else {
                digit = kDecode[static_cast<unsigned char>(c)];
                if (digit == 64) return false;
            }
            v = (v << 6) | digit;
        }
        const size_t keep = last ? 3 - padding : 3;
        // Bits below the last kept byte must be zero, as an encoder writes them.
        if (keep < 3 && (v & ((1u << (8 * (3 - keep))) - 1)) != 0) return false;
        for (size_t k = 0; k < keep; ++k) *out++ = static_cast<unsigned char>(v >> (16 - 8 * k));
    }
    return true;
}

}  // namespace PeersBench
