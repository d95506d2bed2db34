// The tolerant XML parser and its element tree.
//
// A tree lives in one arena: a copy of the text and every record and array of a parse are
// carved out of a few large blocks that are freed together when the last handle into the tree
// goes away. The strings of the tree are pieces of that copy, decoded in place and ended by
// NULs written over the byte after each. While the parse runs, the entries of the open
// elements collect on scratch stacks; when an element ends, its entries are copied into the
// arena at their exact sizes (an element holding one text and nothing else keeps it in its
// record). All state belongs to the parse, so parses on different threads do not interfere.
#include "core/tavrin/xml/cxmlnode.h"

#include <bit>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/basepool/chars.h"
#include "core/tavrin/common/arena.h"
#include "core/tavrin/xml/elementname.h"

namespace Tavrin {
namespace Detail {

// The tree of a document takes a few times the size of its text: the copy of the text, then a
// first block the size of the text, and blocks that double up to 4 MiB.
class CXmlTree {
public:
    explicit CXmlTree(size_t textLength) : arena(textLength + 4096, size_t{4} << 20) {}
    int references = 0;
    CArena arena;
};

}  // namespace Detail

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

// The order array of an element whose only entry is its one text.
constexpr int kSingleTextOrder[1] = {0 * 4 + 2};

// The order array of an element that holds children only, up to this many.
constexpr int kChildrenOnlyLength = 64;
struct SChildrenOnlyOrder {
    int entries[kChildrenOnlyLength] = {};
    constexpr SChildrenOnlyOrder() {
        for (int i = 0; i < kChildrenOnlyLength; ++i) entries[i] = i * 4;
    }
};
constexpr SChildrenOnlyOrder kChildrenOnlyOrder;

// The parser works on its own copy of the text: names, texts, attribute values and raw
// sections stay where they stand in it, each ended by a NUL written over the byte after it.
// Such a byte is always one the scanner has passed already, so the scan never sees the NULs;
// where the string ends right before the next token, the NUL is written once that token has
// been read.
class CParser {
public:
    CParser(char* text, size_t length, CXmlTree* tree)
        : m_text(text), m_textEnd(text + length), m_tree(tree), m_arena(tree->arena) {}

    // Builds the tree; returns the top record, or null when the text is malformed.
    SXmlNodeData* Run();
    // Where a malformed text stopped the parse: offset of the markup or text that failed.
    size_t GetStop() const noexcept { return m_stop; }

private:
    // While an element is open, its record's counts count the entries gathered so far; the
    // entries themselves are the top items of the stacks of their kind.
    struct SOpen {
        SXmlNodeData* node;
        // An earlier element of the same name, whose children foretell the names of this
        // element's children (documents repeat their structure); null when none is known.
        const SXmlNodeData* model;
    };

    SXmlNodeData& Current() { return *m_open.back().node; }
    const SOpen& CurrentOpen() const { return m_open.back(); }

    void Open(SXmlNodeData* node, const SXmlNodeData* model) {
        m_open.push_back(SOpen{node, model});
    }

    // Adds an entry of `kind` other than a child to `node`, whose count of that kind is
    // `count`. While an element holds children only, their order entries are implied: they
    // are pushed when the first entry of another kind comes.
    template <class T>
    void AddEntry(SXmlNodeData& node, int& count, CScratch<T>& items, const T& item, int kind) {
        if (node.orderCount == node.childCount) {
            for (int i = 0; i < node.childCount; ++i) m_order.push_back(ChildEntry(i));
        }
        m_order.push_back(static_cast<int>(static_cast<unsigned>(count) * 4 + kind));
        ++count;
        ++node.orderCount;
        items.push_back(item);
    }

    // The last `count` items of `items` moved into the arena; null for none.
    template <class T>
    T* Take(CScratch<T>& items, int count) {
        if (count == 0) return nullptr;
        return m_arena.Copy(items.PopTop(static_cast<size_t>(count)), static_cast<size_t>(count));
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
    static size_t TextLength(const char* text, const char* end, bool decoded) {
        if (!decoded) return static_cast<size_t>(end - text);
        const void* nul = std::memchr(text, '\0', static_cast<size_t>(end - text));
        return static_cast<size_t>((nul != nullptr ? static_cast<const char*>(nul) : end) - text);
    }

    // Adds the text [text, end), `decoded` from entities; its NUL is written at `end` later.
    void AddText(const char* text, const char* end, bool decoded) {
        SXmlNodeData& node = Current();
        if (node.textCount == 0) node.firstTextLength = TextLength(text, end, decoded);
        AddEntry(node, node.textCount, m_texts, text, 2);
    }

    void AddAttribute(const char* name, const char* value) {
        SXmlNodeData& node = Current();
        AddEntry(node, node.attributeCount, m_attributes, SXmlAttribute{name, value}, 1);
    }

    // Makes the innermost open element a child of the one around it and closes it.
    void AddToParent(SXmlNodeData& node) {
        m_open.pop_back();
        if (!m_open.empty()) {
            SXmlNodeData& parent = Current();
            if (parent.orderCount != parent.childCount) {
                m_order.push_back(ChildEntry(parent.childCount));
            }
            ++parent.childCount;
            ++parent.orderCount;
            m_children.push_back(&node);
        }
    }

    static int ChildEntry(int index) { return static_cast<int>(static_cast<unsigned>(index) * 4); }

    // The order array of an element of `count` children and nothing else.
    const int* ChildrenOnlyOrder(int count) {
        if (count <= kChildrenOnlyLength) return kChildrenOnlyOrder.entries;
        int* order = m_arena.AllocateArray<int>(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) order[i] = ChildEntry(i);
        return order;
    }

    // Moves the entries of the innermost open element into the arena and closes it.
    void CloseCurrent();
    // The end tag at `tag` (after "</") repeats the innermost element's name exactly and
    // ends right there with ">": what ParseEndTag would read as the end of that element.
    bool IsExactEndTag(const char* tag) const {
        const size_t length = CurrentOpen().node->nameLength;
        return length != 0 && static_cast<size_t>(m_textEnd - tag) > length && tag[length] == '>' &&
               SameBytes(tag, CurrentOpen().node->name, length);
    }
    // The name of `element` stands at `p`, followed by ">" or white space: the tokenizer would
    // read the same name there (see SXmlNodeData::nameLength).
    bool NameStandsAt(const SXmlNodeData& element, const char* p) const {
        const size_t length = element.nameLength;
        if (length == 0 || static_cast<size_t>(m_textEnd - p) <= length) return false;
        const auto stop = static_cast<unsigned char>(p[length]);
        return (stop == '>' || IsXmlSpace(stop)) && SameBytes(p, element.name, length);
    }
    // The element whose name the start tag at `p` repeats, as foretold by the model of the
    // innermost open element or by that element's last child; null when neither comes true.
    const SXmlNodeData* ForetoldElement(const char* p) const {
        const SOpen& open = m_open.back();
        const int index = open.node->childCount;
        if (open.model != nullptr && index < open.model->childCount) {
            const SXmlNodeData* model = open.model->children[index];
            if (NameStandsAt(*model, p)) return model;
        }
        if (index > 0 && NameStandsAt(*m_children.back(), p)) return m_children.back();
        return nullptr;
    }
    bool ParseStartTag(const char*& p, bool declaration);
    bool ParseEndTag(const char*& p);

    // The byte at `p` of the parser's own copy of the text, to be written.
    char* At(const char* p) const noexcept { return m_text + (p - m_text); }

    // A bad entity is reported where it starts, anything else where the parse stood.
    SXmlNodeData* Fail(const char* p) noexcept {
        m_stop = static_cast<size_t>((m_badEntity != nullptr ? m_badEntity : p) - m_text);
        return nullptr;
    }

    char* m_text;
    const char* m_textEnd;
    size_t m_stop = 0;
    const char* m_badEntity = nullptr;  // the "&" of an entity that did not decode
    CXmlTree* m_tree;
    Detail::CArena& m_arena;
    CScratch<SOpen> m_open;
    CScratch<SXmlNodeData*> m_children;
    CScratch<const char*> m_texts;
    CScratch<SXmlClear> m_clears;
    CScratch<SXmlAttribute> m_attributes;
    CScratch<int> m_order;
};

void CParser::CloseCurrent() {
    SXmlNodeData& node = Current();
    // Most elements hold one kind of entry or two: copy only what is there.
    if (node.orderCount != 0) {
        node.children = Take(m_children, node.childCount);
        node.texts = Take(m_texts, node.textCount);
        node.clears = Take(m_clears, node.clearCount);
        node.attributes = Take(m_attributes, node.attributeCount);
        node.order = node.orderCount == node.childCount ? ChildrenOnlyOrder(node.childCount)
                                                        : Take(m_order, node.orderCount);
    }
    AddToParent(node);
}

// `p` stands after "<" or "<?". Reads the name and the attributes; an element closed by
// "/>" is closed here, one closed by ">" stays open for its content.
bool CParser::ParseStartTag(const char*& p, bool declaration) {
    // Most names repeat the name of an earlier element: compare them with it instead of
    // reading them byte by byte.
    const SXmlNodeData* model = ForetoldElement(p);
    SToken name;
    if (model != nullptr) {
        name = SToken{ETokenKind::Text, p, p + model->nameLength};
        p = name.end;
    } else {
        name = NextNameToken(p);
        if (name.kind != ETokenKind::Text) return false;
    }
    if (m_open.size() > static_cast<size_t>(kMaxDepth)) return false;  // top record + 1,000

    auto* node = m_arena.Make<SXmlNodeData>();
    node->name = name.begin;
    node->declaration = declaration;
    node->parent = &Current();
    node->tree = m_tree;
    if (model != nullptr) {
        node->nameLength = model->nameLength;
        node->nameKey = model->nameKey;
    } else {
        // An end tag that repeats the name and goes on with ">" is read by the tokenizer as
        // that name and ">", unless the name starts with a quote (which the tokenizer may
        // take for a quoted token) or ends with "/" (which would then stand before ">").
        const char first = name.begin[0];
        const auto length = static_cast<size_t>(name.end - name.begin);
        if (first != '"' && first != '\'' && name.end[-1] != '/' && length <= UINT_MAX)
            node->nameLength = static_cast<unsigned>(length);
    }
    Open(node, model);

    SToken token = NextToken(p);
    *At(name.end) = '\0';  // the token after the name has been read
    if (model == nullptr) node->nameKey = Detail::ElementNameKey(node->name);
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
        const bool matches = EndTagMatches(Current().name, name.begin);
        CloseCurrent();  // an element passed over ends with its end tag missing
        if (matches) return true;
    }
}

SXmlNodeData* CParser::Run() {
    auto* top = m_arena.Make<SXmlNodeData>();
    top->tree = m_tree;
    Open(top, nullptr);

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
            SXmlNodeData& node = Current();
            AddEntry(node, node.clearCount, m_clears,
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
            const SOpen& open = CurrentOpen();
            p += 2 + open.node->nameLength + 1;
            SXmlNodeData& node = *open.node;
            if (node.orderCount == 0) {
                // No entries before: the element holds this text at most.
                if (hasText) {
                    node.firstTextLength = TextLength(segmentBegin, textEnd, entities);
                    node.singleText = segmentBegin;
                    node.texts = &node.singleText;
                    node.textCount = 1;
                    node.order = kSingleTextOrder;
                    node.orderCount = 1;
                }
                AddToParent(node);
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
    return top;
}

}  // namespace

CXmlNode::CXmlNode(SXmlNodeData* data) noexcept : m_data(data) {
    if (m_data != nullptr) ++m_data->tree->references;
}

CXmlNode::CXmlNode(const CXmlNode& other) noexcept : CXmlNode(other.m_data) {}

CXmlNode::CXmlNode(CXmlNode&& other) noexcept : m_data(other.m_data) { other.m_data = nullptr; }

// Safe for self-assignment: the reference is taken before the old one is released.
// NOLINTNEXTLINE(bugprone-unhandled-self-assignment)
CXmlNode& CXmlNode::operator=(const CXmlNode& other) noexcept {
    SXmlNodeData* data = other.m_data;  // `other` may be this handle
    if (data != nullptr) ++data->tree->references;
    Release();
    m_data = data;
    return *this;
}

CXmlNode& CXmlNode::operator=(CXmlNode&& other) noexcept {
    if (this != &other) {
        Release();
        m_data = other.m_data;
        other.m_data = nullptr;
    }
    return *this;
}

CXmlNode::~CXmlNode() { Release(); }

void CXmlNode::Release() noexcept {
    if (m_data != nullptr) {
        CXmlTree* tree = m_data->tree;
        m_data = nullptr;
        if (--tree->references == 0) delete tree;
    }
}

CXmlNode CXmlNode::Parse(const char* text) { return Parse(text, nullptr); }

CXmlNode CXmlNode::Parse(const char* text, size_t* stop) {
    if (stop != nullptr) *stop = 0;
    if (text == nullptr) return CXmlNode();
    const size_t length = std::strlen(text);
    auto tree = std::make_unique<CXmlTree>(length);
    // The strings of the tree stay in this copy; the parser ends each with a NUL of its own.
    auto* copy = static_cast<char*>(tree->arena.Allocate(length + 1 + kTextPadding, 8));
    std::memcpy(copy, text, length);  // NOLINT(bugprone-not-null-terminated-result): the next line
    std::memset(copy + length, 0, 1 + kTextPadding);
    CParser parser(copy, length, tree.get());
    SXmlNodeData* top = parser.Run();
    if (top == nullptr) {
        if (stop != nullptr) *stop = parser.GetStop();
        return CXmlNode();
    }
    SXmlNodeData* result = top;
    if (top->orderCount == 1 && top->childCount == 1) result = top->children[0];
    CXmlNode node(result);
    static_cast<void>(tree.release());  // now owned by the handles
    return node;
}

const char* CXmlNode::GetName() const noexcept { return m_data ? m_data->name : nullptr; }

bool CXmlNode::IsDeclaration() const noexcept { return m_data != nullptr && m_data->declaration; }

int CXmlNode::GetChildCount() const noexcept { return m_data ? m_data->childCount : 0; }

CXmlNode CXmlNode::GetChild(int index) const noexcept {
    if (m_data == nullptr || index < 0 || index >= m_data->childCount) return CXmlNode();
    return CXmlNode(m_data->children[index]);
}

CXmlNode CXmlNode::GetChild(const char* name, int* start) const noexcept {
    if (m_data == nullptr || name == nullptr) return CXmlNode();
    const unsigned key = Detail::ElementNameKey(name);
    for (int i = (start != nullptr && *start > 0) ? *start : 0; i < m_data->childCount; ++i) {
        const SXmlNodeData& child = *m_data->children[i];
        if (child.nameKey == key && Detail::SameElementName(child.name, name)) {
            if (start != nullptr) *start = i + 1;
            return CXmlNode(m_data->children[i]);
        }
    }
    return CXmlNode();
}

CXmlNode CXmlNode::GetParent() const noexcept {
    return m_data ? CXmlNode(m_data->parent) : CXmlNode();
}

int CXmlNode::GetTextCount() const noexcept { return m_data ? m_data->textCount : 0; }

const char* CXmlNode::GetText(int index) const noexcept {
    if (m_data == nullptr || index < 0 || index >= m_data->textCount) return nullptr;
    return m_data->texts[index];
}

int CXmlNode::GetClearCount() const noexcept { return m_data ? m_data->clearCount : 0; }

SXmlClear CXmlNode::GetClear(int index) const noexcept {
    if (m_data == nullptr || index < 0 || index >= m_data->clearCount) return SXmlClear{};
    return m_data->clears[index];
}

int CXmlNode::GetAttributeCount() const noexcept { return m_data ? m_data->attributeCount : 0; }

SXmlAttribute CXmlNode::GetAttribute(int index) const noexcept {
    if (m_data == nullptr || index < 0 || index >= m_data->attributeCount) return SXmlAttribute{};
    return m_data->attributes[index];
}

int CXmlNode::GetEntryCount() const noexcept { return m_data ? m_data->orderCount : 0; }

int CXmlNode::GetEntry(int index) const noexcept {
    if (m_data == nullptr || index < 0 || index >= m_data->orderCount) return -1;
    return m_data->order[index];
}

}  // namespace Tavrin
