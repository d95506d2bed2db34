// Keyed table, node pool and dynamic array: hash values, lookups, growth, destruction order,
// pool block sizes and the exceptions of misuse. The iteration order itself is pinned against
// an independent implementation in toolkit_test.cpp.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "support/raising.h"

namespace {

using UIntMap = QvMapEx<unsigned int, unsigned int>;
using Sizes = std::vector<unsigned int>;

template <class Map>
std::vector<typename Map::key_type> IterationOrder(const Map& map) {
    std::vector<typename Map::key_type> keys;
    for (auto* a = map.GetFirst(); a; a = a->pNext) keys.push_back(a->key);
    return keys;
}

TEST(QvHashes, KnownValues) {
    EXPECT_EQ(QvHashFnv1a("", 0), 0xcbf29ce484222325ull);
    EXPECT_EQ(QvHash<std::string>()(std::string("a")), 0xaf63dc4c8601ec8cull);
    // Zero bytes count for std::string keys: "a\0" is not "a".
    EXPECT_NE(QvHash<std::string>()(std::string("a\0", 2)), QvHash<std::string>()("a"));
    // 32-bit keys: the same FNV-1a over the 4 bytes, least significant first.
    const unsigned char le[4] = {0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(QvHash<unsigned int>()(0x12345678u), QvHashFnv1a(le, 4));
    // Times 33 over signed bytes, up to the first zero.
    EXPECT_EQ(QvHashTimes33(""), 0u);
    EXPECT_EQ(QvHashTimes33("ab"), 3299u);
    EXPECT_EQ(QvHashTimes33("a\xE9"), static_cast<uint64_t>(97 * 33 - 23));
    EXPECT_EQ(QvHash<QvStringA>()(QvStringA(std::string("ab\0cd", 5))), 3299u);
    EXPECT_EQ(QvHashTimes33(std::string_view("ab\0cd", 5)), 3299u);
}

TEST(QvMapEx, LookupAndGetOrAdd) {
    QvMapEx<std::string, int> map;
    EXPECT_EQ(map.GetFirst(), nullptr);
    EXPECT_EQ(map.Lookup("x"), nullptr);
    EXPECT_EQ(map.GetBucketCount(), 128u);
    EXPECT_EQ(map.GetOrAdd("id"), 0);  // a new entry holds the default value
    map.GetOrAdd("id") = 7;
    map.GetOrAdd(std::string("name")) = 9;
    EXPECT_EQ(map.GetOrAdd("id"), 7);
    EXPECT_EQ(map.Lookup("id")->hash, QvHash<std::string>()("id"));
    bool added = true;
    EXPECT_EQ(map.GetOrAddAssociation(std::string_view("name"), &added)->value, 9);
    EXPECT_FALSE(added);
    EXPECT_EQ(map.GetCount(), 2u);
    EXPECT_TRUE((QvMapEx<unsigned int, std::wstring>().GetOrAdd(3u).empty()));

    // A zero-terminated text is the text up to its zero; a view or string counts its full length.
    map.GetOrAdd(std::string("a\0b", 3)) = 1;
    map.GetOrAdd("a") = 2;
    EXPECT_EQ(map.Lookup("a\0b")->value, 2);
    EXPECT_EQ(map.Lookup(std::string_view("a\0b", 3))->value, 1);
    EXPECT_EQ(map.Lookup(std::string_view("a\0c", 3)), nullptr);

    // Reference-counted string keys compare as zero-terminated texts.
    QvMapEx<QvStringA, unsigned int> names;
    names.GetOrAdd("alpha") = 5;
    EXPECT_EQ(names.Lookup(QvStringA(std::string("alpha\0x", 7)))->value, 5u);
    EXPECT_EQ(names.Lookup(std::string_view("alphabet", 5))->value, 5u);
    EXPECT_EQ(names.Lookup("alph"), nullptr);
    EXPECT_EQ(names.Lookup("alphaa"), nullptr);
    names.GetOrAdd(std::string_view("alpha\0z", 7)) = 6;  // the same key
    EXPECT_EQ(names.GetCount(), 1u);
    EXPECT_EQ(names.Lookup(std::string("alpha"))->value, 6u);
    // "Ab" and "BA" share the times-33 hash (65*33+98 == 66*33+65): told apart by the key.
    ASSERT_EQ(QvHashTimes33("Ab"), QvHashTimes33("BA"));
    names.GetOrAdd("Ab") = 1;
    names.GetOrAdd("BA") = 2;
    EXPECT_EQ(names.Lookup("Ab")->value, 1u);
    EXPECT_EQ(names.Lookup("BA")->value, 2u);
}

TEST(QvMapEx, GrowsAtThreeQuartersLoad) {
    UIntMap map;
    Sizes growths;  // the counts at which the bucket count doubled
    for (unsigned int i = 1; i <= 400; ++i) {
        const unsigned int before = map.GetBucketCount();
        map.GetOrAdd(i);
        map.GetOrAdd(1u);  // re-adding neither counts nor grows
        if (map.GetBucketCount() != before) growths.push_back(map.GetCount());
    }
    EXPECT_EQ(growths, (Sizes{96, 192, 384}));
    EXPECT_EQ(map.GetBucketCount(), 1024u);
    EXPECT_EQ(map.GetCount(), 400u);
    for (unsigned int i = 1; i <= 400; ++i) ASSERT_NE(map.Lookup(i), nullptr) << i;
    EXPECT_EQ((QvMapEx<unsigned int, int>(200).GetBucketCount()), 128u);  // rounded down
}

TEST(QvMapEx, DestroysEveryValueInIterationOrder) {
    static std::vector<unsigned int> destroyed;
    struct SRecorder {
        unsigned int key = ~0u;
        ~SRecorder() {
            if (key != ~0u) destroyed.push_back(key);
        }
    };
    std::vector<unsigned int> order;
    {
        QvMapEx<unsigned int, SRecorder> map;
        for (unsigned int k = 0; k < 300 * 7919u; k += 7919u) map.GetOrAdd(k).key = k;
        order = IterationOrder(map);
        std::vector<unsigned int> ranged;  // range-for gives the same order
        for (const auto& a : map) ranged.push_back(a.key);
        EXPECT_EQ(ranged, order);
        EXPECT_TRUE(destroyed.empty());
    }
    EXPECT_EQ(destroyed, order);
}

TEST(QvPlexManager, BlocksGrowByHalfAndAreHandedOutFromTheirEnd) {
    using Assoc = QvMapTypes::SAssociation<unsigned int, std::string>;
    QvPlexManager<Assoc> pool(128);
    Sizes sizes;
    std::vector<uintptr_t> first;  // the first 130 entries handed out
    for (unsigned int i = 0; i < 128 + 192 + 288 + 432 + 648 + 972 + 1458 + 2187 + 3280 + 1; ++i) {
        const auto element = reinterpret_cast<uintptr_t>(pool.getFreeElement());
        if (first.size() < 130) first.push_back(element);
        if (pool.GetBlockCount() > sizes.size()) sizes.push_back(pool.GetLastBlockSize());
    }
    EXPECT_EQ(sizes, (Sizes{128, 192, 288, 432, 648, 972, 1458, 2187, 3280, 4920}));
    // A new block goes onto the free list first to last, so its last entry comes out first and
    // the rest follow downwards; the 129th entry is the last of the second block.
    for (size_t i = 1; i < 130; ++i) {
        if (i != 128) {
            ASSERT_EQ(first[i] + sizeof(Assoc), first[i - 1]) << i;
        }
    }

    QvPlexManager<Assoc> documentPool(1024);
    for (unsigned int i = 0; i < 1025; ++i) documentPool.getFreeElement();
    EXPECT_EQ(documentPool.GetBlockCount(), 2u);
    EXPECT_EQ(documentPool.GetLastBlockSize(), 1536u);

    // A map's own pool starts with 128: the 129th entry opens the second block, of 192.
    UIntMap map;
    for (unsigned int i = 0; i < 129; ++i) map.GetOrAdd(i);
    EXPECT_EQ(map.GetPlexManager().GetBlockCount(), 2u);
    EXPECT_EQ(map.GetPlexManager().GetLastBlockSize(), 192u);
}

// Expects `f` to throw QvExceptionContainer from `file` at `line`, naming the full instantiated
// template: `head` ... `tail`, with `argument` among its arguments and no ';' in it.
void ExpectContainerError(const std::function<void()>& f, const char* file, unsigned int line,
                          const std::string& head, const std::string& argument,
                          const std::string& tail, CallSite where = CallSite::current()) {
    const testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), tail);
    const SThrown t = CatchThrown<QvExceptionContainer>(f);
    ASSERT_TRUE(t.thrown) << tail;
    EXPECT_EQ(t.line, line);
    EXPECT_TRUE(t.file.ends_with(file)) << t.file;
    EXPECT_TRUE(t.function.starts_with(head) && t.function.ends_with(tail)) << t.function;
    EXPECT_NE(t.function.find(argument), std::string::npos) << t.function;
    EXPECT_EQ(t.function.find(';'), std::string::npos) << t.function;
    ASSERT_EQ(t.entries.size(), 1u);
    EXPECT_EQ(t.entries[0].message, L"Out of memory");
}

TEST(QvPlexManager, Failures) {
    using Assoc = QvMapTypes::SAssociation<unsigned int, std::string>;
    const char* file = "core/basepool/qvplexmanager.cpp";
    ExpectContainerError([] { QvPlexManager<Assoc> pool(0); }, file, 188, "QvPlexManager<",
                         "SAssociation<unsigned int", ", 0, 0, unsigned int>::QvPlexManager");
    // A block that cannot be obtained (its size does not fit the address space).
    QvPlexManager<Assoc, 0, 0, unsigned long long> huge(1ull << 62);
    ExpectContainerError([&] { huge.getFreeElement(); }, file, 313, "QvPlexManager<",
                         "SAssociation<unsigned int", "::getFreeElement");
    EXPECT_EQ(huge.GetBlockCount(), 0u);
}

TEST(QvMapEx, SharedPool) {
    using Map = QvMapEx<QvStringA, unsigned int>;
    auto pool = std::make_shared<Map::PlexManager>(1024);
    {
        Map first, second;
        first.SetPlexManager(pool);
        second.SetPlexManager(pool);
        for (unsigned int i = 0; i < 600; ++i) {
            first.GetOrAdd((std::to_string(i) + "a").c_str()) = i;
            second.GetOrAdd((std::to_string(i) + "b").c_str()) = i;
        }
        // 1200 entries from one pool: its first block of 1024, then one of 1536.
        EXPECT_EQ(pool->GetBlockCount(), 2u);
        EXPECT_EQ(second.Lookup("599b")->value, 599u);

        ExpectContainerError([&] { first.SetPlexManager(std::make_shared<Map::PlexManager>(16)); },
                             "core/basepool/qvmappolicyplexmanager.cpp", 275,
                             "QvMapPolicyPlexManager<", "QvMapEx<QvStringA, unsigned int",
                             ", 0, 0, unsigned int>::SetPlexManager");
        // The map kept its pool and its entries.
        EXPECT_EQ(&first.GetPlexManager(), pool.get());
        first.GetOrAdd("late") = 1;
        EXPECT_EQ(first.GetCount(), 601u);
    }
    // The maps are gone; the pool lives on with its last holder.
    EXPECT_EQ(pool.use_count(), 1);
}

TEST(QvArray, GrowthRules) {
    QvArray<int> doubling;
    Sizes capacities;
    for (int i = 0; i < 5; ++i) {
        doubling.Add(i);
        capacities.push_back(doubling.GetCapacity());
    }
    EXPECT_EQ(capacities, (Sizes{1, 2, 4, 4, 8}));
    QvArray<int> stepping;
    stepping.SetGrowBy(3);
    for (int i = 0; i < 7; ++i) stepping.Add(i);
    EXPECT_EQ(stepping.GetCapacity(), 9u);
    EXPECT_EQ(stepping[6], 6);

    // SetSize reserves nothing beyond the size and value-initialises new elements.
    QvArray<unsigned char> bytes;
    EXPECT_EQ(bytes.GetEnd(), nullptr);
    bytes.SetSize(10);
    EXPECT_EQ(bytes.GetCapacity(), 10u);
    EXPECT_EQ(bytes.GetEnd(), bytes.GetData() + 10);
    for (unsigned char b : bytes) EXPECT_EQ(b, 0);
    bytes.SetSize(0);
    EXPECT_EQ(bytes.GetEnd(), nullptr);
    EXPECT_EQ(bytes.GetCapacity(), 10u);

    // A bulk append reaches the capacity that adding one by one would reach; appending the
    // array to itself reads the old block before releasing it.
    QvArray<unsigned char> bulk;
    bulk.SetCapacity(4096);
    const std::vector<unsigned char> data(10000, 0x5A);
    bulk.Append(data.data(), 4097);
    EXPECT_EQ(bulk.GetCapacity(), 8192u);
    bulk.Append(data.data(), 5000);
    EXPECT_EQ(bulk.GetCapacity(), 16384u);
    bulk.Append(bulk.GetData(), bulk.GetCount());
    EXPECT_EQ(bulk.GetCount(), 2u * 9097u);
    EXPECT_EQ(bulk[18193], 0x5A);
}

TEST(QvArray, ElementLifetimes) {
    // Adding an element of the array itself while it reallocates.
    QvArray<std::string> strings;
    strings.Add(std::string(100, 'x'));
    for (int i = 0; i < 6; ++i) strings.Add(strings[0]);
    EXPECT_EQ(strings[6], std::string(100, 'x'));

    auto counter = std::make_shared<int>(0);
    {
        QvArray<std::shared_ptr<int>> owners;
        owners.SetSize(3);
        EXPECT_EQ(owners[2], nullptr);
        for (int i = 0; i < 9; ++i) owners.Add(counter);
        EXPECT_EQ(counter.use_count(), 10);
        owners.SetSize(5);  // destroys the elements past the new size
        EXPECT_EQ(counter.use_count(), 3);
        QvArray<std::shared_ptr<int>> copy(owners);
        QvArray<std::shared_ptr<int>> moved(std::move(copy));
        EXPECT_EQ(counter.use_count(), 5);
        moved = owners;
        EXPECT_EQ(counter.use_count(), 5);
        owners.RemoveAll();
        EXPECT_EQ(counter.use_count(), 3);
    }
    EXPECT_EQ(counter.use_count(), 1);
}

}  // namespace
