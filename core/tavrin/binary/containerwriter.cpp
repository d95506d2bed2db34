// The writer of one container's elements.
#include "core/tavrin/binary/valuewriters.h"

#include <tavrin/qvdatetime.h>

#include "core/tavrin/binary/textcoding.h"
#include "core/tavrin/common/bytes.h"

namespace Tavrin::Binary {

using Detail::ERaise;
using Detail::Raise;

void CContainerWriterBinary::Write(size_t size, const void* data) {
    Accept(kTagBlob, ERaise::BinaryBlobElementKind, ERaise::BinaryTooManyElements);
    if (size >= kMaxCount + 1) Raise(ERaise::BinaryElementTooLarge);
    if (size && !data) Raise(ERaise::BinaryElementBlobWithoutBytes);
    Put(m_elements, static_cast<uint32_t>(size));
    m_elements.Append(data, size);
    ++m_count;
}

void CContainerWriterBinary::Write(const ISerializableContainer& value) {
    Accept(kTagContainer, ERaise::BinaryContainerElementKind, ERaise::BinaryTooManyElements);
    const CChunkBuffer::SMark mark = m_elements.Mark();
    CLease<CContainerWriterBinary> element(m_document, m_document.AcquireContainer());
    try {
        value.Write(*element);
        element->WriteRecord(m_elements);
    } catch (...) {
        m_elements.Rollback(mark);
        throw;
    }
    ++m_count;
}

void CContainerWriterBinary::Write(const ISerializable& value) {
    Accept(kTagObject, ERaise::BinaryObjectElementKind, ERaise::BinaryTooManyElements);
    const uint32_t classId = m_document.Names().Id(value.GetClassName());
    // Taken out while in use: an element that writes into this container again gets another.
    CDataWriterBinary* element = m_element ? m_element : m_document.AcquireData();
    m_element = nullptr;
    const CChunkBuffer::SMark mark = m_elements.Mark();
    try {
        Put(m_elements, classId);
        value.Write(*element);
        element->WriteRecord(m_elements);
        if (m_count == 0) {
            m_firstClassId = classId;
        } else if (m_mixed || classId != m_firstClassId) {
            NoteClass(classId);
        }
    } catch (...) {
        KeepElement(element);
        m_elements.Rollback(mark);
        throw;
    }
    KeepElement(element);
    ++m_count;
}

// The class list is kept once a class differs from the first one's. A failure leaves it as it
// was.
void CContainerWriterBinary::NoteClass(uint32_t classId) {
    if (!m_mixed) {
        m_classIds.assign(m_count, m_firstClassId);
        m_classIds.push_back(classId);
        m_mixed = true;
        return;
    }
    m_classIds.push_back(classId);
}

void CContainerWriterBinary::Write(const IDateTime& value) {
    Accept(kTagDateTime, ERaise::BinaryElementKind, ERaise::BinaryTooManyTextElements);
    const uint64_t count = FileTimeOf(value);
    unsigned char* p = m_elements.Room(12);
    const uint32_t version = 0;
    std::memcpy(p, &version, 4);
    std::memcpy(p + 4, &count, 8);
    m_elements.Commit(12);
    ++m_count;
}

void CContainerWriterBinary::Write(const std::wstring& value) {
    Accept(kTagWString, ERaise::BinaryElementKind, ERaise::BinaryTooManyTextElements);
    const size_t length = WideLength(value);
    bool basic = false;
    const uint64_t units = Utf16Units(value.data(), length, basic);
    const size_t size = WidePrefixSize(units) + 2 * units;
    unsigned char* p = m_elements.Room(size);
    PutUtf16(PutWidePrefix(p, units), value.data(), length, basic);
    m_elements.Commit(size);
    ++m_count;
}

void CContainerWriterBinary::Write(const std::string& value) {
    Accept(kTagString, ERaise::BinaryElementKind, ERaise::BinaryTooManyTextElements);
    const size_t length = NarrowLength(value);
    if (length > kMaxCount) Raise(ERaise::BinaryTextElementTooLarge);
    unsigned char* p = m_elements.Room(4 + length);
    const uint32_t count = static_cast<uint32_t>(length);
    std::memcpy(p, &count, 4);
    Detail::CopySmall(p + 4, value.data(), length);
    m_elements.Commit(4 + length);
    ++m_count;
}

uint64_t CContainerWriterBinary::RecordSize() const noexcept {
    uint64_t size = 5 + m_elements.Size();
    if (m_count && m_tag == kTagObject) size += 1 + (m_mixed ? 4 * m_count : 4);
    return size;
}

template <class Sink>
void CContainerWriterBinary::WriteRecord(Sink& sink) const {
    unsigned char* p = sink.Room(5);
    p[0] = m_count ? m_tag : 0;
    std::memcpy(p + 1, &m_count, 4);
    sink.Commit(5);
    if (!m_count) return;
    if (m_tag == kTagObject) {
        Put(sink, static_cast<uint8_t>(m_mixed ? 0 : 1));
        if (!m_mixed) {
            Put(sink, m_firstClassId);
        } else {
            sink.Append(m_classIds.data(), m_classIds.size() * sizeof(uint32_t));
        }
    }
    m_elements.ForEachRun(
        [&sink](const unsigned char* data, size_t size) { sink.Append(data, size); });
}

void CContainerWriterBinary::Reset() noexcept {
    m_classIds.clear();
    m_mixed = false;
    m_fixed = false;
    m_tag = 0;
    m_count = 0;
    m_elements.Clear();
}

template void CContainerWriterBinary::WriteRecord(CChunkBuffer&) const;
template void CContainerWriterBinary::WriteRecord(COutSink&) const;

}  // namespace Tavrin::Binary
