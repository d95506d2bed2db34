// The tree that the JSON parser makes of a document, and the parse functions.
//
// The parser is lenient: commas between members and between array elements may be missing, an
// object may end with a comma (an array may not), bare values are not checked, string escapes
// are kept as written, and text after the document's closing bracket is ignored. A member whose
// value is null is not stored; a later member with the name of an earlier one replaces its value
// and keeps its place; a null array element is kept as an empty slot.
//
// Nodes are views: a value's text and a member's name point into the document text, so the text
// must stay unchanged while the tree is used. Every node made by a parse lives in the
// CJsonNodePool passed to it and goes when that pool goes. The parser is jsonparser.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/tavrin/common/arena.h"

namespace Tavrin {

class CJsonNodePool;
struct SJsonMember;

// One node: a value (quoted string or bare text), an object or an array.
struct SJsonElement {
    enum EKind : unsigned int { KindValue = 0, KindObject = 2, KindArray = 3 };

    // An empty element of `kind`: empty bare text, an object without members or an array
    // without elements. Any other kind throws CException (ERaise::JsonElementKind).
    explicit SJsonElement(unsigned int kind);

    unsigned int GetKind() const noexcept { return m_kind; }

    // Values. A quoted string gives the bytes between its quotes, escapes as written; a bare
    // value (number, true, false or any other unquoted text) gives its bytes. Empty for objects
    // and arrays.
    bool IsQuoted() const noexcept { return m_quoted; }
    // A quoted string that holds a backslash (an escape pair). Bare values: always true, the
    // parser does not look.
    bool MayHoldEscapes() const noexcept { return !m_quoted || m_escaped; }
    std::string_view GetText() const noexcept {
        return m_kind == KindValue ? std::string_view(static_cast<const char*>(m_data), m_size)
                                   : std::string_view();
    }

    // Objects: members in the order of their first appearance in the document (not the order
    // in which a reader hands out names). 0 for other kinds.
    unsigned int GetMemberCount() const noexcept { return m_kind == KindObject ? m_size : 0; }
    // `index` must be below GetMemberCount().
    const SJsonMember& GetMember(unsigned int index) const noexcept;
    // The member whose name has exactly these bytes, or null.
    const SJsonMember* FindMember(std::string_view name) const noexcept;

    // Arrays: elements in document order. 0 for other kinds.
    unsigned int GetElementCount() const noexcept { return m_kind == KindArray ? m_size : 0; }
    // The element at `index` (below GetElementCount()), or null for a null element.
    const SJsonElement* GetElement(unsigned int index) const noexcept;

private:
    friend class CJsonParser;
    static constexpr unsigned int kKindNull = 0xFFFFFFFFu;  // an empty slot of an array
    SJsonElement() noexcept = default;

    const void* m_data = nullptr;           // text, SJsonMember[] or SJsonElement[]
    const unsigned int* m_index = nullptr;  // hash index of a large object's members
    unsigned int m_size = 0;                // bytes, members or elements
    unsigned int m_kind = KindValue;
    bool m_quoted = false;
    bool m_escaped = false;
};

// One member of an object. The names of one object's members are all different.
struct SJsonMember {
    const char* name;  // not zero-terminated
    unsigned int nameLength;
    SJsonElement element;
};

inline const SJsonMember& SJsonElement::GetMember(unsigned int index) const noexcept {
    return static_cast<const SJsonMember*>(m_data)[index];
}

inline const SJsonElement* SJsonElement::GetElement(unsigned int index) const noexcept {
    const SJsonElement& slot = static_cast<const SJsonElement*>(m_data)[index];
    return slot.m_kind == kKindNull ? nullptr : &slot;
}

// The memory of one document's tree, given back all at once when the pool is destroyed: the
// formats' arena, starting with a block that holds the tree of a small document.
class CJsonNodePool : public Detail::CArena {
public:
    CJsonNodePool() noexcept : CArena(size_t{16} * 1024) {}
};

// Parses an object document at `text` into `object` (which must be of the object kind and is
// replaced): the text must hold '{' after white space, or be exactly "null", which gives no
// members and a null result. Returns the position just after the closing brace; what follows
// is not looked at. Nesting deeper than 1,000 levels is refused.
// Throws CException on malformed text, one raising place (ERaise::Json...) per kind of fault:
// the end of the text where a value or bracket is due, a string or bare value not closed, a
// missing '{', name or colon, a missing '[', a comma before the first or after the last array
// element, nesting too deep.
const char* ParseObject(const char* text, SJsonElement& object, CJsonNodePool& pool);

// Parses an array document at `text` into `array` (of the array kind, replaced). An empty text
// gives no elements. Returns the position just after the closing bracket. Throws as ParseObject.
const char* ParseArray(const char* text, SJsonElement& array, CJsonNodePool& pool);

// `p` stands just after an opening double quote: copies the bytes up to the closing quote into
// `text`, escape pairs as written, and returns the position after the closing quote. Throws
// CException (ERaise::JsonStringNotClosed) when the text ends first.
const char* ParseString(const char* p, std::string& text);

// Where the last parse on the calling thread that threw for malformed text stopped: the
// position in that text of the byte that did not fit (the end of the text when it ended too
// early). Null before any such failure.
const char* LastParseStop() noexcept;

}  // namespace Tavrin
