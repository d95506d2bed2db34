// The iteration order of the keyed table (QvMapEx), for formats that keep their entries in
// flat arrays but must hand them out as that table would.
//
// The table starts with 128 buckets; an entry goes to bucket hash & (buckets - 1), at the
// front of that bucket's chain; iteration runs through the buckets in ascending order, each
// chain front to back. After an insertion that makes count * 4 >= buckets * 3 the table
// doubles its buckets (up to 2^31), walking the old order and pushing each entry at the front
// of its new bucket. toolkit_test pins this against a real QvMapEx.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace Tavrin::Detail {

// Fills `order` (n slots) with the insertion positions 0..n-1 in the order that a keyed table
// would iterate distinct keys inserted in position order; `hashOf(i)` gives the low 32 bits of
// the hash of the key inserted at position i.
template <class HashOf>
void KeyedTableOrder(uint32_t n, HashOf&& hashOf, uint32_t* order) {
    constexpr uint32_t kInitialBuckets = 128;
    constexpr uint32_t kFirstGrowth = kInitialBuckets / 4 * 3;
    if (n < kFirstGrowth) {
        // No growth yet: bucket ascending, newest first within a bucket, as one sort key.
        uint64_t keys[kFirstGrowth];
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t bucket = static_cast<uint32_t>(hashOf(i)) & (kInitialBuckets - 1);
            keys[i] = (static_cast<uint64_t>(bucket) << 32) | ~i;
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
        const uint32_t b = static_cast<uint32_t>(hashOf(i)) & (buckets - 1);
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
                    const uint32_t c = static_cast<uint32_t>(hashOf(j)) & (newBuckets - 1);
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

// The same for hashes given as an array in insertion order.
inline void KeyedTableOrder(const uint32_t* hashes, uint32_t n, uint32_t* order) {
    KeyedTableOrder(
        n, [hashes](uint32_t i) { return hashes[i]; }, order);
}

}  // namespace Tavrin::Detail
