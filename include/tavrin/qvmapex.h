/// \file
/// QvMapEx: the keyed table of the library. A chained hash table whose entries come from a node
/// pool and are also threaded into one list in bucket order, so that iteration is cheap and its
/// order is fixed by the hash values: entries come sorted by bucket index, and within a bucket
/// the most recently inserted first. The binary format emits its tables in this order, so the
/// hash functions, bucket counts and growth rule below are behaviour, not tuning.
///
/// Hashes: std::string keys FNV-1a 64 over every byte; unsigned int keys FNV-1a 64 over the 4
/// bytes, least significant first; QvStringA keys hash = hash * 33 + (signed char) per byte up to
/// the terminating zero. The bucket of a key is the low 32 bits of its hash AND (buckets - 1).
/// The table doubles its buckets when count * 4 >= buckets * 3 after an insertion.
#pragma once

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include <tavrin/qvmappolicyplexmanager.h>
#include <tavrin/qvplexmanager.h>
#include <tavrin/qvstring.h>

namespace QvMapTypes {

/// One entry of a QvMapEx. `pNext` links the entries in iteration order, `pNextInBucket` the
/// entries of one bucket; `hash` is the hash of `key`. Keys must not be changed in place.
template <class K, class V>
struct SAssociation {
    K key;                        ///< the key, fixed once inserted
    V value;                      ///< the value, changed freely
    SAssociation* pNext;          ///< next entry in iteration order, or null
    SAssociation* pNextInBucket;  ///< next entry of the same bucket, or null
    uint64_t hash;                ///< hash of `key`
};

}  // namespace QvMapTypes

// ---- Hash functions --------------------------------------------------------------------------

inline constexpr uint64_t kQvFnvOffsetBasis = 0xcbf29ce484222325ull;  ///< FNV-1a 64 start value
inline constexpr uint64_t kQvFnvPrime = 0x100000001b3ull;             ///< FNV-1a 64 multiplier

/// FNV-1a, 64-bit, over `size` bytes (zero bytes included).
inline uint64_t QvHashFnv1a(const void* data, size_t size) noexcept {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    uint64_t hash = kQvFnvOffsetBasis;
    for (size_t i = 0; i < size; ++i) {
        hash ^= p[i];
        hash *= kQvFnvPrime;
    }
    return hash;
}

/// FNV-1a, 64-bit, over the 4 bytes of `value`, least significant byte first.
inline uint64_t QvHashFnv1aUInt32(uint32_t value) noexcept {
    uint64_t hash = kQvFnvOffsetBasis;
    for (int i = 0; i < 4; ++i) {
        hash ^= (value >> (8 * i)) & 0xFFu;
        hash *= kQvFnvPrime;
    }
    return hash;
}

/// hash = hash * 33 + c for each character up to the terminating zero, the character taken as
/// a signed 8-bit value (bytes 0x80-0xFF subtract); modulo 2^64.
inline uint64_t QvHashTimes33(const char* text) noexcept {
    uint64_t hash = 0;
    for (; *text; ++text) {
        hash = hash * 33u +
               static_cast<uint64_t>(static_cast<int64_t>(static_cast<signed char>(*text)));
    }
    return hash;
}

/// The same over a view, stopping at the end of the view or at its first zero byte.
inline uint64_t QvHashTimes33(std::string_view text) noexcept {
    uint64_t hash = 0;
    for (const char c : text) {
        if (c == '\0') break;
        hash =
            hash * 33u + static_cast<uint64_t>(static_cast<int64_t>(static_cast<signed char>(c)));
    }
    return hash;
}

// ---- Hash and equality functors per key type -------------------------------------------------
// Equal::kCompareHash tells whether a lookup compares the stored hash before the keys.

/// Hash functor of a key type: `operator()` gives the 64-bit hash of a key or probe.
template <class K>
struct QvHash;
/// Equality functor of a key type: `operator()(stored, probe)` tells whether they are equal.
template <class K>
struct QvEqual;

/// std::string keys: FNV-1a 64 over every byte.
template <>
struct QvHash<std::string> {
    /// Hash of the key's bytes, NULs inside included.
    uint64_t operator()(std::string_view key) const noexcept {
        return QvHashFnv1a(key.data(), key.size());
    }
};

/// std::string keys: equal when all bytes are.
template <>
struct QvEqual<std::string> {
    static constexpr bool kCompareHash = true;  ///< compare stored hashes first
    /// True when `stored` and `probe` hold the same bytes.
    bool operator()(const std::string& stored, std::string_view probe) const noexcept {
        return stored.size() == probe.size() &&
               (probe.empty() || std::memcmp(stored.data(), probe.data(), probe.size()) == 0);
    }
};

/// unsigned int keys: FNV-1a 64 over the 4 bytes, least significant first.
template <>
struct QvHash<unsigned int> {
    /// Hash of the key.
    uint64_t operator()(unsigned int key) const noexcept { return QvHashFnv1aUInt32(key); }
};

/// unsigned int keys: equal values.
template <>
struct QvEqual<unsigned int> {
    static constexpr bool kCompareHash = false;  ///< the keys themselves are as cheap as hashes
    /// True when the two values are equal.
    bool operator()(unsigned int stored, unsigned int probe) const noexcept {
        return stored == probe;
    }
};

/// QvStringA keys are compared and hashed as zero-terminated texts.
template <>
struct QvHash<QvStringA> {
    /// QvHashTimes33 of the key's text, of a probe text or of a view of one.
    ///@{
    uint64_t operator()(const QvStringA& key) const noexcept {
        return QvHashTimes33(key.GetString());
    }
    uint64_t operator()(const char* key) const noexcept { return QvHashTimes33(key); }
    uint64_t operator()(const std::string& key) const noexcept {
        return QvHashTimes33(key.c_str());
    }
    uint64_t operator()(std::string_view key) const noexcept { return QvHashTimes33(key); }
    ///@}
};

/// QvStringA keys: equal when the zero-terminated texts are.
template <>
struct QvEqual<QvStringA> {
    static constexpr bool kCompareHash = true;  ///< compare stored hashes first
    /// True when the texts up to their first NUL are equal.
    ///@{
    bool operator()(const QvStringA& stored, const QvStringA& probe) const noexcept {
        return std::strcmp(stored.GetString(), probe.GetString()) == 0;
    }
    bool operator()(const QvStringA& stored, const char* probe) const noexcept {
        return std::strcmp(stored.GetString(), probe) == 0;
    }
    bool operator()(const QvStringA& stored, const std::string& probe) const noexcept {
        return std::strcmp(stored.GetString(), probe.c_str()) == 0;
    }
    ///@}
    /// The view counts up to its end or its first zero byte, whichever comes first.
    bool operator()(const QvStringA& stored, std::string_view probe) const noexcept {
        const size_t zero = probe.find('\0');
        if (zero != std::string_view::npos) probe = probe.substr(0, zero);
        const char* s = stored.GetString();
        return std::strncmp(s, probe.data(), probe.size()) == 0 && s[probe.size()] == '\0';
    }
};

namespace QvDetail {

/// A probe type Q can look up keys of type K without building a K.
template <class Hash, class Equal, class K, class Q>
concept MapProbe = requires(const Hash& hash, const Equal& equal, const K& key, const Q& probe) {
    { hash(probe) } -> std::convertible_to<uint64_t>;
    { equal(key, probe) } -> std::convertible_to<bool>;
};

}  // namespace QvDetail

// ---- The map ---------------------------------------------------------------------------------

/// K: key type; V: value type (default-constructed on insertion); N: 0 in every use.
/// Entries live until the map is destroyed; there is no removal. Not copyable, not movable
/// (its own pool is embedded). Used by one thread at a time, as is a shared pool.
template <class K, class V, int N = 0, class Hash = QvHash<K>, class Equal = QvEqual<K>>
class QvMapEx : public QvMapPolicyPlexManager<QvMapEx<K, V, N, Hash, Equal>,
                                              QvMapTypes::SAssociation<K, V>, 0, 0, unsigned int> {
    using Policy = QvMapPolicyPlexManager<QvMapEx<K, V, N, Hash, Equal>,
                                          QvMapTypes::SAssociation<K, V>, 0, 0, unsigned int>;

public:
    using Association = QvMapTypes::SAssociation<K, V>;  ///< one entry
    using PlexManager = typename Policy::PlexManager;    ///< the pool type of the entries
    using key_type = K;                                  ///< key type
    using mapped_type = V;                               ///< value type

    static constexpr unsigned int kNoBucket = 0xFFFFFFFFu;  ///< "no bucket" (an empty map's head)

    /// Allocates nothing. The bucket count is `bucketHint` rounded down to a power of two (1 for
    /// 0); the own pool starts with blocks of `blockSize` entries (QvExceptionContainer, line
    /// 188, when it is 0).
    explicit QvMapEx(unsigned int bucketHint = 128, unsigned int blockSize = 128)
        : Policy(blockSize),
          m_bucketCount(bucketHint ? std::bit_floor(bucketHint) : 1u),
          m_mask(m_bucketCount - 1) {}

    /// Destroys the entries in iteration order, then frees the buckets; the pool (own, or the
    /// last reference to a shared one) frees its blocks afterwards.
    ~QvMapEx() {
        for (Association* a = GetFirst(); a;) {
            Association* next = a->pNext;
            std::destroy_at(a);
            a = next;
        }
        FreeBuckets(m_ppBuckets);
    }

    QvMapEx(const QvMapEx&) = delete;
    QvMapEx& operator=(const QvMapEx&) = delete;

    /// The entry with this key, or null. Costs nothing while the map is empty.
    Association* Lookup(const K& key) const { return Find(key); }

    /// Lookup by another type without building a key, e.g. a const char* or std::string_view
    /// for std::string and QvStringA keys. A const char* is taken as zero-terminated text.
    template <class Q>
    requires(!std::is_same_v<std::remove_cvref_t<Q>, K> &&
             QvDetail::MapProbe<Hash, Equal, K, Q>) Association* Lookup(const Q& key) const {
        return Find(key);
    }

    /// The value stored under `key`; when there is none, inserts a copy of the key with a
    /// value-initialised value (0, false, empty, null) and returns that.
    ///@{
    V& GetOrAdd(const K& key) { return GetOrAddAssociation(key)->value; }
    V& GetOrAdd(K&& key) { return GetOrAddAssociation(std::move(key))->value; }
    ///@}
    /// As GetOrAdd, with a probe type from which a key can be built.
    template <class Q>
    requires(!std::is_same_v<std::remove_cvref_t<Q>, K> && QvDetail::MapProbe<Hash, Equal, K, Q> &&
             std::constructible_from<K, const Q&>) V& GetOrAdd(const Q& key) {
        return GetOrAddAssociation(key)->value;
    }

    /// As GetOrAdd, returning the entry; `*pAdded` (when given) tells whether it is new.
    template <class Q>
    Association* GetOrAddAssociation(Q&& key, bool* pAdded = nullptr) {
        const uint64_t hash = m_hash(std::as_const(key));
        const unsigned int bucket = static_cast<unsigned int>(hash) & m_mask;
        if (m_count != 0) {
            if (Association* found = FindInBucket(key, hash, bucket)) {
                if (pAdded) *pAdded = false;
                return found;
            }
        }
        Association* added = Insert(std::forward<Q>(key), hash, bucket);
        if (pAdded) *pAdded = true;
        return added;
    }

    /// Number of entries.
    unsigned int GetCount() const noexcept { return m_count; }
    /// True when the map holds no entry.
    bool IsEmpty() const noexcept { return m_count == 0; }
    /// Current number of buckets (a power of two).
    unsigned int GetBucketCount() const noexcept { return m_bucketCount; }

    /// The first entry in iteration order, or null; the rest follow through pNext.
    Association* GetFirst() const noexcept {
        return m_head == kNoBucket ? nullptr : m_ppBuckets[m_head];
    }

    /// Iteration in the map's order (entries are visited as Association&).
    template <class A>
    class BasicIterator {
    public:
        using iterator_category = std::forward_iterator_tag;  ///< a forward iterator
        using value_type = Association;                       ///< the entry type
        using difference_type = std::ptrdiff_t;               ///< distance type
        using pointer = A*;                                   ///< pointer to an entry
        using reference = A&;                                 ///< reference to an entry

        /// The end iterator.
        BasicIterator() noexcept = default;
        /// An iterator at entry `a` (null: the end).
        explicit BasicIterator(A* a) noexcept : m_a(a) {}
        /// The entry; not the end iterator.
        ///@{
        reference operator*() const noexcept { return *m_a; }
        pointer operator->() const noexcept { return m_a; }
        ///@}
        /// Moves to the next entry in iteration order.
        ///@{
        BasicIterator& operator++() noexcept {
            m_a = m_a->pNext;
            return *this;
        }
        BasicIterator operator++(int) noexcept {
            BasicIterator old = *this;
            m_a = m_a->pNext;
            return old;
        }
        ///@}
        /// True when both stand at the same entry (or both at the end).
        friend bool operator==(const BasicIterator&, const BasicIterator&) = default;

    private:
        A* m_a = nullptr;
    };
    using iterator = BasicIterator<Association>;              ///< iterator over the entries
    using const_iterator = BasicIterator<const Association>;  ///< read-only iterator

    /// Iteration over the entries in the map's order (range-for). An insertion keeps every
    /// entry where it is but may change the order: do not insert while iterating.
    ///@{
    iterator begin() noexcept { return iterator(GetFirst()); }
    iterator end() noexcept { return iterator(); }
    const_iterator begin() const noexcept { return const_iterator(GetFirst()); }
    const_iterator end() const noexcept { return const_iterator(); }
    ///@}

private:
    static constexpr unsigned int kWordBits = 64;

    template <class Q>
    Association* Find(const Q& key) const {
        if (m_count == 0) return nullptr;
        const uint64_t hash = m_hash(key);
        return FindInBucket(key, hash, static_cast<unsigned int>(hash) & m_mask);
    }

    template <class Q>
    Association* FindInBucket(const Q& key, uint64_t hash, unsigned int bucket) const {
        for (Association* a = m_ppBuckets[bucket]; a; a = a->pNextInBucket) {
            if constexpr (Equal::kCompareHash) {
                if (a->hash == hash && m_equal(a->key, key)) return a;
            } else {
                if (m_equal(a->key, key)) return a;
            }
        }
        return nullptr;
    }

    template <class Q>
    Association* Insert(Q&& key, uint64_t hash, unsigned int bucket) {
        if (!m_ppBuckets) {
            m_ppBuckets = AllocateBuckets(m_bucketCount, false);
        }
        void* storage = this->AllocateAssociation();
        Association* a = nullptr;
        try {
            a = ::new (storage) Association{K(std::forward<Q>(key)), V(), nullptr, nullptr, hash};
        } catch (...) {
            this->ReturnAssociation(storage);
            throw;
        }
        Link(a, bucket);
        ++m_count;
        if (static_cast<uint32_t>(m_count * 4u) >= static_cast<uint32_t>(m_bucketCount * 3u)) {
            Grow();
        }
        return a;
    }

    /// Puts `a` at the front of its bucket's chain and threads it into the iteration list
    /// right before the bucket's old first entry.
    void Link(Association* a, unsigned int bucket) noexcept {
        bool splice = false;
        if (m_head == kNoBucket) {
            a->pNext = nullptr;
            m_head = bucket;
        } else if (m_head >= bucket) {
            a->pNext = m_ppBuckets[m_head];
            m_head = bucket;
        } else {
            splice = true;
        }
        a->pNextInBucket = m_ppBuckets[bucket];
        m_ppBuckets[bucket] = a;
        if (splice) {
            Association* last = m_ppBuckets[PreviousOccupied(bucket)];
            while (last->pNextInBucket) last = last->pNextInBucket;
            a->pNext = last->pNext;
            last->pNext = a;
        }
        Occupied()[bucket / kWordBits] |= uint64_t(1) << (bucket % kWordBits);
    }

    /// Doubles the buckets and relinks every entry. When the new buckets cannot be allocated,
    /// the table keeps its old buckets (it stays correct, only fuller) and retries next time.
    void Grow() noexcept {
        if (m_bucketCount >= 0x80000000u) return;
        const unsigned int newCount = m_bucketCount * 2;
        Association** buckets = AllocateBuckets(newCount, true);
        if (!buckets) return;
        Association* a = GetFirst();
        FreeBuckets(m_ppBuckets);
        m_ppBuckets = buckets;
        m_bucketCount = newCount;
        m_mask = newCount - 1;
        m_head = kNoBucket;
        uint64_t* occupied = Occupied();
        // Old iteration order, each entry pushed at the front of its new bucket.
        while (a) {
            Association* next = a->pNext;
            const unsigned int c = static_cast<unsigned int>(a->hash) & m_mask;
            if (c < m_head) m_head = c;
            a->pNextInBucket = buckets[c];
            buckets[c] = a;
            occupied[c / kWordBits] |= uint64_t(1) << (c % kWordBits);
            a = next;
        }
        // Thread the chains together in ascending bucket order.
        Association* tail = nullptr;
        const unsigned int words = WordCount(newCount);
        for (unsigned int w = 0; w < words; ++w) {
            for (uint64_t bits = occupied[w]; bits; bits &= bits - 1) {
                const unsigned int c =
                    w * kWordBits + static_cast<unsigned int>(std::countr_zero(bits));
                Association* chain = buckets[c];
                if (tail) tail->pNext = chain;
                for (tail = chain; tail->pNextInBucket; tail = tail->pNextInBucket) {
                    tail->pNext = tail->pNextInBucket;
                }
            }
        }
        if (tail) tail->pNext = nullptr;
    }

    /// The nearest non-empty bucket below `bucket`; one must exist.
    unsigned int PreviousOccupied(unsigned int bucket) const noexcept {
        const uint64_t* occupied = Occupied();
        unsigned int w = bucket / kWordBits;
        uint64_t bits = occupied[w] & ((uint64_t(1) << (bucket % kWordBits)) - 1);
        while (bits == 0) bits = occupied[--w];
        return w * kWordBits + (kWordBits - 1 - static_cast<unsigned int>(std::countl_zero(bits)));
    }

    static unsigned int WordCount(unsigned int buckets) noexcept {
        return (buckets + kWordBits - 1) / kWordBits;
    }

    /// One allocation: the bucket pointers followed by one occupancy bit per bucket.
    static Association** AllocateBuckets(unsigned int buckets, bool noThrow) {
        const size_t bytes = static_cast<size_t>(buckets) * sizeof(Association*) +
                             static_cast<size_t>(WordCount(buckets)) * sizeof(uint64_t);
        void* raw = noThrow ? ::operator new(bytes, std::nothrow) : ::operator new(bytes);
        if (!raw) return nullptr;
        std::memset(raw, 0, bytes);
        return static_cast<Association**>(raw);
    }

    static void FreeBuckets(Association** buckets) noexcept { ::operator delete(buckets); }

    uint64_t* Occupied() const noexcept {
        return reinterpret_cast<uint64_t*>(m_ppBuckets + m_bucketCount);
    }

    Association** m_ppBuckets = nullptr;
    unsigned int m_count = 0;
    unsigned int m_bucketCount;
    unsigned int m_mask;
    unsigned int m_head = kNoBucket;
    [[no_unique_address]] Hash m_hash;
    [[no_unique_address]] Equal m_equal;
};
