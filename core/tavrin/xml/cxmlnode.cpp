// The tolerant XML parser and its element tree.
//
// A tree is a copy of the text, the element records and, for the few elements that hold more
// than children or one text, descriptions of their entries; all of it is freed together when
// the last handle into the tree goes away. The strings of the tree are pieces of the copy,
// decoded in place and ended by NULs written over the byte after each, and records refer to
// them by 32-bit offsets. While the parse runs, the open elements and the entries and finished
// children of each collect on scratch stacks; when an element ends, its children are stored
// as one run of records. All state belongs to the parse, so parses on different threads do
// not interfere.
#include "core/tavrin/xml/cxmlnode.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/basepool/chars.h"
#include "core/platform/memory.h"
#include "core/tavrin/common/arena.h"
#include "core/tavrin/xml/elementname.h"

namespace Tavrin {
namespace {

using Detail::CXmlTree;

constexpr int kMaxDepth = 1000;

struct SRawMarker {
    const char* open;
    size_t openLength;
    const char* close;
    size_t closeLength;
};

// Tried in this order wherever a token may start.
constexpr SRawMarker kRawMarkers[] = {
    {"<![CDATA[", 9, "]]>", 3}, {"<PRE>", 5, "</PRE>", 6}, {"<Script>", 8, "</Script>", 9},
    {"<!--", 4, "-->", 3},      {"<!DOCTYPE", 9, ">", 1},
};

// Byte classes of the scanner, one table lookup per byte on the hot loops.
enum : unsigned char {
    kByteSpace = 1,        // XML's white space: space, TAB, LF, CR (not the "C" locale's VT, FF)
    kByteContentStop = 2,  // ends a run of plain content bytes: "<", NUL, "&", non-ASCII bytes
};
struct SByteClassTable {
    unsigned char cls[256] = {};
    constexpr SByteClassTable() {
        for (unsigned char c : {' ', '\t', '\n', '\r'}) cls[c] |= kByteSpace;
        cls[0] |= kByteContentStop;
        cls[static_cast<unsigned char>('<')] |= kByteContentStop;
        cls[static_cast<unsigned char>('&')] |= kByteContentStop;
        for (int c = 0x80; c < 0x100; ++c) cls[c] |= kByteContentStop;
    }
};
constexpr SByteClassTable kByteClass;

inline bool IsXmlSpace(unsigned char c) { return (kByteClass.cls[c] & kByteSpace) != 0; }

inline unsigned char Lower(unsigned char c) { return Detail::ToLowerAscii(c); }

// Length of the UTF-8 character that starts with `lead`, as the scanner steps.
inline unsigned CharLength(unsigned char lead) {
    if (lead == 0) return 0;
    if (lead <= 0xC1) return 1;
    if (lead <= 0xDF) return 2;
    if (lead <= 0xEF) return 3;
    if (lead <= 0xF4) return 4;
    return 1;
}

// One character step from a non-NUL byte; never steps over the terminating NUL.
inline const char* Step(const char* p) {
    const unsigned length = CharLength(static_cast<unsigned char>(*p));
    const char* q = p + 1;
    for (unsigned k = 1; k < length && *q != '\0'; ++k) ++q;
    return q;
}

// The parser reads its own copy of the text, which is followed by this many zero bytes after
// its terminating NUL: content is scanned 16 bytes at a time anywhere up to that NUL, and
// names are compared a word at a time.
constexpr size_t kTextPadding = 16;

#if defined(__SSE2__)
// 0xFF where a byte of `v` equals `c`, 0 elsewhere.
inline __m128i BytesEqual(__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); }

// Bit k set where byte k of `v` has its top bit set.
inline unsigned TopBits(__m128i v) { return static_cast<unsigned>(_mm_movemask_epi8(v)); }

inline __m128i Load16(const char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
#endif

inline const char* SkipSpaces(const char* p) {
    while (IsXmlSpace(static_cast<unsigned char>(*p))) ++p;
    return p;
}

// The first byte from `p` on that ends a run of plain content (kByteContentStop).
inline const char* SkipContent(const char* p) {
#if defined(__SSE2__)
    for (;; p += 16) {
        const __m128i v = Load16(p);
        // A non-ASCII byte has its top bit set already.
        const unsigned stops =
            TopBits(_mm_or_si128(_mm_or_si128(BytesEqual(v, '<'), BytesEqual(v, '\0')),
                                 _mm_or_si128(BytesEqual(v, '&'), v)));
        if (stops != 0) return p + std::countr_zero(stops);
    }
#else
    while ((kByteClass.cls[static_cast<unsigned char>(*p)] & kByteContentStop) == 0) ++p;
    return p;
#endif
}

// Index of the raw-section marker that opens at `p`, or -1.
bool StartsWithIgnoringCase(const char* p, const SRawMarker& marker) {
    for (size_t k = 0; k < marker.openLength; ++k) {
        if (Lower(static_cast<unsigned char>(p[k])) !=
            Lower(static_cast<unsigned char>(marker.open[k])))
            return false;  // also stops at the terminating NUL
    }
    return true;
}

int MatchRawMarkerAfterLt(const char* p) {
    // The byte after "<" tells which markers may follow; table order among them is kept.
    switch (p[1]) {
        case '!':
            for (int i : {0, 3, 4}) {
                if (StartsWithIgnoringCase(p, kRawMarkers[i])) return i;
            }
            return -1;
        case 'P':
        case 'p': return StartsWithIgnoringCase(p, kRawMarkers[1]) ? 1 : -1;
        case 'S':
        case 's': return StartsWithIgnoringCase(p, kRawMarkers[2]) ? 2 : -1;
        default: return -1;
    }
}

// For the byte after "<": 1 when a marker may follow ("<!"), 2 when "<PRE>" may, 3 when
// "<Script>" may, 0 when none may.
struct SMarkerStartTable {
    unsigned char kind[256] = {};
    constexpr SMarkerStartTable() {
        kind[static_cast<unsigned char>('!')] = 1;
        kind[static_cast<unsigned char>('P')] = kind[static_cast<unsigned char>('p')] = 2;
        kind[static_cast<unsigned char>('S')] = kind[static_cast<unsigned char>('s')] = 3;
    }
};
constexpr SMarkerStartTable kMarkerStart;

// Whether the two bytes at `p` are `a` and `b` (lower-case letters) in either case.
inline bool NextLettersAre(const char* p, char a, char b) {
    return (static_cast<unsigned char>(p[0]) | 0x20) == static_cast<unsigned char>(a) &&
           (static_cast<unsigned char>(p[1]) | 0x20) == static_cast<unsigned char>(b);
}

// Most tags start with a name that opens no marker: reject those without a call, by the
// first three bytes after "<".
inline int MatchRawMarker(const char* p) {
    switch (kMarkerStart.kind[static_cast<unsigned char>(p[1])]) {
        case 0: return -1;
        case 2: return NextLettersAre(p + 2, 'r', 'e') ? MatchRawMarkerAfterLt(p) : -1;
        case 3: return NextLettersAre(p + 2, 'c', 'r') ? MatchRawMarkerAfterLt(p) : -1;
        default: return MatchRawMarkerAfterLt(p);
    }
}

// Bytes that a text token simply steps over: ASCII other than the bytes that may end it.
struct STextByteTable {
    bool plain[256] = {};
    constexpr STextByteTable() {
        for (int c = 1; c < 0x80; ++c) plain[c] = true;
        for (unsigned char c : {' ', '\t', '\n', '\r', '<', '=', '>', '/'}) plain[c] = false;
    }
};
constexpr STextByteTable kTextByte;

enum class ETokenKind {
    End,
    Raw,
    Quoted,
    ShortClose,
    EndTagStart,
    DeclarationStart,
    TagStart,
    Equals,
    TagClose,
    Text,
};

struct SToken {
    ETokenKind kind = ETokenKind::End;
    const char* begin = nullptr;
    const char* end = nullptr;
};

// Reads one token at `p` (after white space) and moves `p` past it.
SToken NextTokenAt(const char*& p);
inline SToken NextToken(const char*& p) {
    p = SkipSpaces(p);
    // A ">" right after a tag name is the usual next token: no call for it.
    if (*p == '>') {
        const char* begin = p++;
        return SToken{ETokenKind::TagClose, begin, p};
    }
    return NextTokenAt(p);
}

SToken NextTokenAt(const char*& p) {
    SToken token;
    token.begin = p;
    const char c = *p;
    switch (c) {
        case '\0':
            token.kind = ETokenKind::End;
            token.end = p;
            return token;
        case '<':
            if (MatchRawMarker(p) >= 0) {
                token.kind = ETokenKind::Raw;
            } else if (p[1] == '/') {
                token.kind = ETokenKind::EndTagStart;
            } else if (p[1] == '?') {
                token.kind = ETokenKind::DeclarationStart;
            } else {
                token.kind = ETokenKind::TagStart;
                p += 1;
                token.end = p;
                return token;
            }
            // A raw token is refused by every caller of this function, so its length is moot.
            p += 2;
            token.end = p;
            return token;
        case '"':
        case '\'': {
            const char* q = p + 1;
            while (*q != c && *q != '<' && *q != '\0') q = Step(q);
            if (*q == c) {
                token.kind = ETokenKind::Quoted;
                p = q + 1;
                token.end = p;
                return token;
            }
            break;  // no closing quote before "<" or the end: an ordinary text token
        }
        case '/':
            if (p[1] == '>') {
                token.kind = ETokenKind::ShortClose;
                p += 2;
                token.end = p;
                return token;
            }
            break;
        case '=':
            token.kind = ETokenKind::Equals;
            token.end = ++p;
            return token;
        case '>':
            token.kind = ETokenKind::TagClose;
            token.end = ++p;
            return token;
        default: break;
    }
    token.kind = ETokenKind::Text;
    for (;;) {
        const unsigned char d = static_cast<unsigned char>(*p);
        if (kTextByte.plain[d]) {
            ++p;
            continue;
        }
        if (d == '\0' || IsXmlSpace(d) || d == '<' || d == '=' || d == '>') break;
        if (d == '/' && p[1] == '>') break;
        p = d < 0x80 ? p + 1 : Step(p);
    }
    token.end = p;
    return token;
}

// The token at `p` where an element name is expected. Names are usually runs of plain ASCII
// bytes ended by ">" or white space: those are read here as NextToken would read them.
inline SToken NextNameToken(const char*& p) {
    const char* q = p;
    const auto c = static_cast<unsigned char>(*q);
    if (kTextByte.plain[c] && c != '"' && c != '\'') {
        do ++q;
        while (kTextByte.plain[static_cast<unsigned char>(*q)]);
        const auto d = static_cast<unsigned char>(*q);
        if (d == '>' || IsXmlSpace(d) || d == '<' || d == '=' || d == '\0') {
            const SToken token{ETokenKind::Text, p, q};
            p = q;
            return token;
        }
    }
    return NextToken(p);
}

// End-tag name `tag` (a token inside the text) closes the element `name`: equal ignoring
// case over the length of `name`, and the element name is not a prefix of a longer tag name.
inline bool EndTagMatches(const char* name, const char* tag) {
    size_t k = 0;
    for (; name[k] != '\0'; ++k) {
        // A NUL in the text differs from every byte of the name, so this stops in bounds.
        // End tags usually repeat the name exactly: compare letter case only on a difference.
        if (name[k] != tag[k] &&
            Lower(static_cast<unsigned char>(name[k])) != Lower(static_cast<unsigned char>(tag[k])))
            return false;
    }
    switch (tag[k]) {
        case ' ':
        case '\t':
        case '\n':
        case '\r':
        case '/':
        case '<':
        case '=':
        case '>': return true;
        default: return false;
    }
}

// True when [p, end) starts with `entity` ignoring case.
bool StartsWithEntity(const char* p, const char* end, std::string_view entity) {
    if (static_cast<size_t>(end - p) < entity.size()) return false;
    for (size_t k = 0; k < entity.size(); ++k) {
        if (Lower(static_cast<unsigned char>(p[k])) != static_cast<unsigned char>(entity[k]))
            return false;
    }
    return true;
}

// Decodes the entity and character references of [begin, end) in place: the decoded text is
// never longer, so it is written from `begin` on. Returns the decoded length, or -1 for a
// malformed reference (the bytes are then left half decoded).
std::ptrdiff_t DecodeEntities(char* begin, const char* end, const char*& failed) {
    char* o = begin;
    const char* p = begin;
    while (p < end) {
        const char* amp =
            static_cast<const char*>(std::memchr(p, '&', static_cast<size_t>(end - p)));
        if (amp == nullptr) {
            std::memmove(o, p, static_cast<size_t>(end - p));
            o += end - p;
            break;
        }
        std::memmove(o, p, static_cast<size_t>(amp - p));
        o += amp - p;
        p = amp + 1;
        if (p < end && *p == '#') {
            ++p;
            unsigned base = 10;
            if (p < end && (*p == 'x' || *p == 'X')) {
                base = 16;
                ++p;
            }
            unsigned value = 0;
            const char* digits = p;
            while (p < end && *p != ';') {
                const unsigned digit = Detail::DigitValue(*p);
                if (digit >= base) return failed = amp, -1;
                value = (value * base + digit) & 0xFFFFu;
                ++p;
            }
            if (p == end || p == digits) return failed = amp, -1;  // no ";" or no digit at all
            ++p;
            *o++ = static_cast<char>(static_cast<unsigned char>(value & 0xFFu));
            continue;
        }
        static constexpr struct {
            std::string_view text;
            char replacement;
        } kEntities[] = {
            {"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}, {"quot;", '"'}, {"apos;", '\''}};
        bool known = false;
        for (const auto& entity : kEntities) {
            if (StartsWithEntity(p, end, entity.text)) {
                *o++ = entity.replacement;
                p += entity.text.size();
                known = true;
                break;
            }
        }
        if (!known) return failed = amp, -1;
    }
    return o - begin;
}

// Whether [a, a + length) and [b, b + length) hold the same bytes. Reads up to 7 bytes past
// both ranges: both lie in the parser's copy of the text, which is padded for this.
inline bool SameBytes(const char* a, const char* b, size_t length) {
    for (;; a += 8, b += 8, length -= 8) {
        std::uint64_t x = 0;
        std::uint64_t y = 0;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        if (length < 8) {
            if (length == 0) return true;
            // The first `length` bytes in memory are the low bytes of a little-endian word.
            const unsigned bits = static_cast<unsigned>(length) * 8;
            const std::uint64_t mask = std::endian::native == std::endian::little
                                           ? (std::uint64_t{1} << bits) - 1
                                           : ~std::uint64_t{0} << (64 - bits);
            return ((x ^ y) & mask) == 0;
        }
        if (x != y) return false;
    }
}

// A growable array of plain items for the entries of the open elements: pushes stay inline
// and the storage only grows while the parse runs.
template <class T>
class CScratch {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    CScratch()
        : m_storage(std::make_unique<T[]>(kFirstCapacity)),
          m_begin(m_storage.get()),
          m_end(m_begin),
          m_capacityEnd(m_begin + kFirstCapacity) {}
    CScratch(const CScratch&) = delete;
    CScratch& operator=(const CScratch&) = delete;

    size_t size() const noexcept { return static_cast<size_t>(m_end - m_begin); }
    bool empty() const noexcept { return m_end == m_begin; }
    T& back() noexcept { return m_end[-1]; }
    const T& back() const noexcept { return m_end[-1]; }
    void push_back(const T& item) {
        if (m_end == m_capacityEnd) Grow();
        *m_end++ = item;
    }
    // A new value-initialised item at the top.
    T& Emplace() {
        if (m_end == m_capacityEnd) Grow();
        *m_end = T{};
        return *m_end++;
    }
    void pop_back() noexcept { --m_end; }
    // Drops the last `count` items (at most size()) and returns them; they stay readable until
    // the next push.
    const T* PopTop(size_t count) noexcept { return m_end -= count; }

private:
    static constexpr size_t kFirstCapacity = 64;

    void Grow() {
        const size_t count = size();
        auto storage = std::make_unique<T[]>(count * 2);
        // NOLINTNEXTLINE(bugprone-sizeof-expression): T may be a pointer type; its size is meant
        std::memcpy(storage.get(), m_begin, count * sizeof(T));
        m_storage = std::move(storage);
        m_begin = m_storage.get();
        m_end = m_begin + count;
        m_capacityEnd = m_begin + count * 2;
    }

    std::unique_ptr<T[]> m_storage;
    T* m_begin;
    T* m_end;
    T* m_capacityEnd;
};

}  // namespace

namespace Detail {

CXmlTree::~CXmlTree() {
    for (SXmlNodeData* block : m_blocks) ::operator delete(block);
    ::operator delete(m_text);
}

SXmlClear CXmlTree::ClearAt(const SXmlNodeData& node, int index) const noexcept {
    const unsigned kind = Kind(node);
    if (kind == kExtra) {
        const SXmlNodeExtra& extra = *m_extras[node.value];
        return index >= 0 && index < extra.clearCount ? extra.clears[index] : SXmlClear{};
    }
    if (kind < kRaw || index != 0) return SXmlClear{};
    const SRawMarker& marker = kRawMarkers[kind - kRaw];
    return SXmlClear{m_text + node.value, marker.open, marker.close};
}

// Fills a tree while the parser runs.
class CXmlTreeBuilder {
public:
    explicit CXmlTreeBuilder(CXmlTree& tree) noexcept : m_tree(tree) {}

    // The parser's copy of `length` bytes of `text`, ended by a NUL and kTextPadding more.
    char* CopyText(const char* text, size_t length) {
        auto* copy = static_cast<char*>(::operator new(length + 1 + kTextPadding));
        Platform::AdviseLargePages(copy, length);
        std::memcpy(copy, text, length);  // NOLINT(bugprone-not-null-terminated-result): below
        std::memset(copy + length, 0, 1 + kTextPadding);
        m_tree.m_text = copy;
        // A short text starts with a short first chunk of records, about one per 32 bytes.
        m_tree.m_firstChunkCapacity = static_cast<std::uint32_t>(
            std::min<size_t>(CXmlTree::kChunkSize, std::max<size_t>(16, length / 32)));
        return copy;
    }

    const SXmlNodeData& Record(std::uint32_t index) const noexcept { return m_tree.Record(index); }

    // Stores `count` records one after the other; returns the index of the first.
    std::uint32_t Append(const SXmlNodeData* records, std::uint32_t count) {
        const std::uint32_t first = m_tree.m_recordCount;
        // The usual case: a few records that fit into the chunk in use.
        if (first < m_roomEnd && count <= m_roomEnd - first) {
            SXmlNodeData* to = &m_tree.m_chunks.back()[first & (CXmlTree::kChunkSize - 1)];
            for (std::uint32_t i = 0; i < count; ++i) to[i] = records[i];
            m_tree.m_recordCount = first + count;
            return first;
        }
        return AppendSlow(records, count);
    }

private:
    // Records go to the chunk in use while they fit there; a run of records that does not fit
    // goes to new chunks of its own, one allocation for the whole run, so that every run is
    // consecutive in memory. The records skipped at the end of the chunk in use are zero.
    std::uint32_t AppendSlow(const SXmlNodeData* records, std::uint32_t count) {
        constexpr std::uint32_t kChunk = CXmlTree::kChunkSize;
        std::uint32_t first = m_tree.m_recordCount;
        // Every record stands for at least one byte of a text below 4 GiB.
        if (count > UINT32_MAX - 2 * kChunk - first) throw std::bad_alloc();
        if (first < kChunk && m_tree.m_firstChunkCapacity < kChunk) {
            // While all records fit into one chunk, the first chunk grows as needed.
            if (count <= kChunk - first) {
                GrowFirstChunk(first + count);
                std::memcpy(m_tree.m_chunks[0] + first, records,
                            size_t{count} * sizeof(SXmlNodeData));
                m_tree.m_recordCount = first + count;
                return first;
            }
            GrowFirstChunk(kChunk);
        }
        if (first < m_roomEnd) {
            SXmlNodeData* rest = &m_tree.m_chunks.back()[first & (kChunk - 1)];
            std::memset(static_cast<void*>(rest), 0,
                        size_t{m_roomEnd - first} * sizeof(SXmlNodeData));
            first = m_roomEnd;
        }
        const std::uint32_t chunks = (count + kChunk - 1) / kChunk;
        // Room for the new entries first (growing geometrically), so that nothing can fail
        // between taking the block and recording it.
        Reserve(m_tree.m_chunks, chunks);
        Reserve(m_tree.m_blocks, 1);
        SXmlNodeData* block = NewChunk(chunks * kChunk);
        m_tree.m_blocks.push_back(block);
        for (std::uint32_t k = 0; k < chunks; ++k)
            m_tree.m_chunks.push_back(block + size_t{k} * kChunk);
        std::memcpy(block, records, size_t{count} * sizeof(SXmlNodeData));
        m_tree.m_recordCount = first + count;
        m_roomEnd = first + chunks * kChunk;
        return first;
    }

public:
    // Stores the description of a record with more than children, one text or one raw
    // section; returns its number.
    std::uint32_t AddExtra(const SXmlNodeExtra& extra) {
        const auto number = static_cast<std::uint32_t>(m_tree.m_extras.size());
        m_tree.m_extras.push_back(m_tree.m_arena.Make<SXmlNodeExtra>(extra));
        return number;
    }

    CArena& Arena() noexcept { return m_tree.m_arena; }

private:
    static void Reserve(std::vector<SXmlNodeData*>& items, size_t more) {
        if (items.capacity() - items.size() < more)
            items.reserve(std::max(items.size() + more, items.capacity() * 2));
    }

    static SXmlNodeData* NewChunk(std::uint32_t capacity) {
        return static_cast<SXmlNodeData*>(::operator new (size_t{capacity} * sizeof(SXmlNodeData)));
    }

    // Makes the first chunk hold at least `needed` records (at most a chunk): at first as
    // many as the text suggests, then twice as many each time. Only indexes refer to records
    // while the parse runs, so they may move.
    void GrowFirstChunk(std::uint32_t needed) {
        const std::uint32_t old = m_tree.m_chunks.empty() ? 0 : m_tree.m_firstChunkCapacity;
        if (old >= needed) return;
        const std::uint32_t capacity = std::min(
            CXmlTree::kChunkSize, std::max({needed, old * 2, m_tree.m_firstChunkCapacity}));
        SXmlNodeData* chunk = NewChunk(capacity);
        if (old == 0) {
            m_tree.m_chunks.reserve(1);
            m_tree.m_blocks.reserve(1);
            m_tree.m_chunks.push_back(chunk);
            m_tree.m_blocks.push_back(chunk);
        } else {
            std::memcpy(chunk, m_tree.m_chunks[0],
                        size_t{m_tree.m_recordCount} * sizeof(SXmlNodeData));
            ::operator delete(m_tree.m_chunks[0]);
            m_tree.m_chunks[0] = m_tree.m_blocks[0] = chunk;
        }
        m_tree.m_firstChunkCapacity = capacity;
        m_roomEnd = capacity;
    }

    CXmlTree& m_tree;
    std::uint32_t m_roomEnd = 0;  // the index after the last one the chunk in use holds
};

}  // namespace Detail

namespace {

using Detail::CXmlTree;
using Detail::CXmlTreeBuilder;

// The offset of a byte of the parser's copy of the text; the text is below 4 GiB.
inline std::uint32_t Offset(const char* text, const char* p) {
    return static_cast<std::uint32_t>(p - text);
}

// The parser works on its own copy of the text: names, texts, attribute values and raw
// sections stay where they stand in it, each ended by a NUL written over the byte after it.
// Such a byte is always one the scanner has passed already, so the scan never sees the NULs;
// where the string ends right before the next token, the NUL is written once that token has
// been read.
class CParser {
public:
    CParser(char* text, size_t length, CXmlTreeBuilder& builder)
        : m_text(text), m_textEnd(text + length), m_builder(builder) {}

    // Builds the tree; false when the text is malformed. `top` receives the index of the
    // top record.
    bool Run(std::uint32_t& top);
    // Where a malformed text stopped the parse: offset of the markup or text that failed.
    size_t GetStop() const noexcept { return m_stop; }

private:
    // An open element: its record so far (childCount counts the children closed so far) and
    // the counts of its other entries, which are the top items of the stacks of their kind.
    struct SOpen {
        SXmlNodeData node;
        int textCount = 0;
        int clearCount = 0;
        int attributeCount = 0;
        int orderCount = 0;  // entries of every kind
        // The children of an earlier element of the same name, which foretell the names of
        // this element's children (documents repeat their structure); none when 0.
        std::uint32_t modelFirst = 0;
        std::uint32_t modelCount = 0;
        std::uint32_t firstTextLength = 0;  // once textCount > 0
    };

    SOpen& Current() { return m_open.back(); }
    const SOpen& Current() const { return m_open.back(); }

    // Adds an entry of `kind` other than a child to the innermost open element, whose count
    // of that kind is `count`. While an element holds children only, their order entries are
    // implied: they are pushed when the first entry of another kind comes.
    template <class T>
    void AddEntry(SOpen& open, int& count, CScratch<T>& items, const T& item, int kind) {
        const auto children = static_cast<int>(open.node.childCount);
        if (open.orderCount == children) {
            for (int i = 0; i < children; ++i) m_order.push_back(ChildEntry(i));
        }
        m_order.push_back(static_cast<int>(static_cast<unsigned>(count) * 4 + kind));
        ++count;
        ++open.orderCount;
        items.push_back(item);
    }

    // The last `count` items of `items` moved into the arena; null for none.
    template <class T>
    const T* Take(CScratch<T>& items, int count) {
        if (count == 0) return nullptr;
        return m_builder.Arena().Copy(items.PopTop(static_cast<size_t>(count)),
                                      static_cast<size_t>(count));
    }

    // Decodes [begin, end) in place when it holds an "&"; returns where the decoded text
    // ends (the caller writes its NUL there), or null for a malformed reference.
    char* Decode(const char* begin, const char* end, bool entities) {
        if (!entities) return At(end);
        const std::ptrdiff_t length = DecodeEntities(At(begin), end, m_badEntity);
        return length < 0 ? nullptr : At(begin) + length;
    }

    // The length of the text [text, end) as a zero-terminated string: a reference "&#0;"
    // decodes to a NUL inside it; the text itself holds none.
    static std::uint32_t TextLength(const char* text, const char* end, bool decoded) {
        const void* nul =
            decoded ? std::memchr(text, '\0', static_cast<size_t>(end - text)) : nullptr;
        return static_cast<std::uint32_t>((nul != nullptr ? static_cast<const char*>(nul) : end) -
                                          text);
    }

    // Adds the text [text, end), `decoded` from entities; its NUL is written at `end` later.
    void AddText(const char* text, const char* end, bool decoded) {
        SOpen& open = Current();
        if (open.textCount == 0) open.firstTextLength = TextLength(text, end, decoded);
        AddEntry(open, open.textCount, m_texts, text, 2);
    }

    void AddAttribute(const char* name, const char* value) {
        SOpen& open = Current();
        AddEntry(open, open.attributeCount, m_attributes, SXmlAttribute{name, value}, 1);
    }

    // Ends the innermost open element, whose finished record is `node` (its own record, which
    // stays readable until the next element opens): it becomes the last child of the element
    // around it, or, for the top record, the last record of the tree.
    void Finish(const SXmlNodeData& node) {
        m_open.pop_back();
        if (m_open.empty()) {
            m_top = m_builder.Append(&node, 1);
            return;
        }
        SOpen& parent = Current();
        const auto children = static_cast<int>(parent.node.childCount);
        if (parent.orderCount != children) m_order.push_back(ChildEntry(children));
        ++parent.node.childCount;
        ++parent.orderCount;
        m_children.push_back(node);
    }

    static int ChildEntry(int index) { return static_cast<int>(static_cast<unsigned>(index) * 4); }

    // Moves the entries of the innermost open element into the tree and closes it.
    void CloseCurrent();
    // The end tag at `tag` (after "</") repeats the innermost element's name exactly and
    // ends right there with ">": what ParseEndTag would read as the end of that element.
    bool IsExactEndTag(const char* tag) const {
        const SXmlNodeData& node = Current().node;
        const size_t length = CXmlTree::NameLength(node);
        return length != 0 && static_cast<size_t>(m_textEnd - tag) > length && tag[length] == '>' &&
               SameBytes(tag, m_text + node.name, length);
    }
    // The name of `element` stands at `p`, followed by ">" or white space: the tokenizer would
    // read the same name there (see SXmlNodeData::bits).
    bool NameStandsAt(const SXmlNodeData& element, const char* p) const {
        const size_t length = CXmlTree::NameLength(element);
        if (length == 0 || static_cast<size_t>(m_textEnd - p) <= length) return false;
        const auto stop = static_cast<unsigned char>(p[length]);
        return (stop == '>' || IsXmlSpace(stop)) && SameBytes(p, m_text + element.name, length);
    }
    // The element whose name the start tag at `p` repeats, as foretold by the model of the
    // innermost open element or by that element's last child; null when neither comes true.
    // Valid until the next record is stored.
    const SXmlNodeData* ForetoldElement(const char* p) const {
        const SOpen& open = Current();
        const std::uint32_t index = open.node.childCount;
        if (index < open.modelCount) {
            const SXmlNodeData& model = m_builder.Record(open.modelFirst + index);
            if (NameStandsAt(model, p)) return &model;
        }
        if (index > 0 && NameStandsAt(m_children.back(), p)) return &m_children.back();
        return nullptr;
    }
    bool ParseStartTag(const char*& p, bool declaration);
    bool ParseEndTag(const char*& p);

    // The byte at `p` of the parser's own copy of the text, to be written.
    char* At(const char* p) const noexcept { return m_text + (p - m_text); }

    // A bad entity is reported where it starts, anything else where the parse stood.
    bool Fail(const char* p) noexcept {
        m_stop = static_cast<size_t>((m_badEntity != nullptr ? m_badEntity : p) - m_text);
        return false;
    }

    char* m_text;
    const char* m_textEnd;
    size_t m_stop = 0;
    const char* m_badEntity = nullptr;  // the "&" of an entity that did not decode
    CXmlTreeBuilder& m_builder;
    std::uint32_t m_top = 0;
    CScratch<SOpen> m_open;
    CScratch<SXmlNodeData> m_children;  // closed children of the open elements
    CScratch<const char*> m_texts;
    CScratch<SXmlClear> m_clears;
    CScratch<SXmlAttribute> m_attributes;
    CScratch<int> m_order;
};

void CParser::CloseCurrent() {
    SOpen& open = Current();
    SXmlNodeData& node = open.node;
    if (node.childCount != 0) {
        node.firstChild = m_builder.Append(m_children.PopTop(node.childCount), node.childCount);
    }
    // Most elements hold children only, or one text or raw section: those need no more.
    if (open.orderCount != static_cast<int>(node.childCount)) {
        const int* order = m_order.PopTop(static_cast<size_t>(open.orderCount));
        if (open.orderCount == 1 && open.textCount == 1) {
            node.value = Offset(m_text, *m_texts.PopTop(1));
            node.firstChild = open.firstTextLength;
            node.bits |= CXmlTree::kText;
        } else if (open.orderCount == 1 && open.clearCount == 1) {
            const SXmlClear& clear = *m_clears.PopTop(1);
            unsigned marker = 0;
            while (kRawMarkers[marker].open != clear.openMarker) ++marker;
            node.value = Offset(m_text, clear.value);
            node.firstChild = static_cast<std::uint32_t>(std::strlen(clear.value));
            node.bits |= static_cast<std::uint16_t>(CXmlTree::kRaw + marker);
        } else {
            SXmlNodeExtra extra;
            extra.texts = Take(m_texts, open.textCount);
            extra.clears = Take(m_clears, open.clearCount);
            extra.attributes = Take(m_attributes, open.attributeCount);
            extra.order = m_builder.Arena().Copy(order, static_cast<size_t>(open.orderCount));
            extra.textCount = open.textCount;
            extra.clearCount = open.clearCount;
            extra.attributeCount = open.attributeCount;
            extra.orderCount = open.orderCount;
            node.value = m_builder.AddExtra(extra);
            node.bits |= CXmlTree::kExtra;
        }
    }
    Finish(node);
}

// `p` stands after "<" or "<?". Reads the name and the attributes; an element closed by
// "/>" is closed here, one closed by ">" stays open for its content.
bool CParser::ParseStartTag(const char*& p, bool declaration) {
    // Most names repeat the name of an earlier element: compare them with it instead of
    // reading them byte by byte.
    const SXmlNodeData* model = ForetoldElement(p);
    SToken name;
    if (model != nullptr) {
        name = SToken{ETokenKind::Text, p, p + CXmlTree::NameLength(*model)};
        p = name.end;
    } else {
        name = NextNameToken(p);
        if (name.kind != ETokenKind::Text) return false;
    }
    if (m_open.size() > static_cast<size_t>(kMaxDepth)) return false;  // top record + 1,000

    SOpen& open = m_open.Emplace();
    open.node.name = Offset(m_text, name.begin);
    if (declaration) open.node.bits = CXmlTree::kDeclarationBit;
    if (model != nullptr) {
        open.node.bits |= model->bits & ~CXmlTree::kKindMask & ~CXmlTree::kDeclarationBit;
        open.node.nameKey = model->nameKey;
        open.modelFirst = model->firstChild;
        open.modelCount = model->childCount;
    } else {
        // An end tag that repeats the name and goes on with ">" is read by the tokenizer as
        // that name and ">", unless the name starts with a quote (which the tokenizer may
        // take for a quoted token) or ends with "/" (which would then stand before ">").
        const char first = name.begin[0];
        const auto length = static_cast<size_t>(name.end - name.begin);
        if (first != '"' && first != '\'' && name.end[-1] != '/' &&
            length < (size_t{1} << (16 - CXmlTree::kNameLengthShift)))
            open.node.bits |= static_cast<std::uint16_t>(length << CXmlTree::kNameLengthShift);
    }

    SToken token = NextToken(p);
    *At(name.end) = '\0';  // the token after the name has been read
    if (model == nullptr) {
        Current().node.nameKey = static_cast<std::uint16_t>(Detail::ElementNameKey(name.begin));
    }
    for (;;) {
        switch (token.kind) {
            case ETokenKind::TagClose: return true;
            case ETokenKind::ShortClose: CloseCurrent(); return true;
            case ETokenKind::Text: {
                const char* attributeName = token.begin;
                const char* attributeNameEnd = token.end;
                const SToken next = NextToken(p);
                if (next.kind == ETokenKind::Equals) {
                    const SToken value = NextToken(p);
                    const char* valueBegin = value.begin;
                    const char* valueEnd = value.end;
                    if (value.kind == ETokenKind::Quoted) {
                        ++valueBegin;
                        --valueEnd;
                    } else if (value.kind == ETokenKind::Text) {
                        if (declaration && valueEnd[-1] == '?') --valueEnd;
                    } else {
                        return false;
                    }
                    char* decodedEnd = Decode(valueBegin, valueEnd, true);
                    if (decodedEnd == nullptr) return false;
                    *At(attributeNameEnd) = '\0';
                    AddAttribute(attributeName, valueBegin);
                    token = NextToken(p);
                    *decodedEnd = '\0';  // an unquoted value may end right before `token`
                    continue;
                }
                if (next.kind == ETokenKind::TagClose || next.kind == ETokenKind::ShortClose) {
                    // "?>" ends a declaration: the "?" belongs to no attribute.
                    if (declaration && attributeNameEnd[-1] == '?') --attributeNameEnd;
                    *At(attributeNameEnd) = '\0';
                    if (attributeNameEnd != attributeName) AddAttribute(attributeName, nullptr);
                } else if (next.kind == ETokenKind::Text) {
                    *At(attributeNameEnd) = '\0';
                    AddAttribute(attributeName, nullptr);
                } else {
                    return false;
                }
                token = next;
                continue;
            }
            default: return false;  // also the end of the text inside a start tag
        }
    }
}

// `p` stands at "</". Closes open elements up to the one the end tag names.
bool CParser::ParseEndTag(const char*& p) {
    p += 2;
    const SToken name = NextToken(p);
    if (name.kind != ETokenKind::Text) return false;
    if (NextToken(p).kind != ETokenKind::TagClose) return false;
    for (;;) {
        if (m_open.size() == 1) return false;  // reached the top record: a stray end tag
        const bool matches = EndTagMatches(m_text + Current().node.name, name.begin);
        CloseCurrent();  // an element passed over ends with its end tag missing
        if (matches) return true;
    }
}

bool CParser::Run(std::uint32_t& top) {
    m_open.Emplace().node.name = CXmlTree::kNoName;

    const char* p = m_text;
    for (;;) {
        p = SkipSpaces(p);
        // A text segment runs from its first token to the next markup; the scan steps over
        // whole characters, as the tokens would, and notes whether an entity needs decoding.
        const char* segmentBegin = p;
        const char* segmentEnd = p;
        bool entities = false;
        if (*p != '<') {  // white space between elements is the usual content
            for (;;) {
                p = SkipContent(p);
                const unsigned char c = static_cast<unsigned char>(*p);
                if (c == '<' || c == '\0') break;
                if (c == '&') {
                    entities = true;
                    ++p;
                } else {
                    // A malformed character may step over an "&" as well.
                    const char* next = Step(p);
                    while (++p != next) entities = entities || *p == '&';
                }
            }
            // The segment ends after its last byte that is not white space (a malformed lead
            // byte may have stepped over white space: that is cut off as well).
            segmentEnd = p;
            while (segmentEnd != segmentBegin &&
                   IsXmlSpace(static_cast<unsigned char>(segmentEnd[-1])))
                --segmentEnd;
        }
        const bool hasText = segmentEnd != segmentBegin;

        if (*p == '\0') {
            if (hasText) {
                char* textEnd = Decode(segmentBegin, segmentEnd, entities);
                if (textEnd == nullptr) return Fail(p);
                *textEnd = '\0';
                AddText(segmentBegin, textEnd, entities);
            }
            break;
        }

        // No raw-section marker starts with "</".
        const int raw = p[1] == '/' ? -1 : MatchRawMarker(p);
        if (raw >= 0) {
            // Text before a raw section is kept as it stands.
            if (hasText) AddText(segmentBegin, segmentEnd, false);
            const SRawMarker& marker = kRawMarkers[raw];
            const char* contentBegin = p + marker.openLength;
            const std::string_view rest(contentBegin,
                                        static_cast<size_t>(m_textEnd - contentBegin));
            const size_t close = rest.find(std::string_view(marker.close, marker.closeLength));
            if (close == std::string_view::npos) return Fail(p);
            SOpen& open = Current();
            AddEntry(open, open.clearCount, m_clears,
                     SXmlClear{contentBegin, marker.open, marker.close}, 3);
            p = contentBegin + close + marker.closeLength;
            if (hasText) *At(segmentEnd) = '\0';
            *At(contentBegin + close) = '\0';
            continue;
        }

        char* textEnd = nullptr;
        if (hasText) {
            textEnd = Decode(segmentBegin, segmentEnd, entities);
            if (textEnd == nullptr) return Fail(p);
        }
        if (p[1] == '/' && IsExactEndTag(p + 2)) {
            // The usual end tag, read here without the tokenizer.
            const SOpen& open = Current();
            p += 2 + CXmlTree::NameLength(open.node) + 1;
            if (open.orderCount == 0) {
                // No entries before: the element holds this text at most.
                SXmlNodeData& node = Current().node;
                if (hasText) {
                    node.value = Offset(m_text, segmentBegin);
                    node.firstChild = TextLength(segmentBegin, textEnd, entities);
                    node.bits |= CXmlTree::kText;
                }
                Finish(node);
            } else {
                if (hasText) AddText(segmentBegin, textEnd, entities);
                CloseCurrent();
            }
        } else {
            if (hasText) AddText(segmentBegin, textEnd, entities);
            if (p[1] == '/') {
                if (!ParseEndTag(p)) return Fail(p);
            } else {
                const bool declaration = p[1] == '?';
                p += declaration ? 2 : 1;
                if (!ParseStartTag(p, declaration)) return Fail(p);
            }
        }
        // The markup after the text has been read: the text's end may be written now.
        if (hasText) *textEnd = '\0';
    }

    // The end of the text closes every open element; their end tags are simply missing.
    while (!m_open.empty()) CloseCurrent();
    top = m_top;
    return true;
}

}  // namespace

CXmlNode::CXmlNode(Detail::CXmlTree* tree, std::uint32_t index) noexcept
    : m_tree(tree), m_index(index) {
    if (m_tree != nullptr) ++m_tree->references;
}

CXmlNode::CXmlNode(const CXmlNode& other) noexcept : CXmlNode(other.m_tree, other.m_index) {}

CXmlNode::CXmlNode(CXmlNode&& other) noexcept : m_tree(other.m_tree), m_index(other.m_index) {
    other.m_tree = nullptr;
}

// Safe for self-assignment: the reference is taken before the old one is released.
// NOLINTNEXTLINE(bugprone-unhandled-self-assignment)
CXmlNode& CXmlNode::operator=(const CXmlNode& other) noexcept {
    CXmlTree* tree = other.m_tree;  // `other` may be this handle
    const std::uint32_t index = other.m_index;
    if (tree != nullptr) ++tree->references;
    Release();
    m_tree = tree;
    m_index = index;
    return *this;
}

CXmlNode& CXmlNode::operator=(CXmlNode&& other) noexcept {
    if (this != &other) {
        Release();
        m_tree = other.m_tree;
        m_index = other.m_index;
        other.m_tree = nullptr;
    }
    return *this;
}

CXmlNode::~CXmlNode() { Release(); }

void CXmlNode::Release() noexcept {
    if (m_tree != nullptr) {
        CXmlTree* tree = m_tree;
        m_tree = nullptr;
        if (--tree->references == 0) delete tree;
    }
}

CXmlNode CXmlNode::Parse(const char* text) { return Parse(text, nullptr); }

CXmlNode CXmlNode::Parse(const char* text, size_t* stop) {
    if (stop != nullptr) *stop = 0;
    if (text == nullptr) return CXmlNode();
    const size_t length = std::strlen(text);
    // Records hold 32-bit offsets into the text; CXmlTree::kNoName is none of them.
    if (length >= UINT32_MAX - kTextPadding) return CXmlNode();
    auto tree = std::make_unique<CXmlTree>();
    CXmlTreeBuilder builder(*tree);
    // The strings of the tree stay in this copy; the parser ends each with a NUL of its own.
    char* copy = builder.CopyText(text, length);
    CParser parser(copy, length, builder);
    std::uint32_t top = 0;
    if (!parser.Run(top)) {
        if (stop != nullptr) *stop = parser.GetStop();
        return CXmlNode();
    }
    const SXmlNodeData& record = tree->Record(top);
    std::uint32_t result = top;
    if (record.childCount == 1 && CXmlTree::Kind(record) == CXmlTree::kChildrenOnly)
        result = record.firstChild;
    CXmlNode node(tree.get(), result);
    static_cast<void>(tree.release());  // now owned by the handles
    return node;
}

const char* CXmlNode::GetName() const noexcept {
    return m_tree != nullptr ? m_tree->Name(m_tree->Record(m_index)) : nullptr;
}

bool CXmlNode::IsDeclaration() const noexcept {
    return m_tree != nullptr && CXmlTree::IsDeclaration(m_tree->Record(m_index));
}

int CXmlNode::GetChildCount() const noexcept {
    return m_tree != nullptr ? static_cast<int>(m_tree->Record(m_index).childCount) : 0;
}

CXmlNode CXmlNode::GetChild(int index) const noexcept {
    if (index < 0 || index >= GetChildCount()) return CXmlNode();
    return CXmlNode(m_tree, m_tree->Record(m_index).firstChild + static_cast<std::uint32_t>(index));
}

CXmlNode CXmlNode::GetChild(const char* name, int* start) const noexcept {
    if (m_tree == nullptr || name == nullptr) return CXmlNode();
    const SXmlNodeData& node = m_tree->Record(m_index);
    const std::uint16_t key = Detail::ElementNameKey(name);
    for (int i = (start != nullptr && *start > 0) ? *start : 0;
         i < static_cast<int>(node.childCount); ++i) {
        const std::uint32_t index = node.firstChild + static_cast<std::uint32_t>(i);
        const SXmlNodeData& child = m_tree->Record(index);
        if (child.nameKey == key && Detail::SameElementName(m_tree->Name(child), name)) {
            if (start != nullptr) *start = i + 1;
            return CXmlNode(m_tree, index);
        }
    }
    return CXmlNode();
}

CXmlNode CXmlNode::GetParent() const noexcept {
    if (m_tree == nullptr) return CXmlNode();
    // A record is stored when the element around it ends, and that element's record later.
    for (std::uint32_t i = m_index + 1; i < m_tree->RecordCount(); ++i) {
        const SXmlNodeData& record = m_tree->Record(i);
        if (record.childCount != 0 && record.firstChild <= m_index &&
            m_index - record.firstChild < record.childCount)
            return CXmlNode(m_tree, i);
    }
    return CXmlNode();
}

int CXmlNode::GetTextCount() const noexcept {
    return m_tree != nullptr ? m_tree->TextCount(m_tree->Record(m_index)) : 0;
}

const char* CXmlNode::GetText(int index) const noexcept {
    return m_tree != nullptr ? m_tree->TextAt(m_tree->Record(m_index), index) : nullptr;
}

int CXmlNode::GetClearCount() const noexcept {
    return m_tree != nullptr ? m_tree->ClearCount(m_tree->Record(m_index)) : 0;
}

SXmlClear CXmlNode::GetClear(int index) const noexcept {
    return m_tree != nullptr ? m_tree->ClearAt(m_tree->Record(m_index), index) : SXmlClear{};
}

int CXmlNode::GetAttributeCount() const noexcept {
    const SXmlNodeExtra* extra =
        m_tree != nullptr ? m_tree->Extra(m_tree->Record(m_index)) : nullptr;
    return extra != nullptr ? extra->attributeCount : 0;
}

SXmlAttribute CXmlNode::GetAttribute(int index) const noexcept {
    const SXmlNodeExtra* extra =
        m_tree != nullptr ? m_tree->Extra(m_tree->Record(m_index)) : nullptr;
    if (extra == nullptr || index < 0 || index >= extra->attributeCount) return SXmlAttribute{};
    return extra->attributes[index];
}

int CXmlNode::GetEntryCount() const noexcept {
    if (m_tree == nullptr) return 0;
    const SXmlNodeData& node = m_tree->Record(m_index);
    switch (CXmlTree::Kind(node)) {
        case CXmlTree::kChildrenOnly: return static_cast<int>(node.childCount);
        case CXmlTree::kExtra: return m_tree->Extra(node)->orderCount;
        default: return 1;  // one text or raw section
    }
}

int CXmlNode::GetEntry(int index) const noexcept {
    if (index < 0 || index >= GetEntryCount()) return -1;
    const SXmlNodeData& node = m_tree->Record(m_index);
    switch (CXmlTree::Kind(node)) {
        case CXmlTree::kChildrenOnly: return index * 4;
        case CXmlTree::kText: return 2;
        case CXmlTree::kExtra: return m_tree->Extra(node)->order[index];
        default: return 3;
    }
}

}  // namespace Tavrin
