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

// Fixed bytes of an entry of tags 12 to 17: the identifier, and for date-times the value, for
// objects the class-name identifier.
constexpr uint8_t kEntryHead[6] = {4, 4, 16, 4, 8, 4};

}  // namespace

void CDataWriterBinary::CatchUpIndex() {
    const size_t n = m_count;
    if (n * 2 > m_index.size()) {
        m_index.assign(std::bit_ceil(n * 4), 0);
        m_indexed = 0;
    }
    const size_t mask = m_index.size() - 1;
    for (; m_indexed < n; ++m_indexed) {
        const SValue& v = m_values[m_indexed];
        size_t slot = Spread(v.tag, v.id) & mask;
        while (m_index[slot]) slot = (slot + 1) & mask;
        m_index[slot] = m_indexed + 1;
    }
}

SValue* CDataWriterBinary::Find(uint8_t tag, uint32_t id) {
    if (m_count < kIndexThreshold) {
        for (uint32_t i = 0; i < m_count; ++i) {
            SValue& v = m_values[i];
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
    if (m_count == m_capacity) {
        if (m_count == kMaxCount) Raise(ERaise::BinaryValueTooLarge);
        const uint32_t capacity = static_cast<uint32_t>(
            std::min<uint64_t>(kMaxCount, std::max<uint64_t>(16, m_capacity * 2ull)));
        std::unique_ptr<SValue[]> values(new SValue[capacity]);
        if (m_count) std::memcpy(values.get(), m_values.get(), m_count * sizeof(SValue));
        m_values = std::move(values);
        m_capacity = capacity;
    }
    SValue& v = m_values[m_count++];
    v = {0, 0, id, 0, tag};
    return v;
}

// Makes the entries of the values written on the shape so far: scalars from the head, the
// others from where they stand in the store.
void CDataWriterBinary::LeaveShape() const noexcept {
    if (m_stored) {
        const unsigned char* bytes = m_bytes.Data();
        for (uint32_t i = 0; i < m_count; ++i) {
            const SShape& s = m_shape[i];
            if (s.tag >= kTagObject) continue;  // nested values have their entries
            SValue& v = m_values[i];
            v = {0, 0, s.id, 0, s.tag};
            if (s.tag < kTagString) {
                std::memcpy(&v.bits, bytes + s.offset, kScalarWidth[s.tag]);
                continue;
            }
            const size_t at = m_starts[i + 1] + s.prefixSize;
            if (s.tag == kTagDateTime) {
                std::memcpy(&v.bits, bytes + at, 8);
                continue;
            }
            const size_t end = s.next < m_count ? m_starts[s.next + 1] : m_bytes.Size();
            v.bits = at;
            v.size = end - at;
        }
        m_stored = false;
    }
    m_shapeLimit = 0;
}

CDataWriterBinary::SKey CDataWriterBinary::KeyAside(const char* name) {
    LeaveShape();
    return {m_document.Names().Id(name), false};
}

// A scalar off the shape.
void CDataWriterBinary::PutScalarAside(uint8_t tag, const char* name, uint64_t bits) {
    AddSlot(tag, KeyAside(name).id).bits = bits;
}

void CDataWriterBinary::PlaceAside(uint8_t tag, uint32_t id, const unsigned char* p, size_t size) {
    const size_t offset = static_cast<size_t>(p - m_bytes.Data());
    SValue& slot = AddSlot(tag, id);
    slot.bits = offset;
    slot.size = size;
}

void CDataWriterBinary::Write(const char* name, size_t size, const void* data) {
    const SKey key = Key(kTagBlob, name);
    if (size >= kMaxCount + 1) Raise(ERaise::BinaryValueTooLarge);
    if (size && !data) Raise(ERaise::BinaryBlobWithoutBytes);
    unsigned char* p = Reserve(key, 4 + size);
    const uint32_t count = static_cast<uint32_t>(size);
    std::memcpy(p, &count, 4);
    if (size) Detail::CopyShort(p + 4, static_cast<const unsigned char*>(data), size);
    Place(kTagBlob, key, p, 4 + size);
}

void CDataWriterBinary::Write(const char* name, const ISerializableContainer& value) {
    const SKey key = Key(kTagContainer, name);
    const uint32_t classId = ClassKey(key, value.GetClassName());
    const size_t before = m_bytes.Size();
    if (key.shaped) Reserve(key, 0);
    CContainerWriterBinary* child = nullptr;
    SValue* slot = nullptr;
    try {
        child = m_document.AcquireContainer();
        slot = &Slot(kTagContainer, key);
    } catch (...) {
        if (child) m_document.Release(child);
        m_bytes.Shrink(before);
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
    const size_t before = m_bytes.Size();
    if (key.shaped) {
        // The fixed bytes end with the shape's class; this object's may be another.
        std::memcpy(Reserve(key, 0) - 4, &classId, 4);
    }
    CDataWriterBinary* child = nullptr;
    SValue* slot = nullptr;
    try {
        child = m_document.AcquireData();
        slot = &Slot(kTagObject, key);
    } catch (...) {
        if (child) m_document.Release(child);
        m_bytes.Shrink(before);
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
    const uint64_t count = FileTimeOf(value);
    if (key.shaped) {
        std::memcpy(Reserve(key, 8), &count, 8);
        ++m_count;
        return;
    }
    AddSlot(kTagDateTime, key.id).bits = count;
}

void CDataWriterBinary::Write(const char* name, const std::wstring& value) {
    const SKey key = Key(kTagWString, name);
    const size_t length = WideLength(value);
    // Mostly of the basic plane: encoded in one pass, and again when it was not.
    const size_t before = m_bytes.Size();
    const size_t basicSize = WidePrefixSize(length) + 2 * length;
    unsigned char* q = Reserve(key, basicSize);
    if (PutBasicUtf16(PutWidePrefix(q, length), value.data(), length)) {
        Place(kTagWString, key, q, basicSize);
        return;
    }
    m_bytes.Shrink(before);
    bool basic = false;
    const uint64_t units = Utf16Units(value.data(), length, basic);
    const size_t size = WidePrefixSize(units) + 2 * units;
    unsigned char* p = Reserve(key, size);
    PutUtf16(PutWidePrefix(p, units), value.data(), length, basic);
    Place(kTagWString, key, p, size);
}

void CDataWriterBinary::Write(const char* name, const std::string& value) {
    const SKey key = Key(kTagString, name);
    const size_t length = NarrowLength(value);
    if (length > kMaxCount) Raise(ERaise::BinaryValueTooLarge);
    unsigned char* p = Reserve(key, 4 + length);
    const uint32_t count = static_cast<uint32_t>(length);
    std::memcpy(p, &count, 4);
    Detail::CopySmall(p + 4, value.data(), length);
    Place(kTagString, key, p, 4 + length);
}

// The record plan of the values as they stand, which become the shape: the sections in the
// fixed tag order, and in each the positions in the keyed table's order.
void CDataWriterBinary::Plan() const {
    LeaveShape();
    m_shapeCount = 0;
    m_shapeLimit = 0;
    const uint32_t n = m_count;
    uint32_t counts[kTagCount] = {};
    uint64_t fixed = 1;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t tag = m_values[i].tag;
        ++counts[tag];
        fixed += tag < kTagString ? 4 + kScalarWidth[tag] : kEntryHead[tag - kTagString];
    }
    uint32_t next[kTagCount] = {};  // where each kind's positions go
    m_sections.clear();
    uint32_t at = 0;
    for (const uint8_t tag : kSectionOrder) {
        if (!counts[tag]) continue;
        m_sections.push_back({tag, counts[tag]});
        next[tag] = at;
        at += counts[tag];
    }
    fixed += 5 * m_sections.size();
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
    if (m_shapeCapacity < n) {
        m_shape = std::make_unique<SShape[]>(n);
        m_starts = std::make_unique<size_t[]>(size_t{n} + 1);
        m_starts[0] = 0;  // the head
        m_shapeCapacity = n;
    }
    m_shapeChildren.clear();
    for (uint32_t i = 0; i < n; ++i) {
        const SValue& v = m_values[i];
        SShape& shape = m_shape[i];
        shape = {};
        shape.text = m_document.Names().Text(v.id);
        shape.id = v.id;
        shape.classId = v.tag >= kTagObject ? v.classId : 0;  // scalars have none
        shape.tag = v.tag;
        if (v.tag >= kTagObject) m_shapeChildren.push_back(i);
    }
    // The head, with the values as they stand.
    uint32_t sections = 0;
    uint32_t scalars = 0;
    size_t size = 1;
    for (; sections < m_sections.size() && m_sections[sections].tag < kTagString; ++sections) {
        const SSection& section = m_sections[sections];
        scalars += section.count;
        size += 5 + size_t(section.count) * (4 + kScalarWidth[section.tag]);
    }
    m_head.resize(size);
    unsigned char* p = m_head.data();
    *p++ = static_cast<uint8_t>(m_sections.size());
    const uint32_t* position = m_order.data();
    for (uint32_t s = 0; s < sections; ++s) {
        const SSection& section = m_sections[s];
        p[0] = section.tag;
        std::memcpy(p + 1, &section.count, 4);
        p += 5;
        const uint8_t width = kScalarWidth[section.tag];
        for (uint32_t i = 0; i < section.count; ++i, ++position) {
            const SValue& v = m_values[*position];
            std::memcpy(p, &v.id, 4);
            std::memcpy(p + 4, &v.bits, width);
            m_shape[*position].offset = static_cast<uint32_t>(p + 4 - m_head.data());
            p += 4 + width;
        }
    }
    m_textSection = sections;
    m_scalars = scalars;
    // The fixed bytes of the other entries.
    const uint32_t* entry = m_order.data() + scalars;
    for (uint32_t s = sections; s < m_sections.size(); ++s) {
        const SSection& section = m_sections[s];
        for (uint32_t i = 0; i < section.count; ++i, ++entry) {
            SShape& shape = m_shape[*entry];
            unsigned char* q = shape.prefix;
            if (i == 0) {
                q[0] = section.tag;
                std::memcpy(q + 1, &section.count, 4);
                q += 5;
            }
            std::memcpy(q, &shape.id, 4);
            q += 4;
            if (section.tag == kTagDateTime) {
                const uint32_t version = 0;
                std::memcpy(q, &version, 4);
                q += 4;
            } else if (section.tag == kTagObject) {
                std::memcpy(q, &shape.classId, 4);
                q += 4;
            }
            shape.prefixSize = static_cast<uint8_t>(q - shape.prefix);
        }
    }
    // The runs of the store in record order: the head, then the other entries; entries that
    // follow one another in both orders share a run, up to a nested record.
    uint32_t first = kNone;  // the first value stored behind fixed bytes
    for (uint32_t i = n; i-- > 0;) {
        m_shape[i].next = first;
        if (m_values[i].tag >= kTagString) first = i;
    }
    const auto start = [](uint32_t k) { return k == kNone ? kNone : k + 1; };
    m_pieces.clear();
    m_pieces.push_back({0, start(first), kNone});
    for (uint32_t r = scalars; r < n; ++r) {
        const uint32_t k = m_order[r];
        const uint32_t to = start(m_shape[k].next);
        const uint32_t child = m_values[k].tag >= kTagObject ? k : kNone;
        SPiece& last = m_pieces.back();
        if (last.child == kNone && last.to == k + 1) {
            last.to = to;
            last.child = child;
        } else {
            m_pieces.push_back({k + 1, to, child});
        }
    }
    m_oneRun = m_pieces.size() == 1 && m_pieces[0].child == kNone;
    m_bytes.Reserve(m_head.size());  // so that Reset can store the head without growing
    m_stored = false;
    m_headStored = false;
    m_fixedSize = fixed;
    m_shapeCount = n;
    m_shapeLimit = n;
}

uint64_t CDataWriterBinary::RecordSize() const {
    if (!Planned()) Plan();
    if (m_stored) {
        uint64_t size = m_bytes.Size();
        for (const uint32_t i : m_shapeChildren) {
            const SValue& v = m_values[i];
            if (v.tag == kTagObject) {
                size += reinterpret_cast<const CDataWriterBinary*>(v.bits)->RecordSize();
            } else {
                size += reinterpret_cast<const CContainerWriterBinary*>(v.bits)->RecordSize();
            }
        }
        return size;
    }
    uint64_t size = m_fixedSize;
    for (uint32_t i = 0; i < m_count; ++i) {
        const SValue& v = m_values[i];
        if (v.tag == kTagObject) {
            size += reinterpret_cast<const CDataWriterBinary*>(v.bits)->RecordSize();
        } else if (v.tag == kTagContainer) {
            size += reinterpret_cast<const CContainerWriterBinary*>(v.bits)->RecordSize();
        } else if (v.tag >= kTagString && v.tag != kTagDateTime) {
            size += v.size;
        }
    }
    return size;
}

// One entry of tags 12 to 17, for records too large for one run.
template <class Sink>
inline void CDataWriterBinary::WriteEntry(Sink& sink, uint8_t tag, const SValue& v) const {
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

namespace {

// Appends a run of bytes to the sink; short runs in place.
template <class Sink>
inline void PutRun(Sink& sink, const unsigned char* data, size_t n, size_t limit) {
    if (n > limit) {
        sink.Append(data, n);
        return;
    }
    unsigned char* p = sink.Room(n);
    if (n <= 64) {
        Detail::CopyShort(p, data, n);
    } else {
        std::memcpy(p, data, n);
    }
    sink.Commit(n);
}

}  // namespace

// Values written on the shape make their record from runs of the store, with the nested
// records between them; others go through the plan entry by entry.
template <class Sink>
void CDataWriterBinary::WriteRecord(Sink& sink) const {
    if (!m_stored || !Planned()) {
        WriteListed(sink);
    } else if (m_oneRun) {
        PutRun(sink, m_bytes.Data(), m_bytes.Size(), kRunLimit);
    } else {
        WritePieces(sink);
    }
}

template <class Sink>
void CDataWriterBinary::WritePieces(Sink& sink) const {
    const unsigned char* bytes = m_bytes.Data();
    for (const SPiece& piece : m_pieces) {
        const size_t from = m_starts[piece.from];
        const size_t to = piece.to == kNone ? m_bytes.Size() : m_starts[piece.to];
        PutRun(sink, bytes + from, to - from, kRunLimit);
        if (piece.child == kNone) continue;
        const SValue& v = m_values[piece.child];
        if (v.tag == kTagObject) {
            reinterpret_cast<const CDataWriterBinary*>(v.bits)->WriteRecord(sink);
        } else {
            reinterpret_cast<const CContainerWriterBinary*>(v.bits)->WriteRecord(sink);
        }
    }
}

template <class Sink>
void CDataWriterBinary::WriteListed(Sink& sink) const {
    if (!Planned()) Plan();
    const SSection* section = m_sections.data() + m_textSection;
    const SSection* const last = m_sections.data() + m_sections.size();
    const uint32_t* position = m_order.data() + m_scalars;
    // Bytes of this record besides the nested ones, at most.
    uint64_t bound = m_fixedSize + m_bytes.Size();
    if (bound > kRunLimit) {
        sink.Append(m_head.data(), m_head.size());
        for (; section != last; ++section) {
            unsigned char* p = sink.Room(5);
            p[0] = section->tag;
            std::memcpy(p + 1, &section->count, 4);
            sink.Commit(5);
            for (uint32_t i = 0; i < section->count; ++i) {
                WriteEntry(sink, section->tag, m_values[*position++]);
            }
        }
        return;
    }
    // The usual record: written in place, in runs between the nested records.
    unsigned char* start = sink.Room(bound);
    Detail::CopyShort(start, m_head.data(), m_head.size());
    unsigned char* p = start + m_head.size();
    for (; section != last; ++section) {
        const uint8_t tag = section->tag;
        p[0] = tag;
        std::memcpy(p + 1, &section->count, 4);
        p += 5;
        const uint32_t* end = position + section->count;
        for (; position != end; ++position) {
            const SValue& v = m_values[*position];
            std::memcpy(p, &v.id, 4);
            switch (tag) {
                case kTagString:
                case kTagWString:
                case kTagBlob:
                    Detail::CopyShort(p + 4, m_bytes.Data() + v.bits, v.size);
                    p += 4 + v.size;
                    break;
                case kTagDateTime: {
                    const uint32_t version = 0;
                    std::memcpy(p + 4, &version, 4);
                    std::memcpy(p + 8, &v.bits, 8);
                    p += 16;
                    break;
                }
                default: {  // objects and containers: their records go between two runs
                    if (tag == kTagObject) {
                        std::memcpy(p + 4, &v.classId, 4);
                        p += 4;
                    }
                    p += 4;
                    const size_t used = static_cast<size_t>(p - start);
                    sink.Commit(used);
                    bound -= used;
                    if (tag == kTagObject) {
                        reinterpret_cast<const CDataWriterBinary*>(v.bits)->WriteRecord(sink);
                    } else {
                        reinterpret_cast<const CContainerWriterBinary*>(v.bits)->WriteRecord(sink);
                    }
                    start = p = sink.Room(bound);
                    break;
                }
            }
        }
    }
    sink.Commit(static_cast<size_t>(p - start));
}

void CDataWriterBinary::ReleaseChildren() noexcept {
    if (m_shapeLimit) {  // the values follow the shape, which knows where its children are
        for (const uint32_t i : m_shapeChildren) {
            if (i < m_count) ReleaseChild(m_values[i]);
        }
    } else {
        for (uint32_t i = 0; i < m_count; ++i) {
            const SValue& v = m_values[i];
            if (v.tag >= kTagObject) ReleaseChild(v);
        }
    }
    m_children = false;
}

void CDataWriterBinary::ClearIndex() noexcept {
    m_index.clear();
    m_indexed = 0;
}

void CDataWriterBinary::StoreHead() noexcept {
    m_bytes.Clear();
    std::memcpy(m_bytes.Extend(m_head.size()), m_head.data(), m_head.size());  // reserved
    m_headStored = true;
}

template void CDataWriterBinary::WriteRecord(CChunkBuffer&) const;
template void CDataWriterBinary::WriteRecord(COutSink&) const;

}  // namespace Tavrin::Binary
