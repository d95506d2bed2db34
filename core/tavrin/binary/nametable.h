// The name table of one binary document being written: every name and class name the
// document uses, as text, mapped to identifiers from 0 in order of first use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/tavrin/common/arena.h"

class QvStreamWriteBinary;

namespace Tavrin::Binary {

class CNameTable {
public:
    CNameTable() : m_slots(kInitialSlots, 0), m_recent(kRecentSlots, SRecent{nullptr, 0}) {}
    CNameTable(const CNameTable&) = delete;
    CNameTable& operator=(const CNameTable&) = delete;

    // The identifier of `text` (null is the empty name), entered when new.
    uint32_t Id(const char* text) {
        if (!text) text = "";
        // Names are mostly literals, handed over at the same address each time: a table by
        // address answers them after one comparison of the text (the address alone proves
        // nothing, a buffer may hold another text by now).
        const size_t slot = RecentSlot(text);
        const SRecent& recent = m_recent[slot];
        if (recent.text == text && std::strcmp(m_names[recent.id].text, text) == 0) {
            return recent.id;
        }
        return IdSlow(text, slot);
    }

    // Whether `text` (null is the empty name) is the text of identifier `id`. The library's
    // strcmp reads the caller's text no further than its terminator or first difference, a
    // word at a time.
    bool Is(uint32_t id, const char* text) const noexcept {
        return std::strcmp(m_names[id].text, text ? text : "") == 0;
    }

    // The text of identifier `id`, which stays in place as long as the table.
    const char* Text(uint32_t id) const noexcept { return m_names[id].text; }

    uint32_t Count() const noexcept { return static_cast<uint32_t>(m_names.size()); }

    // Bytes of the document head: version, root kind, name count and the entries.
    uint64_t HeadSize() const noexcept;

    // Each entry as narrow text and identifier, in the iteration order of the keyed table
    // that the format's name table is.
    void WriteEntries(QvStreamWriteBinary& stream) const;

private:
    static constexpr size_t kInitialSlots = 64;
    static constexpr size_t kRecentSlots = 128;
    static constexpr size_t kRecentLimit = 8192;

    struct SRecent {
        const char* text;
        uint32_t id;
    };

    struct SName {
        uint64_t hash;     // the keyed table's hash of the text
        const char* text;  // zero-terminated, in m_texts
        size_t length;
    };

    size_t RecentSlot(const char* text) const noexcept {
        return static_cast<size_t>((reinterpret_cast<uintptr_t>(text) * 0x9E3779B97F4A7C15ull) >>
                                   40) &
               (m_recent.size() - 1);
    }

    uint32_t IdSlow(const char* text, size_t slot);
    uint32_t Lookup(const char* text);
    uint32_t Add(const char* text, size_t length, uint64_t hash, size_t slot);
    void Rehash();
    void Remember(size_t slot, const char* text, uint32_t id);

    std::vector<SName> m_names;
    Detail::CArena m_texts{256};    // the names' texts, which never move
    std::vector<uint32_t> m_slots;  // open-addressed: identifier + 1 by text hash, 0 free
    std::vector<SRecent> m_recent;  // address of a name text -> identifier
    size_t m_recentCount = 0;
};

}  // namespace Tavrin::Binary
