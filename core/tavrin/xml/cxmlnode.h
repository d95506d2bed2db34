// The library's own tolerant XML parser and the element tree it builds.
//
// Parse turns one zero-terminated UTF-8 text into a tree of element records. It does not
// validate: missing end tags are accepted, every other error gives the empty node. It raises
// no exceptions of its own (only the platform's, for memory exhaustion).
#pragma once

#include <cstddef>

namespace Tavrin {

namespace Detail {
class CXmlTree;
}

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

// One element record, or the unnamed top record of a parsed text. Every string and array
// lives in the storage of the tree the record belongs to (the strings in the tree's own copy
// of the text); the tree is freed when the last CXmlNode handle into it goes away.
struct SXmlNodeData {
    const char* name = nullptr;  // null for the top record
    int childCount = 0;
    int textCount = 0;
    int clearCount = 0;
    int attributeCount = 0;
    bool declaration = false;  // opened with "<?"
    // Detail::ElementNameKey of the name (0 for the top record): names that are equal ignoring
    // case have equal keys, so a lookup compares whole names only where the keys match.
    unsigned nameKey = 0;
    SXmlNodeData* parent = nullptr;
    SXmlNodeData** children = nullptr;  // childCount entries, document order
    const char** texts = nullptr;       // entity-decoded text segments, document order
    SXmlClear* clears = nullptr;
    SXmlAttribute* attributes = nullptr;
    // One entry per child, attribute, text and raw section in document order:
    // index * 4 + kind (0 child, 1 attribute, 2 text, 3 raw section).
    const int* order = nullptr;
    int orderCount = 0;
    // Length of the name when the tokenizer reads the same bytes followed by ">" or white space
    // as this name (so that an end tag or a later start tag that repeats it may be compared
    // byte for byte); 0 when it may not (a name that starts with a quote or ends with "/").
    unsigned nameLength = 0;
    Detail::CXmlTree* tree = nullptr;  // owner of the storage, holds the handle count
    // Room for the one text of an element that holds nothing else: `texts` then points here.
    const char* singleText = nullptr;
    size_t firstTextLength = 0;  // strlen(texts[0]) when textCount > 0
};

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
    // the empty node for a null text or a malformed one (anything but missing end tags), and
    // for elements nested deeper than 1,000 levels. Parses on different threads may run at
    // the same time.
    static CXmlNode Parse(const char* text);
    // The same; for a malformed text `*stop` (when not null) receives the byte offset where
    // the parse failed, 0 otherwise.
    static CXmlNode Parse(const char* text, size_t* stop);

    bool IsEmpty() const noexcept { return m_data == nullptr; }
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
    // The enclosing element; the empty node for the top record (and the empty node).
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

    // The record itself (null for the empty node); valid while this handle lives.
    const SXmlNodeData* GetData() const noexcept { return m_data; }

private:
    explicit CXmlNode(SXmlNodeData* data) noexcept;
    void Release() noexcept;

    SXmlNodeData* m_data = nullptr;
};

}  // namespace Tavrin
