// The records into which the binary reader decodes a document.
//
// The records live in one arena that is freed with the reader: objects (a header and their
// entries), containers (a header and their elements), texts and blob bytes are carved out of
// large blocks instead of one heap block each.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/tavrin/binary/binaryformat.h"
#include "core/tavrin/common/arena.h"
#include "core/tavrin/common/bytes.h"

namespace Tavrin::Binary {

// Records nested deeper than this are refused, so that a hostile document cannot exhaust the
// stack.
constexpr unsigned int kMaxDepth = 1000;

// Objects with more values than this get an index by (kind, name); smaller ones are scanned.
constexpr uint32_t kIndexThreshold = 16;

// A name of the document, as text (zero-terminated in the arena) with its byte count, which
// may reach past a zero byte stored inside the name.
struct SName {
    const char* text;
    size_t length;
    uint64_t hash;  // Detail::IndexHash of the text
    bool plain;     // no zero byte inside: the text compares as a zero-terminated one
};

// Whether `name` (zero-terminated) is the text of `n`.
inline bool SameName(const SName& n, const char* name) noexcept {
    return n.plain && n.text[0] == name[0] && std::strcmp(n.text, name) == 0;
}

// Byte records in the arena. Narrow text and blobs: a 4-byte length, then the bytes (text is
// also zero-terminated). Wide text: an 8-byte count of UTF-16 units, then the units as stored
// in the document; they are turned into characters when the text is read.
constexpr size_t kNarrowHead = 4;
constexpr size_t kWideHead = 8;

inline uint32_t RecordLength(const unsigned char* record) noexcept {
    uint32_t length = 0;
    std::memcpy(&length, record, 4);
    return length;
}

inline uint64_t WideUnits(const unsigned char* record) noexcept {
    uint64_t units = 0;
    std::memcpy(&units, record, 8);
    return units;
}

// A record of `length` bytes with its length in front; `terminate` adds a zero byte behind.
inline const unsigned char* NewBytes(Detail::CArena& arena, const void* bytes, uint32_t length,
                                     bool terminate) {
    unsigned char* record =
        static_cast<unsigned char*>(arena.Allocate(kNarrowHead + length + (terminate ? 1 : 0), 4));
    std::memcpy(record, &length, 4);
    Detail::CopySmall(record + kNarrowHead, static_cast<const unsigned char*>(bytes), length);
    if (terminate) record[kNarrowHead + length] = 0;
    return record;
}

// One value of an object: scalars as their bytes, date-times as their 100-ns count, texts and
// blobs as the address of their byte record, objects and containers as the address of theirs.
struct SEntry {
    uint32_t name;
    uint8_t tag;
    uint64_t value;
};
static_assert(sizeof(SEntry) == 16);

// An object: this header, `count` entries, then for a large object its index (positions + 1,
// open addressing over IndexSlots(count) slots).
struct alignas(8) SObject {
    uint32_t count;
    uint32_t kinds;  // bit per tag that has entries, kDirect and the kind of several entries

    // The usual shape: one section per kind, each of one entry but at most one. In section
    // order (as written) the entry of a kind then stands at the number of kinds whose sections
    // come before its own (kKindsBefore), after those of the section of several entries if
    // that comes before. The kind of that section is kept at kSeveralShift (kNoSeveral: none).
    static constexpr uint32_t kDirect = 1u << 31;
    static constexpr unsigned int kSeveralShift = 18;
    static constexpr uint8_t kNoSeveral = 31;

    const SEntry* Entries() const noexcept { return reinterpret_cast<const SEntry*>(this + 1); }
    const uint32_t* Index() const noexcept {
        return reinterpret_cast<const uint32_t*>(Entries() + count);
    }
};
static_assert(sizeof(SObject) == 8 && alignof(SEntry) == 8);

// Number of kinds in `bits` (a bit per tag; higher bits are ignored).
inline unsigned int KindCount(uint32_t bits) noexcept {
    static_assert(kTagCount <= 18);
    static constexpr auto kCounts = [] {
        struct STable {
            uint8_t count[512];
        } t{};
        for (unsigned int i = 0; i < 512; ++i) t.count[i] = static_cast<uint8_t>(std::popcount(i));
        return t;
    }();
    return kCounts.count[bits & 511] + kCounts.count[(bits >> 9) & 511];
}

// By tag: the tags whose sections stand before its section.
inline constexpr auto kKindsBefore = [] {
    struct STable {
        uint32_t bits[kTagCount];
    } t{};
    for (unsigned int tag = 0; tag < kTagCount; ++tag) {
        for (unsigned int other = 0; other < kTagCount; ++other) {
            if (kSectionRank[other] < kSectionRank[tag]) t.bits[tag] |= 1u << other;
        }
    }
    return t;
}();

inline uint32_t IndexSlots(uint32_t count) noexcept { return std::bit_ceil(count * 2u); }

// Slot hash of (tag, name) in the index of a large object.
inline uint32_t SlotHash(uint8_t tag, uint64_t nameHash) noexcept {
    return static_cast<uint32_t>(((nameHash ^ tag) * 0x9E3779B97F4A7C15ull) >> 32);
}

// A container: this header, then `count` elements of the element kind: scalars in their
// stored widths, date-times as 100-ns counts, texts and blobs as the addresses of their byte
// records, objects and containers as the addresses of their records.
struct alignas(8) SContainer {
    uint32_t count;
    uint8_t tag;

    const unsigned char* Elements() const noexcept {
        return reinterpret_cast<const unsigned char*>(this + 1);
    }
};
static_assert(sizeof(SContainer) == 8);

inline constexpr SObject kEmptyObject{0, 0};
inline constexpr SContainer kEmptyContainer{0, 0};

// Width of one element in a container record, by tag.
constexpr size_t ElementWidth(uint8_t tag) noexcept {
    return tag < kTagString ? kScalarWidth[tag] : 8;
}

}  // namespace Tavrin::Binary

namespace Tavrin::Detail {

// Everything the reader keeps: the arena with the decoded records, the names and the root.
struct SBinaryDocument {
    CArena arena;
    const Binary::SName* names = nullptr;
    const Binary::SObject* rootObject = nullptr;
    const Binary::SContainer* rootContainer = nullptr;
};

}  // namespace Tavrin::Detail
