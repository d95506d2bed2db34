// The binary reader: decodes a whole document in the constructor (loader.h) into compact
// records (documentrecords.h); Read hands them to the application through value readers
// (valuereaders.h).
//
// When the stream offers its bytes in memory (QvStreamReadBinary::GetContiguous), values are
// decoded straight from there; otherwise, and for any value that is not complete in that
// memory, through the stream's read operations (sources.h).
#include <tavrin/creaderbinary.h>

#include <cstdint>
#include <memory>

#include <tavrin/qvstream.h>

#include "core/basepool/raise.h"
#include "core/tavrin/binary/documentrecords.h"
#include "core/tavrin/binary/loader.h"
#include "core/tavrin/binary/sources.h"
#include "core/tavrin/binary/valuereaders.h"

namespace Tavrin {

CReaderBinary::CReaderBinary(QvStreamReadBinary& stream)
    : m_document(std::make_unique<Detail::SBinaryDocument>()) {
    stream.ReadAndCompareVersion(0);
    uint8_t kind = 0;
    stream.ReadUInt8(kind);
    // Straight from memory when the stream offers it, through its read operations otherwise.
    uint64_t available = 0;
    if (const unsigned char* data = stream.GetContiguous(available)) {
        Binary::CMemorySource source(stream, data, available);
        Binary::Load(source, kind, *m_document);
    } else {
        Binary::CStreamSource source(stream);
        Binary::Load(source, kind, *m_document);
    }
}

CReaderBinary::~CReaderBinary() = default;

void CReaderBinary::Read(ISerializable& object) const {
    if (!m_document->rootObject) Detail::Raise(Detail::ERaise::BinaryReadObject);
    Binary::CDataReader reader(m_document->names, m_document->rootObject);
    object.Read(reader);
}

void CReaderBinary::Read(ISerializableContainer& container) const {
    if (!m_document->rootContainer) Detail::Raise(Detail::ERaise::BinaryReadContainer);
    Binary::CContainerReader reader(m_document->names, m_document->rootContainer);
    container.Read(reader);
}

}  // namespace Tavrin
