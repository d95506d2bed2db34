// Shared facts of the binary document: type tags, the fixed section order and the widths of
// the scalar kinds. Where entries stand within a section follows the keyed table's iteration
// order (core/tavrin/common/keyorder.h).
#pragma once

#include <bit>
#include <cstdint>

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
constexpr uint8_t kSectionOrder[kTagCount] = {0,  2,  3, 4,  5,  6,  7,  8,  9,
                                              10, 11, 1, 12, 13, 14, 15, 16, 17};

// Position of each tag in that order.
constexpr uint8_t kSectionRank[kTagCount] = {0, 11, 1,  2,  3,  4,  5,  6,  7,
                                             8, 9,  10, 12, 13, 14, 15, 16, 17};

constexpr bool RanksMatchOrder() {
    for (unsigned r = 0; r < kTagCount; ++r) {
        if (kSectionRank[kSectionOrder[r]] != r) return false;
    }
    return true;
}
static_assert(RanksMatchOrder());

// Counts and byte counts are stored in 32 bits.
constexpr uint64_t kMaxCount = 0xFFFFFFFFull;

// Width in bytes of the values of tags 0 to 11.
constexpr uint8_t kScalarWidth[12] = {1, 1, 1, 1, 2, 2, 4, 4, 8, 8, 4, 8};

}  // namespace Tavrin::Binary
