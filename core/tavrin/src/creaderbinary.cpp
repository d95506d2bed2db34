// The binary reader: decodes a whole document in the constructor into a tree of value readers.
//
// The tree lives in one arena that is freed with the reader: value readers, their entries,
// texts and blob bytes are carved out of large blocks instead of one heap block each. Entries
// and container elements are gathered on scratch stacks while a record is read and copied to
// the arena once its size is known, so that no count read from the document decides an
// allocation: memory grows only with the bytes actually delivered.
#include <tavrin/creaderbinary.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <tavrin/cexception.h>
#include <tavrin/qvdatetime.h>
#include <tavrin/qvstream.h>

#include "core/tavrin/src/binaryformat.h"

namespace Tavrin {

namespace {

using namespace Binary;

constexpr unsigned int kLineRootKind = 305;
constexpr unsigned int kLineReadObject = 331;
constexpr unsigned int kLineReadContainer = 346;
constexpr unsigned int kLineSectionTag = 388;
constexpr unsigned int kLineShortBlob = 476;
constexpr unsigned int kLineElementTag = 622;
// Damaged documents: an identifier that the name table does not hold, nesting too deep.
constexpr unsigned int kLineUnknownName = 392;
constexpr unsigned int kLineObjectTooDeep = 380;
constexpr unsigned int kLineUnknownClassName = 626;
constexpr unsigned int kLineContainerTooDeep = 614;

constexpr const char* kFunctionConstructor = "Tavrin::CReaderBinary::CReaderBinary";
constexpr const char* kFunctionRead = "Tavrin::CReaderBinary::Read";
constexpr const char* kFunctionDataRead = "Tavrin::CDataReader::Read";
constexpr const char* kFunctionReadBlobs = "Tavrin::CDataReader::readBlobs";
constexpr const char* kFunctionContainerRead = "Tavrin::CContainerReader::Read";

// Records nested deeper than this are refused, so that a hostile document cannot exhaust the
// stack.
constexpr unsigned int kMaxDepth = 1000;

// The address that a present blob of 0 bytes reports (its two ends equal, not null).
const unsigned char kNoBytes[1] = {0};

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

    void* Allocate(size_t size, size_t align = alignof(std::max_align_t)) {
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

// ---- Decoded values ----------------------------------------------------------------------

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

// Run of bytes or characters in the arena.
struct SRun {
    const void* data;
    uint64_t length;
};

// Date-time fields in the order of the setters: year, month, day, hour, minute, second,
// milliseconds.
struct SFields {
    uint16_t field[8];
};

// One value of an object. Scalars are kept in `a` as their bytes; texts and blobs as a run
// (a: address, b: length); date-times as packed fields; objects and containers as readers.
struct SEntry {
    uint32_t name;
    uint8_t tag;
    uint64_t a;
    uint64_t b;
};

}  // namespace

class CContainerReader;

// The values of one object.
class CDataReader final : public IDataReader {
public:
    CDataReader() noexcept = default;
    CDataReader(const SName* names, const SEntry* entries, uint32_t count, const uint32_t* index,
                uint32_t indexMask) noexcept
        : m_names(names), m_entries(entries), m_count(count), m_index(index), m_indexMask(indexMask) {}

    unsigned int GetNameCount() const override { return m_count; }
    const char* GetName(unsigned int index) const override {
        return index < m_count ? m_names[m_entries[index].name].text : nullptr;
    }

    SBlobRange Read(const char* name) override {
        const SEntry* e = Find(kTagBlob, name);
        if (!e) return {};
        const unsigned char* begin = reinterpret_cast<const unsigned char*>(e->a);
        return {begin, begin + e->b};
    }
    bool Read(const char* name, ISerializableContainer& value) override;
    bool Read(const char* name, ISerializable& value) override;
    bool Read(const char* name, IDateTime& value) override;
    bool Read(const char* name, std::wstring& value) override {
        const SEntry* e = Find(kTagWString, name);
        if (!e) return false;
        value.assign(reinterpret_cast<const wchar_t*>(e->a), e->b);
        return true;
    }
    bool Read(const char* name, std::string& value) override {
        const SEntry* e = Find(kTagString, name);
        if (!e) return false;
        value.assign(reinterpret_cast<const char*>(e->a), e->b);
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
        value = e->a != 0;
        return true;
    }

    // Hash of (tag, name) in the index of a large object.
    static uint32_t IndexHash(uint8_t tag, uint64_t nameHash) noexcept {
        return static_cast<uint32_t>(((nameHash ^ tag) * 0x9E3779B97F4A7C15ull) >> 32);
    }

private:
    // The last value of this kind stored under this name (the last one wins), or null.
    const SEntry* Find(uint8_t tag, const char* name) const noexcept {
        if (!name) name = "";
        if (m_index) {
            const size_t length = std::strlen(name);
            const uint64_t hash = HashText(name, length);
            for (uint32_t slot = IndexHash(tag, hash) & m_indexMask; m_index[slot];
                 slot = (slot + 1) & m_indexMask) {
                const SEntry& e = m_entries[m_index[slot] - 1];
                const SName& n = m_names[e.name];
                if (e.tag == tag && n.hash == hash && n.length == length &&
                    std::memcmp(n.text, name, length) == 0) {
                    return &e;
                }
            }
            return nullptr;
        }
        // Few values: a scan from the end (the last value of a name wins) comparing the kind
        // first and the text only for values of that kind.
        for (uint32_t i = m_count; i-- > 0;) {
            const SEntry& e = m_entries[i];
            if (e.tag != tag) continue;
            const SName& n = m_names[e.name];
            if (n.text[0] == name[0] && n.plain && std::strcmp(n.text, name) == 0) return &e;
        }
        return nullptr;
    }

    template <class T>
    bool Get(uint8_t tag, const char* name, T& value) const noexcept {
        const SEntry* e = Find(tag, name);
        if (!e) return false;
        std::memcpy(&value, &e->a, sizeof(T));
        return true;
    }

    const SName* m_names = nullptr;
    const SEntry* m_entries = nullptr;
    uint32_t m_count = 0;
    const uint32_t* m_index = nullptr;  // open-addressed positions + 1, for large objects
    uint32_t m_indexMask = 0;
};

// The elements of one container: one array of the element kind.
class CContainerReader final : public IContainerReader {
public:
    CContainerReader() noexcept = default;
    CContainerReader(uint8_t tag, uint32_t count, const unsigned char* elements) noexcept
        : m_elements(elements), m_count(count), m_tag(tag) {}

    SBlobRange Read(unsigned int index) override {
        SRun run;
        if (!Get(kTagBlob, index, run)) return {};
        const unsigned char* begin = static_cast<const unsigned char*>(run.data);
        return {begin, begin + run.length};
    }
    bool Read(unsigned int index, ISerializableContainer& value) override {
        CContainerReader* child = nullptr;
        if (!Get(kTagContainer, index, child)) return false;
        value.Read(*child);
        return true;
    }
    bool Read(unsigned int index, ISerializable& value) override {
        CDataReader* child = nullptr;
        if (!Get(kTagObject, index, child)) return false;
        value.Read(*child);
        return true;
    }
    bool Read(unsigned int index, IDateTime& value) override {
        SFields f;
        if (!Get(kTagDateTime, index, f)) return false;
        value.SetYear(f.field[0]);
        value.SetMonth(f.field[1]);
        value.SetDay(f.field[2]);
        value.SetHour(f.field[3]);
        value.SetMinute(f.field[4]);
        value.SetSecond(f.field[5]);
        value.SetMilliseconds(f.field[6]);
        return true;
    }
    bool Read(unsigned int index, std::wstring& value) override {
        SRun run;
        if (!Get(kTagWString, index, run)) return false;
        value.assign(static_cast<const wchar_t*>(run.data), run.length);
        return true;
    }
    bool Read(unsigned int index, std::string& value) override {
        SRun run;
        if (!Get(kTagString, index, run)) return false;
        value.assign(static_cast<const char*>(run.data), run.length);
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
        if (m_tag != tag || index >= m_count) return false;
        std::memcpy(&value, m_elements + static_cast<size_t>(index) * sizeof(T), sizeof(T));
        return true;
    }

    const unsigned char* m_elements = nullptr;
    uint32_t m_count = 0;
    uint8_t m_tag = 0;
};

bool CDataReader::Read(const char* name, ISerializableContainer& value) {
    const SEntry* e = Find(kTagContainer, name);
    if (!e) return false;
    value.Read(*reinterpret_cast<CContainerReader*>(e->a));
    return true;
}

bool CDataReader::Read(const char* name, ISerializable& value) {
    const SEntry* e = Find(kTagObject, name);
    if (!e) return false;
    value.Read(*reinterpret_cast<CDataReader*>(e->a));
    return true;
}

bool CDataReader::Read(const char* name, IDateTime& value) {
    const SEntry* e = Find(kTagDateTime, name);
    if (!e) return false;
    SFields f;
    std::memcpy(f.field, &e->a, 8);
    std::memcpy(f.field + 4, &e->b, 8);
    value.SetYear(f.field[0]);
    value.SetMonth(f.field[1]);
    value.SetDay(f.field[2]);
    value.SetHour(f.field[3]);
    value.SetMinute(f.field[4]);
    value.SetSecond(f.field[5]);
    value.SetMilliseconds(f.field[6]);
    return true;
}

// Everything the reader keeps: the arena with the decoded tree, and the root.
struct CReaderBinary::SDocument {
    CArena arena;
    CDataReader emptyObject;
    CContainerReader emptyContainer;
    CDataReader* rootObject = nullptr;
    CContainerReader* rootContainer = nullptr;
};

namespace {

// Decodes the document from the stream into the arena; lives while the constructor runs.
class CLoader {
public:
    CLoader(QvStreamReadBinary& stream, CReaderBinary::SDocument& document)
        : m_stream(stream), m_document(document), m_arena(document.arena) {}

    void ReadNameTable();
    CDataReader* ReadObject(unsigned int depth);
    CContainerReader* ReadContainer(unsigned int depth);

private:
    static constexpr uint32_t kUnknown = 0xFFFFFFFFu;
    static constexpr uint32_t kIndexThreshold = 16;

    uint32_t Resolve(uint32_t id, unsigned int line, const char* function) const {
        uint32_t name = kUnknown;
        if (id < m_dense.size()) {
            name = m_dense[id];
        } else if (!m_sparse.empty()) {
            const auto it = m_sparse.find(id);
            if (it != m_sparse.end()) name = it->second;
        }
        if (name == kUnknown) throw CException(__FILE__, line, function);
        return name;
    }

    uint8_t U8() {
        uint8_t v = 0;
        m_stream.ReadUInt8(v);
        return v;
    }
    uint32_t U32() {
        uint32_t v = 0;
        m_stream.ReadUInt32(v);
        return v;
    }

    // Reads one value of a scalar kind (tags 0 to 11) and returns its bytes.
    uint64_t ReadScalar(uint8_t tag);
    SRun ReadString();
    SRun ReadWString();
    SFields ReadDateTime();
    // Reads up to `count` bytes into the arena; `delivered` tells how many came, `exact` whether
    // the stream reported exactly the number asked for (a stream may claim more than it was
    // asked for; only the bytes asked for are kept).
    const unsigned char* ReadBytes(uint32_t count, uint64_t& delivered, bool& exact);

    QvStreamReadBinary& m_stream;
    CReaderBinary::SDocument& m_document;
    CArena& m_arena;

    const SName* m_names = nullptr;
    std::vector<uint32_t> m_dense;                    // identifier -> name, for compact identifiers
    std::unordered_map<uint32_t, uint32_t> m_sparse;  // the same for scattered ones

    std::vector<SEntry> m_entries;          // entries of the objects being read
    std::vector<unsigned char> m_elements;  // elements of the containers being read
    std::string m_text;
    std::wstring m_wideText;
    std::vector<unsigned char> m_blob;
    QvDateTime m_dateTime;
};

void CLoader::ReadNameTable() {
    const uint32_t count = U32();
    // Identifiers may repeat (the last text counts) and texts may repeat (one name, several
    // identifiers); every distinct text becomes one name.
    std::vector<std::pair<uint32_t, uint32_t>> pairs;  // identifier, name
    std::vector<SName> names;
    std::unordered_map<std::string_view, uint32_t> byText;
    QvStringA text;
    uint32_t largest = 0;
    for (uint32_t i = 0; i < count; ++i) {
        m_stream.ReadStringA(text);
        const uint32_t id = U32();
        const std::string& s = text.Str();
        auto found = byText.find(s);
        uint32_t name;
        if (found != byText.end()) {
            name = found->second;
        } else {
            char* copy = static_cast<char*>(m_arena.Allocate(s.size() + 1, 1));
            if (!s.empty()) std::memcpy(copy, s.data(), s.size());
            copy[s.size()] = '\0';
            name = static_cast<uint32_t>(names.size());
            names.push_back({copy, s.size(), HashText(copy, s.size()), std::strlen(copy) == s.size()});
            byText.emplace(std::string_view(copy, s.size()), name);
        }
        pairs.emplace_back(id, name);
        largest = std::max(largest, id);
    }
    m_names = m_arena.Copy(names.data(), names.size());
    if (pairs.empty()) return;
    if (largest < pairs.size() * 2 + 64) {
        m_dense.assign(static_cast<size_t>(largest) + 1, kUnknown);
        for (const auto& [id, name] : pairs) m_dense[id] = name;
    } else {
        for (const auto& [id, name] : pairs) m_sparse[id] = name;
    }
}

uint64_t CLoader::ReadScalar(uint8_t tag) {
    uint64_t bits = 0;
    switch (tag) {
        case kTagBool: {
            bool v = false;
            m_stream.ReadBool(v);
            bits = v ? 1 : 0;
            break;
        }
        case kTagChar: {
            char v = 0;
            m_stream.ReadChar(v);
            std::memcpy(&bits, &v, sizeof v);
            break;
        }
        case kTagUInt8: {
            uint8_t v = 0;
            m_stream.ReadUInt8(v);
            bits = v;
            break;
        }
        case kTagInt8: {
            int8_t v = 0;
            m_stream.ReadInt8(v);
            std::memcpy(&bits, &v, sizeof v);
            break;
        }
        case kTagUInt16: {
            uint16_t v = 0;
            m_stream.ReadUInt16(v);
            bits = v;
            break;
        }
        case kTagInt16: {
            int16_t v = 0;
            m_stream.ReadInt16(v);
            std::memcpy(&bits, &v, sizeof v);
            break;
        }
        case kTagUInt32: {
            uint32_t v = 0;
            m_stream.ReadUInt32(v);
            bits = v;
            break;
        }
        case kTagInt32: {
            int32_t v = 0;
            m_stream.ReadInt32(v);
            std::memcpy(&bits, &v, sizeof v);
            break;
        }
        case kTagUInt64: {
            uint64_t v = 0;
            m_stream.ReadUInt64(v);
            bits = v;
            break;
        }
        case kTagInt64: {
            int64_t v = 0;
            m_stream.ReadInt64(v);
            std::memcpy(&bits, &v, sizeof v);
            break;
        }
        case kTagFloat: {
            float v = 0;
            m_stream.ReadFloat(v);
            std::memcpy(&bits, &v, sizeof v);
            break;
        }
        default: {  // kTagDouble
            double v = 0;
            m_stream.ReadDouble(v);
            std::memcpy(&bits, &v, sizeof v);
            break;
        }
    }
    return bits;
}

SRun CLoader::ReadString() {
    m_stream.ReadStdString(m_text);
    char* copy = static_cast<char*>(m_arena.Allocate(m_text.size() + 1, 1));
    if (!m_text.empty()) std::memcpy(copy, m_text.data(), m_text.size());
    copy[m_text.size()] = '\0';
    return {copy, m_text.size()};
}

SRun CLoader::ReadWString() {
    m_stream.ReadStdWString(m_wideText);
    const size_t n = m_wideText.size();
    wchar_t* copy = static_cast<wchar_t*>(m_arena.Allocate((n + 1) * sizeof(wchar_t), alignof(wchar_t)));
    if (n) std::memcpy(copy, m_wideText.data(), n * sizeof(wchar_t));
    copy[n] = L'\0';
    return {copy, n};
}

SFields CLoader::ReadDateTime() {
    m_dateTime.ReadFromStream(m_stream);
    return {{m_dateTime.GetYear(), m_dateTime.GetMonth(), m_dateTime.GetDay(), m_dateTime.GetHour(),
             m_dateTime.GetMinute(), m_dateTime.GetSecond(), m_dateTime.GetMilliseconds(), 0}};
}

const unsigned char* CLoader::ReadBytes(uint32_t count, uint64_t& delivered, bool& exact) {
    exact = true;
    if (count == 0) {
        delivered = 0;
        return kNoBytes;
    }
    constexpr uint32_t kPiece = 64 * 1024;
    if (count <= kPiece) {
        unsigned char* p = static_cast<unsigned char*>(m_arena.Allocate(count, 1));
        delivered = m_stream.ReadBytes(p, count);
        exact = delivered == count;
        if (delivered > count) delivered = count;
        return p;
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
    delivered = m_blob.size();
    if (m_blob.empty()) return kNoBytes;
    return m_arena.Copy(m_blob.data(), m_blob.size());
}

CDataReader* CLoader::ReadObject(unsigned int depth) {
    if (depth > kMaxDepth) throw CException(__FILE__, kLineObjectTooDeep, kFunctionDataRead);
    const uint8_t sections = U8();
    if (sections == 0) return &m_document.emptyObject;
    const size_t base = m_entries.size();
    for (unsigned int s = 0; s < sections; ++s) {
        const uint8_t tag = U8();
        if (tag >= kTagCount) throw CException(__FILE__, kLineSectionTag, kFunctionDataRead);
        const uint32_t count = U32();
        for (uint32_t i = 0; i < count; ++i) {
            SEntry e{Resolve(U32(), kLineUnknownName, kFunctionDataRead), tag, 0, 0};
            if (tag < kTagString) {
                e.a = ReadScalar(tag);
            } else {
                switch (tag) {
                    case kTagString:
                    case kTagWString: {
                        const SRun run = tag == kTagString ? ReadString() : ReadWString();
                        e.a = reinterpret_cast<uintptr_t>(run.data);
                        e.b = run.length;
                        break;
                    }
                    case kTagDateTime: {
                        const SFields f = ReadDateTime();
                        std::memcpy(&e.a, f.field, 8);
                        std::memcpy(&e.b, f.field + 4, 8);
                        break;
                    }
                    case kTagBlob: {
                        const uint32_t size = U32();
                        uint64_t delivered = 0;
                        bool exact = true;
                        const unsigned char* bytes = ReadBytes(size, delivered, exact);
                        if (!exact) {
                            throw CException(__FILE__, kLineShortBlob, kFunctionReadBlobs);
                        }
                        e.a = reinterpret_cast<uintptr_t>(bytes);
                        e.b = size;
                        break;
                    }
                    case kTagObject:
                        Resolve(U32(), kLineUnknownName, kFunctionDataRead);  // class name
                        e.a = reinterpret_cast<uintptr_t>(ReadObject(depth + 1));
                        break;
                    default:  // kTagContainer
                        e.a = reinterpret_cast<uintptr_t>(ReadContainer(depth + 1));
                        break;
                }
            }
            m_entries.push_back(e);
        }
    }
    const uint32_t n = static_cast<uint32_t>(m_entries.size() - base);
    const SEntry* entries = m_arena.Copy(m_entries.data() + base, n);
    m_entries.resize(base);

    // Large objects get an index of (kind, name) to the last entry of that name and kind.
    uint32_t* index = nullptr;
    uint32_t mask = 0;
    if (n > kIndexThreshold) {
        const uint32_t slots = std::bit_ceil(n * 2u);
        mask = slots - 1;
        index = static_cast<uint32_t*>(m_arena.Allocate(slots * sizeof(uint32_t), alignof(uint32_t)));
        std::memset(index, 0, slots * sizeof(uint32_t));
        for (uint32_t i = 0; i < n; ++i) {
            const SEntry& e = entries[i];
            const SName& name = m_names[e.name];
            uint32_t slot = CDataReader::IndexHash(e.tag, name.hash) & mask;
            for (; index[slot]; slot = (slot + 1) & mask) {
                const SEntry& other = entries[index[slot] - 1];
                if (other.tag == e.tag && other.name == e.name) break;
            }
            index[slot] = i + 1;
        }
    }
    return new (m_arena.Allocate(sizeof(CDataReader), alignof(CDataReader)))
        CDataReader(m_names, entries, n, index, mask);
}

CContainerReader* CLoader::ReadContainer(unsigned int depth) {
    if (depth > kMaxDepth) throw CException(__FILE__, kLineContainerTooDeep, kFunctionContainerRead);
    const uint8_t tag = U8();
    const uint32_t count = U32();
    if (count == 0) return &m_document.emptyContainer;
    if (tag == kTagObject) {
        bool same = false;
        m_stream.ReadBool(same);
        const uint32_t listed = same ? 1 : count;
        for (uint32_t i = 0; i < listed; ++i) {
            Resolve(U32(), kLineUnknownClassName, kFunctionContainerRead);
        }
    }
    if (tag >= kTagCount) throw CException(__FILE__, kLineElementTag, kFunctionContainerRead);

    const size_t base = m_elements.size();
    auto push = [this](const void* data, size_t size) {
        const size_t at = m_elements.size();
        m_elements.resize(at + size);
        std::memcpy(m_elements.data() + at, data, size);
    };
    size_t width = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (tag < kTagString) {
            const uint64_t bits = ReadScalar(tag);
            width = kScalarWidth[tag];
            push(&bits, width);
            continue;
        }
        switch (tag) {
            case kTagString:
            case kTagWString: {
                const SRun run = tag == kTagString ? ReadString() : ReadWString();
                width = sizeof run;
                push(&run, width);
                break;
            }
            case kTagDateTime: {
                const SFields f = ReadDateTime();
                width = sizeof f;
                push(&f, width);
                break;
            }
            case kTagBlob: {
                const uint32_t size = U32();
                SRun run{nullptr, 0};
                bool exact = true;  // not checked for elements: what arrived is kept
                run.data = ReadBytes(size, run.length, exact);
                width = sizeof run;
                push(&run, width);
                break;
            }
            case kTagObject: {
                Resolve(U32(), kLineUnknownClassName, kFunctionContainerRead);
                CDataReader* child = ReadObject(depth + 1);
                width = sizeof child;
                push(&child, width);
                break;
            }
            default: {  // kTagContainer
                CContainerReader* child = ReadContainer(depth + 1);
                width = sizeof child;
                push(&child, width);
                break;
            }
        }
    }
    const unsigned char* elements = m_arena.Copy(m_elements.data() + base, m_elements.size() - base);
    m_elements.resize(base);
    return new (m_arena.Allocate(sizeof(CContainerReader), alignof(CContainerReader)))
        CContainerReader(tag, count, elements);
}

}  // namespace

// ---- CReaderBinary ---------------------------------------------------------------------------

CReaderBinary::CReaderBinary(QvStreamReadBinary& stream) : m_document(std::make_unique<SDocument>()) {
    stream.ReadAndCompareVersion(0);
    uint8_t kind = 0;
    stream.ReadUInt8(kind);
    CLoader loader(stream, *m_document);
    loader.ReadNameTable();
    if (kind == kTagObject) {
        m_document->rootObject = loader.ReadObject(1);
    } else if (kind == kTagContainer) {
        m_document->rootContainer = loader.ReadContainer(1);
    } else {
        throw CException(__FILE__, kLineRootKind, kFunctionConstructor);
    }
}

CReaderBinary::~CReaderBinary() = default;

void CReaderBinary::Read(ISerializable& object) const {
    if (!m_document->rootObject) throw CException(__FILE__, kLineReadObject, kFunctionRead);
    object.Read(*m_document->rootObject);
}

void CReaderBinary::Read(ISerializableContainer& container) const {
    if (!m_document->rootContainer) throw CException(__FILE__, kLineReadContainer, kFunctionRead);
    container.Read(*m_document->rootContainer);
}

}  // namespace Tavrin
