/// \file
/// The binary document reader.
#pragma once

#include <memory>

#include <tavrin/export.h>
#include <tavrin/interfaces.h>

class QvStreamReadBinary;

namespace Tavrin {

namespace Detail {
struct SBinaryDocument;  ///< the decoded document, internal to the reader
}

/// Reads one binary document, decoding all of it in the constructor; Read then hands the
/// decoded content to application objects as often as asked.
///
/// A value is found only by the read operation of the kind it was stored as, under its exact
/// name (letter case matters); when a name holds several values of one kind, the last one
/// counts. After construction the reader does not change: Read may be called from several
/// threads at once as long as the objects being filled are distinct.
class TAVRIN_API CReaderBinary : public IReader {
public:
    /// Decodes the document at the stream's position. The stream, which the caller owns, is
    /// needed only while the constructor runs; it then stands just behind the document. The
    /// reader owns everything it decoded.
    ///
    /// Throws:
    ///  - QvExceptionWrongFileVersion when the stored version is above 0;
    ///  - CException when the root kind is neither object nor container
    ///    ("Tavrin::CReaderBinary::CReaderBinary"); when an object holds a section of an unknown
    ///    kind, a value or object class whose identifier the name table lacks, or objects
    ///    nested deeper than 1,000 levels ("Tavrin::CDataReader::Read"); when a named blob
    ///    delivers another number of bytes than its byte count ("Tavrin::CDataReader::readBlobs");
    ///    when a container holds elements of an unknown kind, an object element whose class
    ///    identifier the name table lacks, or containers nested deeper than 1,000 levels
    ///    ("Tavrin::CContainerReader::Read");
    ///  - whatever the stream raises (a document cut short, for instance), unchanged.
    /// A damaged document either raises one of these or reads as what it holds; memory use
    /// stays in proportion to the bytes actually read, whatever counts the document claims.
    explicit CReaderBinary(QvStreamReadBinary& stream);
    ~CReaderBinary() override;
    CReaderBinary(const CReaderBinary&) = delete;
    CReaderBinary& operator=(const CReaderBinary&) = delete;

    /// Lets `container` (or `object`) read the document's root through a value reader, and
    /// nested objects and containers through theirs. Names and blob ranges that the value
    /// readers hand out point into this reader and stay valid as long as it lives; texts are
    /// copied into the application's strings.
    /// Throws CException ("Tavrin::CReaderBinary::Read") when the root is of the other kind;
    /// what the application's Read throws passes through unchanged.
    ///@{
    void Read(ISerializableContainer& container) const override;
    void Read(ISerializable& object) const override;
    ///@}

private:
    std::unique_ptr<Detail::SBinaryDocument> m_document;  ///< the decoded document
};

}  // namespace Tavrin
