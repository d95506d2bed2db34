// Keyed table, node pool and dynamic array: hash values, iteration order, growth, pool block
// sizes and the exceptions of misuse.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "logcapture.h"

namespace {

using UIntMap = QvMapEx<unsigned int, unsigned int>;

unsigned int BucketOf(unsigned int key, unsigned int buckets) {
    return static_cast<unsigned int>(QvHashFnv1aUInt32(key)) & (buckets - 1);
}

// First key from `start` upwards whose bucket (of `buckets`) is `bucket`.
unsigned int KeyInBucket(unsigned int bucket, unsigned int buckets, unsigned int start = 0) {
    for (unsigned int k = start;; ++k) {
        if (BucketOf(k, buckets) == bucket) return k;
    }
}

template <class Map>
std::vector<typename Map::key_type> IterationOrder(const Map& map) {
    std::vector<typename Map::key_type> keys;
    for (auto* a = map.GetFirst(); a; a = a->pNext) keys.push_back(a->key);
    return keys;
}

// A letter followed by a number. Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict)
// about "literal" + std::string.
std::string Key(char letter, unsigned long number) {
    std::string key(1, letter);
    key += std::to_string(number);
    return key;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// ---- Hash functions ----------------------------------------------------------------------------

TEST(QvHashes, KnownValues) {
    EXPECT_EQ(QvHashFnv1a("", 0), 0xcbf29ce484222325ull);
    EXPECT_EQ(QvHashFnv1a("a", 1), 0xaf63dc4c8601ec8cull);
    EXPECT_EQ(QvHash<std::string>()(std::string("a")), 0xaf63dc4c8601ec8cull);
    // Zero bytes count for std::string keys: "a\0" is not "a".
    EXPECT_NE(QvHash<std::string>()(std::string("a\0", 2)), QvHash<std::string>()(std::string("a")));

    // 32-bit keys: the same FNV-1a over the 4 bytes, least significant first.
    const unsigned char le[4] = {0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(QvHash<unsigned int>()(0x12345678u), QvHashFnv1a(le, 4));

    EXPECT_EQ(QvHashTimes33(""), 0u);
    EXPECT_EQ(QvHashTimes33("ab"), 3299u);
    EXPECT_EQ(QvHashTimes33("\xE9"), static_cast<uint64_t>(-23));
    EXPECT_EQ(QvHashTimes33("a\xE9"), static_cast<uint64_t>(97 * 33 - 23));
    // The reference-counted string hashes up to its first zero, a view likewise.
    EXPECT_EQ(QvHash<QvStringA>()(QvStringA(std::string("ab\0cd", 5))), 3299u);
    EXPECT_EQ(QvHashTimes33(std::string_view("ab\0cd", 5)), 3299u);
}

// ---- Map: lookups and insertions -----------------------------------------------------------------

TEST(QvMapEx, EmptyMapFindsNothing) {
    QvMapEx<std::string, int> map;
    EXPECT_EQ(map.GetFirst(), nullptr);
    EXPECT_EQ(map.Lookup("x"), nullptr);
    EXPECT_EQ(map.GetCount(), 0u);
    EXPECT_EQ(map.GetBucketCount(), 128u);
    EXPECT_EQ(map.begin(), map.end());
}

TEST(QvMapEx, GetOrAddKeepsExistingValues) {
    QvMapEx<std::string, int> map;
    EXPECT_EQ(map.GetOrAdd("id"), 0);  // a new entry holds the default value
    map.GetOrAdd("id") = 7;
    map.GetOrAdd(std::string("name")) = 9;
    EXPECT_EQ(map.GetOrAdd("id"), 7);
    EXPECT_EQ(map.GetCount(), 2u);

    bool added = true;
    auto* a = map.GetOrAddAssociation(std::string_view("name"), &added);
    EXPECT_FALSE(added);
    EXPECT_EQ(a->value, 9);
    map.GetOrAddAssociation("third", &added);
    EXPECT_TRUE(added);
    EXPECT_EQ(map.GetCount(), 3u);

    QvMapEx<unsigned int, std::wstring> wide;
    EXPECT_TRUE(wide.GetOrAdd(3u).empty());
    wide.GetOrAdd(3u) = L"x";
    EXPECT_EQ(wide.Lookup(3u)->value, L"x");
    EXPECT_EQ(wide.Lookup(4u), nullptr);
}

TEST(QvMapEx, StringKeyProbes) {
    QvMapEx<std::string, int> map;
    map.GetOrAdd(std::string("a\0b", 3)) = 1;
    map.GetOrAdd("a") = 2;
    // A zero-terminated text is the text up to its zero; a view or string counts its full length.
    EXPECT_EQ(map.Lookup("a\0b")->value, 2);
    EXPECT_EQ(map.Lookup(std::string_view("a\0b", 3))->value, 1);
    EXPECT_EQ(map.Lookup(std::string("a\0b", 3))->value, 1);
    EXPECT_EQ(map.Lookup(std::string_view("a\0c", 3)), nullptr);
    EXPECT_EQ(map.GetCount(), 2u);

    // Reference-counted string keys compare as zero-terminated texts.
    QvMapEx<QvStringA, unsigned int> names;
    names.GetOrAdd("alpha") = 5;
    EXPECT_EQ(names.Lookup(QvStringA(std::string("alpha\0x", 7)))->value, 5u);
    EXPECT_EQ(names.Lookup(std::string_view("alpha\0y", 7))->value, 5u);
    EXPECT_EQ(names.Lookup(std::string_view("alphabet", 5))->value, 5u);
    EXPECT_EQ(names.Lookup("alph"), nullptr);
    EXPECT_EQ(names.Lookup("alphaa"), nullptr);
    EXPECT_EQ(names.Lookup(std::string("alpha"))->value, 5u);
    names.GetOrAdd(std::string_view("alpha\0z", 7)) = 6;  // same key
    EXPECT_EQ(names.GetCount(), 1u);
    EXPECT_EQ(names.Lookup("alpha")->value, 6u);
}

TEST(QvMapEx, HashCollisionsAreToldApartByKey) {
    // "Ab" and "BA" share the ×33 hash (65*33+98 == 66*33+65).
    ASSERT_EQ(QvHashTimes33("Ab"), QvHashTimes33("BA"));
    QvMapEx<QvStringA, unsigned int> map;
    map.GetOrAdd("Ab") = 1;
    map.GetOrAdd("BA") = 2;
    EXPECT_EQ(map.GetCount(), 2u);
    EXPECT_EQ(map.Lookup("Ab")->value, 1u);
    EXPECT_EQ(map.Lookup("BA")->value, 2u);
    EXPECT_EQ(IterationOrder(map), (std::vector<QvStringA>{"BA", "Ab"}));  // newest first
}

// ---- Map: iteration order and growth --------------------------------------------------------------

TEST(QvMapEx, IteratesByBucketThenNewestFirst) {
    UIntMap map;
    const unsigned int k5 = KeyInBucket(5, 128), k2 = KeyInBucket(2, 128), k9 = KeyInBucket(9, 128);
    map.GetOrAdd(k5) = 5;
    map.GetOrAdd(k2) = 2;
    map.GetOrAdd(k9) = 9;
    EXPECT_EQ(IterationOrder(map), (std::vector<unsigned int>{k2, k5, k9}));

    const unsigned int k5b = KeyInBucket(5, 128, k5 + 1);
    const unsigned int k9b = KeyInBucket(9, 128, k9 + 1);
    map.GetOrAdd(k9b);  // spliced after the chain of bucket 5
    map.GetOrAdd(k5b);
    EXPECT_EQ(IterationOrder(map), (std::vector<unsigned int>{k2, k5b, k5, k9b, k9}));

    std::vector<unsigned int> ranged;
    for (const auto& a : map) ranged.push_back(a.key);
    EXPECT_EQ(ranged, IterationOrder(map));
}

TEST(QvMapEx, GrowsAtThreeQuartersLoad) {
    UIntMap map;
    for (unsigned int i = 1; i <= 95; ++i) map.GetOrAdd(i);
    EXPECT_EQ(map.GetBucketCount(), 128u);
    map.GetOrAdd(96u);
    EXPECT_EQ(map.GetBucketCount(), 256u);
    for (unsigned int i = 97; i <= 191; ++i) map.GetOrAdd(i);
    EXPECT_EQ(map.GetBucketCount(), 256u);
    map.GetOrAdd(192u);
    EXPECT_EQ(map.GetBucketCount(), 512u);
    for (unsigned int i = 1; i <= 192; ++i) ASSERT_NE(map.Lookup(i), nullptr) << i;
    // Lookups and re-adds never grow the table.
    map.GetOrAdd(5u);
    EXPECT_EQ(map.GetCount(), 192u);
    EXPECT_EQ(map.GetBucketCount(), 512u);
    // A hint is rounded down to a power of two.
    EXPECT_EQ((QvMapEx<unsigned int, int>(200).GetBucketCount()), 128u);
}

TEST(QvMapEx, GrowthRebuildsChainsFromTheOldOrder) {
    // Two keys that share a bucket both before and after the first growth: they iterate newest
    // first, and after the growth oldest first, as the rebuild walks the old order and pushes
    // each entry at the front of its new bucket.
    const unsigned int older = KeyInBucket(3, 256);
    unsigned int newer = older + 1;
    while (BucketOf(newer, 256) != 3) ++newer;
    UIntMap map;
    map.GetOrAdd(older);
    map.GetOrAdd(newer);
    auto order = IterationOrder(map);
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0], newer);
    unsigned int filler = 1000000;
    while (map.GetCount() < 96) {
        if (BucketOf(filler, 256) != 3) map.GetOrAdd(filler);
        ++filler;
    }
    ASSERT_EQ(map.GetBucketCount(), 256u);
    order = IterationOrder(map);
    std::vector<unsigned int> inBucket3;
    for (unsigned int k : order) {
        if (BucketOf(k, 256) == 3) inBucket3.push_back(k);
    }
    EXPECT_EQ(inBucket3, (std::vector<unsigned int>{older, newer}));
}

// A model of the order built from plain vectors: each bucket a list, new entries at the front,
// growth re-inserting the old order front-first into twice the buckets.
class OrderModel {
public:
    explicit OrderModel(unsigned int buckets) : m_buckets(buckets) {}

    template <class K>
    void Insert(uint64_t hash, const K& key, size_t id) {
        auto& chain = m_buckets[static_cast<unsigned int>(hash) & (m_buckets.size() - 1)];
        chain.insert(chain.begin(), SEntry{hash, id});
        ++m_count;
        (void)key;
        if (m_count * 4 >= m_buckets.size() * 3) {
            const auto old = Order();
            m_buckets.assign(m_buckets.size() * 2, {});
            for (const SEntry& e : old) {
                auto& c = m_buckets[static_cast<unsigned int>(e.hash) & (m_buckets.size() - 1)];
                c.insert(c.begin(), e);
            }
        }
    }

    struct SEntry {
        uint64_t hash;
        size_t id;
    };

    std::vector<SEntry> Order() const {
        std::vector<SEntry> all;
        for (const auto& chain : m_buckets) all.insert(all.end(), chain.begin(), chain.end());
        return all;
    }
    size_t BucketCount() const { return m_buckets.size(); }

private:
    std::vector<std::vector<SEntry>> m_buckets;
    size_t m_count = 0;
};

TEST(QvMapEx, OrderMatchesModelThroughSeveralGrowths) {
    const unsigned int seed = 20240611;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    QvMapEx<std::string, size_t> map;
    OrderModel model(128);
    std::vector<std::string> keys;
    for (size_t i = 0; i < 3000; ++i) {
        std::string key = Key('k', rng() % 100000);
        if (map.Lookup(key)) continue;
        map.GetOrAdd(key) = keys.size();
        model.Insert(QvHash<std::string>()(key), key, keys.size());
        keys.push_back(key);
        if (keys.size() % 97 == 0 || keys.size() < 300) {
            // Check often while small, where splices into the middle are most varied.
            std::vector<size_t> got;
            for (auto* a = map.GetFirst(); a; a = a->pNext) got.push_back(a->value);
            std::vector<size_t> want;
            for (const auto& e : model.Order()) want.push_back(e.id);
            ASSERT_EQ(got, want) << "after " << keys.size() << " keys";
        }
    }
    EXPECT_EQ(map.GetBucketCount(), model.BucketCount());
    EXPECT_EQ(map.GetCount(), keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        auto* a = map.Lookup(keys[i]);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->value, i);
        EXPECT_EQ(a->hash, QvHash<std::string>()(keys[i]));
    }
}

// ---- Map: value lifetime and pools ------------------------------------------------------------------

TEST(QvMapEx, DestroysEveryValueInIterationOrder) {
    auto destroyed = std::make_shared<std::vector<unsigned int>>();
    struct SRecorder {
        std::shared_ptr<std::vector<unsigned int>> log;
        unsigned int key = 0;
        ~SRecorder() {
            if (log) log->push_back(key);
        }
    };
    std::vector<unsigned int> order;
    {
        QvMapEx<unsigned int, SRecorder> map;
        for (unsigned int k = 0; k < 300; ++k) {
            SRecorder& r = map.GetOrAdd(k * 7919u);
            r.log = destroyed;
            r.key = k * 7919u;
        }
        order = IterationOrder(map);
        EXPECT_TRUE(destroyed->empty());
    }
    EXPECT_EQ(*destroyed, order);
}

TEST(QvPlexManager, BlocksGrowByHalf) {
    using Assoc = QvMapTypes::SAssociation<unsigned int, unsigned int>;
    QvPlexManager<Assoc> pool(128);
    EXPECT_EQ(pool.GetBlockCount(), 0u);
    std::vector<unsigned int> sizes;
    void* previous = nullptr;
    for (unsigned int handed = 0; handed < 128 + 192 + 288 + 432 + 648 + 972 + 1458 + 2187 + 3280 + 1;
         ++handed) {
        void* element = pool.getFreeElement();
        ASSERT_NE(element, previous);
        previous = element;
        if (pool.GetBlockCount() > sizes.size()) sizes.push_back(pool.GetLastBlockSize());
    }
    EXPECT_EQ(sizes, (std::vector<unsigned int>{128, 192, 288, 432, 648, 972, 1458, 2187, 3280,
                                                 4920}));

    QvPlexManager<Assoc> documentPool(1024);
    for (unsigned int i = 0; i < 1025; ++i) documentPool.getFreeElement();
    EXPECT_EQ(documentPool.GetBlockCount(), 2u);
    EXPECT_EQ(documentPool.GetLastBlockSize(), 1536u);

    // A map's own pool: the 129th entry opens the second block of 192.
    UIntMap map;
    for (unsigned int i = 0; i < 128; ++i) map.GetOrAdd(i);
    EXPECT_EQ(map.GetPlexManager().GetBlockCount(), 1u);
    EXPECT_EQ(map.GetPlexManager().GetLastBlockSize(), 128u);
    map.GetOrAdd(128u);
    EXPECT_EQ(map.GetPlexManager().GetBlockCount(), 2u);
    EXPECT_EQ(map.GetPlexManager().GetLastBlockSize(), 192u);
}

// A new block goes onto the free list first to last, so its last entry is handed out first and
// the rest follow downwards, one entry apart.
TEST(QvPlexManager, HandsOutEachBlockFromItsLastEntryDown) {
    using Assoc = QvMapTypes::SAssociation<unsigned int, std::string>;
    QvPlexManager<Assoc> pool(128);
    const auto address = [](const Assoc* a) { return reinterpret_cast<uintptr_t>(a); };
    const uintptr_t last = address(pool.getFreeElement());
    uintptr_t previous = last;
    for (int i = 1; i < 128; ++i) {
        const uintptr_t next = address(pool.getFreeElement());
        ASSERT_EQ(next + sizeof(Assoc), previous) << "entry " << i;
        previous = next;
    }
    EXPECT_EQ(previous + 127 * sizeof(Assoc), last);
    EXPECT_EQ(pool.GetBlockCount(), 1u);
    // The 129th entry comes from a new block, again from its end.
    const uintptr_t fromSecond = address(pool.getFreeElement());
    EXPECT_EQ(pool.GetBlockCount(), 2u);
    EXPECT_EQ(address(pool.getFreeElement()) + sizeof(Assoc), fromSecond);
}

TEST(QvPlexManager, Failures) {
    using Assoc = QvMapTypes::SAssociation<unsigned int, std::string>;
    LogCapture log;
    try {
        QvPlexManager<Assoc> pool(0);
        FAIL() << "a block size of 0 must throw";
    } catch (const QvExceptionContainer& e) {
        EXPECT_EQ(e.GetCodeLine(), 188u);
        EXPECT_TRUE(EndsWith(e.GetFilename(), "core/basepool/qvplexmanager.cpp")) << e.GetFilename();
        const std::string function = e.GetFunctionName();
        EXPECT_EQ(function.rfind("QvPlexManager<", 0), 0u) << function;
        EXPECT_TRUE(EndsWith(function, ", 0, 0, unsigned int>::QvPlexManager")) << function;
        EXPECT_EQ(function.find(';'), std::string::npos) << function;
        EXPECT_NE(function.find("SAssociation<unsigned int"), std::string::npos) << function;
    }
    ASSERT_EQ(log.Count(), 1u);
    EXPECT_EQ(log.Entries()[0].message, L"Out of memory");

    // A block that cannot be obtained (its size does not fit the address space).
    QvPlexManager<Assoc, 0, 0, unsigned long long> huge(1ull << 62);
    try {
        huge.getFreeElement();
        FAIL() << "an impossible block must throw";
    } catch (const QvExceptionContainer& e) {
        EXPECT_EQ(e.GetCodeLine(), 313u);
        EXPECT_TRUE(EndsWith(e.GetFilename(), "core/basepool/qvplexmanager.cpp"));
        EXPECT_TRUE(EndsWith(e.GetFunctionName(), "::getFreeElement")) << e.GetFunctionName();
    }
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
            first.GetOrAdd(Key('a', i).c_str()) = i;
            second.GetOrAdd(Key('b', i).c_str()) = i;
        }
        // 1200 entries from one pool: its first block of 1024, then one of 1536.
        EXPECT_EQ(pool->GetBlockCount(), 2u);
        EXPECT_EQ(&first.GetPlexManager(), pool.get());
        EXPECT_EQ(second.Lookup("b599")->value, 599u);

        LogCapture log;
        try {
            first.SetPlexManager(std::make_shared<Map::PlexManager>(16));
            FAIL() << "replacing the pool of a non-empty map must throw";
        } catch (const QvExceptionContainer& e) {
            EXPECT_EQ(e.GetCodeLine(), 275u);
            EXPECT_TRUE(EndsWith(e.GetFilename(), "core/basepool/qvmappolicyplexmanager.cpp"));
            const std::string function = e.GetFunctionName();
            EXPECT_EQ(function.rfind("QvMapPolicyPlexManager<", 0), 0u) << function;
            EXPECT_TRUE(EndsWith(function, ", 0, 0, unsigned int>::SetPlexManager")) << function;
            EXPECT_NE(function.find("QvMapEx<QvStringA, unsigned int"), std::string::npos) << function;
            EXPECT_EQ(function.find(';'), std::string::npos) << function;
        }
        EXPECT_EQ(log.Count(), 1u);
        // The map kept its pool and its entries.
        EXPECT_EQ(&first.GetPlexManager(), pool.get());
        first.GetOrAdd("late") = 1;
        EXPECT_EQ(first.GetCount(), 601u);
    }
    // The maps are gone; the pool lives on with its last holder.
    EXPECT_EQ(pool.use_count(), 1);
}

// ---- Array -------------------------------------------------------------------------------------

TEST(QvArray, GrowthRules) {
    QvArray<int> doubling;
    std::vector<unsigned int> capacities;
    for (int i = 0; i < 5; ++i) {
        doubling.Add(i);
        capacities.push_back(doubling.GetCapacity());
    }
    EXPECT_EQ(capacities, (std::vector<unsigned int>{1, 2, 4, 4, 8}));

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

    // A bulk append reaches the capacity that adding one by one would reach.
    QvArray<unsigned char> bulk;
    bulk.SetCapacity(4096);
    std::vector<unsigned char> data(10000, 0x5A);
    bulk.Append(data.data(), 4097);
    EXPECT_EQ(bulk.GetCapacity(), 8192u);
    bulk.Append(data.data(), 5000);
    EXPECT_EQ(bulk.GetCapacity(), 16384u);
    // Appending the array to itself reads the old block before releasing it.
    bulk.Append(bulk.GetData(), bulk.GetCount());
    EXPECT_EQ(bulk.GetCount(), 2u * 9097u);
    EXPECT_EQ(bulk[18193], 0x5A);
}

TEST(QvArray, ElementLifetimes) {
    // Adding an element of the array itself while it reallocates.
    QvArray<std::string> strings;
    strings.Add(std::string(100, 'x'));
    for (int i = 0; i < 6; ++i) strings.Add(strings[0]);
    EXPECT_EQ(strings.GetCount(), 7u);
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
        EXPECT_EQ(counter.use_count(), 5);
        QvArray<std::shared_ptr<int>> moved(std::move(copy));
        EXPECT_EQ(counter.use_count(), 5);
        EXPECT_EQ(copy.GetCount(), 0u);  // NOLINT(bugprone-use-after-move): moved-from is empty
        moved = owners;
        EXPECT_EQ(counter.use_count(), 5);
        owners.RemoveAll();
        EXPECT_EQ(counter.use_count(), 3);
    }
    EXPECT_EQ(counter.use_count(), 1);
}

}  // namespace
