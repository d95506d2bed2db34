// The loader of the binary reader: decodes a whole document from a source of primitives
// (sources.h) into the records of documentrecords.h.
//
// Entries and container elements are gathered on byte stacks while a record is read and
// copied to the arena once its size is known, so that no count read from the document decides
// an allocation: memory grows only with the bytes actually delivered.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/basepool/raise.h"
#include "core/tavrin/binary/binaryformat.h"
#include "core/tavrin/binary/documentrecords.h"
#include "core/tavrin/common/arena.h"
#include "core/tavrin/common/bytes.h"
#include "core/tavrin/common/bytestack.h"
#include "core/tavrin/common/namehash.h"

namespace Tavrin::Binary {

// Decodes the document into the arena; lives while the constructor runs.
template <class Source>
class CLoader {
public:
    using Cursor = typename Source::Cursor;

    CLoader(Source& source, Detail::SBinaryDocument& document) noexcept
        : m_source(source), m_document(document), m_arena(document.arena) {}

    void ReadNameTable();
    const SObject* ReadObject(unsigned int depth);
    const SContainer* ReadContainer(unsigned int depth);

private:
    static constexpr uint32_t kUnknown = 0xFFFFFFFFu;

    [[gnu::noinline]] uint32_t Resolve(uint32_t id, Detail::ERaise unknown) const {
        uint32_t name = kUnknown;
        if (id < m_dense.size()) {
            name = m_dense[id];
        } else if (!m_sparse.empty()) {
            const auto it = m_sparse.find(id);
            if (it != m_sparse.end()) name = it->second;
        }
        if (name == kUnknown) Detail::Raise(unknown);
        return name;
    }

    // The dense table of identifiers, as the hot loop keeps it in locals.
    struct SIds {
        const uint32_t* dense;
        size_t size;
    };

    // The name of a value's identifier; an unknown one fails the document.
    uint32_t NameOf(SIds ids, uint32_t id) const {
        if (id < ids.size && ids.dense[id] != kUnknown) return ids.dense[id];
        return Resolve(id, Detail::ERaise::BinaryUnknownName);
    }
    // A class name only has to be known.
    void CheckName(uint32_t id, Detail::ERaise unknown) const {
        if (id >= m_dense.size() || m_dense[id] == kUnknown) Resolve(id, unknown);
    }

    static constexpr size_t kRoom = 64 * sizeof(SEntry);  // room made at a time

    // An entry as SEntry lays it out, padding zeroed.
    static_assert(offsetof(SEntry, tag) == 4 && offsetof(SEntry, value) == 8);
    static void Put(unsigned char* at, uint32_t name, uint8_t tag, uint64_t value) noexcept {
        const uint64_t head = name | uint64_t(tag) << 32;
        std::memcpy(at, &head, 8);
        std::memcpy(at + 8, &value, 8);
    }

    void SectionHead(Cursor& c, uint8_t& tag, uint32_t& count);
    bool InMemory(Cursor& c, SIds ids, uint8_t tag, unsigned char* at);
    // One value of a plain kind the source's own way, from the parked cursor, pushed onto the
    // stack.
    [[gnu::noinline]] void ReadEntry(uint8_t tag);
    [[gnu::noinline]] const SObject* NewObject(const SEntry* entries, uint32_t count,
                                               uint32_t kinds);

    Source& m_source;
    Detail::SBinaryDocument& m_document;
    Detail::CArena& m_arena;

    const SName* m_names = nullptr;
    std::vector<uint32_t> m_dense;                    // identifier -> name, for compact identifiers
    std::unordered_map<uint32_t, uint32_t> m_sparse;  // the same for scattered ones

    Detail::CByteStack m_entries{4096};   // entries of the objects being read
    Detail::CByteStack m_elements{4096};  // elements of the containers being read
};

template <class Source>
void CLoader<Source>::ReadNameTable() {
    Cursor c = m_source.Resume();
    const uint32_t count = m_source.U32(c);
    // Identifiers may repeat (the last text counts) and texts may repeat (one name, several
    // identifiers); every distinct text becomes one name.
    std::vector<std::pair<uint32_t, uint32_t>> pairs;  // identifier, name
    std::vector<SName> names;
    std::unordered_map<std::string_view, uint32_t> byText;
    uint32_t largest = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const std::string_view s = m_source.Name(c);
        auto found = byText.find(s);
        uint32_t name = 0;
        if (found != byText.end()) {
            name = found->second;
        } else {
            char* text = static_cast<char*>(m_arena.Allocate(s.size() + 1, 1));
            if (!s.empty()) std::memcpy(text, s.data(), s.size());
            text[s.size()] = '\0';
            name = static_cast<uint32_t>(names.size());
            names.push_back({text, s.size(), Detail::IndexHash({text, s.size()}),
                             std::strlen(text) == s.size()});
            byText.emplace(std::string_view(text, s.size()), name);
        }
        const uint32_t id = m_source.U32(c);
        pairs.emplace_back(id, name);
        largest = std::max(largest, id);
    }
    m_source.Park(c);
    m_names = m_arena.Copy(names.data(), names.size());
    m_document.names = m_names;
    if (pairs.empty()) return;
    if (largest < pairs.size() * 2 + 64) {
        m_dense.assign(static_cast<size_t>(largest) + 1, kUnknown);
        for (const auto& [id, name] : pairs) m_dense[id] = name;
    } else {
        for (const auto& [id, name] : pairs) m_sparse[id] = name;
    }
}

template <class Source>
const SObject* CLoader<Source>::ReadObject(unsigned int depth) {
    if (depth > kMaxDepth) Detail::Raise(Detail::ERaise::BinaryObjectTooDeep);
    Cursor c = m_source.Resume();
    const uint8_t sections = m_source.U8(c);
    if (sections == 0) {
        m_source.Park(c);
        return &kEmptyObject;
    }
    const size_t base = m_entries.Size();
    // The dense table in locals: the stores of the entries may alias any member, locals not.
    const SIds ids{m_dense.data(), m_dense.size()};
    // Entries are written through `at` up to `room`; the source's own way and nested records
    // meet the stack's end set from it.
    unsigned char* at = m_entries.Room(kRoom);
    unsigned char* room = m_entries.Limit();
    uint32_t kinds = 0;
    unsigned int used = 0;     // sections with entries
    unsigned int several = 0;  // sections of more than one entry
    uint8_t severalTag = 0;
    // One loop over the entries of all sections: most sections hold one value.
    uint8_t tag = 0;
    uint32_t pending = 0;  // entries left in the current section
    for (unsigned int s = 0;;) {
        if (pending == 0) {
            if (s == sections) break;
            ++s;
            SectionHead(c, tag, pending);
            if (pending) {
                kinds |= 1u << tag;
                ++used;
                if (pending > 1) {
                    ++several;
                    severalTag = tag;
                }
            }
            continue;
        }
        --pending;
        if constexpr (Source::kInMemory) {
            if (at != room && InMemory(c, ids, tag, at)) {
                at += sizeof(SEntry);
                continue;
            }
        }
        m_source.Park(c);
        m_entries.SetEnd(at);
        if (tag >= kTagObject) {  // a nested record, which pushes onto the same stack
            const uint32_t name = NameOf(ids, m_source.U32(c));
            if (tag == kTagObject) {
                CheckName(m_source.U32(c), Detail::ERaise::BinaryUnknownName);  // class name
            }
            m_source.Park(c);
            const void* record = tag == kTagObject
                                     ? static_cast<const void*>(ReadObject(depth + 1))
                                     : static_cast<const void*>(ReadContainer(depth + 1));
            Put(m_entries.Extend(sizeof(SEntry)), name, tag, reinterpret_cast<uintptr_t>(record));
        } else {
            ReadEntry(tag);
        }
        at = m_entries.Room(kRoom);
        room = m_entries.Limit();
        c = m_source.Resume();
    }
    m_source.Park(c);
    m_entries.SetEnd(at);
    const uint32_t n = static_cast<uint32_t>((m_entries.Size() - base) / sizeof(SEntry));
    // No kind in two sections, and at most one section of several entries.
    if (used == KindCount(kinds) && several <= 1) {
        kinds |= SObject::kDirect | uint32_t(several ? severalTag : SObject::kNoSeveral)
                                        << SObject::kSeveralShift;
    }
    const unsigned char* entries = m_entries.Data() + base;
    const SObject* object = nullptr;
    if (n - 1 < kIndexThreshold) {  // the usual small object, without an index
        const size_t bytes = size_t(n) * sizeof(SEntry);
        unsigned char* block = static_cast<unsigned char*>(
            m_arena.Allocate(sizeof(SObject) + bytes, alignof(SObject)));
        object = new (block) SObject{n, kinds};
        if (bytes <= 64) {
            Detail::CopyShort(block + sizeof(SObject), entries, bytes);
        } else {
            std::memcpy(block + sizeof(SObject), entries, bytes);
        }
    } else {
        object = NewObject(reinterpret_cast<const SEntry*>(entries), n, kinds);
    }
    m_entries.Shrink(base);
    return object;
}

template <class Source>
inline void CLoader<Source>::SectionHead(Cursor& c, uint8_t& tag, uint32_t& count) {
    if constexpr (Source::kInMemory) {
        if (m_source.Left(c) >= 5) {
            tag = c[0];
            if (tag >= kTagCount) Detail::Raise(Detail::ERaise::BinarySectionTag);
            std::memcpy(&count, c + 1, 4);
            c += 5;
            return;
        }
    }
    tag = m_source.U8(c);
    if (tag >= kTagCount) Detail::Raise(Detail::ERaise::BinarySectionTag);
    count = m_source.U32(c);
}

// The bits of a value of each scalar kind in a word loaded at its first byte.
inline constexpr auto kScalarMask = [] {
    struct STable {
        uint64_t bits[kTagString];
    } t{};
    for (unsigned int tag = 0; tag < kTagString; ++tag) {
        const unsigned int width = kScalarWidth[tag];
        t.bits[tag] = width == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * width)) - 1;
    }
    return t;
}();

// An entry of a plain kind whose bytes are all in memory, decoded there; false leaves the
// cursor where it was, for the source's own way (the same checks in the same order, so the
// same exceptions).
template <class Source>
inline bool CLoader<Source>::InMemory(Cursor& c, SIds ids, uint8_t tag, unsigned char* at) {
    const size_t left = m_source.Left(c);
    uint32_t id = 0;
    if (tag < kTagString) {
        if (left < 12) return false;
        uint64_t bits = 0;
        std::memcpy(&id, c, 4);
        std::memcpy(&bits, c + 4, 8);  // little-endian: the low bytes are the value
        bits &= kScalarMask.bits[tag];
        c += 4 + kScalarWidth[tag];
        if (tag == kTagBool) bits = bits != 0 ? 1 : 0;
        Put(at, NameOf(ids, id), tag, bits);
        return true;
    }
    if (left < 8) return false;
    uint32_t word = 0;  // a byte count, or a date-time's version
    std::memcpy(&id, c, 4);
    std::memcpy(&word, c + 4, 4);
    if (tag == kTagString || tag == kTagBlob) {
        if (left - 8 < word) return false;
        const uint32_t name = NameOf(ids, id);
        const unsigned char* record = NewBytes(m_arena, c + 8, word, tag == kTagString);
        c += 8 + size_t(word);
        Put(at, name, tag, reinterpret_cast<uintptr_t>(record));
        return true;
    }
    if (tag == kTagDateTime && left >= 16 && word == 0) {  // version 0, the only one that passes
        uint64_t ticks = 0;
        std::memcpy(&ticks, c + 8, 8);
        c += 16;
        // As stored after a round through the seven fields: whole milliseconds.
        Put(at, NameOf(ids, id), tag, ticks - ticks % 10000);
        return true;
    }
    return false;
}

template <class Source>
void CLoader<Source>::ReadEntry(uint8_t tag) {
    Cursor c = m_source.Resume();
    const uint32_t name = NameOf({m_dense.data(), m_dense.size()}, m_source.U32(c));
    uint64_t value = 0;
    if (tag < kTagString) {
        value = m_source.Scalar(c, tag);
    } else if (tag == kTagString) {
        value = reinterpret_cast<uintptr_t>(m_source.String(c, m_arena));
    } else if (tag == kTagWString) {
        value = reinterpret_cast<uintptr_t>(m_source.WString(c, m_arena));
    } else if (tag == kTagDateTime) {
        value = m_source.DateTime(c);
    } else {  // kTagBlob
        const uint32_t size = m_source.U32(c);
        bool exact = true;
        const unsigned char* record = m_source.Blob(c, m_arena, size, exact);
        if (!exact) Detail::Raise(Detail::ERaise::BinaryShortBlob);
        value = reinterpret_cast<uintptr_t>(record);
    }
    m_source.Park(c);
    Put(m_entries.Extend(sizeof(SEntry)), name, tag, value);
}

template <class Source>
const SObject* CLoader<Source>::NewObject(const SEntry* entries, uint32_t count, uint32_t kinds) {
    if (count == 0) return &kEmptyObject;
    const size_t indexSize = count > kIndexThreshold ? IndexSlots(count) * sizeof(uint32_t) : 0;
    unsigned char* block = static_cast<unsigned char*>(
        m_arena.Allocate(sizeof(SObject) + count * sizeof(SEntry) + indexSize, alignof(SObject)));
    SObject* object = new (block) SObject{count, kinds};
    std::memcpy(block + sizeof(SObject), entries, count * sizeof(SEntry));
    if (indexSize) {
        // The index maps (kind, name) to the last entry of that name and kind.
        const uint32_t mask = IndexSlots(count) - 1;
        uint32_t* index =
            reinterpret_cast<uint32_t*>(block + sizeof(SObject) + count * sizeof(SEntry));
        std::memset(index, 0, indexSize);
        const SEntry* stored = object->Entries();
        for (uint32_t i = 0; i < count; ++i) {
            const SEntry& e = stored[i];
            uint32_t slot = SlotHash(e.tag, m_names[e.name].hash) & mask;
            for (; index[slot]; slot = (slot + 1) & mask) {
                const SEntry& other = stored[index[slot] - 1];
                if (other.tag == e.tag && other.name == e.name) break;
            }
            index[slot] = i + 1;
        }
    }
    return object;
}

template <class Source>
const SContainer* CLoader<Source>::ReadContainer(unsigned int depth) {
    if (depth > kMaxDepth) Detail::Raise(Detail::ERaise::BinaryContainerTooDeep);
    Cursor c = m_source.Resume();
    const uint8_t tag = m_source.U8(c);
    const uint32_t count = m_source.U32(c);
    if (count == 0) {
        m_source.Park(c);
        return &kEmptyContainer;
    }
    if (tag == kTagObject) {
        const uint32_t listed = m_source.Bool(c) ? 1 : count;
        for (uint32_t i = 0; i < listed; ++i) {
            CheckName(m_source.U32(c), Detail::ERaise::BinaryUnknownClassName);
        }
    }
    if (tag >= kTagCount) Detail::Raise(Detail::ERaise::BinaryElementTag);

    const size_t width = ElementWidth(tag);
    const uint64_t size = uint64_t(count) * width;
    if (tag < kTagString) {
        // Scalars that are all there are taken as they stand.
        if (const unsigned char* run = m_source.Run(c, size)) {
            m_source.Park(c);
            unsigned char* block = static_cast<unsigned char*>(m_arena.Allocate(
                sizeof(SContainer) + static_cast<size_t>(size), alignof(SContainer)));
            std::memcpy(block + sizeof(SContainer), run, static_cast<size_t>(size));
            return new (block) SContainer{count, tag};
        }
    }
    const size_t base = m_elements.Size();
    // One loop per kind: nested records push onto this stack themselves, so only those
    // elements are pushed one by one after their record is read.
    switch (tag) {
        case kTagString:
            for (uint32_t i = 0; i < count; ++i) {
                m_elements.Push(uint64_t(reinterpret_cast<uintptr_t>(m_source.String(c, m_arena))));
            }
            break;
        case kTagObject:
            for (uint32_t i = 0; i < count; ++i) {
                CheckName(m_source.U32(c), Detail::ERaise::BinaryUnknownClassName);
                m_source.Park(c);
                const SObject* object = ReadObject(depth + 1);
                c = m_source.Resume();
                m_elements.Push(uint64_t(reinterpret_cast<uintptr_t>(object)));
            }
            break;
        case kTagContainer:
            for (uint32_t i = 0; i < count; ++i) {
                m_source.Park(c);
                const SContainer* container = ReadContainer(depth + 1);
                c = m_source.Resume();
                m_elements.Push(uint64_t(reinterpret_cast<uintptr_t>(container)));
            }
            break;
        case kTagBlob:
            for (uint32_t i = 0; i < count; ++i) {
                const uint32_t bytes = m_source.U32(c);
                bool exact = true;  // not checked for elements: what arrived is kept
                m_elements.Push(
                    uint64_t(reinterpret_cast<uintptr_t>(m_source.Blob(c, m_arena, bytes, exact))));
            }
            break;
        case kTagWString:
            for (uint32_t i = 0; i < count; ++i) {
                m_elements.Push(
                    uint64_t(reinterpret_cast<uintptr_t>(m_source.WString(c, m_arena))));
            }
            break;
        case kTagDateTime:
            for (uint32_t i = 0; i < count; ++i) m_elements.Push(m_source.DateTime(c));
            break;
        default:  // scalars not all in memory: stored in their widths (little-endian: low bytes)
            for (uint32_t i = 0; i < count; ++i) {
                const uint64_t element = m_source.Scalar(c, tag);
                std::memcpy(m_elements.Extend(width), &element, width);
            }
            break;
    }
    m_source.Park(c);
    const size_t stored = m_elements.Size() - base;
    unsigned char* block = static_cast<unsigned char*>(
        m_arena.Allocate(sizeof(SContainer) + stored, alignof(SContainer)));
    if (stored <= 64) {
        Detail::CopyShort(block + sizeof(SContainer), m_elements.Data() + base, stored);
    } else {
        std::memcpy(block + sizeof(SContainer), m_elements.Data() + base, stored);
    }
    m_elements.Shrink(base);
    return new (block) SContainer{count, tag};
}

template <class Source>
void Load(Source& source, uint8_t kind, Detail::SBinaryDocument& document) {
    CLoader<Source> loader(source, document);
    loader.ReadNameTable();
    if (kind == kTagObject) {
        document.rootObject = loader.ReadObject(1);
    } else if (kind == kTagContainer) {
        document.rootContainer = loader.ReadContainer(1);
    } else {
        Detail::Raise(Detail::ERaise::BinaryRootKind);
    }
    source.Finish(source.Resume());
}

}  // namespace Tavrin::Binary
