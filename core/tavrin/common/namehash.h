// The two hashes of names used by the formats.
//
// KeyHash and IdHash are the keyed table's own hashes (QvMapEx's, for text keys and for
// 32-bit keys): where the formats reproduce that table's iteration order, these decide it, so
// they are behaviour. toolkit_test pins them to the table's functions.
//
// IndexHash is for the formats' private lookup indexes, where only speed counts: it mixes all
// bytes at a word at a time, so that similar names do not collide as easily as with KeyHash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace Tavrin::Detail {

// The keyed table's hash of a text key: hash = hash * 33 + byte, the byte taken as a signed
// 8-bit value, from 0, modulo 2^64. The table stops at a zero byte; callers pass texts without
// one (the formats' names cannot hold one).
inline uint64_t KeyHash(const char* text, size_t length) noexcept {
    uint64_t hash = 0;
    for (size_t i = 0; i < length; ++i) {
        hash = hash * 33u +
               static_cast<uint64_t>(static_cast<int64_t>(static_cast<signed char>(text[i])));
    }
    return hash;
}

// The keyed table's hash of a 32-bit key: FNV-1a, 64-bit, over its 4 bytes, least
// significant first.
inline uint64_t IdHash(uint32_t id) noexcept {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (int i = 0; i < 4; ++i) {
        hash ^= (id >> (8 * i)) & 0xFFu;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

// Hash of the lookup indexes over names.
inline uint64_t IndexHash(std::string_view name) noexcept {
    return std::hash<std::string_view>{}(name);
}

}  // namespace Tavrin::Detail
