// The library's own tolerant XML parser and the element tree it builds.
//
// Parse turns one zero-terminated UTF-8 text into a tree of element records. It does not
// validate: missing end tags are accepted, every other error gives the empty node. It raises
// no exceptions of its own (only the platform's, for memory exhaustion).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/tavrin/common/arena.h"

namespace Tavrin {

// A raw section: the bytes between an open and a close marker, neither decoded nor trimmed.
// The markers point to the library's constant marker texts ("<![CDATA[" and "]]>", "<PRE>"
// and "</PRE>", "<Script>" and "</Script>", "<!--" and "-->", "<!DOCTYPE" and ">").
struct SXmlClear {
    const char* value = nullptr;
    const char* openMarker = nullptr;
    const char* closeMarker = nullptr;
};

// An attribute of a start tag; `value` is null for an attribute written without "=".
struct SXmlAttribute {
    const char* name = nullptr;
    const char* value = nullptr;
};

// One element record, or the unnamed top record of a parsed text: 20 bytes, strings as
// offsets into the tree's own copy of the text, children as a run of consecutive records.
// An element that holds nothing but children, one text or one raw section (nearly every
// element of a document) needs nothing else; any other mix of entries is described by a
// record of its own (SXmlNodeExtra), which `value` then names. Read it through CXmlTree.
struct SXmlNodeData {
    std::uint32_t name = 0;   // offset of the name; CXmlTree::kNoName for the top record
    std::uint32_t value = 0;  // kind text or raw: offset of the text; kind extra: its index
    // Index of the first child record; for kind text or raw, the length of that text (which
    // is the length of it as a zero-terminated string).
    std::uint32_t firstChild = 0;
    std::uint32_t childCount = 0;
    // Detail::ElementNameKey of the name (0 for the top record): names that are equal ignoring
    // case have equal keys, so a lookup compares whole names only where the keys match.
    std::uint16_t nameKey = 0;
    // Bits 0 to 2: the kind (CXmlTree::EKind). Bit 3: opened with "<?". Bits 4 to 15: the
    // length of the name when the tokenizer reads the same bytes followed by ">" or white space
    // as this name (so that an end tag or a later start tag that repeats it may be compared byte
    // for byte); 0 when it may not (a name that starts with a quote or ends with "/", or one
    // too long for the field).
    std::uint16_t bits = 0;
};

// What a record holds besides its children when it is not simply one text or raw section.
struct SXmlNodeExtra {
    const char* const* texts = nullptr;  // entity-decoded text segments, document order
    const SXmlClear* clears = nullptr;
    const SXmlAttribute* attributes = nullptr;
    // One entry per child, attribute, text and raw section in document order:
    // index * 4 + kind (0 child, 1 attribute, 2 text, 3 raw section).
    const int* order = nullptr;
    int textCount = 0;
    int clearCount = 0;
    int attributeCount = 0;
    int orderCount = 0;
};

namespace Detail {

// The storage of one parsed text: its copy of the text, the records (in chunks of a fixed
// size, so that growing never moves one; the children of a record always stand one after the
// other in memory) and the extra descriptions. Freed when the last CXmlNode handle into it
// goes away.
class CXmlTree {
public:
    static constexpr std::uint32_t kNoName = UINT32_MAX;
    enum EKind : unsigned {
        kChildrenOnly = 0,  // children (or nothing) only
        kText = 1,          // one text and nothing else
        kRaw = 2,           // 2 to 6: one raw section of marker 0 to 4 and nothing else
        kExtra = 7,         // SXmlNodeExtra number `value`
    };
    static constexpr unsigned kKindMask = 7;
    static constexpr unsigned kDeclarationBit = 8;
    static constexpr unsigned kNameLengthShift = 4;
    static constexpr unsigned kChunkShift = 12;
    static constexpr std::uint32_t kChunkSize = std::uint32_t{1} << kChunkShift;

    CXmlTree() = default;
    CXmlTree(const CXmlTree&) = delete;
    CXmlTree& operator=(const CXmlTree&) = delete;
    ~CXmlTree();

    const SXmlNodeData& Record(std::uint32_t index) const noexcept {
        return m_chunks[index >> kChunkShift][index & (kChunkSize - 1)];
    }
    // The children of `node`, one after the other (null when it has none).
    const SXmlNodeData* Children(const SXmlNodeData& node) const noexcept {
        return node.childCount != 0 ? &Record(node.firstChild) : nullptr;
    }
    // How many indexes records were given (some unused ones among them are zero).
    std::uint32_t RecordCount() const noexcept { return m_recordCount; }
    const char* Text() const noexcept { return m_text; }

    static unsigned Kind(const SXmlNodeData& node) noexcept { return node.bits & kKindMask; }
    static bool IsDeclaration(const SXmlNodeData& node) noexcept {
        return (node.bits & kDeclarationBit) != 0;
    }
    static unsigned NameLength(const SXmlNodeData& node) noexcept {
        return static_cast<unsigned>(node.bits) >> kNameLengthShift;
    }
    // The element name; null for the top record.
    const char* Name(const SXmlNodeData& node) const noexcept {
        return node.name == kNoName ? nullptr : m_text + node.name;
    }
    const SXmlNodeExtra* Extra(const SXmlNodeData& node) const noexcept {
        return Kind(node) == kExtra ? m_extras[node.value] : nullptr;
    }
    int TextCount(const SXmlNodeData& node) const noexcept {
        const unsigned kind = Kind(node);
        if (kind == kText) return 1;
        return kind == kExtra ? m_extras[node.value]->textCount : 0;
    }
    // Text segment `index` (zero-terminated); null when out of range.
    const char* TextAt(const SXmlNodeData& node, int index) const noexcept {
        const unsigned kind = Kind(node);
        if (kind == kText) return index == 0 ? m_text + node.value : nullptr;
        if (kind != kExtra) return nullptr;
        const SXmlNodeExtra& extra = *m_extras[node.value];
        return index >= 0 && index < extra.textCount ? extra.texts[index] : nullptr;
    }
    int ClearCount(const SXmlNodeData& node) const noexcept {
        const unsigned kind = Kind(node);
        if (kind == kExtra) return m_extras[node.value]->clearCount;
        return kind >= kRaw ? 1 : 0;
    }
    SXmlClear ClearAt(const SXmlNodeData& node, int index) const noexcept;
    // The one text or raw section of kind text or raw.
    std::string_view OnlyText(const SXmlNodeData& node) const noexcept {
        return {m_text + node.value, node.firstChild};
    }

    int references = 0;  // CXmlNode handles into the tree

private:
    friend class CXmlTreeBuilder;

    char* m_text = nullptr;               // the copy of the text, padded
    std::vector<SXmlNodeData*> m_chunks;  // per kChunkSize indexes: where they are
    std::vector<SXmlNodeData*> m_blocks;  // the allocations, each one or more chunks
    std::uint32_t m_recordCount = 0;
    std::uint32_t m_firstChunkCapacity = 0;  // the first chunk starts short for short texts
    std::vector<const SXmlNodeExtra*> m_extras;
    CArena m_arena{CArena::kDefaultFirstBlock, std::size_t{64} << 10};  // extras and their arrays
};

}  // namespace Detail

// A handle to an element record, or the empty node. Copies share the record; a handle keeps
// the whole tree it points into alive. Handles are not thread-safe: a tree may be read from
// several threads only while nobody copies or destroys handles into it at the same time.
class CXmlNode {
public:
    CXmlNode() noexcept = default;  // the empty node
    CXmlNode(const CXmlNode& other) noexcept;
    CXmlNode(CXmlNode&& other) noexcept;
    CXmlNode& operator=(const CXmlNode& other) noexcept;
    CXmlNode& operator=(CXmlNode&& other) noexcept;
    ~CXmlNode();

    // Parses a zero-terminated UTF-8 text. Returns the only element of the text when the text
    // holds exactly one element and nothing else at its top level, otherwise the top record;
    // the empty node for a null text or a malformed one (anything but missing end tags), for
    // elements nested deeper than 1,000 levels, and for a text of 4 GiB or more. Parses on
    // different threads may run at the same time.
    static CXmlNode Parse(const char* text);
    // The same; for a malformed text `*stop` (when not null) receives the byte offset where
    // the parse failed, 0 otherwise.
    static CXmlNode Parse(const char* text, size_t* stop);

    bool IsEmpty() const noexcept { return m_tree == nullptr; }
    // Element name as written in the start tag; null for the empty node and the top record.
    const char* GetName() const noexcept;
    bool IsDeclaration() const noexcept;

    int GetChildCount() const noexcept;
    // The child at `index`; the empty node when `index` is out of range.
    CXmlNode GetChild(int index) const noexcept;
    // The first child from index *start (0 when `start` is null) whose name equals `name`
    // ignoring ASCII letter case. When found and `start` is not null, *start is set to the
    // index after it. The empty node when none matches.
    CXmlNode GetChild(const char* name, int* start) const noexcept;
    // The enclosing element; the empty node for the top record (and the empty node). Records
    // keep no link to their parent: this looks it up among the records after this one.
    CXmlNode GetParent() const noexcept;

    int GetTextCount() const noexcept;
    // Text segment at `index`, trimmed and entity-decoded; null when out of range.
    const char* GetText(int index) const noexcept;

    int GetClearCount() const noexcept;
    // Raw section at `index`; all three pointers null when out of range.
    SXmlClear GetClear(int index) const noexcept;

    int GetAttributeCount() const noexcept;
    // Attribute at `index`; both pointers null when out of range.
    SXmlAttribute GetAttribute(int index) const noexcept;

    // Document order of the record's entries: GetEntryCount() entries, each index * 4 + kind
    // (0 child, 1 attribute, 2 text, 3 raw section); -1 when `index` is out of range.
    int GetEntryCount() const noexcept;
    int GetEntry(int index) const noexcept;

    // The record itself and the tree it belongs to (null for the empty node); valid while
    // this handle lives.
    const SXmlNodeData* GetData() const noexcept {
        return m_tree != nullptr ? &m_tree->Record(m_index) : nullptr;
    }
    const Detail::CXmlTree* GetTree() const noexcept { return m_tree; }

private:
    CXmlNode(Detail::CXmlTree* tree, std::uint32_t index) noexcept;
    void Release() noexcept;

    Detail::CXmlTree* m_tree = nullptr;
    std::uint32_t m_index = 0;
};

}  // namespace Tavrin
