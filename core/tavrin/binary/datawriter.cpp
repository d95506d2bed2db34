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

// Slot of an identifier in the per-kind indexes.
size_t Spread(uint32_t id) noexcept {
    return static_cast<size_t>((static_cast<uint64_t>(id) * 0x9E3779B97F4A7C15ull) >> 32);
}

}  // namespace

SValue* CDataWriterBinary::Find(uint8_t tag, uint32_t id) noexcept {
    std::vector<SValue>& values = m_values[tag];
    const std::vector<uint32_t>& index = m_index[tag];
    if (index.empty()) {
        for (SValue& v : values) {
            if (v.id == id) return &v;
        }
        return nullptr;
    }
    const size_t mask = index.size() - 1;
    for (size_t slot = Spread(id) & mask; index[slot]; slot = (slot + 1) & mask) {
        SValue& v = values[index[slot] - 1];
        if (v.id == id) return &v;
    }
    return nullptr;
}

void CDataWriterBinary::Index(uint8_t tag, uint32_t position) {
    std::vector<uint32_t>& index = m_index[tag];
    const std::vector<SValue>& values = m_values[tag];
    if (index.empty() && values.size() <= kIndexThreshold) return;
    if (values.size() * 2 > index.size()) {
        index.assign(std::bit_ceil(values.size() * 4), 0);
        const size_t mask = index.size() - 1;
        for (uint32_t i = 0; i < values.size(); ++i) {
            size_t slot = Spread(values[i].id) & mask;
            while (index[slot]) slot = (slot + 1) & mask;
            index[slot] = i + 1;
        }
        return;
    }
    const size_t mask = index.size() - 1;
    size_t slot = Spread(values[position].id) & mask;
    while (index[slot]) slot = (slot + 1) & mask;
    index[slot] = position + 1;
}

SValue& CDataWriterBinary::AddSlot(uint8_t tag, uint32_t id) {
    if (SValue* found = Find(tag, id)) return *found;
    std::vector<SValue>& values = m_values[tag];
    if (values.size() == kMaxCount) Raise(ERaise::BinaryValueTooLarge);
    values.push_back({0, 0, id, 0});
    if (values.size() == 1) {
        m_kinds |= 1u << tag;
        m_ranks |= 1u << kSectionRank[tag];
        ++m_sections;
    }
    try {
        Index(tag, static_cast<uint32_t>(values.size() - 1));
    } catch (...) {
        values.pop_back();
        if (values.empty()) {
            m_kinds &= ~(1u << tag);
            m_ranks &= ~(1u << kSectionRank[tag]);
            --m_sections;
        }
        throw;
    }
    return values.back();
}

void CDataWriterBinary::ReleaseChild(uint8_t tag, const SValue& value) noexcept {
    if (!value.bits) return;
    if (tag == kTagObject) {
        m_document.Release(reinterpret_cast<CDataWriterBinary*>(value.bits));
    } else {
        m_document.Release(reinterpret_cast<CContainerWriterBinary*>(value.bits));
    }
}

void CDataWriterBinary::Write(const char* name, size_t size, const void* data) {
    const uint32_t id = m_document.Names().Id(name);
    if (size >= kMaxCount + 1) Raise(ERaise::BinaryValueTooLarge);
    if (size && !data) Raise(ERaise::BinaryBlobWithoutBytes);
    const size_t offset = m_bytes.Size();
    unsigned char* p = m_bytes.Extend(4 + size);
    const uint32_t count = static_cast<uint32_t>(size);
    std::memcpy(p, &count, 4);
    if (size) std::memcpy(p + 4, data, size);
    SValue& slot = Slot(kTagBlob, id);
    slot.bits = offset;
    slot.size = 4 + size;
}

void CDataWriterBinary::Write(const char* name, const ISerializableContainer& value) {
    const uint32_t id = m_document.Names().Id(name);
    m_document.Names().Id(value.GetClassName());  // entered, though the record does not carry it
    CContainerWriterBinary* child = m_document.AcquireContainer();
    SValue* slot = nullptr;
    try {
        slot = &Slot(kTagContainer, id);
    } catch (...) {
        m_document.Release(child);
        throw;
    }
    ReleaseChild(kTagContainer, *slot);
    slot->bits = reinterpret_cast<uintptr_t>(child);
    value.Write(*child);
}

void CDataWriterBinary::Write(const char* name, const ISerializable& value) {
    const uint32_t id = m_document.Names().Id(name);
    const uint32_t classId = m_document.Names().Id(value.GetClassName());
    CDataWriterBinary* child = m_document.AcquireData();
    SValue* slot = nullptr;
    try {
        slot = &Slot(kTagObject, id);
    } catch (...) {
        m_document.Release(child);
        throw;
    }
    ReleaseChild(kTagObject, *slot);
    slot->bits = reinterpret_cast<uintptr_t>(child);
    slot->classId = classId;
    value.Write(*child);
}

void CDataWriterBinary::Write(const char* name, const IDateTime& value) {
    const uint32_t id = m_document.Names().Id(name);
    const uint64_t count = QvDateTime(value).ToFileTime();
    Slot(kTagDateTime, id).bits = count;
}

void CDataWriterBinary::Write(const char* name, const std::wstring& value) {
    const uint32_t id = m_document.Names().Id(name);
    const size_t length = WideLength(value);
    const uint64_t units = Utf16Units(value.data(), length);
    const size_t size = WidePrefixSize(units) + 2 * units;
    const size_t offset = m_bytes.Size();
    unsigned char* p = m_bytes.Extend(size);
    PutUtf16(PutWidePrefix(p, units), value.data(), length);
    SValue& slot = Slot(kTagWString, id);
    slot.bits = offset;
    slot.size = size;
}

void CDataWriterBinary::Write(const char* name, const std::string& value) {
    const uint32_t id = m_document.Names().Id(name);
    const size_t length = NarrowLength(value);
    if (length > kMaxCount) Raise(ERaise::BinaryValueTooLarge);
    const size_t offset = m_bytes.Size();
    unsigned char* p = m_bytes.Extend(4 + length);
    const uint32_t count = static_cast<uint32_t>(length);
    std::memcpy(p, &count, 4);
    Detail::CopySmall(p + 4, value.data(), length);
    SValue& slot = Slot(kTagString, id);
    slot.bits = offset;
    slot.size = 4 + length;
}

template <class Sink>
inline void CDataWriterBinary::WriteSection(Sink& sink, uint8_t tag) const {
    const std::vector<SValue>& values = m_values[tag];
    const uint32_t n = static_cast<uint32_t>(values.size());
    unsigned char* p = sink.Room(5);
    p[0] = tag;
    std::memcpy(p + 1, &n, 4);
    sink.Commit(5);
    if (n == 1) {
        WriteEntry(sink, tag, values[0]);
    } else {
        WriteEntries(sink, tag);
    }
}

// The entries of a section of several values, in the keyed table's order.
template <class Sink>
void CDataWriterBinary::WriteEntries(Sink& sink, uint8_t tag) const {
    const std::vector<SValue>& values = m_values[tag];
    const uint32_t n = static_cast<uint32_t>(values.size());
    if constexpr (std::is_same_v<Sink, CCountSink>) {  // the size does not depend on the order
        for (const SValue& v : values) WriteEntry(sink, tag, v);
        return;
    }
    // A writer taken from the pool mostly writes the same kind of object again: a small
    // section with the identifiers of the last one has its order.
    if (n <= kOrderCache && m_orderSize == n &&
        std::equal(values.begin(), values.end(), m_orderIds,
                   [](const SValue& v, uint32_t id) { return v.id == id; })) {
        for (uint32_t k = 0; k < n; ++k) WriteEntry(sink, tag, values[m_order[k]]);
        return;
    }
    constexpr uint32_t kLocal = 32;  // small sections, the usual case, need no allocation
    uint32_t localHashes[kLocal];    // filled up to n below
    uint32_t localOrder[kLocal];
    std::vector<uint32_t> heapHashes;
    std::vector<uint32_t> heapOrder;
    uint32_t* hashes = localHashes;
    uint32_t* order = localOrder;
    if (n > kLocal) {
        heapHashes.resize(n);
        heapOrder.resize(n);
        hashes = heapHashes.data();
        order = heapOrder.data();
    }
    for (uint32_t i = 0; i < n; ++i)
        hashes[i] = static_cast<uint32_t>(Detail::IdHash(values[i].id));
    Detail::KeyedTableOrder(hashes, n, order);
    if (n <= kOrderCache) {
        for (uint32_t i = 0; i < n; ++i) m_orderIds[i] = values[i].id;
        std::copy(order, order + n, m_order);
        m_orderSize = static_cast<uint8_t>(n);
    }
    for (uint32_t k = 0; k < n; ++k) WriteEntry(sink, tag, values[order[k]]);
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
    Put(sink, m_sections);
    for (uint32_t ranks = m_ranks; ranks; ranks &= ranks - 1) {
        WriteSection(sink, kSectionOrder[std::countr_zero(ranks)]);
    }
}

void CDataWriterBinary::Reset() noexcept {
    for (uint32_t kinds = m_kinds; kinds; kinds &= kinds - 1) {
        const uint8_t tag = static_cast<uint8_t>(std::countr_zero(kinds));
        if (tag == kTagObject || tag == kTagContainer) {
            for (const SValue& v : m_values[tag]) ReleaseChild(tag, v);
        }
        m_values[tag].clear();
        m_index[tag].clear();
    }
    m_kinds = 0;
    m_ranks = 0;
    m_sections = 0;
    m_bytes.Clear();
}

template void CDataWriterBinary::WriteRecord(CChunkBuffer&) const;
template void CDataWriterBinary::WriteRecord(COutSink&) const;
template void CDataWriterBinary::WriteRecord(CCountSink&) const;

}  // namespace Tavrin::Binary
