// The binary writer: walks the object tree into memory, then writes the document in one pass.
//
// Observable results are fixed: identifiers in order of first use, name-table entries and the
// entries of each section in the iteration order of the keyed tables that the format is defined
// by (see KeyedTableOrder). The storage behind them is built for speed instead: each value
// writer collects its entries in flat per-kind arrays with the values already encoded, value
// writers are recycled from object to object, and container elements go into chunked buffers
// that never move what they hold.
#include <tavrin/cwriterbinary.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include <tavrin/qvdatetime.h>
#include <tavrin/qvstream.h>
#include <tavrin/qvstreambuffer.h>

#include "core/basepool/raise.h"
#include "core/basepool/utf.h"
#include "core/tavrin/binary/binaryformat.h"

namespace Tavrin {

namespace {

using namespace Binary;

using Detail::ERaise;
using Detail::Raise;

constexpr uint64_t kMaxCount = 0xFFFFFFFFull;

// Copies `n` bytes; the short runs of names and texts without a call.
inline void CopyBytes(unsigned char* to, const void* from, size_t n) noexcept {
    const unsigned char* p = static_cast<const unsigned char*>(from);
    if (n >= 8 && n <= 16) {
        uint64_t a, b;
        std::memcpy(&a, p, 8);
        std::memcpy(&b, p + n - 8, 8);
        std::memcpy(to, &a, 8);
        std::memcpy(to + n - 8, &b, 8);
    } else if (n >= 4 && n < 8) {
        uint32_t a, b;
        std::memcpy(&a, p, 4);
        std::memcpy(&b, p + n - 4, 4);
        std::memcpy(to, &a, 4);
        std::memcpy(to + n - 4, &b, 4);
    } else if (n < 4) {
        for (size_t i = 0; i < n; ++i) to[i] = p[i];
    } else {
        std::memcpy(to, p, n);
    }
}

// ---- Byte stores ------------------------------------------------------------------------------

// A plain growable byte array without zero-filling; keeps its memory over Clear.
class CByteVec {
public:
    CByteVec() = default;
    CByteVec(const CByteVec&) = delete;
    CByteVec& operator=(const CByteVec&) = delete;

    // Appends `n` uninitialised bytes and returns them.
    unsigned char* Extend(size_t n) {
        if (m_capacity - m_size < n) Reserve(m_size + n);
        unsigned char* p = m_data.get() + m_size;
        m_size += n;
        return p;
    }
    const unsigned char* Data() const noexcept { return m_data.get(); }
    size_t Size() const noexcept { return m_size; }
    void Clear() noexcept { m_size = 0; }

private:
    void Reserve(size_t needed) {
        size_t capacity = m_capacity ? m_capacity * 2 : 256;
        if (capacity < needed) capacity = needed;
        std::unique_ptr<unsigned char[]> block(new unsigned char[capacity]);
        if (m_size) std::memcpy(block.get(), m_data.get(), m_size);
        m_data = std::move(block);
        m_capacity = capacity;
    }

    std::unique_ptr<unsigned char[]> m_data;
    size_t m_size = 0;
    size_t m_capacity = 0;
};

// The encoded elements of a container: a sequence of chunks whose bytes never move, so that
// growing costs no copy and holds at most one partly filled chunk beyond the content.
class CChunkBuffer {
public:
    CChunkBuffer() = default;
    CChunkBuffer(const CChunkBuffer&) = delete;
    CChunkBuffer& operator=(const CChunkBuffer&) = delete;
    ~CChunkBuffer() { FreeChunks(0); }

    // `n` contiguous writable bytes at the end; commit them with Commit.
    unsigned char* Room(size_t n) {
        if (static_cast<size_t>(m_end - m_cur) < n) AddChunk(n);
        return m_cur;
    }
    void Commit(size_t n) noexcept { m_cur += n; }

    void Append(const void* data, size_t n) {
        const unsigned char* p = static_cast<const unsigned char*>(data);
        const size_t room = static_cast<size_t>(m_end - m_cur);
        if (n > room) {
            if (room) std::memcpy(m_cur, p, room);
            m_cur += room;
            p += room;
            n -= room;
            AddChunk(n);
        }
        CopyBytes(m_cur, p, n);
        m_cur += n;
    }

    size_t Size() const noexcept {
        return m_closed + (m_chunks.empty() ? 0 : static_cast<size_t>(m_cur - m_chunks.back().data));
    }

    // A position to go back to with Rollback.
    struct SMark {
        size_t chunks;
        unsigned char* cur;
    };
    SMark Mark() const noexcept { return {m_chunks.size(), m_cur}; }

    // Forgets everything appended after `mark`.
    void Rollback(const SMark& mark) noexcept {
        if (mark.chunks == 0) {
            FreeChunks(0);
            m_closed = 0;
            m_cur = m_end = nullptr;
            return;
        }
        FreeChunks(mark.chunks);
        m_closed = 0;
        for (size_t i = 0; i + 1 < m_chunks.size(); ++i) m_closed += m_chunks[i].used;
        SChunk& last = m_chunks.back();
        m_cur = mark.cur;
        m_end = last.data + last.capacity;
    }

    // Calls fn(data, size) for each run of bytes, in order.
    template <class F>
    void ForEachRun(F&& fn) const {
        for (size_t i = 0; i < m_chunks.size(); ++i) {
            const SChunk& c = m_chunks[i];
            const size_t used = i + 1 == m_chunks.size() ? static_cast<size_t>(m_cur - c.data) : c.used;
            if (used) fn(c.data, used);
        }
    }

    // Empties the buffer for reuse; keeps one chunk of about the size that was needed.
    void Clear() noexcept {
        if (m_chunks.size() > 1) {
            const size_t size = Size();
            FreeChunks(0);
            m_nextCapacity = std::min<size_t>(std::bit_ceil(size), kReuseLimit);
            m_closed = 0;
            m_cur = m_end = nullptr;
            return;
        }
        if (!m_chunks.empty()) m_cur = m_chunks.back().data;
        m_closed = 0;
    }

private:
    static constexpr size_t kFirstChunk = 256;
    static constexpr size_t kLargestChunk = size_t(1) << 20;
    static constexpr size_t kReuseLimit = size_t(64) << 10;

    struct SChunk {
        unsigned char* data;
        size_t used;
        size_t capacity;
    };

    void AddChunk(size_t needed) {
        size_t capacity = m_nextCapacity;
        if (!m_chunks.empty()) {
            SChunk& last = m_chunks.back();
            last.used = static_cast<size_t>(m_cur - last.data);
            // Each new chunk as large as the content so far (within limits): few chunks, and
            // at most one half-empty chunk.
            capacity = std::min(std::max(Size(), kFirstChunk), kLargestChunk);
        }
        if (capacity < needed) capacity = needed;
        m_chunks.reserve(m_chunks.size() + 1);
        unsigned char* data = new unsigned char[capacity];
        if (!m_chunks.empty()) m_closed += m_chunks.back().used;
        m_chunks.push_back({data, 0, capacity});
        m_cur = data;
        m_end = data + capacity;
        m_nextCapacity = kFirstChunk;
    }

    void FreeChunks(size_t keep) noexcept {
        while (m_chunks.size() > keep) {
            delete[] m_chunks.back().data;
            m_chunks.pop_back();
        }
    }

    std::vector<SChunk> m_chunks;
    unsigned char* m_cur = nullptr;
    unsigned char* m_end = nullptr;
    size_t m_closed = 0;  // bytes in the chunks before the last one
    size_t m_nextCapacity = kFirstChunk;
};

// The document's way into the caller's stream: small pieces are gathered and handed over with
// WriteBytes in runs; large pieces go straight through.
class COutSink {
public:
    explicit COutSink(QvStreamWriteBinary& stream) : m_stream(stream) {}
    COutSink(const COutSink&) = delete;
    COutSink& operator=(const COutSink&) = delete;

    unsigned char* Room(size_t n) {
        if (static_cast<size_t>(m_end - m_cur) < n) MakeRoom(n);
        return m_cur;
    }
    void Commit(size_t n) noexcept { m_cur += n; }

    void Append(const void* data, size_t n) {
        if (static_cast<size_t>(m_end - m_cur) >= n) {
            CopyBytes(m_cur, data, n);
            m_cur += n;
            return;
        }
        if (n >= kDirectSize) {
            Flush();
            m_stream.WriteBytes(data, n);
            return;
        }
        MakeRoom(n);
        std::memcpy(m_cur, data, n);
        m_cur += n;
    }

    void Flush() {
        const unsigned char* begin = m_buffer.get();
        if (m_cur != begin) {
            const size_t n = static_cast<size_t>(m_cur - begin);
            m_cur = m_buffer.get();
            m_stream.WriteBytes(begin, n);
        }
    }

private:
    static constexpr size_t kLargestBuffer = size_t(64) << 10;
    static constexpr size_t kDirectSize = size_t(16) << 10;

    // Called with n <= kLargestBuffer only.
    void MakeRoom(size_t n) {
        size_t used = static_cast<size_t>(m_cur - m_buffer.get());
        if (used + n > kLargestBuffer) {
            Flush();
            used = 0;
        }
        if (m_capacity - used >= n) return;
        // Grow while the document is small, so that a small document costs a small buffer.
        size_t capacity = std::max<size_t>(m_capacity * 2, 512);
        while (capacity < used + n) capacity *= 2;
        capacity = std::min(capacity, kLargestBuffer);
        std::unique_ptr<unsigned char[]> block(new unsigned char[capacity]);
        if (used) std::memcpy(block.get(), m_buffer.get(), used);
        m_buffer = std::move(block);
        m_capacity = capacity;
        m_cur = m_buffer.get() + used;
        m_end = m_buffer.get() + capacity;
    }

    QvStreamWriteBinary& m_stream;
    std::unique_ptr<unsigned char[]> m_buffer;
    size_t m_capacity = 0;
    unsigned char* m_cur = nullptr;
    unsigned char* m_end = nullptr;
};

// Counts the bytes of a record without keeping them.
class CCountSink {
public:
    unsigned char* Room(size_t n) {
        if (n > sizeof m_scratch) {
            m_large.resize(n);
            return m_large.data();
        }
        return m_scratch;
    }
    void Commit(size_t n) noexcept { m_size += n; }
    void Append(const void*, size_t n) noexcept { m_size += n; }
    uint64_t Size() const noexcept { return m_size; }

private:
    unsigned char m_scratch[64];
    std::vector<unsigned char> m_large;
    uint64_t m_size = 0;
};

template <class Sink, class T>
inline void Put(Sink& sink, T value) {
    unsigned char* p = sink.Room(sizeof(T));
    std::memcpy(p, &value, sizeof(T));
    sink.Commit(sizeof(T));
}

// ---- Text encodings ---------------------------------------------------------------------------

// Narrow text ends at its first zero byte.
inline size_t NarrowLength(const std::string& text) noexcept {
    const void* zero = std::memchr(text.data(), 0, text.size());
    return zero ? static_cast<size_t>(static_cast<const char*>(zero) - text.data()) : text.size();
}

// Wide text ends at its first zero character; it is carried as UTF-16 units. A character
// beyond U+FFFF takes two units; one beyond U+10FFFF is carried as U+FFFD.
inline size_t WideLength(const std::wstring& text) noexcept { return std::wcslen(text.c_str()); }

inline uint64_t Utf16Units(const wchar_t* text, size_t length) noexcept {
    uint64_t units = 0;
    for (size_t i = 0; i < length; ++i) units += Detail::Utf16Length(text[i]);
    return units;
}

// Size of the wide length prefix for `units` code units.
inline size_t WidePrefixSize(uint64_t units) noexcept {
    if (units < 0xFF) return 4;
    if (units < 0xFFFE) return 6;
    if (units < 0xFFFFFFFFull) return 10;
    return 18;
}

inline unsigned char* PutWidePrefix(unsigned char* p, uint64_t units) noexcept {
    *p++ = 0xFF;
    *p++ = 0xFE;
    *p++ = 0xFF;
    if (units < 0xFF) {
        *p++ = static_cast<unsigned char>(units);
        return p;
    }
    *p++ = 0xFF;
    if (units < 0xFFFE) {
        const uint16_t n = static_cast<uint16_t>(units);
        std::memcpy(p, &n, 2);
        return p + 2;
    }
    *p++ = 0xFF;
    *p++ = 0xFF;
    if (units < 0xFFFFFFFFull) {
        const uint32_t n = static_cast<uint32_t>(units);
        std::memcpy(p, &n, 4);
        return p + 4;
    }
    const uint32_t mark = 0xFFFFFFFFu;
    std::memcpy(p, &mark, 4);
    std::memcpy(p + 4, &units, 8);
    return p + 12;
}

inline unsigned char* PutUtf16(unsigned char* p, const wchar_t* text, size_t length) noexcept {
    for (size_t i = 0; i < length; ++i) {
        uint16_t units[2];
        const unsigned n = Detail::EncodeUtf16(text[i], units);
        std::memcpy(p, units, 2 * n);
        p += 2 * n;
    }
    return p;
}

// ---- The document ----------------------------------------------------------------------------

class CDataWriterBinary;
class CContainerWriterBinary;

// Name table of one document: text to identifier, identifiers from 0 in order of first use.
class CNameTable {
public:
    CNameTable() : m_slots(kInitialSlots, 0), m_recent(kRecentSlots, SRecent{nullptr, 0}) {}

    uint32_t Id(const char* text) {
        if (!text) text = "";
        // Names are mostly literals, handed over at the same address each time: a table by
        // address answers them after one comparison of the text (the address alone proves
        // nothing, a buffer may hold another text by now).
        const size_t slot = RecentSlot(text);
        const SRecent& recent = m_recent[slot];
        if (recent.text == text && std::strcmp(m_text.data() + m_names[recent.id].offset, text) == 0) {
            return recent.id;
        }
        return IdSlow(text, slot);
    }

    uint32_t Count() const noexcept { return static_cast<uint32_t>(m_names.size()); }

    // Bytes of the document head: version, root kind, name count and the entries.
    uint64_t HeadSize() const noexcept {
        uint64_t size = 4 + 1 + 4;
        for (const SName& name : m_names) size += 4 + name.length + 4;
        return size;
    }

    // Each entry as narrow text and identifier, in the iteration order of the keyed table
    // that the format's name table is.
    void WriteEntries(QvStreamWriteBinary& stream) const {
        const uint32_t n = Count();
        std::vector<uint32_t> hashes(n);
        for (uint32_t i = 0; i < n; ++i) hashes[i] = static_cast<uint32_t>(m_names[i].hash);
        std::vector<uint32_t> order(n);
        KeyedTableOrder(hashes.data(), n, order.data());
        for (uint32_t id : order) {
            stream.WriteStringA(QvStringA(m_text.data() + m_names[id].offset));
            stream.WriteUInt32(id);
        }
    }

private:
    static constexpr size_t kInitialSlots = 64;
    static constexpr size_t kRecentSlots = 128;
    static constexpr size_t kRecentLimit = 8192;

    struct SRecent {
        const char* text;
        uint32_t id;
    };

    void Remember(size_t slot, const char* text, uint32_t id) {
        m_recent[slot] = {text, id};
        if (++m_recentCount * 2 <= m_recent.size()) return;
        // Full: grow while the addresses are few; names made afresh each time would only
        // fill it, so past a limit it starts over.
        std::vector<SRecent> old;
        old.swap(m_recent);
        m_recentCount = 0;
        if (old.size() >= kRecentLimit) {
            m_recent.assign(kRecentSlots, SRecent{nullptr, 0});
            return;
        }
        m_recent.assign(old.size() * 2, SRecent{nullptr, 0});
        const size_t mask = m_recent.size() - 1;
        for (const SRecent& r : old) {
            if (!r.text) continue;
            size_t at = RecentSlot(r.text);
            while (m_recent[at].text) at = (at + 1) & mask;
            m_recent[at] = r;
            ++m_recentCount;
        }
    }

    struct SName {
        uint64_t hash;
        size_t offset;
        size_t length;
    };

    static size_t Spread(uint64_t hash) noexcept {
        return static_cast<size_t>((hash * 0x9E3779B97F4A7C15ull) >> 32);
    }

    size_t RecentSlot(const char* text) const noexcept {
        return static_cast<size_t>((reinterpret_cast<uintptr_t>(text) * 0x9E3779B97F4A7C15ull) >> 40) &
               (m_recent.size() - 1);
    }

    [[gnu::noinline]] uint32_t IdSlow(const char* text, size_t slot) {
        const size_t mask = m_recent.size() - 1;
        for (;; slot = (slot + 1) & mask) {
            SRecent& recent = m_recent[slot];
            if (recent.text == text) {
                recent.id = Lookup(text);  // the same address now holds another text
                return recent.id;
            }
            if (!recent.text) {
                const uint32_t id = Lookup(text);
                Remember(slot, text, id);
                return id;
            }
        }
    }

    uint32_t Lookup(const char* text) {
        uint64_t hash = 0;
        const char* p = text;
        for (; *p; ++p) {
            hash = hash * 33u + static_cast<uint64_t>(static_cast<int64_t>(static_cast<signed char>(*p)));
        }
        const size_t length = static_cast<size_t>(p - text);
        size_t slot = Spread(hash) & (m_slots.size() - 1);
        for (;;) {
            const uint32_t s = m_slots[slot];
            if (s == 0) break;
            const SName& name = m_names[s - 1];
            if (name.hash == hash && name.length == length &&
                std::memcmp(m_text.data() + name.offset, text, length) == 0) {
                return s - 1;
            }
            slot = (slot + 1) & (m_slots.size() - 1);
        }
        return Add(text, length, hash, slot);
    }

    uint32_t Add(const char* text, size_t length, uint64_t hash, size_t slot) {
        const uint32_t id = Count();
        m_names.push_back({hash, m_text.size(), length});
        m_text.append(text, length);
        m_text.push_back('\0');  // kept zero-terminated for the comparison of the cache
        m_slots[slot] = id + 1;
        if (m_names.size() * 2 > m_slots.size()) Rehash();
        return id;
    }

    void Rehash() {
        std::vector<uint32_t> slots(m_slots.size() * 2, 0);
        const size_t mask = slots.size() - 1;
        for (uint32_t i = 0; i < m_names.size(); ++i) {
            size_t slot = Spread(m_names[i].hash) & mask;
            while (slots[slot]) slot = (slot + 1) & mask;
            slots[slot] = i + 1;
        }
        m_slots.swap(slots);
    }

    std::vector<SName> m_names;
    std::string m_text;
    std::vector<uint32_t> m_slots;
    std::vector<SRecent> m_recent;  // address of a name text -> identifier
    size_t m_recentCount = 0;
};

// What one Write builds: the name table and the recycled value writers.
class CDocument {
public:
    CDocument() = default;
    CDocument(const CDocument&) = delete;
    CDocument& operator=(const CDocument&) = delete;
    ~CDocument();

    CNameTable& Names() noexcept { return m_names; }

    CDataWriterBinary* AcquireData();
    void Release(CDataWriterBinary* writer) noexcept;
    CContainerWriterBinary* AcquireContainer();
    void Release(CContainerWriterBinary* writer) noexcept;

private:
    CNameTable m_names;
    std::vector<std::unique_ptr<CDataWriterBinary>> m_dataWriters;
    std::vector<CDataWriterBinary*> m_freeData;
    std::vector<std::unique_ptr<CContainerWriterBinary>> m_containerWriters;
    std::vector<CContainerWriterBinary*> m_freeContainers;
};

// Takes a value writer from the document and gives it back on every exit.
template <class W>
class CLease {
public:
    CLease(CDocument& document, W* writer) noexcept : m_document(document), m_writer(writer) {}
    ~CLease() { m_document.Release(m_writer); }
    CLease(const CLease&) = delete;
    CLease& operator=(const CLease&) = delete;
    W& operator*() const noexcept { return *m_writer; }
    W* operator->() const noexcept { return m_writer; }

private:
    CDocument& m_document;
    W* m_writer;
};

// One stored value of an object: scalars as their bits, texts and blobs as an encoded run of
// the writer's byte store, nested objects and containers as a child writer.
struct SValue {
    uint64_t bits;    // scalar value, byte offset, date-time count, or child writer
    uint64_t size;    // length of the encoded run
    uint32_t id;      // name identifier
    uint32_t classId; // class-name identifier of a nested object
};

// The values of one object, grouped by kind; each kind keeps its first-use order, from which
// the keyed table's order is derived when the record is written.
class CDataWriterBinary final : public IDataWriter {
public:
    explicit CDataWriterBinary(CDocument& document) noexcept : m_document(document) {}

    void Write(const char* name, size_t size, const void* data) override;
    void Write(const char* name, const ISerializableContainer& value) override;
    void Write(const char* name, const ISerializable& value) override;
    void Write(const char* name, const IDateTime& value) override;
    void Write(const char* name, const std::wstring& value) override;
    void Write(const char* name, const std::string& value) override;
    void Write(const char* name, char value) override { PutScalar(kTagChar, name, value); }
    void Write(const char* name, double value) override { PutScalar(kTagDouble, name, value); }
    void Write(const char* name, float value) override { PutScalar(kTagFloat, name, value); }
    void Write(const char* name, long long value) override { PutScalar(kTagInt64, name, value); }
    void Write(const char* name, unsigned long long value) override {
        PutScalar(kTagUInt64, name, value);
    }
    void Write(const char* name, int value) override { PutScalar(kTagInt32, name, value); }
    void Write(const char* name, unsigned int value) override { PutScalar(kTagUInt32, name, value); }
    void Write(const char* name, short value) override { PutScalar(kTagInt16, name, value); }
    void Write(const char* name, unsigned short value) override {
        PutScalar(kTagUInt16, name, value);
    }
    void Write(const char* name, signed char value) override { PutScalar(kTagInt8, name, value); }
    void Write(const char* name, unsigned char value) override { PutScalar(kTagUInt8, name, value); }
    void Write(const char* name, bool value) override {
        PutScalar(kTagBool, name, static_cast<unsigned char>(value ? 1 : 0));
    }

    // The data record: section count, then each non-empty section in the fixed tag order.
    template <class Sink>
    void WriteRecord(Sink& sink) const;

    // Empties the writer for reuse; nested writers go back to the document.
    void Reset() noexcept;

private:
    static constexpr size_t kIndexThreshold = 16;

    template <class T>
    void PutScalar(uint8_t tag, const char* name, T value) {
        SValue& slot = Slot(tag, m_document.Names().Id(name));
        slot.bits = 0;
        std::memcpy(&slot.bits, &value, sizeof(T));
    }

    // The value of this kind under this identifier, added at the end when new.
    SValue& Slot(uint8_t tag, uint32_t id) {
        std::vector<SValue>& values = m_values[tag];
        if (values.size() < kIndexThreshold) {
            for (SValue& v : values) {
                if (v.id == id) return v;
            }
            if (values.size() < values.capacity()) {
                if (values.empty()) {
                    m_kinds |= 1u << tag;
                    m_ranks |= 1u << kSectionRank[tag];
                    ++m_sections;
                }
                values.push_back({0, 0, id, 0});
                return values.back();
            }
        }
        return AddSlot(tag, id);
    }
    SValue& AddSlot(uint8_t tag, uint32_t id);
    SValue* Find(uint8_t tag, uint32_t id) noexcept;
    void Index(uint8_t tag, uint32_t position);
    void ReleaseChild(uint8_t tag, const SValue& value) noexcept;

    template <class Sink>
    void WriteSection(Sink& sink, uint8_t tag) const;
    template <class Sink>
    void WriteEntries(Sink& sink, uint8_t tag) const;
    template <class Sink>
    void WriteEntry(Sink& sink, uint8_t tag, const SValue& value) const;

    CDocument& m_document;
    std::vector<SValue> m_values[kTagCount];
    // Open-addressed index of identifier to position, per kind, once a kind holds many values.
    std::vector<uint32_t> m_index[kTagCount];
    uint32_t m_kinds = 0;     // bit per tag that holds values
    uint32_t m_ranks = 0;     // the same by position in the section order
    uint8_t m_sections = 0;   // number of those tags
    CByteVec m_bytes;
};

// The elements of one container, encoded as they arrive.
class CContainerWriterBinary final : public IContainerWriter {
public:
    explicit CContainerWriterBinary(CDocument& document) noexcept : m_document(document) {}

    void Write(size_t size, const void* data) override;
    void Write(const ISerializableContainer& value) override;
    void Write(const ISerializable& value) override;
    void Write(const IDateTime& value) override;
    void Write(const std::wstring& value) override;
    void Write(const std::string& value) override;
    void Write(char value) override { PutScalar(kTagChar, value); }
    void Write(double value) override { PutScalar(kTagDouble, value); }
    void Write(float value) override { PutScalar(kTagFloat, value); }
    void Write(long long value) override { PutScalar(kTagInt64, value); }
    void Write(unsigned long long value) override { PutScalar(kTagUInt64, value); }
    void Write(int value) override { PutScalar(kTagInt32, value); }
    void Write(unsigned int value) override { PutScalar(kTagUInt32, value); }
    void Write(short value) override { PutScalar(kTagInt16, value); }
    void Write(unsigned short value) override { PutScalar(kTagUInt16, value); }
    void Write(signed char value) override { PutScalar(kTagInt8, value); }
    void Write(unsigned char value) override { PutScalar(kTagUInt8, value); }
    void Write(bool value) override { PutScalar(kTagBool, static_cast<unsigned char>(value ? 1 : 0)); }

    // The container record: element tag, count, the class list of object elements, elements.
    template <class Sink>
    void WriteRecord(Sink& sink) const;

    void Reset() noexcept;

private:
    // Fixes the element kind, or refuses a second one.
    void Accept(uint8_t tag, ERaise otherKind, ERaise tooMany) {
        if (m_fixed && m_tag != tag) Raise(otherKind);
        if (m_count == kMaxCount) Raise(tooMany);
        m_fixed = true;
        m_tag = tag;
    }

    template <class T>
    void PutScalar(uint8_t tag, T value) {
        Accept(tag, ERaise::BinaryElementKind, ERaise::BinaryTooManyTextElements);
        Put(m_elements, value);
        ++m_count;
    }

    CDocument& m_document;
    std::vector<uint32_t> m_classIds;
    bool m_fixed = false;
    uint8_t m_tag = 0;
    uint32_t m_count = 0;
    CChunkBuffer m_elements;
};

CDocument::~CDocument() = default;

CDataWriterBinary* CDocument::AcquireData() {
    if (!m_freeData.empty()) {
        CDataWriterBinary* w = m_freeData.back();
        m_freeData.pop_back();
        return w;
    }
    m_freeData.reserve(m_dataWriters.size() + 1);
    m_dataWriters.push_back(std::make_unique<CDataWriterBinary>(*this));
    return m_dataWriters.back().get();
}

void CDocument::Release(CDataWriterBinary* writer) noexcept {
    writer->Reset();
    m_freeData.push_back(writer);  // capacity reserved in AcquireData
}

CContainerWriterBinary* CDocument::AcquireContainer() {
    if (!m_freeContainers.empty()) {
        CContainerWriterBinary* w = m_freeContainers.back();
        m_freeContainers.pop_back();
        return w;
    }
    m_freeContainers.reserve(m_containerWriters.size() + 1);
    m_containerWriters.push_back(std::make_unique<CContainerWriterBinary>(*this));
    return m_containerWriters.back().get();
}

void CDocument::Release(CContainerWriterBinary* writer) noexcept {
    writer->Reset();
    m_freeContainers.push_back(writer);
}

inline size_t Spread(uint32_t id) noexcept {
    return static_cast<size_t>((static_cast<uint64_t>(id) * 0x9E3779B97F4A7C15ull) >> 32);
}

// ---- CDataWriterBinary -----------------------------------------------------------------------

SValue* CDataWriterBinary::Find(uint8_t tag, uint32_t id) noexcept {
    std::vector<SValue>& values = m_values[tag];
    const std::vector<uint32_t>& index = m_index[tag];
    if (index.empty()) {
        for (SValue& v : values) {
            if (v.id == id) return &v;
        }
        return nullptr;
    }
    const size_t mask = index.size() - 1;
    for (size_t slot = Spread(id) & mask; index[slot]; slot = (slot + 1) & mask) {
        SValue& v = values[index[slot] - 1];
        if (v.id == id) return &v;
    }
    return nullptr;
}

void CDataWriterBinary::Index(uint8_t tag, uint32_t position) {
    std::vector<uint32_t>& index = m_index[tag];
    const std::vector<SValue>& values = m_values[tag];
    if (index.empty() && values.size() <= kIndexThreshold) return;
    if (values.size() * 2 > index.size()) {
        index.assign(std::bit_ceil(values.size() * 4), 0);
        const size_t mask = index.size() - 1;
        for (uint32_t i = 0; i < values.size(); ++i) {
            size_t slot = Spread(values[i].id) & mask;
            while (index[slot]) slot = (slot + 1) & mask;
            index[slot] = i + 1;
        }
        return;
    }
    const size_t mask = index.size() - 1;
    size_t slot = Spread(values[position].id) & mask;
    while (index[slot]) slot = (slot + 1) & mask;
    index[slot] = position + 1;
}

SValue& CDataWriterBinary::AddSlot(uint8_t tag, uint32_t id) {
    if (SValue* found = Find(tag, id)) return *found;
    std::vector<SValue>& values = m_values[tag];
    if (values.size() == kMaxCount) Raise(ERaise::BinaryValueTooLarge);
    values.push_back({0, 0, id, 0});
    if (values.size() == 1) {
        m_kinds |= 1u << tag;
        m_ranks |= 1u << kSectionRank[tag];
        ++m_sections;
    }
    try {
        Index(tag, static_cast<uint32_t>(values.size() - 1));
    } catch (...) {
        values.pop_back();
        if (values.empty()) {
            m_kinds &= ~(1u << tag);
            m_ranks &= ~(1u << kSectionRank[tag]);
            --m_sections;
        }
        throw;
    }
    return values.back();
}

void CDataWriterBinary::ReleaseChild(uint8_t tag, const SValue& value) noexcept {
    if (!value.bits) return;
    if (tag == kTagObject) {
        m_document.Release(reinterpret_cast<CDataWriterBinary*>(value.bits));
    } else {
        m_document.Release(reinterpret_cast<CContainerWriterBinary*>(value.bits));
    }
}

void CDataWriterBinary::Write(const char* name, size_t size, const void* data) {
    const uint32_t id = m_document.Names().Id(name);
    if (size >= kMaxCount + 1) Raise(ERaise::BinaryValueTooLarge);
    if (size && !data) Raise(ERaise::BinaryBlobWithoutBytes);
    const size_t offset = m_bytes.Size();
    unsigned char* p = m_bytes.Extend(4 + size);
    const uint32_t count = static_cast<uint32_t>(size);
    std::memcpy(p, &count, 4);
    if (size) std::memcpy(p + 4, data, size);
    SValue& slot = Slot(kTagBlob, id);
    slot.bits = offset;
    slot.size = 4 + size;
}

void CDataWriterBinary::Write(const char* name, const ISerializableContainer& value) {
    const uint32_t id = m_document.Names().Id(name);
    m_document.Names().Id(value.GetClassName());  // entered, though the record does not carry it
    CContainerWriterBinary* child = m_document.AcquireContainer();
    SValue* slot = nullptr;
    try {
        slot = &Slot(kTagContainer, id);
    } catch (...) {
        m_document.Release(child);
        throw;
    }
    ReleaseChild(kTagContainer, *slot);
    slot->bits = reinterpret_cast<uintptr_t>(child);
    value.Write(*child);
}

void CDataWriterBinary::Write(const char* name, const ISerializable& value) {
    const uint32_t id = m_document.Names().Id(name);
    const uint32_t classId = m_document.Names().Id(value.GetClassName());
    CDataWriterBinary* child = m_document.AcquireData();
    SValue* slot = nullptr;
    try {
        slot = &Slot(kTagObject, id);
    } catch (...) {
        m_document.Release(child);
        throw;
    }
    ReleaseChild(kTagObject, *slot);
    slot->bits = reinterpret_cast<uintptr_t>(child);
    slot->classId = classId;
    value.Write(*child);
}

void CDataWriterBinary::Write(const char* name, const IDateTime& value) {
    const uint32_t id = m_document.Names().Id(name);
    const uint64_t count = QvDateTime(value).ToFileTime();
    Slot(kTagDateTime, id).bits = count;
}

void CDataWriterBinary::Write(const char* name, const std::wstring& value) {
    const uint32_t id = m_document.Names().Id(name);
    const size_t length = WideLength(value);
    const uint64_t units = Utf16Units(value.data(), length);
    const size_t size = WidePrefixSize(units) + 2 * units;
    const size_t offset = m_bytes.Size();
    unsigned char* p = m_bytes.Extend(size);
    PutUtf16(PutWidePrefix(p, units), value.data(), length);
    SValue& slot = Slot(kTagWString, id);
    slot.bits = offset;
    slot.size = size;
}

void CDataWriterBinary::Write(const char* name, const std::string& value) {
    const uint32_t id = m_document.Names().Id(name);
    const size_t length = NarrowLength(value);
    if (length > kMaxCount) Raise(ERaise::BinaryValueTooLarge);
    const size_t offset = m_bytes.Size();
    unsigned char* p = m_bytes.Extend(4 + length);
    const uint32_t count = static_cast<uint32_t>(length);
    std::memcpy(p, &count, 4);
    CopyBytes(p + 4, value.data(), length);
    SValue& slot = Slot(kTagString, id);
    slot.bits = offset;
    slot.size = 4 + length;
}

template <class Sink>
inline void CDataWriterBinary::WriteSection(Sink& sink, uint8_t tag) const {
    const std::vector<SValue>& values = m_values[tag];
    const uint32_t n = static_cast<uint32_t>(values.size());
    unsigned char* p = sink.Room(5);
    p[0] = tag;
    std::memcpy(p + 1, &n, 4);
    sink.Commit(5);
    if (n == 1) {
        WriteEntry(sink, tag, values[0]);
    } else {
        WriteEntries(sink, tag);
    }
}

// The entries of a section of several values, in the keyed table's order.
template <class Sink>
void CDataWriterBinary::WriteEntries(Sink& sink, uint8_t tag) const {
    const std::vector<SValue>& values = m_values[tag];
    const uint32_t n = static_cast<uint32_t>(values.size());
    if constexpr (std::is_same_v<Sink, CCountSink>) {  // the size does not depend on the order
        for (const SValue& v : values) WriteEntry(sink, tag, v);
        return;
    }
    constexpr uint32_t kLocal = 32;  // small sections, the usual case, need no allocation
    uint32_t localHashes[kLocal] = {};
    uint32_t localOrder[kLocal] = {};
    std::vector<uint32_t> heapHashes;
    std::vector<uint32_t> heapOrder;
    uint32_t* hashes = localHashes;
    uint32_t* order = localOrder;
    if (n > kLocal) {
        heapHashes.resize(n);
        heapOrder.resize(n);
        hashes = heapHashes.data();
        order = heapOrder.data();
    }
    for (uint32_t i = 0; i < n; ++i) hashes[i] = BucketHashOfId(values[i].id);
    KeyedTableOrder(hashes, n, order);
    for (uint32_t k = 0; k < n; ++k) WriteEntry(sink, tag, values[order[k]]);
}

template <class Sink>
inline void CDataWriterBinary::WriteEntry(Sink& sink, uint8_t tag, const SValue& v) const {
    if (tag < kTagString) {
        unsigned char* q = sink.Room(12);
        std::memcpy(q, &v.id, 4);
        std::memcpy(q + 4, &v.bits, 8);  // little-endian: the low bytes are the value
        sink.Commit(4 + kScalarWidth[tag]);
        return;
    }
    switch (tag) {
        case kTagString:
        case kTagWString:
        case kTagBlob:
            Put(sink, v.id);
            sink.Append(m_bytes.Data() + v.bits, v.size);
            break;
        case kTagDateTime: {
            unsigned char* q = sink.Room(16);
            const uint32_t version = 0;
            std::memcpy(q, &v.id, 4);
            std::memcpy(q + 4, &version, 4);
            std::memcpy(q + 8, &v.bits, 8);
            sink.Commit(16);
            break;
        }
        case kTagObject: {
            unsigned char* q = sink.Room(8);
            std::memcpy(q, &v.id, 4);
            std::memcpy(q + 4, &v.classId, 4);
            sink.Commit(8);
            reinterpret_cast<const CDataWriterBinary*>(v.bits)->WriteRecord(sink);
            break;
        }
        default:  // kTagContainer
            Put(sink, v.id);
            reinterpret_cast<const CContainerWriterBinary*>(v.bits)->WriteRecord(sink);
            break;
    }
}

template <class Sink>
void CDataWriterBinary::WriteRecord(Sink& sink) const {
    Put(sink, m_sections);
    for (uint32_t ranks = m_ranks; ranks; ranks &= ranks - 1) {
        WriteSection(sink, kSectionOrder[std::countr_zero(ranks)]);
    }
}

void CDataWriterBinary::Reset() noexcept {
    for (uint32_t kinds = m_kinds; kinds; kinds &= kinds - 1) {
        const uint8_t tag = static_cast<uint8_t>(std::countr_zero(kinds));
        if (tag == kTagObject || tag == kTagContainer) {
            for (const SValue& v : m_values[tag]) ReleaseChild(tag, v);
        }
        m_values[tag].clear();
        m_index[tag].clear();
    }
    m_kinds = 0;
    m_ranks = 0;
    m_sections = 0;
    m_bytes.Clear();
}

// ---- CContainerWriterBinary ------------------------------------------------------------------

void CContainerWriterBinary::Write(size_t size, const void* data) {
    Accept(kTagBlob, ERaise::BinaryBlobElementKind, ERaise::BinaryTooManyElements);
    if (size >= kMaxCount + 1) Raise(ERaise::BinaryElementTooLarge);
    if (size && !data) Raise(ERaise::BinaryElementBlobWithoutBytes);
    Put(m_elements, static_cast<uint32_t>(size));
    m_elements.Append(data, size);
    ++m_count;
}

void CContainerWriterBinary::Write(const ISerializableContainer& value) {
    Accept(kTagContainer, ERaise::BinaryContainerElementKind, ERaise::BinaryTooManyElements);
    const CChunkBuffer::SMark mark = m_elements.Mark();
    CLease<CContainerWriterBinary> element(m_document, m_document.AcquireContainer());
    try {
        value.Write(*element);
        element->WriteRecord(m_elements);
    } catch (...) {
        m_elements.Rollback(mark);
        throw;
    }
    ++m_count;
}

void CContainerWriterBinary::Write(const ISerializable& value) {
    Accept(kTagObject, ERaise::BinaryObjectElementKind, ERaise::BinaryTooManyElements);
    const uint32_t classId = m_document.Names().Id(value.GetClassName());
    const CChunkBuffer::SMark mark = m_elements.Mark();
    const size_t classCount = m_classIds.size();
    CLease<CDataWriterBinary> element(m_document, m_document.AcquireData());
    try {
        m_classIds.push_back(classId);
        Put(m_elements, classId);
        value.Write(*element);
        element->WriteRecord(m_elements);
    } catch (...) {
        m_elements.Rollback(mark);
        m_classIds.resize(classCount);
        throw;
    }
    ++m_count;
}

void CContainerWriterBinary::Write(const IDateTime& value) {
    Accept(kTagDateTime, ERaise::BinaryElementKind, ERaise::BinaryTooManyTextElements);
    const uint64_t count = QvDateTime(value).ToFileTime();
    unsigned char* p = m_elements.Room(12);
    const uint32_t version = 0;
    std::memcpy(p, &version, 4);
    std::memcpy(p + 4, &count, 8);
    m_elements.Commit(12);
    ++m_count;
}

void CContainerWriterBinary::Write(const std::wstring& value) {
    Accept(kTagWString, ERaise::BinaryElementKind, ERaise::BinaryTooManyTextElements);
    const size_t length = WideLength(value);
    const uint64_t units = Utf16Units(value.data(), length);
    const size_t size = WidePrefixSize(units) + 2 * units;
    unsigned char* p = m_elements.Room(size);
    PutUtf16(PutWidePrefix(p, units), value.data(), length);
    m_elements.Commit(size);
    ++m_count;
}

void CContainerWriterBinary::Write(const std::string& value) {
    Accept(kTagString, ERaise::BinaryElementKind, ERaise::BinaryTooManyTextElements);
    const size_t length = NarrowLength(value);
    if (length > kMaxCount) Raise(ERaise::BinaryTextElementTooLarge);
    unsigned char* p = m_elements.Room(4 + length);
    const uint32_t count = static_cast<uint32_t>(length);
    std::memcpy(p, &count, 4);
    CopyBytes(p + 4, value.data(), length);
    m_elements.Commit(4 + length);
    ++m_count;
}

template <class Sink>
void CContainerWriterBinary::WriteRecord(Sink& sink) const {
    unsigned char* p = sink.Room(5);
    p[0] = m_count ? m_tag : 0;
    std::memcpy(p + 1, &m_count, 4);
    sink.Commit(5);
    if (!m_count) return;
    if (m_tag == kTagObject) {
        const uint32_t first = m_classIds[0];
        bool same = true;
        for (uint32_t id : m_classIds) {
            if (id != first) {
                same = false;
                break;
            }
        }
        Put(sink, static_cast<uint8_t>(same ? 1 : 0));
        if (same) {
            Put(sink, first);
        } else {
            sink.Append(m_classIds.data(), m_classIds.size() * sizeof(uint32_t));
        }
    }
    m_elements.ForEachRun([&sink](const unsigned char* data, size_t size) { sink.Append(data, size); });
}

void CContainerWriterBinary::Reset() noexcept {
    m_classIds.clear();
    m_fixed = false;
    m_tag = 0;
    m_count = 0;
    m_elements.Clear();
}

// ---- CWriterBinary ---------------------------------------------------------------------------

constexpr uint8_t kRootObject = kTagObject;
constexpr uint8_t kRootContainer = kTagContainer;

// The document: the head through the stream's own operations; the root's record through
// WriteBytes in runs, with the same bytes that the typed operations would produce.
//
// The library's own buffer (that class exactly: a derived one may do other things with its
// bytes) is first given the capacity that the whole document will bring it to, so that it
// grows once instead of doubling its way there, copying as it goes; the capacity it ends with
// is the same. A buffer that could not take the document gets no such help: the writes
// themselves report it, after the part that fits.
template <class Root>
void WriteDocument(QvStreamWriteBinary& stream, uint8_t rootKind, const CNameTable& names,
                   const Root& root) {
    if (typeid(stream) == typeid(QvStreamWriteBinaryBuffer)) {
        auto& buffer = static_cast<QvStreamWriteBinaryBuffer&>(stream);
        CCountSink record;
        root.WriteRecord(record);
        const uint64_t size = names.HeadSize() + record.Size();
        if (size <= UINT32_MAX - buffer.GetCount()) buffer.Reserve(size);
    }
    stream.WriteVersion(0);
    stream.WriteUInt8(rootKind);
    stream.WriteUInt32(names.Count());
    names.WriteEntries(stream);
    COutSink out(stream);
    root.WriteRecord(out);
    out.Flush();
}

}  // namespace

CWriterBinary::~CWriterBinary() = default;

void CWriterBinary::Write(const ISerializable& object) {
    CDocument document;
    CDataWriterBinary* root = document.AcquireData();
    object.Write(*root);
    WriteDocument(m_stream, kRootObject, document.Names(), *root);
}

void CWriterBinary::Write(const ISerializableContainer& container) {
    CDocument document;
    CContainerWriterBinary* root = document.AcquireContainer();
    container.Write(*root);
    WriteDocument(m_stream, kRootContainer, document.Names(), *root);
}

}  // namespace Tavrin
