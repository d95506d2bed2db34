#include <tavrin/creaderjson.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <tavrin/base64.h>
#include <tavrin/cexception.h>
#include <tavrin/encodings.h>
#include <tavrin/qvdatetime.h>
#include <tavrin/qvvariant.h>
#include "core/basepool/raise.h"
#include "core/tavrin/json/sjsonelement.h"

#include "core/platform/threadlocale.h"

namespace Tavrin {
namespace {

using Detail::ERaise;
using Detail::Raise;

// Deepest nesting of objects and arrays accepted, the document's own bracket included.
constexpr unsigned int kMaxDepth = 1000;

// Objects with more members than this get a hash index for lookups.
constexpr unsigned int kIndexThreshold = 16;

// isspace of the "C" locale: space, TAB, LF, VT, FF, CR. Bytes 0x80-0xFF never are.
constexpr std::array<bool, 256> kSpace = [] {
    std::array<bool, 256> table{};
    for (const unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'}) table[c] = true;
    return table;
}();

inline bool IsSpace(char c) { return kSpace[static_cast<unsigned char>(c)]; }

// Bytes that end an ordinary run inside a quoted string.
constexpr std::array<bool, 256> kStringStop = [] {
    std::array<bool, 256> table{};
    table[static_cast<unsigned char>('"')] = true;
    table[static_cast<unsigned char>('\\')] = true;
    table[0] = true;
    return table;
}();

// Bytes that end a bare value (besides its terminator): comma, white space, end of text.
constexpr std::array<bool, 256> kValueStop = [] {
    std::array<bool, 256> table = kSpace;
    table[static_cast<unsigned char>(',')] = true;
    table[0] = true;
    return table;
}();

// Advances over white space; the end of the text there is an error.
const char* SkipEmptyChars(const char* p) {
    while (IsSpace(*p)) ++p;
    if (*p == '\0') Raise(ERaise::JsonEndOfText);
    return p;
}

// `p` stands after an opening quote; returns the position of the closing quote. A backslash
// and the byte after it form a pair that never ends the string.
const char* ScanString(const char* p) {
    for (;;) {
        while (!kStringStop[static_cast<unsigned char>(*p)]) ++p;
        if (*p == '"') return p;
        if (*p == '\0' || p[1] == '\0') Raise(ERaise::JsonStringNotClosed);
        p += 2;
    }
}

// `p` stands on a bare value; returns the position of the byte that ends it: a comma, the
// terminator or white space. The end of the text inside the value is an error.
const char* ScanValue(const char* p, char terminator) {
    for (;;) {
        const char c = *p;
        if (kValueStop[static_cast<unsigned char>(c)] || c == terminator) {
            if (c == '\0') Raise(ERaise::JsonValueNotEnded);
            return p;
        }
        ++p;
    }
}

// The member-map hash of a name (h = h * 33 + byte as signed), low 32 bits.
unsigned int NameHash(const char* name, size_t length) {
    uint32_t hash = 0;
    for (size_t i = 0; i < length; ++i) {
        hash = hash * 33u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(name[i])));
    }
    return hash;
}

// Hash of the lookup index of large objects. Stronger than the member-map hash, so that a
// hostile document cannot make lookups quadratic as easily.
size_t IndexHash(std::string_view name) { return std::hash<std::string_view>{}(name); }

unsigned int IndexMask(unsigned int count) {
    return static_cast<unsigned int>(std::bit_ceil(static_cast<uint64_t>(count) * 2) - 1);
}

bool SameName(const SJsonMember& member, std::string_view name) {
    return member.nameLength == name.size() &&
           std::memcmp(member.name, name.data(), name.size()) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Node pool

struct CJsonNodePool::SBlock {
    SBlock* next;
};

namespace {
constexpr size_t kFirstBlockSize = 16 * 1024;
constexpr size_t kLargestBlockSize = 1024 * 1024;
constexpr size_t kNodeAlignment = alignof(std::max_align_t);
constexpr size_t kBlockHeader = (sizeof(void*) + kNodeAlignment - 1) & ~(kNodeAlignment - 1);
}  // namespace

CJsonNodePool::CJsonNodePool() : m_nextBlockSize(kFirstBlockSize) {}

CJsonNodePool::~CJsonNodePool() {
    while (m_blocks != nullptr) {
        SBlock* next = m_blocks->next;
        ::operator delete(static_cast<void*>(m_blocks));
        m_blocks = next;
    }
}

void* CJsonNodePool::Allocate(size_t size) {
    size = (size + kNodeAlignment - 1) & ~(kNodeAlignment - 1);
    if (static_cast<size_t>(m_end - m_next) < size) {
        const size_t blockSize = std::max(m_nextBlockSize, size + kBlockHeader);
        char* raw = static_cast<char*>(::operator new(blockSize));
        SBlock* block = reinterpret_cast<SBlock*>(raw);
        block->next = m_blocks;
        m_blocks = block;
        m_next = raw + kBlockHeader;
        m_end = raw + blockSize;
        m_nextBlockSize = std::min(m_nextBlockSize * 2, kLargestBlockSize);
    }
    void* result = m_next;
    m_next += size;
    return result;
}

// ---------------------------------------------------------------------------------------------
// Elements and the parser

SJsonElement::SJsonElement(unsigned int kind) : m_kind(kind) {
    if (kind != KindValue && kind != KindObject && kind != KindArray) {
        Raise(ERaise::JsonElementKind);
    }
    if (kind == KindValue) m_data = "";
}

const SJsonMember* SJsonElement::FindMember(std::string_view name) const noexcept {
    if (m_kind != KindObject) return nullptr;
    const SJsonMember* members = static_cast<const SJsonMember*>(m_data);
    if (m_index == nullptr) {
        for (unsigned int i = 0; i < m_size; ++i) {
            if (SameName(members[i], name)) return &members[i];
        }
        return nullptr;
    }
    const unsigned int mask = IndexMask(m_size);
    for (size_t slot = IndexHash(name) & mask;; slot = (slot + 1) & mask) {
        const unsigned int entry = m_index[slot];
        if (entry == 0) return nullptr;
        if (SameName(members[entry - 1], name)) return &members[entry - 1];
    }
}

// Builds the tree of one document. The members and elements of the blocks still open wait on
// two stacks and move into the pool when their block closes, so every block ends up as one
// contiguous array.
class CJsonParser {
public:
    explicit CJsonParser(CJsonNodePool& pool) : m_pool(&pool) {}

    const char* ParseObject(const char* p, SJsonElement& object) {
        p = SkipEmptyChars(p);
        if (*p != '{') Raise(ERaise::JsonObjectStart);
        p = SkipEmptyChars(p + 1);
        const size_t base = m_members.size();
        for (;;) {
            if (*p == '}') {
                CloseObject(object, base);
                return p + 1;
            }
            if (*p != '"') Raise(ERaise::JsonMemberName);
            const char* name = p + 1;
            const char* close = ScanString(name);
            p = SkipEmptyChars(close + 1);
            if (*p != ':') Raise(ERaise::JsonMemberColon);
            p = SkipEmptyChars(p + 1);
            SJsonElement element;
            p = ParseElement(p, '}', element);
            if (element.m_kind != SJsonElement::kKindNull) {
                const size_t length = static_cast<size_t>(close - name);
                m_members.push_back(SJsonMember{name, static_cast<unsigned int>(length),
                                                NameHash(name, length), element});
            }
            if (*p == ',') p = SkipEmptyChars(p + 1);
        }
    }

    const char* ParseArray(const char* p, SJsonElement& array) {
        if (*p == '\0') {
            SetChildren(array, SJsonElement::KindArray, nullptr, 0);
            return p;
        }
        p = SkipEmptyChars(p);
        if (*p != '[') Raise(ERaise::JsonArrayStart);
        p = SkipEmptyChars(p + 1);
        if (*p == ',') Raise(ERaise::JsonArrayLeadingComma);
        if (*p == ']') {
            SetChildren(array, SJsonElement::KindArray, nullptr, 0);
            return p + 1;
        }
        const size_t base = m_elements.size();
        for (;;) {
            SJsonElement element;
            p = ParseElement(p, ']', element);
            m_elements.push_back(element);
            if (*p == ',') {
                p = SkipEmptyChars(p + 1);
                if (*p == ']') Raise(ERaise::JsonArrayTrailingComma);
            }
            if (*p == ']') {
                CloseArray(array, base);
                return p + 1;
            }
        }
    }

private:
    // Parses the value at `p` (not white space) into `element` and returns the position after
    // it and the white space after it.
    const char* ParseElement(const char* p, char terminator, SJsonElement& element) {
        switch (*p) {
            case '"': {
                const char* close = ScanString(p + 1);
                SetText(element, p + 1, close, true);
                return SkipEmptyChars(close + 1);
            }
            case '[':
                Enter();
                p = ParseArray(p, element);
                --m_depth;
                return SkipEmptyChars(p);
            case '{':
                Enter();
                p = ParseObject(p, element);
                --m_depth;
                return SkipEmptyChars(p);
            default: {
                const char* end = ScanValue(p, terminator);
                if (end - p == 4 && std::memcmp(p, "null", 4) == 0) {
                    element.m_kind = SJsonElement::kKindNull;
                } else {
                    SetText(element, p, end, false);
                }
                return SkipEmptyChars(end);
            }
        }
    }

    void Enter() {
        if (m_depth >= kMaxDepth) Raise(ERaise::JsonNestingTooDeep);
        ++m_depth;
    }

    static void SetText(SJsonElement& element, const char* begin, const char* end, bool quoted) {
        element.m_kind = SJsonElement::KindValue;
        element.m_data = begin;
        element.m_size = static_cast<unsigned int>(end - begin);
        element.m_quoted = quoted;
    }

    static void SetChildren(SJsonElement& element, unsigned int kind, const void* data,
                            size_t count) {
        if (count > UINT32_MAX) throw std::length_error("JSON block with too many entries");
        element.m_kind = kind;
        element.m_data = data;
        element.m_size = static_cast<unsigned int>(count);
        element.m_index = nullptr;
        element.m_quoted = false;
    }

    void CloseArray(SJsonElement& array, size_t base) {
        const size_t count = m_elements.size() - base;
        void* storage = nullptr;
        if (count != 0) {
            storage = m_pool->Allocate(count * sizeof(SJsonElement));
            std::memcpy(storage, m_elements.data() + base, count * sizeof(SJsonElement));
        }
        m_elements.erase(m_elements.begin() + static_cast<std::ptrdiff_t>(base), m_elements.end());
        SetChildren(array, SJsonElement::KindArray, storage, count);
    }

    // A later member of an earlier member's name replaces its value in the earlier place.
    void CloseObject(SJsonElement& object, size_t base) {
        SJsonMember* members = m_members.data() + base;
        const size_t parsed = m_members.size() - base;
        size_t kept = 0;
        if (parsed <= kIndexThreshold) {
            for (size_t i = 0; i < parsed; ++i) {
                size_t j = 0;
                while (j < kept && !(members[j].hash == members[i].hash &&
                                     SameName(members[j], {members[i].name, members[i].nameLength}))) {
                    ++j;
                }
                if (j < kept) {
                    members[j].element = members[i].element;
                } else {
                    members[kept++] = members[i];
                }
            }
        } else {
            const unsigned int mask = IndexMask(static_cast<unsigned int>(parsed));
            m_seen.assign(static_cast<size_t>(mask) + 1, 0);
            for (size_t i = 0; i < parsed; ++i) {
                const std::string_view name(members[i].name, members[i].nameLength);
                size_t slot = IndexHash(name) & mask;
                while (m_seen[slot] != 0 && !SameName(members[m_seen[slot] - 1], name)) {
                    slot = (slot + 1) & mask;
                }
                if (m_seen[slot] != 0) {
                    members[m_seen[slot] - 1].element = members[i].element;
                } else {
                    members[kept] = members[i];
                    m_seen[slot] = static_cast<unsigned int>(++kept);
                }
            }
        }
        void* storage = nullptr;
        if (kept != 0) {
            storage = m_pool->Allocate(kept * sizeof(SJsonMember));
            std::memcpy(storage, members, kept * sizeof(SJsonMember));
        }
        m_members.erase(m_members.begin() + static_cast<std::ptrdiff_t>(base), m_members.end());
        SetChildren(object, SJsonElement::KindObject, storage, kept);
        if (kept > kIndexThreshold) object.m_index = BuildIndex(object);
    }

    const unsigned int* BuildIndex(const SJsonElement& object) {
        const unsigned int mask = IndexMask(object.m_size);
        unsigned int* index =
            static_cast<unsigned int*>(m_pool->Allocate((static_cast<size_t>(mask) + 1) * sizeof(unsigned int)));
        std::fill(index, index + mask + 1, 0u);
        const SJsonMember* members = static_cast<const SJsonMember*>(object.m_data);
        for (unsigned int i = 0; i < object.m_size; ++i) {
            size_t slot = IndexHash({members[i].name, members[i].nameLength}) & mask;
            while (index[slot] != 0) slot = (slot + 1) & mask;
            index[slot] = i + 1;
        }
        return index;
    }

    CJsonNodePool* m_pool;
    std::vector<SJsonMember> m_members;
    std::vector<SJsonElement> m_elements;
    std::vector<unsigned int> m_seen;
    unsigned int m_depth = 1;
};

const char* ParseObject(const char* text, SJsonElement& object, CJsonNodePool& pool) {
    if (std::strcmp(text, "null") == 0) {
        object = SJsonElement(SJsonElement::KindObject);
        return nullptr;
    }
    CJsonParser parser(pool);
    return parser.ParseObject(text, object);
}

const char* ParseArray(const char* text, SJsonElement& array, CJsonNodePool& pool) {
    CJsonParser parser(pool);
    return parser.ParseArray(text, array);
}

const char* ParseString(const char* p, std::string& text) {
    const char* close = ScanString(p);
    text.assign(p, static_cast<size_t>(close - p));
    return close + 1;
}

// ---------------------------------------------------------------------------------------------
// Value conversions

namespace {

bool IsAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// The wide text a bare value stands for: each byte one character, bytes 0x80-0xFF sign-extended
// to U+FF80-U+FFFF.
std::wstring WidenBare(std::string_view text) {
    std::wstring wide(text.size(), L'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        wide[i] = static_cast<wchar_t>(static_cast<uint16_t>(static_cast<signed char>(text[i])));
    }
    return wide;
}

void FromVariant(const QvVariant& v, char& target) { target = v.ToChar(); }
void FromVariant(const QvVariant& v, signed char& target) { target = v.ToInt8(); }
void FromVariant(const QvVariant& v, unsigned char& target) { target = v.ToUInt8(); }
void FromVariant(const QvVariant& v, short& target) { target = v.ToInt16(); }
void FromVariant(const QvVariant& v, unsigned short& target) { target = v.ToUInt16(); }
void FromVariant(const QvVariant& v, int& target) { target = v.ToInt32(); }
void FromVariant(const QvVariant& v, unsigned int& target) { target = v.ToUInt32(); }
void FromVariant(const QvVariant& v, long long& target) { target = v.ToInt64(); }
void FromVariant(const QvVariant& v, unsigned long long& target) { target = v.ToUInt64(); }
void FromVariant(const QvVariant& v, float& target) { target = v.ToFloat(); }
void FromVariant(const QvVariant& v, double& target) { target = v.ToDouble(); }

// What the variant holding the value's text gives for T: a quoted string is held as narrow
// text, a bare value as wide text. For ASCII text the wide form is the bytes themselves.
template <class T>
void ConvertValue(const SJsonElement& value, T& target) {
    const std::string_view text = value.GetText();
    if (value.IsQuoted()) {
        QvVariant::ConvertText(text, QvVariant::ETextForm::Narrow, target);
    } else if (IsAscii(text)) {
        QvVariant::ConvertText(text, QvVariant::ETextForm::Wide, target);
    } else {
        FromVariant(QvVariant(WidenBare(text)), target);
    }
}

// The value's text as a narrow string, escapes not yet decoded, into `out`.
void NarrowText(const SJsonElement& value, std::string& out) {
    const std::string_view text = value.GetText();
    if (value.IsQuoted() || IsAscii(text)) {
        out.assign(text.data(), text.size());
    } else {
        out = QvVariant(WidenBare(text)).ToStringA();
    }
}

// Decodes the escapes \" \/ \\ \b \f \n \r \t in place; any other backslash stays as it is.
void DecodeEscapes(std::string& text) {
    size_t in = text.find('\\');
    if (in == std::string::npos) return;
    char* s = text.data();
    const size_t n = text.size();
    size_t out = in;
    while (in < n) {
        const char c = s[in];
        if (c != '\\' || in + 1 == n) {
            s[out++] = c;
            ++in;
            continue;
        }
        char decoded;
        switch (s[in + 1]) {
            case '"': decoded = '"'; break;
            case '/': decoded = '/'; break;
            case '\\': decoded = '\\'; break;
            case 'b': decoded = '\b'; break;
            case 'f': decoded = '\f'; break;
            case 'n': decoded = '\n'; break;
            case 'r': decoded = '\r'; break;
            case 't': decoded = '\t'; break;
            default: decoded = 0; break;
        }
        if (decoded == 0) {
            s[out++] = '\\';
            ++in;
        } else {
            s[out++] = decoded;
            in += 2;
        }
    }
    text.resize(out);
}

// ---------------------------------------------------------------------------------------------
// Reading one element, shared by the object and the container reader. `value` is null when the
// name is absent, the index out of range or the element null.

template <class T>
bool ReadScalar(const SJsonElement* value, T& target) {
    if (value == nullptr || value->GetKind() != SJsonElement::KindValue) return false;
    ConvertValue(*value, target);
    return true;
}

bool ReadBool(const SJsonElement* value, bool& target) {
    if (value == nullptr || value->GetKind() != SJsonElement::KindValue) return false;
    // Only ASCII text can be "true" or "false", and ASCII text is its own narrow form.
    const std::string_view text = value->GetText();
    target = text == "true";
    return target || text == "false";
}

bool ReadString(const SJsonElement* value, std::string& target) {
    if (value == nullptr || value->GetKind() != SJsonElement::KindValue) return false;
    if (value->IsQuoted() || IsAscii(value->GetText())) {
        target.assign(value->GetText());  // all or nothing
    } else {
        std::string text;
        NarrowText(*value, text);
        target = std::move(text);
    }
    DecodeEscapes(target);
    return true;
}

bool ReadWide(const SJsonElement* value, std::wstring& target, std::string& scratch) {
    if (value == nullptr || value->GetKind() != SJsonElement::KindValue) return false;
    NarrowText(*value, scratch);
    DecodeEscapes(scratch);
    // Reserving first keeps the target as it was if memory runs out.
    target.reserve(scratch.size());
    target.clear();
    Encodings::AppendFromUTF8(target, scratch);
    return true;
}

bool ReadDateTime(const SJsonElement* value, IDateTime& target) {
    if (value == nullptr || value->GetKind() != SJsonElement::KindValue) return false;
    const std::string_view text = value->GetText();
    if (value->IsQuoted()) {
        target.Assign(QvDateTime(text, false));
    } else {
        const std::wstring wide = WidenBare(text);
        target.Assign(QvDateTime(std::wstring_view(wide), false));
    }
    return true;
}

// Decoded blobs of one reader, by member or element index.
class CBlobCache {
public:
    // The bytes of `value`, the element at `index` of `count`, decoded on the first call.
    SBlobRange Get(const SJsonElement* value, unsigned int index, unsigned int count) {
        if (value == nullptr || value->GetKind() != SJsonElement::KindValue) return {};
        if (m_slots.empty()) m_slots.assign(count, 0);
        if (m_slots[index] == 0) {
            m_blobs.push_back(Decode(*value));
            m_slots[index] = static_cast<unsigned int>(m_blobs.size());
        }
        const SBlob& blob = m_blobs[m_slots[index] - 1];
        return {blob.data.get(), blob.data.get() + blob.size};
    }

private:
    struct SBlob {
        std::unique_ptr<unsigned char[]> data;
        unsigned int size;
    };

    SBlob Decode(const SJsonElement& value) {
        // Base64 wants zero-terminated text, and may measure it, so the text is copied out of
        // the document rather than decoded in place.
        NarrowText(value, m_text);
        const char* text = m_text.c_str();
        const auto size = static_cast<unsigned int>(Base64::GetDecodedSize(text));
        SBlob blob{size != 0 ? std::make_unique_for_overwrite<unsigned char[]>(size) : nullptr,
                   size};
        Base64::Decode(text, blob.data.get(), size);  // throws for a size of 0
        return blob;
    }

    std::vector<unsigned int> m_slots;  // per index: 1 + position in m_blobs, 0 while not decoded
    std::vector<SBlob> m_blobs;
    std::string m_text;
};

// The order in which a member map (128 buckets to start, growing at three quarters load by
// doubling, new entries first in their bucket) hands out its keys, for keys inserted in
// document order.
std::vector<unsigned int> MemberMapOrder(const SJsonElement& object) {
    constexpr unsigned int kNone = 0xFFFFFFFFu;
    const unsigned int count = object.GetMemberCount();
    unsigned int buckets = 128;
    std::vector<unsigned int> head(buckets, kNone);
    std::vector<unsigned int> next(count, kNone);
    std::vector<unsigned int> order;
    order.reserve(count);
    const auto iterate = [&] {
        order.clear();
        for (const unsigned int first : head) {
            for (unsigned int i = first; i != kNone; i = next[i]) order.push_back(i);
        }
    };
    for (unsigned int i = 0; i < count; ++i) {
        const unsigned int bucket = object.GetMember(i).hash & (buckets - 1);
        next[i] = head[bucket];
        head[bucket] = i;
        if ((i + 1) * 4u >= buckets * 3u) {
            iterate();
            buckets *= 2;
            head.assign(buckets, kNone);
            for (const unsigned int m : order) {
                const unsigned int bucket2 = object.GetMember(m).hash & (buckets - 1);
                next[m] = head[bucket2];
                head[bucket2] = m;
            }
        }
    }
    iterate();
    return order;
}

class CContainerReaderJson;

class CDataReaderJson final : public IDataReader {
public:
    explicit CDataReaderJson(const SJsonElement& object) : m_object(&object) {}
    CDataReaderJson(const CDataReaderJson&) = delete;
    CDataReaderJson& operator=(const CDataReaderJson&) = delete;

    unsigned int GetNameCount() const override { return m_object->GetMemberCount(); }

    // Null when `index` is not below GetNameCount().
    const char* GetName(unsigned int index) const override {
        if (index >= m_object->GetMemberCount()) return nullptr;
        if (m_nameOffsets.empty()) CollectNames();
        return m_names.c_str() + m_nameOffsets[index];
    }

    SBlobRange Read(const char* name) override {
        const SJsonMember* member = FindMember(name);
        if (member == nullptr) return {};
        const auto index = static_cast<unsigned int>(member - &m_object->GetMember(0));
        return m_blobs.Get(&member->element, index, m_object->GetMemberCount());
    }
    bool Read(const char* name, ISerializableContainer& value) override;
    bool Read(const char* name, ISerializable& value) override;
    bool Read(const char* name, IDateTime& value) override {
        return ReadDateTime(Find(name), value);
    }
    bool Read(const char* name, std::wstring& value) override {
        return ReadWide(Find(name), value, m_scratch);
    }
    bool Read(const char* name, std::string& value) override {
        return ReadString(Find(name), value);
    }
    bool Read(const char* name, char& value) override { return ReadScalar(Find(name), value); }
    bool Read(const char* name, double& value) override { return ReadScalar(Find(name), value); }
    bool Read(const char* name, float& value) override { return ReadScalar(Find(name), value); }
    bool Read(const char* name, long long& value) override {
        return ReadScalar(Find(name), value);
    }
    bool Read(const char* name, unsigned long long& value) override {
        return ReadScalar(Find(name), value);
    }
    bool Read(const char* name, int& value) override { return ReadScalar(Find(name), value); }
    bool Read(const char* name, unsigned int& value) override {
        return ReadScalar(Find(name), value);
    }
    bool Read(const char* name, short& value) override { return ReadScalar(Find(name), value); }
    bool Read(const char* name, unsigned short& value) override {
        return ReadScalar(Find(name), value);
    }
    bool Read(const char* name, signed char& value) override {
        return ReadScalar(Find(name), value);
    }
    bool Read(const char* name, unsigned char& value) override {
        return ReadScalar(Find(name), value);
    }
    bool Read(const char* name, bool& value) override { return ReadBool(Find(name), value); }

private:
    const SJsonMember* FindMember(const char* name) const {
        return name != nullptr ? m_object->FindMember(name) : nullptr;
    }
    const SJsonElement* Find(const char* name) const {
        const SJsonMember* member = FindMember(name);
        return member != nullptr ? &member->element : nullptr;
    }

    // Zero-terminated copies of the names, in the member map's order.
    void CollectNames() const {
        const std::vector<unsigned int> order = MemberMapOrder(*m_object);
        std::vector<unsigned int> offsets;
        offsets.reserve(order.size());
        std::string names;
        for (const unsigned int i : order) {
            const SJsonMember& member = m_object->GetMember(i);
            offsets.push_back(static_cast<unsigned int>(names.size()));
            names.append(member.name, member.nameLength);
            names.push_back('\0');
        }
        m_names = std::move(names);
        m_nameOffsets = std::move(offsets);
    }

    const SJsonElement* m_object;
    mutable std::string m_names;
    mutable std::vector<unsigned int> m_nameOffsets;
    CBlobCache m_blobs;
    std::string m_scratch;
};

class CContainerReaderJson final : public IContainerReader {
public:
    explicit CContainerReaderJson(const SJsonElement& array) : m_array(&array) {}
    CContainerReaderJson(const CContainerReaderJson&) = delete;
    CContainerReaderJson& operator=(const CContainerReaderJson&) = delete;

    SBlobRange Read(unsigned int index) override {
        if (index >= m_array->GetElementCount()) return {};
        return m_blobs.Get(m_array->GetElement(index), index, m_array->GetElementCount());
    }
    bool Read(unsigned int index, ISerializableContainer& value) override;
    bool Read(unsigned int index, ISerializable& value) override;
    bool Read(unsigned int index, IDateTime& value) override {
        return ReadDateTime(Find(index), value);
    }
    bool Read(unsigned int index, std::wstring& value) override {
        return ReadWide(Find(index), value, m_scratch);
    }
    bool Read(unsigned int index, std::string& value) override {
        return ReadString(Find(index), value);
    }
    bool Read(unsigned int index, char& value) override { return ReadScalar(Find(index), value); }
    bool Read(unsigned int index, double& value) override {
        return ReadScalar(Find(index), value);
    }
    bool Read(unsigned int index, float& value) override { return ReadScalar(Find(index), value); }
    bool Read(unsigned int index, long long& value) override {
        return ReadScalar(Find(index), value);
    }
    bool Read(unsigned int index, unsigned long long& value) override {
        return ReadScalar(Find(index), value);
    }
    bool Read(unsigned int index, int& value) override { return ReadScalar(Find(index), value); }
    bool Read(unsigned int index, unsigned int& value) override {
        return ReadScalar(Find(index), value);
    }
    bool Read(unsigned int index, short& value) override { return ReadScalar(Find(index), value); }
    bool Read(unsigned int index, unsigned short& value) override {
        return ReadScalar(Find(index), value);
    }
    bool Read(unsigned int index, signed char& value) override {
        return ReadScalar(Find(index), value);
    }
    bool Read(unsigned int index, unsigned char& value) override {
        return ReadScalar(Find(index), value);
    }
    bool Read(unsigned int index, bool& value) override { return ReadBool(Find(index), value); }

private:
    const SJsonElement* Find(unsigned int index) const {
        return index < m_array->GetElementCount() ? m_array->GetElement(index) : nullptr;
    }

    const SJsonElement* m_array;
    CBlobCache m_blobs;
    std::string m_scratch;
};

bool ReadObject(const SJsonElement* value, ISerializable& target) {
    if (value == nullptr || value->GetKind() != SJsonElement::KindObject) return false;
    CDataReaderJson reader(*value);
    target.Read(reader);
    return true;
}

bool ReadContainer(const SJsonElement* value, ISerializableContainer& target) {
    if (value == nullptr || value->GetKind() != SJsonElement::KindArray) return false;
    CContainerReaderJson reader(*value);
    target.Read(reader);
    return true;
}

bool CDataReaderJson::Read(const char* name, ISerializableContainer& value) {
    return ReadContainer(Find(name), value);
}

bool CDataReaderJson::Read(const char* name, ISerializable& value) {
    return ReadObject(Find(name), value);
}

bool CContainerReaderJson::Read(unsigned int index, ISerializableContainer& value) {
    return ReadContainer(Find(index), value);
}

bool CContainerReaderJson::Read(unsigned int index, ISerializable& value) {
    return ReadObject(Find(index), value);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CReaderJson

CReaderJson::CReaderJson(const char* text) : m_text(text) {}
CReaderJson::CReaderJson(const std::string& text) : m_text(text.c_str()) {}
CReaderJson::CReaderJson(std::string&& text)
    : m_owned(std::make_shared<const std::string>(std::move(text))), m_text(m_owned->c_str()) {}
CReaderJson::CReaderJson(const CReaderJson& other) = default;
CReaderJson& CReaderJson::operator=(const CReaderJson& other) = default;
CReaderJson::~CReaderJson() = default;

void CReaderJson::Read(ISerializable& object) const {
    const Platform::CThreadLocaleGuard cLocale;
    CJsonNodePool pool;
    SJsonElement root(SJsonElement::KindObject);
    ParseObject(m_text != nullptr ? m_text : "", root, pool);
    CDataReaderJson reader(root);
    object.Read(reader);
}

void CReaderJson::Read(ISerializableContainer& container) const {
    const Platform::CThreadLocaleGuard cLocale;
    CJsonNodePool pool;
    SJsonElement root(SJsonElement::KindArray);
    ParseArray(m_text != nullptr ? m_text : "", root, pool);
    CContainerReaderJson reader(root);
    container.Read(reader);
}

}  // namespace Tavrin
