/// \file
/// The XML reader: fills one object or container from a document in the layout that
/// CWriterXml writes.
///
/// Every Read parses the whole text anew. The document element is the child of the parse
/// result (the declaration element) whose name is the class name of the object, every "::"
/// read as "-", compared ignoring letter case; value elements are found by name ignoring
/// letter case, container elements by position. The reader is lenient: a text that does not
/// parse, a wrong document element or a missing value only means that the object finds fewer
/// values.
#pragma once

#include <tavrin/detail/textreader.h>

namespace Tavrin {

/// Reads XML documents as CWriterXml writes them (see the file's description). The reader does
/// not change after construction: several threads may Read through it at once, each filling
/// objects of its own.
class TAVRIN_API CReaderXml : public Detail::CTextReader {
public:
    /// From the caller's text (borrowed), a string (borrowed) or a temporary string (taken over),
    /// as Detail::CTextReader says; copies read the same text.
    /// A null text finds no document element.
    using Detail::CTextReader::CTextReader;

    /// Parse the text anew and let the object or container read from it. The calling thread
    /// runs in the "C" locale for the duration of the call and gets its own locale back on every
    /// exit. Names handed out by GetName and blob ranges stay valid until the Read (or nested
    /// Read) that received the value reader returns.
    /// Throws, unchanged:
    ///  - whatever the application's own Read throws;
    ///  - QvExceptionConversion when a value's text does not convert to the type asked for;
    ///  - CException ("Tavrin::Base64::Decode") for blob text that decodes to nothing;
    ///  - CException ("Tavrin::CContainerReaderXml::readValue") when a scalar, bool, string,
    ///    date-time or blob read reaches a container element not named "elt".
    /// Malformed text raises nothing: the object simply finds no values.
    ///@{
    void Read(ISerializableContainer& container) const override;
    void Read(ISerializable& object) const override;
    ///@}
};

}  // namespace Tavrin
