#include "core/tavrin/binary/nametable.h"

#include <tavrin/qvstream.h>
#include <tavrin/qvstring.h>

#include "core/tavrin/common/keyorder.h"
#include "core/tavrin/common/namehash.h"

namespace Tavrin::Binary {

namespace {

size_t Spread(uint64_t hash) noexcept {
    return static_cast<size_t>((hash * 0x9E3779B97F4A7C15ull) >> 32);
}

}  // namespace

uint64_t CNameTable::HeadSize() const noexcept {
    uint64_t size = 4 + 1 + 4;
    for (const SName& name : m_names) size += 4 + name.length + 4;
    return size;
}

void CNameTable::WriteEntries(QvStreamWriteBinary& stream) const {
    const uint32_t n = Count();
    std::vector<uint32_t> order(n);
    Detail::KeyedTableOrder(
        n, [this](uint32_t i) { return static_cast<uint32_t>(m_names[i].hash); }, order.data());
    for (uint32_t id : order) {
        stream.WriteStringA(QvStringA(m_names[id].text));
        stream.WriteUInt32(id);
    }
}

uint32_t CNameTable::IdSlow(const char* text, size_t slot) {
    const size_t mask = m_recent.size() - 1;
    for (;; slot = (slot + 1) & mask) {
        SRecent& recent = m_recent[slot];
        if (recent.text == text) {
            recent.id = Lookup(text);  // the same address now holds another text
            return recent.id;
        }
        if (!recent.text) {
            const uint32_t id = Lookup(text);
            Remember(slot, text, id);
            return id;
        }
    }
}

uint32_t CNameTable::Lookup(const char* text) {
    const size_t length = std::strlen(text);
    const uint64_t hash = Detail::KeyHash(text, length);
    size_t slot = Spread(hash) & (m_slots.size() - 1);
    for (;;) {
        const uint32_t s = m_slots[slot];
        if (s == 0) break;
        const SName& name = m_names[s - 1];
        if (name.hash == hash && name.length == length &&
            std::memcmp(name.text, text, length) == 0) {
            return s - 1;
        }
        slot = (slot + 1) & (m_slots.size() - 1);
    }
    return Add(text, length, hash, slot);
}

uint32_t CNameTable::Add(const char* text, size_t length, uint64_t hash, size_t slot) {
    const uint32_t id = Count();
    char* own = static_cast<char*>(m_texts.Allocate(length + 1, 1));
    std::memcpy(own, text, length);
    own[length] = '\0';  // zero-terminated for the comparisons in Id and Is
    m_names.push_back({hash, own, length});
    m_slots[slot] = id + 1;
    if (m_names.size() * 2 > m_slots.size()) Rehash();
    return id;
}

void CNameTable::Rehash() {
    std::vector<uint32_t> slots(m_slots.size() * 2, 0);
    const size_t mask = slots.size() - 1;
    for (uint32_t i = 0; i < m_names.size(); ++i) {
        size_t slot = Spread(m_names[i].hash) & mask;
        while (slots[slot]) slot = (slot + 1) & mask;
        slots[slot] = i + 1;
    }
    m_slots.swap(slots);
}

void CNameTable::Remember(size_t slot, const char* text, uint32_t id) {
    m_recent[slot] = {text, id};
    if (++m_recentCount * 2 <= m_recent.size()) return;
    // Full: grow while the addresses are few; names made afresh each time would only fill it,
    // so past a limit it starts over.
    std::vector<SRecent> old;
    old.swap(m_recent);
    m_recentCount = 0;
    if (old.size() >= kRecentLimit) {
        m_recent.assign(kRecentSlots, SRecent{nullptr, 0});
        return;
    }
    m_recent.assign(old.size() * 2, SRecent{nullptr, 0});
    const size_t mask = m_recent.size() - 1;
    for (const SRecent& r : old) {
        if (!r.text) continue;
        size_t at = RecentSlot(r.text);
        while (m_recent[at].text) at = (at + 1) & mask;
        m_recent[at] = r;
        ++m_recentCount;
    }
}

}  // namespace Tavrin::Binary
