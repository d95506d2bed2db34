// The value writers of the binary writer: what the application's objects and containers
// write goes into them, and once the root's Write has returned they write the records.
//
// Observable results are fixed: identifiers in order of first use, and the entries of each
// section in the iteration order of the keyed table that the format is defined by. The storage
// behind them is built for speed instead: each object's writer collects its entries in one
// flat array in call order with the values already encoded, value writers are recycled from object
// to object, and container elements go into chunked buffers that never move what they hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include <tavrin/interfaces.h>
#include <tavrin/qvdatetime.h>

#include "core/basepool/raise.h"
#include "core/tavrin/binary/binaryformat.h"
#include "core/tavrin/binary/bytesinks.h"
#include "core/tavrin/binary/nametable.h"
#include "core/tavrin/common/bytestack.h"

namespace Tavrin::Binary {

class CDataWriterBinary;
class CContainerWriterBinary;

// What one Write builds: the name table and the recycled value writers.
class CDocument {
public:
    CDocument() = default;
    CDocument(const CDocument&) = delete;
    CDocument& operator=(const CDocument&) = delete;
    ~CDocument();

    CNameTable& Names() noexcept { return m_names; }

    CDataWriterBinary* AcquireData();
    void Release(CDataWriterBinary* writer) noexcept;
    CContainerWriterBinary* AcquireContainer();
    void Release(CContainerWriterBinary* writer) noexcept;

private:
    CNameTable m_names;
    std::vector<std::unique_ptr<CDataWriterBinary>> m_dataWriters;
    std::vector<CDataWriterBinary*> m_freeData;
    std::vector<std::unique_ptr<CContainerWriterBinary>> m_containerWriters;
    std::vector<CContainerWriterBinary*> m_freeContainers;
};

// Takes a value writer from the document and gives it back on every exit.
template <class W>
class CLease {
public:
    CLease(CDocument& document, W* writer) noexcept : m_document(document), m_writer(writer) {}
    ~CLease() { m_document.Release(m_writer); }
    CLease(const CLease&) = delete;
    CLease& operator=(const CLease&) = delete;
    W& operator*() const noexcept { return *m_writer; }
    W* operator->() const noexcept { return m_writer; }

private:
    CDocument& m_document;
    W* m_writer;
};

// The 100-nanosecond count of a date-time: the library's own class directly, any other type
// through its getters, which a derived class may answer otherwise.
inline uint64_t FileTimeOf(const IDateTime& value) {
    if (typeid(value) == typeid(QvDateTime)) {
        return static_cast<const QvDateTime&>(value).ToFileTime();
    }
    return QvDateTime(value).ToFileTime();
}

// One stored value of an object: scalars as their bits, texts and blobs as an encoded run of
// the writer's byte store, nested objects and containers as a child writer.
struct SValue {
    uint64_t bits;     // scalar value, byte offset, date-time count, or child writer
    uint64_t size;     // length of the encoded run
    uint32_t id;       // name identifier
    uint32_t classId;  // class-name identifier of a nested object or container
    uint8_t tag;
};

// The values of one object in first-use order, one entry per kind and name; the record groups
// them by kind, each kind in the keyed table's order.
//
// A writer taken from the pool mostly writes the same kind of object again. It keeps the kinds
// and names of the last object it wrote (its shape) with that object's record plan: while the
// new object repeats the shape, a name is checked against the shape's text instead of being
// looked up, no duplicate can occur, and the plan is reused. On the shape, texts, blobs,
// date-times and nested values are stored behind their entry's fixed bytes (section head,
// identifier), so that the record is the head and runs of the byte store, in the plan's
// order, with the nested records between them.
class CDataWriterBinary final : public IDataWriter {
public:
    explicit CDataWriterBinary(CDocument& document) noexcept : m_document(document) {}

    void Write(const char* name, size_t size, const void* data) override;
    void Write(const char* name, const ISerializableContainer& value) override;
    void Write(const char* name, const ISerializable& value) override;
    void Write(const char* name, const IDateTime& value) override;
    void Write(const char* name, const std::wstring& value) override;
    void Write(const char* name, const std::string& value) override;
    void Write(const char* name, char value) override { PutScalar(kTagChar, name, value); }
    void Write(const char* name, double value) override { PutScalar(kTagDouble, name, value); }
    void Write(const char* name, float value) override { PutScalar(kTagFloat, name, value); }
    void Write(const char* name, long long value) override { PutScalar(kTagInt64, name, value); }
    void Write(const char* name, unsigned long long value) override {
        PutScalar(kTagUInt64, name, value);
    }
    void Write(const char* name, int value) override { PutScalar(kTagInt32, name, value); }
    void Write(const char* name, unsigned int value) override {
        PutScalar(kTagUInt32, name, value);
    }
    void Write(const char* name, short value) override { PutScalar(kTagInt16, name, value); }
    void Write(const char* name, unsigned short value) override {
        PutScalar(kTagUInt16, name, value);
    }
    void Write(const char* name, signed char value) override { PutScalar(kTagInt8, name, value); }
    void Write(const char* name, unsigned char value) override {
        PutScalar(kTagUInt8, name, value);
    }
    void Write(const char* name, bool value) override {
        PutScalar(kTagBool, name, static_cast<unsigned char>(value ? 1 : 0));
    }

    // The data record: section count, then each non-empty section in the fixed tag order.
    template <class Sink>
    void WriteRecord(Sink& sink) const;

    // Bytes of the data record.
    uint64_t RecordSize() const;

    // Empties the writer for reuse; nested writers go back to the document.
    void Reset() noexcept {
        if (m_children) ReleaseChildren();
        m_count = 0;
        if (m_indexed) ClearIndex();
        m_shapeLimit = m_shapeCount;
        m_stored = m_shapeCount != 0;
        if (!m_stored) {
            m_bytes.Clear();
        } else if (m_headStored) {
            m_bytes.Shrink(m_head.size());  // the last object's head, whose values get replaced
        } else {
            StoreHead();
        }
    }

private:
    static constexpr uint32_t kIndexThreshold = 16;
    // Records whose bytes, nested records aside, stay within this are written in one run.
    static constexpr uint64_t kRunLimit = 4096;
    static constexpr uint32_t kNone = UINT32_MAX;

    // A value's name resolved: its identifier, and whether it repeats the shape.
    struct SKey {
        uint32_t id;
        bool shaped;
    };

    // One kind and name of the shape. A scalar's value stands in the head at `offset`; other
    // values are stored behind the `prefixSize` fixed bytes of their entry, `prefix`.
    struct SShape {
        unsigned char prefix[16];
        const char* text;  // the name, the name table's copy
        uint32_t id;
        uint32_t classId;
        uint32_t offset;
        uint32_t next;  // position of the next value stored behind fixed bytes, or kNone
        uint8_t tag;
        uint8_t prefixSize;
    };

    // One section of the plan.
    struct SSection {
        uint8_t tag;
        uint32_t count;
    };

    // A run of the byte store in the record, from start `from` to start `to` (kNone: the end
    // of the store), then the record of the value at position `child` (kNone: none).
    struct SPiece {
        uint32_t from;
        uint32_t to;
        uint32_t child;
    };

    static bool SameText(const char* own, const char* text) noexcept {
        return std::strcmp(own, text ? text : "") == 0;
    }

    template <class T>
    void PutScalar(uint8_t tag, const char* name, T value) {
        const uint32_t k = m_count;
        if (k < m_shapeLimit) {
            const SShape& s = m_shape[k];
            if (s.tag == tag) {
                // Stored before the name is checked, so that little has to outlive the check;
                // a value of another name leaves the shape, which reads the head below k only.
                std::memcpy(m_bytes.Data() + s.offset, &value, sizeof(T));
                if (SameText(s.text, name)) {
                    ++m_count;
                    return;
                }
            }
        }
        uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof(T));
        PutScalarAside(tag, name, bits);
    }
    [[gnu::noinline]] void PutScalarAside(uint8_t tag, const char* name, uint64_t bits);

    // The identifier of a value's name; asks the name table only once the shape is left.
    SKey Key(uint8_t tag, const char* name) {
        const uint32_t k = m_count;
        if (k < m_shapeLimit) {
            const SShape& s = m_shape[k];
            if (s.tag == tag && SameText(s.text, name)) return {s.id, true};
        }
        return KeyAside(name);
    }
    SKey KeyAside(const char* name);
    // Values written on the shape stand only in the byte store; leaving it makes their entries.
    void LeaveShape() const noexcept;

    // Appends `size` bytes for a value to the byte store, on the shape behind its fixed bytes;
    // returns where the value goes.
    unsigned char* Reserve(SKey key, size_t size) {
        if (!key.shaped) return m_bytes.Extend(size);
        const size_t at = m_bytes.Size();
        const SShape& s = m_shape[m_count];
        unsigned char* p = m_bytes.Extend(sizeof s.prefix + size);
        std::memcpy(p, s.prefix, sizeof s.prefix);
        m_bytes.Shrink(at + s.prefixSize + size);
        m_starts[m_count + 1] = at;
        return p + s.prefixSize;
    }

    // Completes a text or blob of `size` bytes stored at `p`: on the shape it stands in the
    // store alone, else it gets an entry.
    void Place(uint8_t tag, SKey key, const unsigned char* p, size_t size) {
        if (key.shaped) {
            ++m_count;
            return;
        }
        PlaceAside(tag, key.id, p, size);
    }
    void PlaceAside(uint8_t tag, uint32_t id, const unsigned char* p, size_t size);

    // The identifier of a nested value's class name, the shape's when the text is the same.
    uint32_t ClassKey(SKey key, const char* className) {
        if (key.shaped) {
            const uint32_t id = m_shape[m_count].classId;
            if (m_document.Names().Is(id, className)) return id;
        }
        return m_document.Names().Id(className);
    }

    // The entry of a nested value under the key, added at the end when new.
    SValue& Slot(uint8_t tag, SKey key) {
        if (key.shaped) {  // the shape's values fit the capacity
            SValue& v = m_values[m_count++];
            v = {0, 0, key.id, 0, tag};
            return v;
        }
        return AddSlot(tag, key.id);
    }
    [[gnu::noinline]] SValue& AddSlot(uint8_t tag, uint32_t id);
    SValue* Find(uint8_t tag, uint32_t id);
    void CatchUpIndex();
    inline void ReleaseChild(const SValue& value) noexcept;
    bool Planned() const noexcept { return m_shapeLimit && m_count == m_shapeCount; }
    void Plan() const;

    template <class Sink>
    void WriteEntry(Sink& sink, uint8_t tag, const SValue& value) const;
    template <class Sink>
    [[gnu::noinline]] void WriteListed(Sink& sink) const;
    template <class Sink>
    [[gnu::noinline]] void WritePieces(Sink& sink) const;
    void ReleaseChildren() noexcept;
    void ClearIndex() noexcept;
    void StoreHead() noexcept;

    CDocument& m_document;
    // The values in first-use order. On the shape only nested values have theirs; the others
    // are made when the shape is left.
    std::unique_ptr<SValue[]> m_values;
    uint32_t m_count = 0;
    uint32_t m_capacity = 0;
    // Open-addressed index of (kind, identifier) to position + 1, once the object holds many
    // values; it covers the first m_indexed of them.
    std::vector<uint32_t> m_index;
    uint32_t m_indexed = 0;
    bool m_children = false;  // some value is a nested object or container
    // The encoded texts, blobs and date-times; on the shape, the head first, then each value
    // behind its fixed bytes.
    mutable Detail::CByteStack m_bytes;
    // The shape, with the plan of a record of that shape: the sections and the positions of
    // the values in the order they are written; the values hold at least as many. While the
    // values so far repeat the shape, m_shapeLimit is its count, else 0.
    mutable std::unique_ptr<SShape[]> m_shape;
    mutable uint32_t m_shapeCount = 0;
    mutable uint32_t m_shapeCapacity = 0;
    mutable std::vector<uint32_t> m_shapeChildren;  // positions of its objects and containers
    mutable uint32_t m_shapeLimit = 0;
    mutable uint64_t m_fixedSize = 0;  // bytes of the record besides texts, blobs and nested ones
    mutable std::vector<SSection> m_sections;
    mutable std::vector<uint32_t> m_order;
    // The head of the record: section count and the scalar sections, with the values of the
    // scalars; then come m_sections from m_textSection, with m_order from m_scalars.
    mutable std::vector<unsigned char> m_head;
    mutable uint32_t m_textSection = 0;
    mutable uint32_t m_scalars = 0;
    // The record of values written on the shape, as runs of the store. m_starts[0] is the
    // head's start, m_starts[k + 1] where the value at position k starts.
    mutable std::vector<SPiece> m_pieces;
    mutable std::unique_ptr<size_t[]> m_starts;
    mutable bool m_stored = false;      // the values so far were written on the shape
    mutable bool m_headStored = false;  // the store begins with the head of this plan
    mutable bool m_oneRun = false;      // the plan's record is the whole store
};

// The elements of one container, encoded as they arrive.
class CContainerWriterBinary final : public IContainerWriter {
public:
    explicit CContainerWriterBinary(CDocument& document) noexcept : m_document(document) {}

    void Write(size_t size, const void* data) override;
    void Write(const ISerializableContainer& value) override;
    void Write(const ISerializable& value) override;
    void Write(const IDateTime& value) override;
    void Write(const std::wstring& value) override;
    void Write(const std::string& value) override;
    void Write(char value) override { PutScalar(kTagChar, value); }
    void Write(double value) override { PutScalar(kTagDouble, value); }
    void Write(float value) override { PutScalar(kTagFloat, value); }
    void Write(long long value) override { PutScalar(kTagInt64, value); }
    void Write(unsigned long long value) override { PutScalar(kTagUInt64, value); }
    void Write(int value) override { PutScalar(kTagInt32, value); }
    void Write(unsigned int value) override { PutScalar(kTagUInt32, value); }
    void Write(short value) override { PutScalar(kTagInt16, value); }
    void Write(unsigned short value) override { PutScalar(kTagUInt16, value); }
    void Write(signed char value) override { PutScalar(kTagInt8, value); }
    void Write(unsigned char value) override { PutScalar(kTagUInt8, value); }
    void Write(bool value) override {
        PutScalar(kTagBool, static_cast<unsigned char>(value ? 1 : 0));
    }

    // The container record: element tag, count, the class list of object elements, elements.
    template <class Sink>
    void WriteRecord(Sink& sink) const;

    // Bytes of the container record.
    uint64_t RecordSize() const noexcept;

    void Reset() noexcept;

private:
    // Fixes the element kind, or refuses a second one.
    void Accept(uint8_t tag, Detail::ERaise otherKind, Detail::ERaise tooMany) {
        if (m_fixed && m_tag != tag) Detail::Raise(otherKind);
        if (m_count == kMaxCount) Detail::Raise(tooMany);
        m_fixed = true;
        m_tag = tag;
    }

    // Keeps the element writer, reset, unless another is kept already.
    inline void KeepElement(CDataWriterBinary* element) noexcept;
    void NoteClass(uint32_t classId);

    template <class T>
    void PutScalar(uint8_t tag, T value) {
        Accept(tag, Detail::ERaise::BinaryElementKind, Detail::ERaise::BinaryTooManyTextElements);
        Put(m_elements, value);
        ++m_count;
    }

    CDocument& m_document;
    // The writer of object elements, taken on the first one and kept, reset after each.
    CDataWriterBinary* m_element = nullptr;
    // Class-name identifiers of object elements: the first one's, and the whole list once
    // another class has come.
    uint32_t m_firstClassId = 0;
    bool m_mixed = false;
    std::vector<uint32_t> m_classIds;
    bool m_fixed = false;
    uint8_t m_tag = 0;
    uint32_t m_count = 0;
    CChunkBuffer m_elements;
};

// ---- CDocument -------------------------------------------------------------------------------

inline CDocument::~CDocument() = default;

inline CDataWriterBinary* CDocument::AcquireData() {
    if (!m_freeData.empty()) {
        CDataWriterBinary* w = m_freeData.back();
        m_freeData.pop_back();
        return w;
    }
    m_freeData.reserve(m_dataWriters.size() + 1);
    m_dataWriters.push_back(std::make_unique<CDataWriterBinary>(*this));
    return m_dataWriters.back().get();
}

inline void CDocument::Release(CDataWriterBinary* writer) noexcept {
    writer->Reset();
    m_freeData.push_back(writer);  // capacity reserved in AcquireData
}

inline CContainerWriterBinary* CDocument::AcquireContainer() {
    if (!m_freeContainers.empty()) {
        CContainerWriterBinary* w = m_freeContainers.back();
        m_freeContainers.pop_back();
        return w;
    }
    m_freeContainers.reserve(m_containerWriters.size() + 1);
    m_containerWriters.push_back(std::make_unique<CContainerWriterBinary>(*this));
    return m_containerWriters.back().get();
}

inline void CDocument::Release(CContainerWriterBinary* writer) noexcept {
    writer->Reset();
    m_freeContainers.push_back(writer);
}

inline void CDataWriterBinary::ReleaseChild(const SValue& value) noexcept {
    if (!value.bits) return;
    if (value.tag == kTagObject) {
        m_document.Release(reinterpret_cast<CDataWriterBinary*>(value.bits));
    } else {
        m_document.Release(reinterpret_cast<CContainerWriterBinary*>(value.bits));
    }
}

inline void CContainerWriterBinary::KeepElement(CDataWriterBinary* element) noexcept {
    if (m_element) {
        m_document.Release(element);
        return;
    }
    element->Reset();
    m_element = element;
}

// The records for each sink, instantiated in datawriter.cpp and containerwriter.cpp.
extern template void CDataWriterBinary::WriteRecord(CChunkBuffer&) const;
extern template void CDataWriterBinary::WriteRecord(COutSink&) const;
extern template void CContainerWriterBinary::WriteRecord(CChunkBuffer&) const;
extern template void CContainerWriterBinary::WriteRecord(COutSink&) const;

}  // namespace Tavrin::Binary
