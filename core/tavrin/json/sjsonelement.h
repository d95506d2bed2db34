// The tree that the JSON parser makes of a document, and the parse functions.
//
// The parser is lenient: commas between members and between array elements may be missing, an
// object may end with a comma (an array may not), bare values are not checked, string escapes
// are kept as written, and text after the document's closing bracket is ignored. A member whose
// value is null is not stored; a later member with the name of an earlier one replaces its value
// and keeps its place; a null array element is kept as an empty slot.
//
// Nodes are views: a value's text and a member's name are offsets into the document text, so
// the text must stay unchanged while the tree is used, and every call that reads text takes the
// text's start. A node is one 64-bit word and a member 16 bytes, so that the tree of a large
// document stays well below the size of its text times two. Every block of members or elements
// made by a parse lives in the CJsonNodePool passed to it and goes when that pool goes. The
// parser is jsonparser.cpp.
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
class SJsonElement {
public:
    enum EKind : unsigned int { KindValue = 0, KindObject = 2, KindArray = 3 };

    // An empty element of `kind`: empty bare text, an object without members or an array
    // without elements. Any other kind throws CException (ERaise::JsonElementKind).
    explicit SJsonElement(unsigned int kind);

    unsigned int GetKind() const noexcept {
        if (IsValue()) return KindValue;
        return (m_word & kArrayTag) != 0 ? KindArray : KindObject;
    }
    bool IsValue() const noexcept { return (m_word & kScalar) != 0; }

    // Values. A quoted string gives the bytes between its quotes, escapes as written; a bare
    // value (number, true, false or any other unquoted text) gives its bytes. Empty for objects
    // and arrays. `text` is the start of the document text.
    bool IsQuoted() const noexcept { return (m_word & (kScalar | kQuoted)) == (kScalar | kQuoted); }
    // A quoted string that holds a backslash (an escape pair). Bare values: always true, the
    // parser does not look.
    bool MayHoldEscapes() const noexcept {
        return (m_word & (kScalar | kQuoted | kEscaped)) != (kScalar | kQuoted);
    }
    std::string_view GetText(const char* text) const noexcept {
        if (!IsValue()) return {};
        const auto length = static_cast<size_t>((m_word >> 3) & kLengthMask);
        if (length == kLengthMask) return LongText(text);
        return {text + (m_word >> 32), length};
    }

    // Objects: members in the order of their first appearance in the document (not the order
    // in which a reader hands out names). 0 for other kinds.
    unsigned int GetMemberCount() const noexcept {
        return GetKind() == KindObject ? Pointer<SBlock>()->count : 0;
    }
    // `index` must be below GetMemberCount().
    const SJsonMember& GetMember(unsigned int index) const noexcept;
    // The first of the GetMemberCount() members; objects only.
    const SJsonMember* GetMembers() const noexcept { return Entries<SJsonMember>(); }
    // The member whose name has exactly these bytes, or null.
    const SJsonMember* FindMember(const char* text, std::string_view name) const noexcept;

    // Arrays: elements in document order. 0 for other kinds.
    unsigned int GetElementCount() const noexcept {
        return GetKind() == KindArray ? Pointer<SBlock>()->count : 0;
    }
    // The element at `index` (below GetElementCount()), or null for a null element.
    const SJsonElement* GetElement(unsigned int index) const noexcept {
        const SJsonElement& slot = Entries<SJsonElement>()[index];
        return slot.m_word == kNull ? nullptr : &slot;
    }

private:
    friend class CJsonParser;

    // The word: a value holds bit 0, its flags in bits 1 and 2, its length in bits 3 to 22
    // and the offset of its text in bits 32 to 63; a length of kLengthMask stands for that
    // many bytes or more, found again by scanning the text (reading a megabyte of text costs
    // more than scanning it, and tests can reach the limit). An object or array is the address
    // of its block (8-byte aligned: a count, then its members or elements), bit 1 set for an
    // array. 0 is the empty slot of a null array element.
    static constexpr uint64_t kScalar = 1;
    static constexpr uint64_t kQuoted = 2;
    static constexpr uint64_t kEscaped = 4;  // quoted values
    static constexpr uint64_t kInArray = 4;  // bare values: ended by ']' rather than '}'
    static constexpr uint64_t kTagMask = 7;
    static constexpr uint64_t kArrayTag = 2;
    static constexpr uint64_t kLengthMask = (uint64_t{1} << 20) - 1;
    static constexpr uint64_t kNull = 0;

    // What an object's or array's word points to; its members or elements follow it, and a
    // large object's hash index follows those.
    struct alignas(8) SBlock {
        unsigned int count;
    };
    static const SBlock s_emptyBlock;

    SJsonElement() noexcept = default;

    template <class T>
    const T* Pointer() const noexcept {
        return reinterpret_cast<const T*>(static_cast<uintptr_t>(m_word & ~kTagMask));
    }
    // The members or elements of an object's or array's block.
    template <class T>
    const T* Entries() const noexcept {
        return reinterpret_cast<const T*>(
            reinterpret_cast<const unsigned char*>(Pointer<SBlock>()) + sizeof(SBlock));
    }
    // The text of a value whose length does not fit in the word.
    std::string_view LongText(const char* text) const noexcept;

    uint64_t m_word = kNull;
};

// One member of an object: the offset and length of its name in the document text, and its
// value. The names of one object's members are all different.
struct SJsonMember {
    uint32_t nameOffset;
    uint32_t nameLength;
    SJsonElement element;

    std::string_view GetName(const char* text) const noexcept {
        return {text + nameOffset, nameLength};
    }
};

inline const SJsonMember& SJsonElement::GetMember(unsigned int index) const noexcept {
    return Entries<SJsonMember>()[index];
}

// The memory of one document's tree, given back all at once when the pool is destroyed: the
// formats' arena, starting with a block that holds the tree of a small document. Blocks stop
// growing at 256 KB, so that the last one, partly used, wastes little of a large tree.
class CJsonNodePool : public Detail::CArena {
public:
    CJsonNodePool() noexcept : CArena(size_t{16} * 1024, size_t{256} * 1024) {}
};

// Parses an object document at `text` into `object` (which must be of the object kind and is
// replaced): the text must hold '{' after white space, or be exactly "null", which gives no
// members and a null result. Returns the position just after the closing brace; what follows
// is not looked at. Nesting deeper than 1,000 levels is refused.
// Throws CException on malformed text, one raising place (ERaise::Json...) per kind of fault:
// the end of the text where a value or bracket is due, a string or bare value not closed, a
// missing '{', name or colon, a missing '[', a comma before the first or after the last array
// element, nesting too deep. Throws std::length_error for a text of 4 GiB or more, whose
// offsets the tree cannot hold.
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
