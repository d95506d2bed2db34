// The writer of one object's values.
#include "core/tavrin/binary/valuewriters.h"

#include <algorithm>
#include <bit>
#include <type_traits>

#include <tavrin/qvdatetime.h>

#include "core/tavrin/binary/textcoding.h"
#include "core/tavrin/common/keyorder.h"
#include "core/tavrin/common/namehash.h"

namespace Tavrin::Binary {

using Detail::ERaise;
using Detail::Raise;

namespace {

// Slot of a (kind, identifier) pair in the index.
size_t Spread(uint8_t tag, uint32_t id) noexcept {
    const uint64_t key = (static_cast<uint64_t>(tag) << 32) | id;
    return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 32);
}

}  // namespace

void CDataWriterBinary::CatchUpIndex() {
    const size_t n = m_values.size();
    if (n * 2 > m_index.size()) {
        m_index.assign(std::bit_ceil(n * 4), 0);
        m_indexed = 0;
    }
    const size_t mask = m_index.size() - 1;
    for (; m_indexed < n; ++m_indexed) {
        const SValue& v = m_values[m_indexed];
        size_t slot = Spread(v.tag, v.id) & mask;
        while (m_index[slot]) slot = (slot + 1) & mask;
        m_index[slot] = static_cast<uint32_t>(m_indexed + 1);
    }
}

SValue* CDataWriterBinary::Find(uint8_t tag, uint32_t id) {
    if (m_values.size() < kIndexThreshold) {
        for (SValue& v : m_values) {
            if (v.id == id && v.tag == tag) return &v;
        }
        return nullptr;
    }
    CatchUpIndex();
    const size_t mask = m_index.size() - 1;
    for (size_t slot = Spread(tag, id) & mask; m_index[slot]; slot = (slot + 1) & mask) {
        SValue& v = m_values[m_index[slot] - 1];
        if (v.id == id && v.tag == tag) return &v;
    }
    return nullptr;
}

SValue& CDataWriterBinary::AddSlot(uint8_t tag, uint32_t id) {
    if (SValue* found = Find(tag, id)) return *found;
    if (m_values.size() == kMaxCount) Raise(ERaise::BinaryValueTooLarge);
    m_values.push_back({0, 0, id, 0, tag});
    return m_values.back();
}

void CDataWriterBinary::ReleaseChild(const SValue& value) noexcept {
    if (!value.bits) return;
    if (value.tag == kTagObject) {
        m_document.Release(reinterpret_cast<CDataWriterBinary*>(value.bits));
    } else {
        m_document.Release(reinterpret_cast<CContainerWriterBinary*>(value.bits));
    }
}

void CDataWriterBinary::Write(const char* name, size_t size, const void* data) {
    const SKey key = Key(kTagBlob, name);
    if (size >= kMaxCount + 1) Raise(ERaise::BinaryValueTooLarge);
    if (size && !data) Raise(ERaise::BinaryBlobWithoutBytes);
    const size_t offset = m_bytes.Size();
    unsigned char* p = m_bytes.Extend(4 + size);
    const uint32_t count = static_cast<uint32_t>(size);
    std::memcpy(p, &count, 4);
    if (size) std::memcpy(p + 4, data, size);
    SValue& slot = Slot(kTagBlob, key);
    slot.bits = offset;
    slot.size = 4 + size;
}

void CDataWriterBinary::Write(const char* name, const ISerializableContainer& value) {
    const SKey key = Key(kTagContainer, name);
    const uint32_t classId = ClassKey(key, value.GetClassName());
    CContainerWriterBinary* child = m_document.AcquireContainer();
    SValue* slot = nullptr;
    try {
        slot = &Slot(kTagContainer, key);
    } catch (...) {
        m_document.Release(child);
        throw;
    }
    ReleaseChild(*slot);
    slot->bits = reinterpret_cast<uintptr_t>(child);
    slot->classId = classId;  // not in the record; kept for the shape
    m_children = true;
    value.Write(*child);
}

void CDataWriterBinary::Write(const char* name, const ISerializable& value) {
    const SKey key = Key(kTagObject, name);
    const uint32_t classId = ClassKey(key, value.GetClassName());
    CDataWriterBinary* child = m_document.AcquireData();
    SValue* slot = nullptr;
    try {
        slot = &Slot(kTagObject, key);
    } catch (...) {
        m_document.Release(child);
        throw;
    }
    ReleaseChild(*slot);
    slot->bits = reinterpret_cast<uintptr_t>(child);
    slot->classId = classId;
    m_children = true;
    value.Write(*child);
}

void CDataWriterBinary::Write(const char* name, const IDateTime& value) {
    const SKey key = Key(kTagDateTime, name);
    const uint64_t count = QvDateTime(value).ToFileTime();
    Slot(kTagDateTime, key).bits = count;
}

void CDataWriterBinary::Write(const char* name, const std::wstring& value) {
    const SKey key = Key(kTagWString, name);
    const size_t length = WideLength(value);
    const uint64_t units = Utf16Units(value.data(), length);
    const size_t size = WidePrefixSize(units) + 2 * units;
    const size_t offset = m_bytes.Size();
    unsigned char* p = m_bytes.Extend(size);
    PutUtf16(PutWidePrefix(p, units), value.data(), length);
    SValue& slot = Slot(kTagWString, key);
    slot.bits = offset;
    slot.size = size;
}

void CDataWriterBinary::Write(const char* name, const std::string& value) {
    const SKey key = Key(kTagString, name);
    const size_t length = NarrowLength(value);
    if (length > kMaxCount) Raise(ERaise::BinaryValueTooLarge);
    const size_t offset = m_bytes.Size();
    unsigned char* p = m_bytes.Extend(4 + length);
    const uint32_t count = static_cast<uint32_t>(length);
    std::memcpy(p, &count, 4);
    Detail::CopySmall(p + 4, value.data(), length);
    SValue& slot = Slot(kTagString, key);
    slot.bits = offset;
    slot.size = 4 + length;
}

// The record plan of the values as they stand, which become the shape: the sections in the
// fixed tag order, and in each the positions in the keyed table's order.
void CDataWriterBinary::Plan() const {
    m_planned = false;
    m_shaped = false;
    const uint32_t n = static_cast<uint32_t>(m_values.size());
    uint32_t counts[kTagCount] = {};
    for (const SValue& v : m_values) ++counts[v.tag];
    uint32_t next[kTagCount] = {};  // where each kind's positions go
    m_sections.clear();
    uint32_t at = 0;
    for (const uint8_t tag : kSectionOrder) {
        if (!counts[tag]) continue;
        m_sections.push_back({tag, counts[tag]});
        next[tag] = at;
        at += counts[tag];
    }
    m_order.resize(n);
    for (uint32_t i = 0; i < n; ++i) m_order[next[m_values[i].tag]++] = i;
    constexpr uint32_t kLocal = 32;  // small sections, the usual case, need no allocation
    uint32_t localHashes[kLocal];    // filled up to the section's count below
    uint32_t localOrder[kLocal];
    std::vector<uint32_t> heapHashes;
    std::vector<uint32_t> heapOrder;
    at = 0;
    for (const SSection& section : m_sections) {
        const uint32_t count = section.count;
        uint32_t* positions = m_order.data() + at;
        at += count;
        if (count == 1) continue;
        uint32_t* hashes = localHashes;
        uint32_t* order = localOrder;
        if (count > kLocal) {
            heapHashes.resize(count);
            heapOrder.resize(count);
            hashes = heapHashes.data();
            order = heapOrder.data();
        }
        for (uint32_t i = 0; i < count; ++i) {
            hashes[i] = static_cast<uint32_t>(Detail::IdHash(m_values[positions[i]].id));
        }
        Detail::KeyedTableOrder(hashes, count, order);
        for (uint32_t i = 0; i < count; ++i) hashes[i] = positions[order[i]];
        std::copy(hashes, hashes + count, positions);
    }
    m_shape.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
        const SValue& v = m_values[i];
        m_shape[i] = {v.id, v.classId, v.tag};
    }
    m_planned = true;
    m_shaped = true;
}

template <class Sink>
inline void CDataWriterBinary::WriteEntry(Sink& sink, uint8_t tag, const SValue& v) const {
    if (tag < kTagString) {
        unsigned char* q = sink.Room(12);
        std::memcpy(q, &v.id, 4);
        std::memcpy(q + 4, &v.bits, 8);  // little-endian: the low bytes are the value
        sink.Commit(4 + kScalarWidth[tag]);
        return;
    }
    switch (tag) {
        case kTagString:
        case kTagWString:
        case kTagBlob:
            Put(sink, v.id);
            sink.Append(m_bytes.Data() + v.bits, v.size);
            break;
        case kTagDateTime: {
            unsigned char* q = sink.Room(16);
            const uint32_t version = 0;
            std::memcpy(q, &v.id, 4);
            std::memcpy(q + 4, &version, 4);
            std::memcpy(q + 8, &v.bits, 8);
            sink.Commit(16);
            break;
        }
        case kTagObject: {
            unsigned char* q = sink.Room(8);
            std::memcpy(q, &v.id, 4);
            std::memcpy(q + 4, &v.classId, 4);
            sink.Commit(8);
            reinterpret_cast<const CDataWriterBinary*>(v.bits)->WriteRecord(sink);
            break;
        }
        default:  // kTagContainer
            Put(sink, v.id);
            reinterpret_cast<const CContainerWriterBinary*>(v.bits)->WriteRecord(sink);
            break;
    }
}

template <class Sink>
void CDataWriterBinary::WriteRecord(Sink& sink) const {
    if (!m_shaped || !m_planned || m_values.size() != m_shape.size()) Plan();
    Put(sink, static_cast<uint8_t>(m_sections.size()));
    const uint32_t* position = m_order.data();
    for (const SSection& section : m_sections) {
        unsigned char* p = sink.Room(5);
        p[0] = section.tag;
        std::memcpy(p + 1, &section.count, 4);
        sink.Commit(5);
        for (uint32_t i = 0; i < section.count; ++i) {
            WriteEntry(sink, section.tag, m_values[*position++]);
        }
    }
}

void CDataWriterBinary::Reset() noexcept {
    if (m_children) {
        for (const SValue& v : m_values) {
            if (v.tag >= kTagObject) ReleaseChild(v);
        }
        m_children = false;
    }
    m_values.clear();
    m_index.clear();
    m_indexed = 0;
    m_bytes.Clear();
    m_shaped = m_planned;
}

template void CDataWriterBinary::WriteRecord(CChunkBuffer&) const;
template void CDataWriterBinary::WriteRecord(COutSink&) const;
template void CDataWriterBinary::WriteRecord(CCountSink&) const;

}  // namespace Tavrin::Binary
