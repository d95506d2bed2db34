// Byte copies for the short runs that names and texts mostly are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Tavrin::Detail {

// Copies `n` bytes (the ranges do not overlap). Runs of up to 16 bytes take two overlapping
// loads and stores, or a byte loop below 4, instead of a call.
inline void CopySmall(void* to, const void* from, size_t n) noexcept {
    unsigned char* d = static_cast<unsigned char*>(to);
    const unsigned char* s = static_cast<const unsigned char*>(from);
    if (n >= 8 && n <= 16) {
        uint64_t a = 0;
        uint64_t b = 0;
        std::memcpy(&a, s, 8);
        std::memcpy(&b, s + n - 8, 8);
        std::memcpy(d, &a, 8);
        std::memcpy(d + n - 8, &b, 8);
    } else if (n >= 4 && n < 8) {
        uint32_t a = 0;
        uint32_t b = 0;
        std::memcpy(&a, s, 4);
        std::memcpy(&b, s + n - 4, 4);
        std::memcpy(d, &a, 4);
        std::memcpy(d + n - 4, &b, 4);
    } else if (n < 4) {
        for (size_t i = 0; i < n; ++i) d[i] = s[i];
    } else {
        std::memcpy(d, s, n);
    }
}

// The same for runs of up to 64 bytes (the head of a record, a short text or blob): two or
// four overlapping 16-byte loads and stores.
inline void CopyShort(unsigned char* to, const unsigned char* from, size_t n) noexcept {
    if (n < 16 || n > 64) {
        CopySmall(to, from, n);
        return;
    }
    unsigned char a[16];
    unsigned char b[16];
    std::memcpy(a, from, 16);
    std::memcpy(b, from + n - 16, 16);
    if (n > 32) {
        unsigned char c[16];
        unsigned char d[16];
        std::memcpy(c, from + 16, 16);
        std::memcpy(d, from + n - 32, 16);
        std::memcpy(to + 16, c, 16);
        std::memcpy(to + n - 32, d, 16);
    }
    std::memcpy(to, a, 16);
    std::memcpy(to + n - 16, b, 16);
}

}  // namespace Tavrin::Detail
