// The binary document reader.
#pragma once

#include <memory>

#include <tavrin/export.h>
#include <tavrin/interfaces.h>

class QvStreamReadBinary;

namespace Tavrin {

namespace Detail {
struct SBinaryDocument;
}

// Reads one binary document, decoding all of it in the constructor; Read then hands the
// decoded content to application objects as often as asked.
//
// A value is found only by the read operation of the kind it was stored as, under its exact
// name (letter case matters). Names, strings and blob ranges handed out stay valid as long as
// the reader lives. The stream is needed only while the constructor runs; it then stands just
// behind the document.
//
// Failures: a stored version above 0 raises QvExceptionWrongFileVersion; a root kind other
// than object or container ("Tavrin::CReaderBinary::CReaderBinary"), an unknown section tag
// ("Tavrin::CDataReader::Read"), an unknown element tag ("Tavrin::CContainerReader::Read"), a
// named blob for which the stream's ReadBytes reports another number of bytes than its byte
// count ("Tavrin::CDataReader::readBlobs"), an identifier missing from the name table and
// nesting deeper than 1,000 levels raise CException. What the stream raises (a document cut
// short, for instance) passes through unchanged. A damaged document either raises one of
// these or reads as what it holds; memory use stays in proportion to the bytes actually read,
// whatever counts the document claims.
//
// After construction the reader does not change; Read may be called from several threads at
// once as long as the objects being filled are distinct.
class TAVRIN_API CReaderBinary : public IReader {
public:
    explicit CReaderBinary(QvStreamReadBinary& stream);
    ~CReaderBinary() override;
    CReaderBinary(const CReaderBinary&) = delete;
    CReaderBinary& operator=(const CReaderBinary&) = delete;

    // Fills `container` from a document whose root is a container; raises CException
    // ("Tavrin::CReaderBinary::Read") when the root is an object.
    void Read(ISerializableContainer& container) const override;
    // Fills `object` from a document whose root is an object; raises CException
    // ("Tavrin::CReaderBinary::Read") when the root is a container.
    void Read(ISerializable& object) const override;

private:
    std::unique_ptr<Detail::SBinaryDocument> m_document;  // the decoded document
};

}  // namespace Tavrin
