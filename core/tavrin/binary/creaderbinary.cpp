// The binary reader: decodes a whole document in the constructor into compact records.
//
// The records live in one arena that is freed with the reader: objects (a header and their
// entries), containers (a header and their elements), texts and blob bytes are carved out of
// large blocks instead of one heap block each. Entries and container elements are gathered on
// scratch stacks while a record is read and copied to the arena once its size is known, so
// that no count read from the document decides an allocation: memory grows only with the
// bytes actually delivered. The value readers handed to the application are small views over
// these records, made on the stack for the call that receives them.
//
// When the stream offers its bytes in memory (QvStreamReadBinary::GetContiguous), values are
// decoded straight from there; otherwise, and for any value that is not complete in that
// memory, through the stream's read operations.
#include <tavrin/creaderbinary.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include <tavrin/qvdatetime.h>
#include <tavrin/qvstream.h>
#include <tavrin/qvstring.h>

#include "core/basepool/raise.h"
#include "core/basepool/utf.h"
#include "core/tavrin/binary/binaryformat.h"

namespace Tavrin {

namespace {

using namespace Binary;

using Detail::ERaise;
using Detail::Raise;

// Records nested deeper than this are refused, so that a hostile document cannot exhaust the
// stack.
constexpr unsigned int kMaxDepth = 1000;

// Objects with more values than this get an index by (kind, name); smaller ones are scanned.
constexpr uint32_t kIndexThreshold = 16;

// ---- Arena -----------------------------------------------------------------------------------

class CArena {
public:
    CArena() = default;
    CArena(const CArena&) = delete;
    CArena& operator=(const CArena&) = delete;
    ~CArena() {
        while (m_blocks) {
            SBlock* next = m_blocks->next;
            ::operator delete(m_blocks);
            m_blocks = next;
        }
    }

    void* Allocate(size_t size, size_t align) {
        uintptr_t p = (reinterpret_cast<uintptr_t>(m_cur) + (align - 1)) & ~(uintptr_t(align) - 1);
        if (!m_cur || p + size > reinterpret_cast<uintptr_t>(m_end)) return AllocateSlow(size);
        m_cur = reinterpret_cast<unsigned char*>(p + size);
        return reinterpret_cast<void*>(p);
    }

    template <class T>
    T* Copy(const T* items, size_t count) {
        if (count == 0) return nullptr;
        void* p = Allocate(count * sizeof(T), alignof(T));
        std::memcpy(p, items, count * sizeof(T));
        return static_cast<T*>(p);
    }

private:
    struct alignas(std::max_align_t) SBlock {
        SBlock* next;
    };
    static constexpr size_t kFirstBlock = 4096;
    static constexpr size_t kLargestBlock = size_t(1) << 20;

    // Blocks start at max_align_t alignment, which covers every alignment asked for here.
    void* AllocateSlow(size_t size) {
        if (size > m_nextSize / 4) {
            // A large piece gets a block of its own; the current block stays in use.
            SBlock* block = NewBlock(size);
            if (m_blocks) {
                block->next = m_blocks->next;
                m_blocks->next = block;
            } else {
                block->next = nullptr;
                m_blocks = block;
                m_cur = m_end = reinterpret_cast<unsigned char*>(block + 1) + size;
            }
            return block + 1;
        }
        SBlock* block = NewBlock(m_nextSize);
        block->next = m_blocks;
        m_blocks = block;
        m_cur = reinterpret_cast<unsigned char*>(block + 1);
        m_end = m_cur + m_nextSize;
        m_nextSize = std::min(m_nextSize * 2, kLargestBlock);
        void* p = m_cur;
        m_cur += size;
        return p;
    }

    static SBlock* NewBlock(size_t size) {
        return static_cast<SBlock*>(::operator new(sizeof(SBlock) + size));
    }

    SBlock* m_blocks = nullptr;
    unsigned char* m_cur = nullptr;
    unsigned char* m_end = nullptr;
    size_t m_nextSize = kFirstBlock;
};

// A stack of plain bytes that grows without zero-filling: the entries of the objects and the
// elements of the containers being read, each record's run on top of its parent's.
class CScratch {
public:
    CScratch() = default;
    CScratch(const CScratch&) = delete;
    CScratch& operator=(const CScratch&) = delete;

    unsigned char* Extend(size_t n) {
        if (m_capacity - m_size < n) Grow(n);
        unsigned char* p = m_data.get() + m_size;
        m_size += n;
        return p;
    }
    template <class T>
    void Push(const T& item) {
        std::memcpy(Extend(sizeof item), &item, sizeof item);
    }
    const unsigned char* Data() const noexcept { return m_data.get(); }
    size_t Size() const noexcept { return m_size; }
    void Shrink(size_t size) noexcept { m_size = size; }

private:
    void Grow(size_t n) {
        const size_t capacity = std::max(m_size + n, std::max<size_t>(m_capacity * 2, 4096));
        std::unique_ptr<unsigned char[]> block(new unsigned char[capacity]);
        if (m_size) std::memcpy(block.get(), m_data.get(), m_size);
        m_data = std::move(block);
        m_capacity = capacity;
    }

    std::unique_ptr<unsigned char[]> m_data;
    size_t m_size = 0;
    size_t m_capacity = 0;
};

// ---- Decoded records -------------------------------------------------------------------------

// A name of the document, as text (zero-terminated in the arena) with its byte count, which
// may reach past a zero byte stored inside the name.
struct SName {
    const char* text;
    size_t length;
    uint64_t hash;
    bool plain;  // no zero byte inside: the text compares as a zero-terminated one
};

inline uint64_t HashText(const char* text, size_t length) noexcept {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < length; ++i) {
        hash ^= static_cast<unsigned char>(text[i]);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

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
    uint32_t length;
    std::memcpy(&length, record, 4);
    return length;
}

inline uint64_t WideUnits(const unsigned char* record) noexcept {
    uint64_t units;
    std::memcpy(&units, record, 8);
    return units;
}

// Copies `length` bytes; short runs without a call.
inline void CopySmall(unsigned char* to, const unsigned char* from, size_t length) noexcept {
    if (length >= 8 && length <= 16) {
        uint64_t a, b;
        std::memcpy(&a, from, 8);
        std::memcpy(&b, from + length - 8, 8);
        std::memcpy(to, &a, 8);
        std::memcpy(to + length - 8, &b, 8);
    } else if (length >= 4 && length < 8) {
        uint32_t a, b;
        std::memcpy(&a, from, 4);
        std::memcpy(&b, from + length - 4, 4);
        std::memcpy(to, &a, 4);
        std::memcpy(to + length - 4, &b, 4);
    } else if (length < 4) {
        for (size_t i = 0; i < length; ++i) to[i] = from[i];
    } else {
        std::memcpy(to, from, length);
    }
}

// A record of `length` bytes with its length in front; `terminate` adds a zero byte behind.
inline const unsigned char* NewBytes(CArena& arena, const void* bytes, uint32_t length, bool terminate) {
    unsigned char* record =
        static_cast<unsigned char*>(arena.Allocate(kNarrowHead + length + (terminate ? 1 : 0), 4));
    std::memcpy(record, &length, 4);
    CopySmall(record + kNarrowHead, static_cast<const unsigned char*>(bytes), length);
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
    uint32_t kinds;  // bit per tag that has entries

    const SEntry* Entries() const noexcept { return reinterpret_cast<const SEntry*>(this + 1); }
    const uint32_t* Index() const noexcept {
        return reinterpret_cast<const uint32_t*>(Entries() + count);
    }
};
static_assert(sizeof(SObject) == 8 && alignof(SEntry) == 8);

inline uint32_t IndexSlots(uint32_t count) noexcept { return std::bit_ceil(count * 2u); }

// Hash of (tag, name) in the index of a large object.
inline uint32_t IndexHash(uint8_t tag, uint64_t nameHash) noexcept {
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

const SObject kEmptyObject{0, 0};
const SContainer kEmptyContainer{0, 0};

// Width of one element in a container record, by tag.
constexpr size_t ElementWidth(uint8_t tag) noexcept {
    return tag < kTagString ? kScalarWidth[tag] : 8;
}

// The seven fields through the setters, in their order.
void SetFields(IDateTime& target, uint64_t count) {
    const QvDateTime t = QvDateTime::FromFileTime(count);
    target.SetYear(t.GetYear());
    target.SetMonth(t.GetMonth());
    target.SetDay(t.GetDay());
    target.SetHour(t.GetHour());
    target.SetMinute(t.GetMinute());
    target.SetSecond(t.GetSecond());
    target.SetMilliseconds(t.GetMilliseconds());
}

void AssignWide(std::wstring& target, const unsigned char* record) {
    const size_t units = static_cast<size_t>(WideUnits(record));
    constexpr size_t kLocal = 256;
    if (units <= kLocal) {  // the usual short text: decoded on the stack, assigned in one go
        wchar_t local[kLocal];
        target.assign(local, Detail::DecodeUtf16(record + kWideHead, units, local));
        return;
    }
    target.resize(units);
    target.resize(Detail::DecodeUtf16(record + kWideHead, units, target.data()));
}

}  // namespace

// ---- Value readers ---------------------------------------------------------------------------

// The values of one object.
class CDataReader final : public IDataReader {
public:
    CDataReader(const SName* names, const SObject* object) noexcept
        : m_names(names), m_object(object) {}

    unsigned int GetNameCount() const override { return m_object->count; }
    const char* GetName(unsigned int index) const override {
        return index < m_object->count ? m_names[m_object->Entries()[index].name].text : nullptr;
    }

    SBlobRange Read(const char* name) override {
        const SEntry* e = Find(kTagBlob, name);
        if (!e) return {};
        const unsigned char* record = reinterpret_cast<const unsigned char*>(e->value);
        return {record + kNarrowHead, record + kNarrowHead + RecordLength(record)};
    }
    bool Read(const char* name, ISerializableContainer& value) override;
    bool Read(const char* name, ISerializable& value) override;
    bool Read(const char* name, IDateTime& value) override {
        const SEntry* e = Find(kTagDateTime, name);
        if (!e) return false;
        SetFields(value, e->value);
        return true;
    }
    bool Read(const char* name, std::wstring& value) override {
        const SEntry* e = Find(kTagWString, name);
        if (!e) return false;
        AssignWide(value, reinterpret_cast<const unsigned char*>(e->value));
        return true;
    }
    bool Read(const char* name, std::string& value) override {
        const SEntry* e = Find(kTagString, name);
        if (!e) return false;
        const unsigned char* record = reinterpret_cast<const unsigned char*>(e->value);
        value.assign(reinterpret_cast<const char*>(record + kNarrowHead), RecordLength(record));
        return true;
    }
    bool Read(const char* name, char& value) override { return Get(kTagChar, name, value); }
    bool Read(const char* name, double& value) override { return Get(kTagDouble, name, value); }
    bool Read(const char* name, float& value) override { return Get(kTagFloat, name, value); }
    bool Read(const char* name, long long& value) override { return Get(kTagInt64, name, value); }
    bool Read(const char* name, unsigned long long& value) override {
        return Get(kTagUInt64, name, value);
    }
    bool Read(const char* name, int& value) override { return Get(kTagInt32, name, value); }
    bool Read(const char* name, unsigned int& value) override { return Get(kTagUInt32, name, value); }
    bool Read(const char* name, short& value) override { return Get(kTagInt16, name, value); }
    bool Read(const char* name, unsigned short& value) override {
        return Get(kTagUInt16, name, value);
    }
    bool Read(const char* name, signed char& value) override { return Get(kTagInt8, name, value); }
    bool Read(const char* name, unsigned char& value) override { return Get(kTagUInt8, name, value); }
    bool Read(const char* name, bool& value) override {
        const SEntry* e = Find(kTagBool, name);
        if (!e) return false;
        value = e->value != 0;
        return true;
    }

private:
    // The last value of this kind stored under this name (the last one wins), or null.
    const SEntry* Find(uint8_t tag, const char* name) const noexcept {
        const SObject& object = *m_object;
        if (!(object.kinds >> tag & 1u)) return nullptr;
        if (!name) name = "";
        if (object.count > kIndexThreshold) return FindIndexed(tag, name);
        // Few values: a scan from the end (the last value of a name wins) comparing the kind
        // first and the text only for values of that kind.
        const SEntry* entries = object.Entries();
        for (uint32_t i = object.count; i-- > 0;) {
            const SEntry& e = entries[i];
            if (e.tag == tag && SameName(m_names[e.name], name)) return &e;
        }
        return nullptr;
    }

    [[gnu::noinline]] const SEntry* FindIndexed(uint8_t tag, const char* name) const noexcept {
        const SEntry* entries = m_object->Entries();
        const uint32_t mask = IndexSlots(m_object->count) - 1;
        const uint32_t* index = m_object->Index();
        const size_t length = std::strlen(name);
        const uint64_t hash = HashText(name, length);
        for (uint32_t slot = IndexHash(tag, hash) & mask; index[slot]; slot = (slot + 1) & mask) {
            const SEntry& e = entries[index[slot] - 1];
            const SName& n = m_names[e.name];
            if (e.tag == tag && n.hash == hash && n.length == length &&
                std::memcmp(n.text, name, length) == 0) {
                return &e;
            }
        }
        return nullptr;
    }

    template <class T>
    bool Get(uint8_t tag, const char* name, T& value) const noexcept {
        const SEntry* e = Find(tag, name);
        if (!e) return false;
        std::memcpy(&value, &e->value, sizeof(T));
        return true;
    }

    const SName* m_names;
    const SObject* m_object;
};

// The elements of one container: one array of the element kind.
class CContainerReader final : public IContainerReader {
public:
    CContainerReader(const SName* names, const SContainer* container) noexcept
        : m_names(names), m_container(container) {}

    SBlobRange Read(unsigned int index) override {
        const unsigned char* record = nullptr;
        if (!Get(kTagBlob, index, record)) return {};
        return {record + kNarrowHead, record + kNarrowHead + RecordLength(record)};
    }
    bool Read(unsigned int index, ISerializableContainer& value) override {
        const SContainer* child = nullptr;
        if (!Get(kTagContainer, index, child)) return false;
        CContainerReader reader(m_names, child);
        value.Read(reader);
        return true;
    }
    bool Read(unsigned int index, ISerializable& value) override {
        const SObject* child = nullptr;
        if (!Get(kTagObject, index, child)) return false;
        CDataReader reader(m_names, child);
        value.Read(reader);
        return true;
    }
    bool Read(unsigned int index, IDateTime& value) override {
        uint64_t count = 0;
        if (!Get(kTagDateTime, index, count)) return false;
        SetFields(value, count);
        return true;
    }
    bool Read(unsigned int index, std::wstring& value) override {
        const unsigned char* record = nullptr;
        if (!Get(kTagWString, index, record)) return false;
        AssignWide(value, record);
        return true;
    }
    bool Read(unsigned int index, std::string& value) override {
        const unsigned char* record = nullptr;
        if (!Get(kTagString, index, record)) return false;
        value.assign(reinterpret_cast<const char*>(record + kNarrowHead), RecordLength(record));
        return true;
    }
    bool Read(unsigned int index, char& value) override { return Get(kTagChar, index, value); }
    bool Read(unsigned int index, double& value) override { return Get(kTagDouble, index, value); }
    bool Read(unsigned int index, float& value) override { return Get(kTagFloat, index, value); }
    bool Read(unsigned int index, long long& value) override { return Get(kTagInt64, index, value); }
    bool Read(unsigned int index, unsigned long long& value) override {
        return Get(kTagUInt64, index, value);
    }
    bool Read(unsigned int index, int& value) override { return Get(kTagInt32, index, value); }
    bool Read(unsigned int index, unsigned int& value) override {
        return Get(kTagUInt32, index, value);
    }
    bool Read(unsigned int index, short& value) override { return Get(kTagInt16, index, value); }
    bool Read(unsigned int index, unsigned short& value) override {
        return Get(kTagUInt16, index, value);
    }
    bool Read(unsigned int index, signed char& value) override { return Get(kTagInt8, index, value); }
    bool Read(unsigned int index, unsigned char& value) override {
        return Get(kTagUInt8, index, value);
    }
    bool Read(unsigned int index, bool& value) override {
        unsigned char byte = 0;
        if (!Get(kTagBool, index, byte)) return false;
        value = byte != 0;
        return true;
    }

private:
    // Element `index` as stored (the stored width equals sizeof(T) for the tag asked for).
    template <class T>
    bool Get(uint8_t tag, unsigned int index, T& value) const noexcept {
        if (m_container->tag != tag || index >= m_container->count) return false;
        std::memcpy(&value, m_container->Elements() + static_cast<size_t>(index) * sizeof(T), sizeof(T));
        return true;
    }

    const SName* m_names;
    const SContainer* m_container;
};

bool CDataReader::Read(const char* name, ISerializableContainer& value) {
    const SEntry* e = Find(kTagContainer, name);
    if (!e) return false;
    CContainerReader reader(m_names, reinterpret_cast<const SContainer*>(e->value));
    value.Read(reader);
    return true;
}

bool CDataReader::Read(const char* name, ISerializable& value) {
    const SEntry* e = Find(kTagObject, name);
    if (!e) return false;
    CDataReader reader(m_names, reinterpret_cast<const SObject*>(e->value));
    value.Read(reader);
    return true;
}

// Everything the reader keeps: the arena with the decoded records, the names and the root.
struct Detail::SBinaryDocument {
    CArena arena;
    const SName* names = nullptr;
    const SObject* rootObject = nullptr;
    const SContainer* rootContainer = nullptr;
};

namespace {

// ---- Sources of primitives -------------------------------------------------------------------

// The primitives through the stream's read operations: works with any stream, and calls only
// the operations that the format needs. It keeps no position of its own (SNoCursor).
class CStreamSource {
public:
    struct SNoCursor {};
    using Cursor = SNoCursor;

    explicit CStreamSource(QvStreamReadBinary& stream) noexcept : m_stream(stream) {}

    Cursor Resume() const noexcept { return {}; }
    void Park(const Cursor&) noexcept {}
    void Finish(const Cursor&) noexcept {}

    uint8_t U8(Cursor&) {
        uint8_t v = 0;
        m_stream.ReadUInt8(v);
        return v;
    }
    uint32_t U32(Cursor&) {
        uint32_t v = 0;
        m_stream.ReadUInt32(v);
        return v;
    }
    bool Bool(Cursor&) {
        bool v = false;
        m_stream.ReadBool(v);
        return v;
    }

    // One value of a scalar kind (tags 0 to 11), as its bytes.
    uint64_t Scalar(Cursor&, uint8_t tag);

    // The `size` bytes of `count` scalars, when they can be taken as they stand (never here).
    const unsigned char* Run(Cursor&, uint64_t) noexcept { return nullptr; }

    // A text of the name table; valid until the next read.
    std::string_view Name(Cursor&) {
        m_stream.ReadStringA(m_name);
        return m_name.Str();
    }

    // Texts and blobs as byte records in the arena.
    const unsigned char* String(Cursor&, CArena& arena) {
        m_stream.ReadStdString(m_text);
        return NewBytes(arena, m_text.data(), static_cast<uint32_t>(m_text.size()), true);
    }
    const unsigned char* WString(Cursor&, CArena& arena);
    // Up to `count` bytes; `exact` tells whether the stream reported exactly the number asked
    // for (a stream may claim more than it was asked for: only the bytes asked for are kept).
    const unsigned char* Blob(Cursor&, CArena& arena, uint32_t count, bool& exact);

    // A date-time as its 100-ns count.
    uint64_t DateTime(Cursor&) {
        m_dateTime.ReadFromStream(m_stream);
        return m_dateTime.ToFileTime();  // the fields hold whole milliseconds: exact
    }

private:
    QvStreamReadBinary& m_stream;
    QvStringA m_name;
    std::string m_text;
    std::wstring m_wideText;
    std::vector<unsigned char> m_blob;
    QvDateTime m_dateTime = QvDateTime::FromFileTime(0);  // a target only: no clock read
};

uint64_t CStreamSource::Scalar(Cursor& c, uint8_t tag) {
    uint64_t bits = 0;
    auto keep = [&bits](const auto& v) { std::memcpy(&bits, &v, sizeof v); };
    switch (tag) {
        case kTagBool: bits = Bool(c) ? 1 : 0; break;
        case kTagChar: { char v = 0; m_stream.ReadChar(v); keep(v); break; }
        case kTagUInt8: { uint8_t v = 0; m_stream.ReadUInt8(v); keep(v); break; }
        case kTagInt8: { int8_t v = 0; m_stream.ReadInt8(v); keep(v); break; }
        case kTagUInt16: { uint16_t v = 0; m_stream.ReadUInt16(v); keep(v); break; }
        case kTagInt16: { int16_t v = 0; m_stream.ReadInt16(v); keep(v); break; }
        case kTagUInt32: { uint32_t v = 0; m_stream.ReadUInt32(v); keep(v); break; }
        case kTagInt32: { int32_t v = 0; m_stream.ReadInt32(v); keep(v); break; }
        case kTagUInt64: { uint64_t v = 0; m_stream.ReadUInt64(v); keep(v); break; }
        case kTagInt64: { int64_t v = 0; m_stream.ReadInt64(v); keep(v); break; }
        case kTagFloat: { float v = 0; m_stream.ReadFloat(v); keep(v); break; }
        default: { double v = 0; m_stream.ReadDouble(v); keep(v); break; }  // kTagDouble
    }
    return bits;
}

const unsigned char* CStreamSource::WString(Cursor&, CArena& arena) {
    m_stream.ReadStdWString(m_wideText);
    // Back to UTF-16 units, which give these characters again when read.
    uint64_t units = 0;
    for (wchar_t ch : m_wideText) units += Detail::Utf16Length(ch);
    unsigned char* record = static_cast<unsigned char*>(
        arena.Allocate(kWideHead + static_cast<size_t>(units) * 2, 8));
    std::memcpy(record, &units, 8);
    unsigned char* out = record + kWideHead;
    for (wchar_t ch : m_wideText) {
        uint16_t u[2];
        const unsigned n = Detail::EncodeUtf16(ch, u);
        std::memcpy(out, u, n * 2);
        out += n * 2;
    }
    return record;
}

const unsigned char* CStreamSource::Blob(Cursor&, CArena& arena, uint32_t count, bool& exact) {
    exact = true;
    if (count == 0) return NewBytes(arena, nullptr, 0, false);
    constexpr uint32_t kPiece = 64 * 1024;
    if (count <= kPiece) {
        unsigned char* record = static_cast<unsigned char*>(arena.Allocate(kNarrowHead + count, 4));
        const uint64_t delivered = m_stream.ReadBytes(record + kNarrowHead, count);
        exact = delivered == count;
        const uint32_t kept = static_cast<uint32_t>(std::min<uint64_t>(delivered, count));
        std::memcpy(record, &kept, 4);
        return record;
    }
    // A large count is trusted only as far as the bytes arrive: read in growing pieces.
    m_blob.clear();
    while (m_blob.size() < count) {
        const size_t have = m_blob.size();
        const size_t take = std::min<size_t>(count - have, std::max<size_t>(have, kPiece));
        m_blob.resize(have + take);
        const uint64_t got = m_stream.ReadBytes(m_blob.data() + have, take);
        if (got != take) {
            exact = false;
            m_blob.resize(have + static_cast<size_t>(std::min<uint64_t>(got, take)));
            break;
        }
    }
    return NewBytes(arena, m_blob.data(), static_cast<uint32_t>(m_blob.size()), false);
}

// The primitives straight from the memory that the stream offers. Only a value that is
// complete and well-formed in that memory is decoded here; for anything else (a value cut
// short, a date-time version above 0, a wrong wide-text mark, a text too long for the short
// length forms) the bytes taken so far are handed back to the stream with Consume and the
// stream's own read operation reads the value, so that the results, exceptions included, are
// those of the stream.
//
// The loader keeps the cursor in a local, so that the hot paths run in registers; the cold
// paths and nested records meet it parked in m_at.
class CMemorySource {
public:
    // The next byte to decode.
    using Cursor = const unsigned char*;

    CMemorySource(QvStreamReadBinary& stream, const unsigned char* data, uint64_t available) noexcept
        : m_stream(stream), m_slow(stream), m_begin(data), m_at(data), m_end(data + available) {}

    Cursor Resume() const noexcept { return m_at; }
    void Park(const Cursor& c) noexcept { m_at = c; }
    // Leaves the stream just behind what was decoded.
    void Finish(const Cursor& c) {
        m_at = c;
        Sync();
    }

    uint8_t U8(Cursor& c) {
        if (c != m_end) return *c++;
        return Slow(c, [this] { return m_slow.U8(m_none); });
    }
    uint32_t U32(Cursor& c) {
        if (Left(c) >= 4) {
            uint32_t v;
            std::memcpy(&v, c, 4);
            c += 4;
            return v;
        }
        return Slow(c, [this] { return m_slow.U32(m_none); });
    }
    bool Bool(Cursor& c) {
        if (c != m_end) return *c++ != 0;
        return Slow(c, [this] { return m_slow.Bool(m_none); });
    }

    uint64_t Scalar(Cursor& c, uint8_t tag) {
        const size_t width = kScalarWidth[tag];
        uint64_t bits = 0;
        if (Left(c) >= 8) {
            std::memcpy(&bits, c, 8);  // little-endian: the low bytes are the value
            if (width < 8) bits &= (uint64_t(1) << (8 * width)) - 1;
        } else if (Left(c) >= width) {
            std::memcpy(&bits, c, width);
        } else {
            return Slow(c, [this, tag] { return m_slow.Scalar(m_none, tag); });
        }
        c += width;
        return tag == kTagBool ? (bits != 0 ? 1 : 0) : bits;
    }

    const unsigned char* Run(Cursor& c, uint64_t size) noexcept {
        if (Left(c) < size) return nullptr;
        const unsigned char* bytes = c;
        c += size;
        return bytes;
    }

    std::string_view Name(Cursor& c) {
        uint32_t length = 0;
        if (Left(c) >= 4) {
            std::memcpy(&length, c, 4);
            if (Left(c) - 4 >= length) {
                const std::string_view text(reinterpret_cast<const char*>(c + 4), length);
                c += 4 + size_t(length);
                return text;
            }
        }
        return Slow(c, [this] { return m_slow.Name(m_none); });
    }

    const unsigned char* String(Cursor& c, CArena& arena) {
        uint32_t length = 0;
        if (Left(c) >= 4) {
            std::memcpy(&length, c, 4);
            if (Left(c) - 4 >= length) {
                const unsigned char* record = NewBytes(arena, c + 4, length, true);
                c += 4 + size_t(length);
                return record;
            }
        }
        return Slow(c, [this, &arena] { return m_slow.String(m_none, arena); });
    }

    const unsigned char* WString(Cursor& c, CArena& arena) {
        // The wide length prefix: FF FE FF, then one byte below FF, or FF and two bytes below
        // FFFE; longer texts are rare enough for the stream's own way.
        const size_t left = Left(c);
        if (left >= 4 && c[0] == 0xFF && c[1] == 0xFE && c[2] == 0xFF) {
            uint64_t units = c[3];
            size_t head = 4;
            if (units == 0xFF) {
                uint16_t n = 0xFFFF;
                if (left >= 6) std::memcpy(&n, c + 4, 2);
                units = n;
                head = 6;
            }
            if (units < 0xFFFE && (left - std::min(left, head)) / 2 >= units) {
                unsigned char* record = static_cast<unsigned char*>(
                    arena.Allocate(kWideHead + static_cast<size_t>(units) * 2, 8));
                std::memcpy(record, &units, 8);
                CopySmall(record + kWideHead, c + head, static_cast<size_t>(units) * 2);
                c += head + static_cast<size_t>(units) * 2;
                return record;
            }
        }
        return Slow(c, [this, &arena] { return m_slow.WString(m_none, arena); });
    }

    const unsigned char* Blob(Cursor& c, CArena& arena, uint32_t count, bool& exact) {
        if (Left(c) >= count) {
            exact = true;
            const unsigned char* record = NewBytes(arena, c, count, false);
            c += count;
            return record;
        }
        return Slow(c, [&] { return m_slow.Blob(m_none, arena, count, exact); });
    }

    uint64_t DateTime(Cursor& c) {
        // Version 0 (the only one that passes), then the count.
        if (Left(c) >= 12 && c[0] == 0 && c[1] == 0 && c[2] == 0 && c[3] == 0) {
            uint64_t count;
            std::memcpy(&count, c + 4, 8);
            c += 12;
            // As stored after a round through the seven fields: whole milliseconds.
            return count - count % 10000;
        }
        return Slow(c, [this] { return m_slow.DateTime(m_none); });
    }

private:
    size_t Left(Cursor c) const noexcept { return static_cast<size_t>(m_end - c); }

    void Sync() {
        m_stream.Consume(static_cast<uint64_t>(m_at - m_begin));
        m_begin = m_at;
    }

    // The stream's own operation at the cursor's position; then the memory it offers anew.
    template <class F>
    std::invoke_result_t<F&> Slow(Cursor& c, F&& read) {
        m_at = c;
        auto result = SlowCall(read);
        c = m_at;
        return result;
    }
    template <class F>
    [[gnu::noinline]] std::invoke_result_t<F&> SlowCall(F& read) {
        Sync();
        auto result = read();
        uint64_t available = 0;
        const unsigned char* data = m_stream.GetContiguous(available);
        m_begin = m_at = data;
        m_end = data ? data + available : data;
        return result;
    }

    QvStreamReadBinary& m_stream;
    CStreamSource m_slow;
    CStreamSource::Cursor m_none;
    const unsigned char* m_begin;  // the stream's position in the memory
    Cursor m_at;                   // the cursor while it is not in the loader's hands
    const unsigned char* m_end;    // the end of the memory offered
};

// ---- Loader ----------------------------------------------------------------------------------

// Decodes the document into the arena; lives while the constructor runs.
template <class Source>
class CLoader {
public:
    using Cursor = typename Source::Cursor;

    CLoader(Source& source, Detail::SBinaryDocument& document) noexcept
        : m_source(source), m_document(document), m_arena(document.arena) {}

    void ReadNameTable();
    const SObject* ReadObject(unsigned int depth);
    const SContainer* ReadContainer(unsigned int depth);

private:
    static constexpr uint32_t kUnknown = 0xFFFFFFFFu;

    uint32_t Resolve(uint32_t id, ERaise unknown) const {
        uint32_t name = kUnknown;
        if (id < m_dense.size()) {
            name = m_dense[id];
        } else if (!m_sparse.empty()) {
            const auto it = m_sparse.find(id);
            if (it != m_sparse.end()) name = it->second;
        }
        if (name == kUnknown) Raise(unknown);
        return name;
    }

    const SObject* NewObject(const SEntry* entries, uint32_t count, uint32_t kinds);

    Source& m_source;
    Detail::SBinaryDocument& m_document;
    CArena& m_arena;

    const SName* m_names = nullptr;
    std::vector<uint32_t> m_dense;                    // identifier -> name, for compact identifiers
    std::unordered_map<uint32_t, uint32_t> m_sparse;  // the same for scattered ones

    CScratch m_entries;   // entries of the objects being read
    CScratch m_elements;  // elements of the containers being read
};

template <class Source>
void CLoader<Source>::ReadNameTable() {
    Cursor c = m_source.Resume();
    const uint32_t count = m_source.U32(c);
    // Identifiers may repeat (the last text counts) and texts may repeat (one name, several
    // identifiers); every distinct text becomes one name.
    std::vector<std::pair<uint32_t, uint32_t>> pairs;  // identifier, name
    std::vector<SName> names;
    std::unordered_map<std::string_view, uint32_t> byText;
    uint32_t largest = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const std::string_view s = m_source.Name(c);
        auto found = byText.find(s);
        uint32_t name;
        if (found != byText.end()) {
            name = found->second;
        } else {
            char* text = static_cast<char*>(m_arena.Allocate(s.size() + 1, 1));
            if (!s.empty()) std::memcpy(text, s.data(), s.size());
            text[s.size()] = '\0';
            name = static_cast<uint32_t>(names.size());
            names.push_back({text, s.size(), HashText(text, s.size()), std::strlen(text) == s.size()});
            byText.emplace(std::string_view(text, s.size()), name);
        }
        const uint32_t id = m_source.U32(c);
        pairs.emplace_back(id, name);
        largest = std::max(largest, id);
    }
    m_source.Park(c);
    m_names = m_arena.Copy(names.data(), names.size());
    m_document.names = m_names;
    if (pairs.empty()) return;
    if (largest < pairs.size() * 2 + 64) {
        m_dense.assign(static_cast<size_t>(largest) + 1, kUnknown);
        for (const auto& [id, name] : pairs) m_dense[id] = name;
    } else {
        for (const auto& [id, name] : pairs) m_sparse[id] = name;
    }
}

template <class Source>
const SObject* CLoader<Source>::ReadObject(unsigned int depth) {
    if (depth > kMaxDepth) Raise(ERaise::BinaryObjectTooDeep);
    Cursor c = m_source.Resume();
    const uint8_t sections = m_source.U8(c);
    if (sections == 0) {
        m_source.Park(c);
        return &kEmptyObject;
    }
    const size_t base = m_entries.Size();
    uint32_t kinds = 0;
    for (unsigned int s = 0; s < sections; ++s) {
        const uint8_t tag = m_source.U8(c);
        if (tag >= kTagCount) Raise(ERaise::BinarySectionTag);
        const uint32_t count = m_source.U32(c);
        if (count) kinds |= 1u << tag;
        for (uint32_t i = 0; i < count; ++i) {
            SEntry e{Resolve(m_source.U32(c), ERaise::BinaryUnknownName), tag, 0};
            if (tag < kTagString) {
                e.value = m_source.Scalar(c, tag);
            } else {
                switch (tag) {
                    case kTagString:
                        e.value = reinterpret_cast<uintptr_t>(m_source.String(c, m_arena));
                        break;
                    case kTagWString:
                        e.value = reinterpret_cast<uintptr_t>(m_source.WString(c, m_arena));
                        break;
                    case kTagDateTime:
                        e.value = m_source.DateTime(c);
                        break;
                    case kTagBlob: {
                        const uint32_t size = m_source.U32(c);
                        bool exact = true;
                        const unsigned char* record = m_source.Blob(c, m_arena, size, exact);
                        if (!exact) Raise(ERaise::BinaryShortBlob);
                        e.value = reinterpret_cast<uintptr_t>(record);
                        break;
                    }
                    case kTagObject:
                        Resolve(m_source.U32(c), ERaise::BinaryUnknownName);  // class name
                        m_source.Park(c);
                        e.value = reinterpret_cast<uintptr_t>(ReadObject(depth + 1));
                        c = m_source.Resume();
                        break;
                    default:  // kTagContainer
                        m_source.Park(c);
                        e.value = reinterpret_cast<uintptr_t>(ReadContainer(depth + 1));
                        c = m_source.Resume();
                        break;
                }
            }
            m_entries.Push(e);
        }
    }
    m_source.Park(c);
    const uint32_t n = static_cast<uint32_t>((m_entries.Size() - base) / sizeof(SEntry));
    const SObject* object =
        NewObject(reinterpret_cast<const SEntry*>(m_entries.Data() + base), n, kinds);
    m_entries.Shrink(base);
    return object;
}

template <class Source>
const SObject* CLoader<Source>::NewObject(const SEntry* entries, uint32_t count, uint32_t kinds) {
    if (count == 0) return &kEmptyObject;
    const size_t indexSize = count > kIndexThreshold ? IndexSlots(count) * sizeof(uint32_t) : 0;
    unsigned char* block = static_cast<unsigned char*>(
        m_arena.Allocate(sizeof(SObject) + count * sizeof(SEntry) + indexSize, alignof(SObject)));
    SObject* object = new (block) SObject{count, kinds};
    std::memcpy(block + sizeof(SObject), entries, count * sizeof(SEntry));
    if (indexSize) {
        // The index maps (kind, name) to the last entry of that name and kind.
        const uint32_t mask = IndexSlots(count) - 1;
        uint32_t* index = reinterpret_cast<uint32_t*>(block + sizeof(SObject) + count * sizeof(SEntry));
        std::memset(index, 0, indexSize);
        const SEntry* stored = object->Entries();
        for (uint32_t i = 0; i < count; ++i) {
            const SEntry& e = stored[i];
            uint32_t slot = IndexHash(e.tag, m_names[e.name].hash) & mask;
            for (; index[slot]; slot = (slot + 1) & mask) {
                const SEntry& other = stored[index[slot] - 1];
                if (other.tag == e.tag && other.name == e.name) break;
            }
            index[slot] = i + 1;
        }
    }
    return object;
}

template <class Source>
const SContainer* CLoader<Source>::ReadContainer(unsigned int depth) {
    if (depth > kMaxDepth) Raise(ERaise::BinaryContainerTooDeep);
    Cursor c = m_source.Resume();
    const uint8_t tag = m_source.U8(c);
    const uint32_t count = m_source.U32(c);
    if (count == 0) {
        m_source.Park(c);
        return &kEmptyContainer;
    }
    if (tag == kTagObject) {
        const uint32_t listed = m_source.Bool(c) ? 1 : count;
        for (uint32_t i = 0; i < listed; ++i) {
            Resolve(m_source.U32(c), ERaise::BinaryUnknownClassName);
        }
    }
    if (tag >= kTagCount) Raise(ERaise::BinaryElementTag);

    const size_t width = ElementWidth(tag);
    const uint64_t size = uint64_t(count) * width;
    if (tag < kTagString) {
        // Scalars that are all there are taken as they stand.
        if (const unsigned char* run = m_source.Run(c, size)) {
            m_source.Park(c);
            unsigned char* block = static_cast<unsigned char*>(
                m_arena.Allocate(sizeof(SContainer) + static_cast<size_t>(size), alignof(SContainer)));
            std::memcpy(block + sizeof(SContainer), run, static_cast<size_t>(size));
            return new (block) SContainer{count, tag};
        }
    }
    const size_t base = m_elements.Size();
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t element = 0;
        switch (tag) {
            case kTagString:
                element = reinterpret_cast<uintptr_t>(m_source.String(c, m_arena));
                break;
            case kTagWString:
                element = reinterpret_cast<uintptr_t>(m_source.WString(c, m_arena));
                break;
            case kTagDateTime:
                element = m_source.DateTime(c);
                break;
            case kTagBlob: {
                const uint32_t bytes = m_source.U32(c);
                bool exact = true;  // not checked for elements: what arrived is kept
                element = reinterpret_cast<uintptr_t>(m_source.Blob(c, m_arena, bytes, exact));
                break;
            }
            case kTagObject:
                Resolve(m_source.U32(c), ERaise::BinaryUnknownClassName);
                m_source.Park(c);
                element = reinterpret_cast<uintptr_t>(ReadObject(depth + 1));
                c = m_source.Resume();
                break;
            case kTagContainer:
                m_source.Park(c);
                element = reinterpret_cast<uintptr_t>(ReadContainer(depth + 1));
                c = m_source.Resume();
                break;
            default:  // scalars not all in memory
                element = m_source.Scalar(c, tag);
                break;
        }
        std::memcpy(m_elements.Extend(width), &element, width);  // little-endian: low bytes
    }
    m_source.Park(c);
    const size_t stored = m_elements.Size() - base;
    unsigned char* block = static_cast<unsigned char*>(
        m_arena.Allocate(sizeof(SContainer) + stored, alignof(SContainer)));
    std::memcpy(block + sizeof(SContainer), m_elements.Data() + base, stored);
    m_elements.Shrink(base);
    return new (block) SContainer{count, tag};
}

template <class Source>
void Load(Source& source, uint8_t kind, Detail::SBinaryDocument& document) {
    CLoader<Source> loader(source, document);
    loader.ReadNameTable();
    if (kind == kTagObject) {
        document.rootObject = loader.ReadObject(1);
    } else if (kind == kTagContainer) {
        document.rootContainer = loader.ReadContainer(1);
    } else {
        Raise(ERaise::BinaryRootKind);
    }
    source.Finish(source.Resume());
}

}  // namespace

// ---- CReaderBinary ---------------------------------------------------------------------------

CReaderBinary::CReaderBinary(QvStreamReadBinary& stream) : m_document(std::make_unique<Detail::SBinaryDocument>()) {
    stream.ReadAndCompareVersion(0);
    uint8_t kind = 0;
    stream.ReadUInt8(kind);
    // Straight from memory when the stream offers it, through its read operations otherwise.
    uint64_t available = 0;
    if (const unsigned char* data = stream.GetContiguous(available)) {
        CMemorySource source(stream, data, available);
        Load(source, kind, *m_document);
    } else {
        CStreamSource source(stream);
        Load(source, kind, *m_document);
    }
}

CReaderBinary::~CReaderBinary() = default;

void CReaderBinary::Read(ISerializable& object) const {
    if (!m_document->rootObject) Raise(ERaise::BinaryReadObject);
    CDataReader reader(m_document->names, m_document->rootObject);
    object.Read(reader);
}

void CReaderBinary::Read(ISerializableContainer& container) const {
    if (!m_document->rootContainer) Raise(ERaise::BinaryReadContainer);
    CContainerReader reader(m_document->names, m_document->rootContainer);
    container.Read(reader);
}

}  // namespace Tavrin
