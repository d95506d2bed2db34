/// \file
/// A binary document decoded for inspection, without the application's classes: every value
/// with its name, its exact kind, its value and, for objects, the class name the document
/// stores. Tools use it to show, convert and measure documents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <tavrin/export.h>
#include <tavrin/interfaces.h>

namespace Tavrin {

namespace Detail {
struct SBinaryDocumentView;  ///< the decoded document, internal
}

/// The eighteen value kinds, numbered as the binary format tags them.
enum class EValueKind : unsigned char {
    Bool = 0,
    Char = 1,
    UInt8 = 2,
    Int8 = 3,
    UInt16 = 4,
    Int16 = 5,
    UInt32 = 6,
    Int32 = 7,
    UInt64 = 8,
    Int64 = 9,
    Float = 10,
    Double = 11,
    String = 12,
    WString = 13,
    DateTime = 14,
    Blob = 15,
    Object = 16,
    Container = 17,
};

/// Number of value kinds.
constexpr unsigned int kValueKindCount = 18;

/// Short lower-case name of a kind ("bool", "char", "uint8", "int8", ..., "double", "string",
/// "wstring", "datetime", "blob", "object", "container"); "?" for a number out of range.
TAVRIN_API const char* ValueKindName(EValueKind kind) noexcept;

/// One value of a decoded document: the root, a member of an object or an element of a
/// container. Plain data that points into its CBinaryDocument and lives as long as it.
struct SBinaryNode {
    /// No name, no class name.
    static constexpr uint32_t kNone = 0xFFFFFFFFu;

    /// The value's kind.
    EValueKind kind;
    /// Containers: the element kind as stored (meaningless for an empty container).
    EValueKind elementKind;
    /// Index of the value name in the document's name list (GetName); kNone for container
    /// elements and the root.
    uint32_t name;
    /// Index of the class name of an object member or object element; kNone where the document
    /// stores none (the root, containers).
    uint32_t className;
    /// Scalars: the stored bytes, little-endian, in the low bytes (bool 0 or 1; float and
    /// double as their IEEE-754 bits). Date-times: 100-nanosecond intervals since 1601-01-01.
    uint64_t bits;
    /// Narrow strings and blobs: the bytes; wide strings: the UTF-16 units, little-endian;
    /// objects and containers: their `size` members or elements (const SBinaryNode*).
    const void* data;
    /// Bytes of a narrow string or blob, UTF-16 units of a wide string, members of an object,
    /// elements of a container; 0 for scalars and date-times.
    uint64_t size;

    /// The members or elements of an object or container (`size` of them).
    const SBinaryNode* Children() const noexcept { return static_cast<const SBinaryNode*>(data); }
};

/// Where the bytes of a document go.
struct SBinaryLayout {
    uint64_t header = 0;     ///< version and root kind
    uint64_t nameTable = 0;  ///< the name count and the entries
    /// Bytes of values per kind: their entries (name identifiers included) or elements; for
    /// objects and containers their record heads (section counts, section heads of nested
    /// kinds, class identifiers, element kinds and counts), not the values they hold.
    uint64_t kinds[kValueKindCount] = {};
};

/// Decodes one binary document held in memory, with the checks of CReaderBinary.
class TAVRIN_API CBinaryDocument {
public:
    /// Decodes the document at the start of `size` bytes at `data`; the bytes are copied where
    /// needed and may go once the constructor has returned. Bytes after the document (another
    /// document, for instance) are not looked at; GetSize tells where it ended.
    /// Throws what CReaderBinary's constructor throws for the same bytes: a document cut short,
    /// a version above 0, an unknown root, section or element kind, an unknown name identifier,
    /// a short named blob, nesting deeper than 1,000 levels.
    CBinaryDocument(const void* data, size_t size);
    ~CBinaryDocument();
    CBinaryDocument(const CBinaryDocument&) = delete;
    CBinaryDocument& operator=(const CBinaryDocument&) = delete;

    /// The root: an object or a container.
    const SBinaryNode& GetRoot() const noexcept;

    /// The distinct texts of the name table (value names and class names), in the order of
    /// their first entry in the table.
    size_t GetNameCount() const noexcept;
    /// The text of name `index` (below GetNameCount; empty otherwise), zero-terminated in
    /// the document.
    std::string_view GetName(size_t index) const noexcept;

    /// One entry of the name table as stored: a name and its identifier.
    struct SNameEntry {
        uint32_t name;  ///< index of the text (GetName)
        uint32_t id;    ///< the identifier the document gives it
    };
    /// Entries of the name table, in stored order.
    size_t GetNameEntryCount() const noexcept;
    /// Entry `index` of the name table (below GetNameEntryCount; {kNone, 0} otherwise).
    SNameEntry GetNameEntry(size_t index) const noexcept;

    /// Bytes the document took from the start of the data, and where they went.
    uint64_t GetSize() const noexcept;
    /// Where the GetSize() bytes went.
    const SBinaryLayout& GetLayout() const noexcept;

    /// A wide string node's text, decoded as CReaderBinary decodes it (an unpaired surrogate
    /// becomes U+FFFD). Empty for other kinds.
    static std::wstring WideText(const SBinaryNode& node);

private:
    std::unique_ptr<Detail::SBinaryDocumentView> m_view;
};

}  // namespace Tavrin
