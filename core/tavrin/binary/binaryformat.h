// Shared facts of the binary document: type tags, the fixed section order, and the iteration
// order of the keyed tables that decides where entries stand in a document.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

namespace Tavrin::Binary {

static_assert(std::endian::native == std::endian::little,
              "the binary format is little-endian and is encoded from memory as it stands");

enum ETag : uint8_t {
    kTagBool = 0,
    kTagChar = 1,
    kTagUInt8 = 2,
    kTagInt8 = 3,
    kTagUInt16 = 4,
    kTagInt16 = 5,
    kTagUInt32 = 6,
    kTagInt32 = 7,
    kTagUInt64 = 8,
    kTagInt64 = 9,
    kTagFloat = 10,
    kTagDouble = 11,
    kTagString = 12,
    kTagWString = 13,
    kTagDateTime = 14,
    kTagBlob = 15,
    kTagObject = 16,
    kTagContainer = 17,
};

constexpr unsigned kTagCount = 18;

// Sections of a data record stand in this order; the character section follows double.
constexpr uint8_t kSectionOrder[kTagCount] = {0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 1, 12, 13, 14, 15, 16, 17};

// Position of each tag in that order.
constexpr uint8_t kSectionRank[kTagCount] = {0, 11, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 14, 15, 16, 17};

constexpr bool RanksMatchOrder() {
    for (unsigned r = 0; r < kTagCount; ++r) {
        if (kSectionRank[kSectionOrder[r]] != r) return false;
    }
    return true;
}
static_assert(RanksMatchOrder());

// Width in bytes of the values of tags 0 to 11.
constexpr uint8_t kScalarWidth[12] = {1, 1, 1, 1, 2, 2, 4, 4, 8, 8, 4, 8};

// The bucket hash of a 32-bit key in the keyed tables: FNV-1a over its 4 bytes, low 32 bits.
inline uint32_t BucketHashOfId(uint32_t id) noexcept {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (int i = 0; i < 4; ++i) {
        hash ^= (id >> (8 * i)) & 0xFFu;
        hash *= 0x100000001b3ull;
    }
    return static_cast<uint32_t>(hash);
}

// The order in which a keyed table that started with 128 buckets hands out its entries, given
// the low 32 bits of each key's hash in order of insertion (keys distinct). The table keeps
// entries sorted by bucket, each bucket's chain most recent first, and doubles its buckets
// when count * 4 >= buckets * 3 after an insertion; on growth it walks the old order and
// pushes each entry at the front of its new bucket. `order` (n slots) receives the insertion
// positions 0..n-1 in iteration order.
inline void KeyedTableOrder(const uint32_t* hashes, uint32_t n, uint32_t* order) {
    constexpr uint32_t kInitialBuckets = 128;
    constexpr uint32_t kFirstGrowth = kInitialBuckets / 4 * 3;
    if (n < kFirstGrowth) {
        // No growth yet: bucket ascending, newest first within a bucket.
        uint64_t keys[kFirstGrowth];
        for (uint32_t i = 0; i < n; ++i) {
            keys[i] = (static_cast<uint64_t>(hashes[i] & (kInitialBuckets - 1)) << 32) | (~i);
        }
        if (n <= 16) {
            for (uint32_t i = 1; i < n; ++i) {
                const uint64_t key = keys[i];
                uint32_t j = i;
                for (; j > 0 && keys[j - 1] > key; --j) keys[j] = keys[j - 1];
                keys[j] = key;
            }
        } else {
            std::sort(keys, keys + n);
        }
        for (uint32_t i = 0; i < n; ++i) order[i] = ~static_cast<uint32_t>(keys[i]);
        return;
    }
    constexpr uint32_t kNone = 0xFFFFFFFFu;
    uint32_t buckets = kInitialBuckets;
    std::vector<uint32_t> heads(buckets, kNone);
    std::vector<uint32_t> next(n, kNone);
    std::vector<uint32_t> grown;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t b = hashes[i] & (buckets - 1);
        next[i] = heads[b];
        heads[b] = i;
        const uint32_t count = i + 1;
        if (static_cast<uint32_t>(count * 4u) >= static_cast<uint32_t>(buckets * 3u) &&
            buckets < 0x80000000u) {
            const uint32_t newBuckets = buckets * 2;
            grown.assign(newBuckets, kNone);
            for (uint32_t b2 = 0; b2 < buckets; ++b2) {
                for (uint32_t j = heads[b2]; j != kNone;) {
                    const uint32_t following = next[j];
                    const uint32_t c = hashes[j] & (newBuckets - 1);
                    next[j] = grown[c];
                    grown[c] = j;
                    j = following;
                }
            }
            heads.swap(grown);
            buckets = newBuckets;
        }
    }
    uint32_t k = 0;
    for (uint32_t b = 0; b < buckets; ++b) {
        for (uint32_t j = heads[b]; j != kNone; j = next[j]) order[k++] = j;
    }
}

}  // namespace Tavrin::Binary
