// The JSON parser: turns a document text into the tree of sjsonelement.h. Values stay text (the
// reader converts them on demand); names and texts point into the document.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/basepool/chars.h"
#include "core/basepool/raise.h"
#include "core/tavrin/common/bytestack.h"
#include "core/tavrin/common/namehash.h"
#include "core/tavrin/json/sjsonelement.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Tavrin {
namespace {

using Detail::ERaise;
using Detail::Raise;

// Deepest nesting of objects and arrays accepted, the document's own bracket included.
constexpr unsigned int kMaxDepth = 1000;

// Objects with more members than this get a hash index for lookups.
constexpr unsigned int kIndexThreshold = 16;

using Detail::IsSpaceByte;

// Where the last failed parse on this thread stopped (see LastParseStop).
thread_local const char* t_stop = nullptr;

// Raises `what` for the text at `p`, noting the position first.
[[noreturn]] void Stop(const char* p, ERaise what) {
    t_stop = p;
    Raise(what);
}

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
    std::array<bool, 256> table = Detail::kSpaceBytes;
    table[static_cast<unsigned char>(',')] = true;
    table[0] = true;
    return table;
}();

// Advances over white space; the end of the text there is an error.
const char* SkipEmptyChars(const char* p) {
    while (IsSpaceByte(*p)) ++p;
    if (*p == '\0') Stop(p, ERaise::JsonEndOfText);
    return p;
}

// `p` stands after an opening quote; returns the position of the closing quote. A backslash
// and the byte after it form a pair that never ends the string.
const char* ScanString(const char* p) {
    for (;;) {
        while (!kStringStop[static_cast<unsigned char>(*p)]) ++p;
        if (*p == '"') return p;
        if (*p == '\0' || p[1] == '\0') Stop(p, ERaise::JsonStringNotClosed);
        p += 2;
    }
}

#if !defined(__SSE2__)
// Eight bytes with `byte` in each.
constexpr uint64_t Broadcast(unsigned char byte) { return 0x0101010101010101ull * byte; }

// The high bit of each byte of `word` that is zero. Bits above the lowest one may be set for
// bytes that are not zero (a borrow runs on), so only the lowest one is exact.
constexpr uint64_t ZeroBytes(uint64_t word) {
    return (word - Broadcast(0x01)) & ~word & Broadcast(0x80);
}
#endif

// `p` stands on a backslash inside a quoted string: returns the position after the escape
// pair. Throws when the text ends within the pair.
const char* SkipEscapePair(const char* p) {
    if (p[1] == '\0') Stop(p, ERaise::JsonStringNotClosed);
    return p + 2;
}

// ScanString for a text whose end (its terminating zero) is known: sixteen bytes at a time
// with SSE2, else eight, while that many remain before the end, so that no byte past the text
// is read. `escaped` becomes true when the string holds a backslash.
inline const char* ScanString(const char* p, const char* end, bool& escaped) {
    for (;;) {
#if defined(__SSE2__)
        const __m128i quote = _mm_set1_epi8('"');
        const __m128i backslash = _mm_set1_epi8('\\');
        while (end - p >= 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const auto stops = static_cast<unsigned int>(_mm_movemask_epi8(
                _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash))));
            if (stops != 0) {
                p += std::countr_zero(stops);
                break;
            }
            p += 16;
        }
#else
        if constexpr (std::endian::native == std::endian::little) {
            while (end - p >= 8) {
                uint64_t word = 0;
                std::memcpy(&word, p, 8);
                const uint64_t stops =
                    ZeroBytes(word ^ Broadcast('"')) | ZeroBytes(word ^ Broadcast('\\'));
                if (stops != 0) {
                    p += std::countr_zero(stops) / 8;
                    break;
                }
                p += 8;
            }
        }
#endif
        while (!kStringStop[static_cast<unsigned char>(*p)]) ++p;
        if (*p == '"') return p;
        if (*p == '\0') Stop(p, ERaise::JsonStringNotClosed);
        escaped = true;
        p = SkipEscapePair(p);
    }
}

// `p` stands on a bare value; returns the position of the byte that ends it: a comma, the
// terminator or white space. The end of the text inside the value is an error. `end` is the
// position of the text's terminating zero.
const char* ScanValue(const char* p, char terminator, const char* end) {
#if defined(__SSE2__)
    // Sixteen bytes at a time while that many remain before the end (so no zero among them).
    const __m128i comma = _mm_set1_epi8(',');
    const __m128i close = _mm_set1_epi8(terminator);
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i belowControls = _mm_set1_epi8('\t' - 1);
    const __m128i aboveControls = _mm_set1_epi8('\r' + 1);
    while (end - p >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i controls = _mm_and_si128(_mm_cmpgt_epi8(bytes, belowControls),
                                               _mm_cmplt_epi8(bytes, aboveControls));
        const __m128i stops =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, comma), _mm_cmpeq_epi8(bytes, close)),
                         _mm_or_si128(_mm_cmpeq_epi8(bytes, space), controls));
        const auto mask = static_cast<unsigned int>(_mm_movemask_epi8(stops));
        if (mask != 0) return p + std::countr_zero(mask);
        p += 16;
    }
#else
    (void)end;
#endif
    for (;;) {
        const char c = *p;
        if (kValueStop[static_cast<unsigned char>(c)] || c == terminator) {
            if (c == '\0') Stop(p, ERaise::JsonValueNotEnded);
            return p;
        }
        ++p;
    }
}

// A bit of 64 for a name, from its length and its first and last bytes: an object's members
// gather the bits of their names, so that a name whose bit is not among them is known to be
// new without comparing it with the others. `name` and `close` are the positions after the
// opening and of the closing quote; for an empty name the quotes stand in for its bytes.
uint64_t NameBit(const char* name, const char* close) {
    const auto length = static_cast<size_t>(close - name);
    const auto first = static_cast<unsigned char>(name[0]);
    const auto last = static_cast<unsigned char>(close[-1]);
    const auto mix =
        static_cast<unsigned int>(length * 7u + size_t{first} * 3u + size_t{last} * 5u);
    return uint64_t{1} << (mix & 63u);
}

// Slots of the lookup index of an object with `count` members: a power of two, at most half
// full, minus one.
unsigned int IndexMask(unsigned int count) {
    return static_cast<unsigned int>(std::bit_ceil(static_cast<uint64_t>(count) * 2) - 1);
}

bool SameName(const char* text, const SJsonMember& member, const char* name, size_t length) {
    return member.nameLength == length && std::memcmp(text + member.nameOffset, name, length) == 0;
}

}  // namespace

constinit const SJsonElement::SBlock SJsonElement::s_emptyBlock{0};

SJsonElement::SJsonElement(unsigned int kind) {
    if (kind != KindValue && kind != KindObject && kind != KindArray) {
        Raise(ERaise::JsonElementKind);
    }
    if (kind == KindValue) {
        m_word = kScalar;
    } else {
        m_word = reinterpret_cast<uintptr_t>(&s_emptyBlock) | (kind == KindArray ? kArrayTag : 0);
    }
}

std::string_view SJsonElement::LongText(const char* text) const noexcept {
    const char* begin = text + (m_word >> 32);
    const char* end = begin;
    if ((m_word & kQuoted) != 0) {
        // The parse found the closing quote, after whole escape pairs.
        while (*end != '"') end += *end == '\\' ? 2 : 1;
    } else {
        const char terminator = (m_word & kInArray) != 0 ? ']' : '}';
        while (!kValueStop[static_cast<unsigned char>(*end)] && *end != terminator) ++end;
    }
    return {begin, static_cast<size_t>(end - begin)};
}

const SJsonMember* SJsonElement::FindMember(const char* text,
                                            std::string_view name) const noexcept {
    if (GetKind() != KindObject) return nullptr;
    const unsigned int count = Pointer<SBlock>()->count;
    const SJsonMember* members = Entries<SJsonMember>();
    if (count <= kIndexThreshold) {
        for (unsigned int i = 0; i < count; ++i) {
            if (SameName(text, members[i], name.data(), name.size())) return &members[i];
        }
        return nullptr;
    }
    const auto* index = reinterpret_cast<const unsigned int*>(members + count);
    const unsigned int mask = IndexMask(count);
    for (size_t slot = Detail::IndexHash(name) & mask;; slot = (slot + 1) & mask) {
        const unsigned int entry = index[slot];
        if (entry == 0) return nullptr;
        if (SameName(text, members[entry - 1], name.data(), name.size())) {
            return &members[entry - 1];
        }
    }
}

// Builds the tree of one document. The members and elements of the blocks still open wait on
// two stacks and move into the pool when their block closes, so every block ends up as one
// contiguous array.
class CJsonParser {
public:
    // `text` is the document, `end` its terminating zero.
    CJsonParser(CJsonNodePool& pool, const char* text, const char* end)
        : m_pool(&pool), m_text(text), m_end(end) {
        if (static_cast<size_t>(end - text) > UINT32_MAX) {
            throw std::length_error("JSON text of 4 GiB or more");
        }
    }

    // A member of an earlier member's name replaces that member's value in its place. Up to
    // kIndexThreshold members that happens here, as they come; above, CloseObject does it for
    // all members through a hash table.
    const char* ParseObject(const char* p, SJsonElement& object) {
        p = SkipEmptyChars(p);
        if (*p != '{') Stop(p, ERaise::JsonObjectStart);
        p = SkipEmptyChars(p + 1);
        const size_t base = m_members.size();
        uint64_t nameBits = 0;  // NameBit of every member so far
        for (;;) {
            if (*p == '}') {
                CloseObject(object, base);
                return p + 1;
            }
            if (*p != '"') Stop(p, ERaise::JsonMemberName);
            const char* name = p + 1;
            bool escaped = false;
            const char* close = ScanString(name, m_end, escaped);
            p = SkipEmptyChars(close + 1);
            if (*p != ':') Stop(p, ERaise::JsonMemberColon);
            p = SkipEmptyChars(p + 1);
            SJsonElement element;
            p = ParseElement(p, '}', element);
            if (element.m_word != SJsonElement::kNull) {
                const size_t length = static_cast<size_t>(close - name);
                const size_t count = m_members.size() - base;
                if (count < kIndexThreshold) {
                    const uint64_t bit = NameBit(name, close);
                    if ((nameBits & bit) != 0) {
                        SJsonMember* earlier = FindEarlier(base, name, length);
                        if (earlier != nullptr) {
                            earlier->element = element;
                            if (*p == ',') p = SkipEmptyChars(p + 1);
                            continue;
                        }
                    }
                    nameBits |= bit;
                }
                m_members.push_back(SJsonMember{static_cast<uint32_t>(name - m_text),
                                                static_cast<uint32_t>(length), element});
            }
            if (*p == ',') p = SkipEmptyChars(p + 1);
        }
    }

    const char* ParseArray(const char* p, SJsonElement& array) {
        if (*p == '\0') {
            array = SJsonElement(SJsonElement::KindArray);
            return p;
        }
        p = SkipEmptyChars(p);
        if (*p != '[') Stop(p, ERaise::JsonArrayStart);
        p = SkipEmptyChars(p + 1);
        if (*p == ',') Stop(p, ERaise::JsonArrayLeadingComma);
        if (*p == ']') {
            array = SJsonElement(SJsonElement::KindArray);
            return p + 1;
        }
        const size_t base = m_elements.size();
        for (;;) {
            SJsonElement element;
            p = ParseElement(p, ']', element);
            m_elements.push_back(element);
            if (*p == ',') {
                p = SkipEmptyChars(p + 1);
                if (*p == ']') Stop(p, ERaise::JsonArrayTrailingComma);
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
                bool escaped = false;
                const char* close = ScanString(p + 1, m_end, escaped);
                SetText(element, p + 1, close,
                        escaped ? SJsonElement::kQuoted | SJsonElement::kEscaped
                                : SJsonElement::kQuoted);
                return SkipEmptyChars(close + 1);
            }
            case '[':
                Enter(p);
                p = ParseArray(p, element);
                --m_depth;
                return SkipEmptyChars(p);
            case '{':
                Enter(p);
                p = ParseObject(p, element);
                --m_depth;
                return SkipEmptyChars(p);
            default: {
                const char* end = ScanValue(p, terminator, m_end);
                if (end - p == 4 && std::memcmp(p, "null", 4) == 0) {
                    element.m_word = SJsonElement::kNull;
                } else {
                    SetText(element, p, end, terminator == ']' ? SJsonElement::kInArray : 0);
                }
                return SkipEmptyChars(end);
            }
        }
    }

    void Enter(const char* p) {
        if (m_depth >= kMaxDepth) Stop(p, ERaise::JsonNestingTooDeep);
        ++m_depth;
    }

    // A value: its offset and length (kLengthMask for that many bytes or more) in the word.
    void SetText(SJsonElement& element, const char* begin, const char* end, uint64_t flags) const {
        const auto offset = static_cast<uint64_t>(begin - m_text);
        const auto length = std::min(static_cast<uint64_t>(end - begin), SJsonElement::kLengthMask);
        element.m_word = offset << 32 | length << 3 | flags | SJsonElement::kScalar;
    }

    // A block of `count` entries of `size` bytes after its count, and `extra` bytes after
    // those; the entries are copied from `entries`.
    unsigned char* NewBlock(const void* entries, size_t count, size_t size, size_t extra) {
        if (count > UINT32_MAX) throw std::length_error("JSON block with too many entries");
        constexpr size_t kHead = sizeof(SJsonElement::SBlock);
        auto* block = static_cast<unsigned char*>(
            m_pool->Allocate(kHead + count * size + extra, alignof(SJsonElement::SBlock)));
        ::new (block) SJsonElement::SBlock{static_cast<unsigned int>(count)};
        if (count != 0) std::memcpy(block + kHead, entries, count * size);  // `entries` may be null
        return block;
    }

    void CloseArray(SJsonElement& array, size_t base) {
        const size_t count = m_elements.size() - base;
        const unsigned char* block =
            NewBlock(m_elements.data() + base, count, sizeof(SJsonElement), 0);
        m_elements.resize(base);
        array.m_word = reinterpret_cast<uintptr_t>(block) | SJsonElement::kArrayTag;
    }

    // The member of the open object (its members start at `base`) with this name, or null.
    SJsonMember* FindEarlier(size_t base, const char* name, size_t length) {
        SJsonMember* const end = m_members.data() + m_members.size();
        for (SJsonMember* m = m_members.data() + base; m != end; ++m) {
            if (SameName(m_text, *m, name, length)) return m;
        }
        return nullptr;
    }

    std::string_view NameOf(const SJsonMember& member) const {
        return {m_text + member.nameOffset, member.nameLength};
    }

    // Moves the members of the closing object into the pool. Above kIndexThreshold members
    // the later ones have not yet been matched with earlier ones of their name (ParseObject):
    // a member of an earlier member's name replaces its value in the earlier place.
    void CloseObject(SJsonElement& object, size_t base) {
        SJsonMember* members = m_members.data() + base;
        const size_t parsed = m_members.size() - base;
        size_t kept = parsed;
        if (parsed > kIndexThreshold) {
            kept = 0;
            const unsigned int mask = IndexMask(static_cast<unsigned int>(parsed));
            m_seen.assign(static_cast<size_t>(mask) + 1, 0);
            for (size_t i = 0; i < parsed; ++i) {
                const std::string_view name = NameOf(members[i]);
                size_t slot = Detail::IndexHash(name) & mask;
                while (m_seen[slot] != 0 &&
                       !SameName(m_text, members[m_seen[slot] - 1], name.data(), name.size())) {
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
        // A large object's lookup index follows its members.
        const size_t slots =
            kept > kIndexThreshold ? size_t{IndexMask(static_cast<unsigned int>(kept))} + 1 : 0;
        unsigned char* block =
            NewBlock(members, kept, sizeof(SJsonMember), slots * sizeof(unsigned int));
        m_members.resize(base);
        if (slots != 0) {
            const auto* stored =
                reinterpret_cast<const SJsonMember*>(block + sizeof(SJsonElement::SBlock));
            auto* index = reinterpret_cast<unsigned int*>(block + sizeof(SJsonElement::SBlock) +
                                                          kept * sizeof(SJsonMember));
            std::fill(index, index + slots, 0u);
            for (size_t i = 0; i < kept; ++i) {
                size_t slot = Detail::IndexHash(NameOf(stored[i])) & (slots - 1);
                while (index[slot] != 0) slot = (slot + 1) & (slots - 1);
                index[slot] = static_cast<unsigned int>(i + 1);
            }
        }
        object.m_word = reinterpret_cast<uintptr_t>(block);
    }

    CJsonNodePool* m_pool;
    const char* m_text;  // the document
    const char* m_end;   // the text's terminating zero
    Detail::CStack<SJsonMember> m_members;
    Detail::CStack<SJsonElement> m_elements;
    std::vector<unsigned int> m_seen;
    unsigned int m_depth = 1;
};

const char* ParseObject(const char* text, SJsonElement& object, CJsonNodePool& pool) {
    if (std::strcmp(text, "null") == 0) {
        object = SJsonElement(SJsonElement::KindObject);
        return nullptr;
    }
    CJsonParser parser(pool, text, text + std::strlen(text));
    return parser.ParseObject(text, object);
}

const char* ParseArray(const char* text, SJsonElement& array, CJsonNodePool& pool) {
    CJsonParser parser(pool, text, text + std::strlen(text));
    return parser.ParseArray(text, array);
}

const char* ParseString(const char* p, std::string& text) {
    const char* close = ScanString(p);
    text.assign(p, static_cast<size_t>(close - p));
    return close + 1;
}

const char* LastParseStop() noexcept { return t_stop; }

}  // namespace Tavrin
