// The tolerant XML parser and its element tree.
//
// A tree lives in one arena: every record, array and string of a parse is carved out of a few
// large blocks that are freed together when the last handle into the tree goes away. While
// the parse runs, the entries of the open elements collect on scratch stacks; when an element
// ends, its entries are copied into the arena at their exact sizes. All state belongs to the
// parse, so parses on different threads do not interfere.
#include "core/tavrin/xml/cxmlnode.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

#include "core/basepool/chars.h"
#include "core/tavrin/common/arena.h"
#include "core/tavrin/common/bytestack.h"
#include "core/tavrin/xml/elementname.h"

namespace Tavrin {
namespace Detail {

// The tree of a document takes several times the size of its text: after a first block the
// size of the text, blocks double up to 4 MiB.
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
    kByteContentStop = 2,  // ends a run of plain content bytes: "<", NUL, any non-ASCII byte
};
struct SByteClassTable {
    unsigned char cls[256] = {};
    constexpr SByteClassTable() {
        for (unsigned char c : {' ', '\t', '\n', '\r'}) cls[c] |= kByteSpace;
        cls[0] |= kByteContentStop;
        cls[static_cast<unsigned char>('<')] |= kByteContentStop;
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

inline const char* SkipSpaces(const char* p) {
    while (IsXmlSpace(static_cast<unsigned char>(*p))) ++p;
    return p;
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

// Most tags start with a name letter that opens no marker: reject those without a call.
inline int MatchRawMarker(const char* p) {
    const unsigned char c = static_cast<unsigned char>(p[1]);
    if (c != '!' && (c | 0x20) != 'p' && (c | 0x20) != 's') return -1;
    return MatchRawMarkerAfterLt(p);
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

// Decodes the entity and character references of [begin, end) into `out` (room for
// end - begin bytes). Returns the decoded length, or -1 for a malformed reference.
std::ptrdiff_t DecodeEntities(const char* begin, const char* end, char* out, const char*& failed) {
    char* o = out;
    const char* p = begin;
    while (p < end) {
        const char* amp =
            static_cast<const char*>(std::memchr(p, '&', static_cast<size_t>(end - p)));
        if (amp == nullptr) {
            std::memcpy(o, p, static_cast<size_t>(end - p));
            o += end - p;
            break;
        }
        std::memcpy(o, p, static_cast<size_t>(amp - p));
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
    return o - out;
}

class CParser {
public:
    CParser(const char* text, size_t length, CXmlTree* tree)
        : m_text(text), m_textEnd(text + length), m_tree(tree), m_arena(tree->arena) {}

    // Builds the tree; returns the top record, or null when the text is malformed.
    SXmlNodeData* Run();
    // Where a malformed text stopped the parse: offset of the markup or text that failed.
    size_t GetStop() const noexcept { return m_stop; }

private:
    struct SOpen {
        SXmlNodeData* node;
        size_t childStart;
        size_t textStart;
        size_t clearStart;
        size_t attributeStart;
        size_t orderStart;
    };

    SXmlNodeData& Current() { return *m_open.back().node; }
    const SOpen& CurrentOpen() const { return m_open.back(); }

    void Open(SXmlNodeData* node) {
        m_open.push_back(SOpen{node, m_children.size(), m_texts.size(), m_clears.size(),
                               m_attributes.size(), m_order.size()});
    }

    void AddEntry(size_t start, size_t count, int kind) {
        m_order.push_back(static_cast<int>((count - start) * 4) + kind);
    }

    const char* CopyString(const char* begin, const char* end) {
        const size_t length = static_cast<size_t>(end - begin);
        char* s = static_cast<char*>(m_arena.Allocate(length + 1, 1));
        std::memcpy(s, begin, length);
        s[length] = '\0';
        return s;
    }

    const char* DecodeString(const char* begin, const char* end) {
        char* s = static_cast<char*>(m_arena.Allocate(static_cast<size_t>(end - begin) + 1, 1));
        const std::ptrdiff_t length = DecodeEntities(begin, end, s, m_badEntity);
        if (length < 0) return nullptr;
        s[length] = '\0';
        return s;
    }

    void AddText(const char* text) {
        AddEntry(CurrentOpen().textStart, m_texts.size(), 2);
        m_texts.push_back(text);
    }

    bool AddDecodedText(const char* begin, const char* end) {
        const char* text = DecodeString(begin, end);
        if (text == nullptr) return false;
        AddText(text);
        return true;
    }

    void AddAttribute(const char* nameBegin, const char* nameEnd, const char* value) {
        AddEntry(CurrentOpen().attributeStart, m_attributes.size(), 1);
        m_attributes.push_back(SXmlAttribute{CopyString(nameBegin, nameEnd), value});
    }

    // Moves the entries of the innermost open element into the arena and closes it.
    void CloseCurrent();
    bool ParseStartTag(const char*& p, bool declaration);
    bool ParseEndTag(const char*& p);

    // A bad entity is reported where it starts, anything else where the parse stood.
    SXmlNodeData* Fail(const char* p) noexcept {
        m_stop = static_cast<size_t>((m_badEntity != nullptr ? m_badEntity : p) - m_text);
        return nullptr;
    }

    const char* m_text;
    const char* m_textEnd;
    size_t m_stop = 0;
    const char* m_badEntity = nullptr;  // the "&" of an entity that did not decode
    CXmlTree* m_tree;
    Detail::CArena& m_arena;
    Detail::CStack<SOpen> m_open;
    Detail::CStack<SXmlNodeData*> m_children;
    Detail::CStack<const char*> m_texts;
    Detail::CStack<SXmlClear> m_clears;
    Detail::CStack<SXmlAttribute> m_attributes;
    Detail::CStack<int> m_order;
};

void CParser::CloseCurrent() {
    const SOpen open = m_open.back();
    SXmlNodeData& node = *open.node;
    // Most elements hold one text and nothing else: copy and trim only what is there.
    if (const size_t n = m_children.size() - open.childStart; n != 0) {
        node.childCount = static_cast<int>(n);
        node.children = m_arena.Copy(m_children.data() + open.childStart, n);
        m_children.resize(open.childStart);
    }
    if (const size_t n = m_texts.size() - open.textStart; n != 0) {
        node.textCount = static_cast<int>(n);
        node.texts = m_arena.Copy(m_texts.data() + open.textStart, n);
        m_texts.resize(open.textStart);
    }
    if (const size_t n = m_clears.size() - open.clearStart; n != 0) {
        node.clearCount = static_cast<int>(n);
        node.clears = m_arena.Copy(m_clears.data() + open.clearStart, n);
        m_clears.resize(open.clearStart);
    }
    if (const size_t n = m_attributes.size() - open.attributeStart; n != 0) {
        node.attributeCount = static_cast<int>(n);
        node.attributes = m_arena.Copy(m_attributes.data() + open.attributeStart, n);
        m_attributes.resize(open.attributeStart);
    }
    if (const size_t n = m_order.size() - open.orderStart; n != 0) {
        node.orderCount = static_cast<int>(n);
        node.order = m_arena.Copy(m_order.data() + open.orderStart, n);
        m_order.resize(open.orderStart);
    }
    m_open.pop_back();
    if (!m_open.empty()) {
        AddEntry(CurrentOpen().childStart, m_children.size(), 0);
        m_children.push_back(&node);
    }
}

// `p` stands after "<" or "<?". Reads the name and the attributes; an element closed by
// "/>" is closed here, one closed by ">" stays open for its content.
bool CParser::ParseStartTag(const char*& p, bool declaration) {
    const SToken name = NextToken(p);
    if (name.kind != ETokenKind::Text) return false;
    if (m_open.size() > static_cast<size_t>(kMaxDepth)) return false;  // top record + 1,000

    auto* node = m_arena.Make<SXmlNodeData>();
    node->name = CopyString(name.begin, name.end);
    node->declaration = declaration;
    node->parent = &Current();
    node->tree = m_tree;
    Open(node);

    SToken token = NextToken(p);
    for (;;) {
        switch (token.kind) {
            case ETokenKind::TagClose: return true;
            case ETokenKind::ShortClose: CloseCurrent(); return true;
            case ETokenKind::Text: {
                const char* nameBegin = token.begin;
                const char* nameEnd = token.end;
                const SToken next = NextToken(p);
                if (next.kind == ETokenKind::Equals) {
                    const SToken value = NextToken(p);
                    const char* decoded = nullptr;
                    if (value.kind == ETokenKind::Quoted) {
                        decoded = DecodeString(value.begin + 1, value.end - 1);
                    } else if (value.kind == ETokenKind::Text) {
                        const char* valueEnd = value.end;
                        if (declaration && valueEnd[-1] == '?') --valueEnd;
                        decoded = DecodeString(value.begin, valueEnd);
                    } else {
                        return false;
                    }
                    if (decoded == nullptr) return false;
                    AddAttribute(nameBegin, nameEnd, decoded);
                    token = NextToken(p);
                    continue;
                }
                if (next.kind == ETokenKind::TagClose || next.kind == ETokenKind::ShortClose) {
                    // "?>" ends a declaration: the "?" belongs to no attribute.
                    if (declaration && nameEnd[-1] == '?') --nameEnd;
                    if (nameEnd != nameBegin) AddAttribute(nameBegin, nameEnd, nullptr);
                } else if (next.kind == ETokenKind::Text) {
                    AddAttribute(nameBegin, nameEnd, nullptr);
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
    Open(top);

    const char* p = m_text;
    for (;;) {
        p = SkipSpaces(p);
        // A text segment runs from its first token to the next markup; the scan steps over
        // whole characters, as the tokens would, and remembers where the last token ended.
        const char* segmentBegin = p;
        for (;;) {
            const unsigned char c = static_cast<unsigned char>(*p);
            if ((kByteClass.cls[c] & kByteContentStop) == 0) {
                ++p;
            } else if (c == '<' || c == '\0') {
                break;
            } else {
                p = Step(p);
            }
        }
        // The segment ends after its last byte that is not white space (a malformed lead byte
        // may have stepped over white space: that is cut off as well).
        const char* segmentEnd = p;
        while (segmentEnd != segmentBegin && IsXmlSpace(static_cast<unsigned char>(segmentEnd[-1])))
            --segmentEnd;
        const bool hasText = segmentEnd != segmentBegin;

        if (*p == '\0') {
            if (hasText && !AddDecodedText(segmentBegin, segmentEnd)) return Fail(p);
            break;
        }

        const int raw = MatchRawMarker(p);
        if (raw >= 0) {
            // Text before a raw section is kept as it stands.
            if (hasText) AddText(CopyString(segmentBegin, segmentEnd));
            const SRawMarker& marker = kRawMarkers[raw];
            const char* contentBegin = p + marker.openLength;
            const std::string_view rest(contentBegin,
                                        static_cast<size_t>(m_textEnd - contentBegin));
            const size_t close = rest.find(std::string_view(marker.close, marker.closeLength));
            if (close == std::string_view::npos) return Fail(p);
            AddEntry(CurrentOpen().clearStart, m_clears.size(), 3);
            m_clears.push_back(SXmlClear{CopyString(contentBegin, contentBegin + close),
                                         marker.open, marker.close});
            p = contentBegin + close + marker.closeLength;
            continue;
        }

        if (hasText && !AddDecodedText(segmentBegin, segmentEnd)) return Fail(p);
        if (p[1] == '/') {
            if (!ParseEndTag(p)) return Fail(p);
        } else {
            const bool declaration = p[1] == '?';
            p += declaration ? 2 : 1;
            if (!ParseStartTag(p, declaration)) return Fail(p);
        }
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
    CParser parser(text, length, tree.get());
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
    for (int i = (start != nullptr && *start > 0) ? *start : 0; i < m_data->childCount; ++i) {
        if (Detail::SameElementName(m_data->children[i]->name, name)) {
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
