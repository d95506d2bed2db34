// The formats' shared toolkit: the keyed table's order and hashes as the formats reproduce
// them, and the arena's pieces.
#include <cstdint>
#include <cstring>
#include <iostream>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/qvmapex.h>
#include <tavrin/qvstring.h>

#include "core/tavrin/common/arena.h"
#include "core/tavrin/common/keyorder.h"
#include "core/tavrin/common/namehash.h"

namespace {

using namespace Tavrin::Detail;

constexpr uint32_t kSeed = 20261206;

std::vector<std::string> RandomTexts(std::mt19937& random, uint32_t count) {
    std::uniform_int_distribution<int> length(1, 24);
    std::uniform_int_distribution<int> byte(1, 255);  // high bytes: the hash takes them signed
    std::unordered_set<std::string> seen;
    std::vector<std::string> keys;
    while (keys.size() < count) {
        std::string key(static_cast<size_t>(length(random)), ' ');
        for (char& c : key) c = static_cast<char>(byte(random));
        if (seen.insert(key).second) keys.push_back(key);
    }
    return keys;
}

std::vector<uint32_t> RandomIds(std::mt19937& random, uint32_t count, bool dense) {
    std::vector<uint32_t> keys;
    if (dense) {  // identifiers as the binary writer hands them out
        for (uint32_t i = 0; i < count; ++i) keys.push_back(i);
        return keys;
    }
    std::unordered_set<uint32_t> seen;
    while (keys.size() < count) {
        const uint32_t key = static_cast<uint32_t>(random());
        if (seen.insert(key).second) keys.push_back(key);
    }
    return keys;
}

// Positions of the table's keys in insertion order, in the table's iteration order.
template <class Map, class Key>
std::vector<uint32_t> TableOrder(const std::vector<Key>& keys) {
    Map map;
    for (uint32_t i = 0; i < keys.size(); ++i) map.GetOrAdd(keys[i]) = static_cast<int>(i);
    std::vector<uint32_t> order;
    for (const auto& entry : map) order.push_back(static_cast<uint32_t>(entry.value));
    return order;
}

// KeyedTableOrder and the two key hashes against real tables: text keys and 32-bit keys
// (scattered, and dense from 0), for counts on both sides of every growth up to 8 doublings.
TEST(KeyedTableOrder, MatchesTheKeyedTable) {
    std::cout << "seed " << kSeed << '\n';
    std::mt19937 random(kSeed);
    std::vector<uint32_t> counts = {0, 1, 2, 3, 16, 17, 40, 95};
    for (uint32_t growth = 96; growth <= 96u << 8; growth *= 2) {
        counts.insert(counts.end(), {growth - 1, growth, growth + 1});
    }
    for (const uint32_t count : counts) {
        SCOPED_TRACE("count " + std::to_string(count));
        std::vector<uint32_t> order(count);

        const std::vector<std::string> texts = RandomTexts(random, count);
        std::vector<uint32_t> hashes;
        for (const std::string& text : texts) {
            const uint64_t hash = KeyHash(text.data(), text.size());
            ASSERT_EQ(hash, QvHashTimes33(text.c_str())) << text;
            hashes.push_back(static_cast<uint32_t>(hash));
        }
        KeyedTableOrder(hashes.data(), count, order.data());
        std::vector<QvStringA> textKeys(texts.begin(), texts.end());
        EXPECT_EQ(order, (TableOrder<QvMapEx<QvStringA, int>>(textKeys))) << "text keys";

        for (const bool dense : {false, true}) {
            const std::vector<uint32_t> ids = RandomIds(random, count, dense);
            for (const uint32_t id : ids) ASSERT_EQ(IdHash(id), QvHashFnv1aUInt32(id)) << id;
            KeyedTableOrder(
                count, [&ids](uint32_t i) { return IdHash(ids[i]); }, order.data());
            EXPECT_EQ(order, (TableOrder<QvMapEx<unsigned int, int>>(ids)))
                << (dense ? "dense" : "scattered") << " 32-bit keys";
        }
    }
}

// Pieces of every size and alignment, small ones around large ones that get blocks of their
// own: each aligned as asked, none overlapping another (each keeps the bytes written to it).
TEST(Arena, PiecesAreAlignedAndDisjoint) {
    std::mt19937 random(kSeed);
    std::uniform_int_distribution<size_t> small(0, 300);
    std::uniform_int_distribution<int> alignShift(0, 4);
    struct SPiece {
        unsigned char* bytes;
        size_t size;
        unsigned char fill;
    };
    CArena arena(256);
    std::vector<SPiece> pieces;
    for (int i = 0; i < 5000; ++i) {
        const size_t size = i % 97 == 0 ? 3000 + small(random) * 100 : small(random);
        const size_t align = size_t(1) << alignShift(random);
        auto* bytes = static_cast<unsigned char*>(arena.Allocate(size, align));
        ASSERT_EQ(reinterpret_cast<uintptr_t>(bytes) % align, 0u);
        const auto fill = static_cast<unsigned char>(i);
        std::memset(bytes, fill, size);
        pieces.push_back({bytes, size, fill});
    }
    const uint64_t copied[3] = {1, 2, 3};
    const uint64_t* copy = arena.Copy(copied, 3);
    EXPECT_EQ(std::vector<uint64_t>(copy, copy + 3), std::vector<uint64_t>({1, 2, 3}));
    EXPECT_EQ(arena.Copy(copied, 0), nullptr);
    for (const SPiece& piece : pieces) {
        for (size_t k = 0; k < piece.size; ++k) ASSERT_EQ(piece.bytes[k], piece.fill);
    }
}

}  // namespace
