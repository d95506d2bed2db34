/// \file
/// The JSON reader: fills an application object or container from a JSON document.
///
/// Each Read parses the whole text into a tree before the application sees a value; values stay
/// text and are converted to the type the application asks for, with the conversions of
/// QvVariant, so a member may be read as any type its text converts to. GetName hands the names
/// out in the order of the keyed table (QvMapEx) that the members would fill, not in document
/// order. Names and blob ranges handed out are valid until the application's Read that received
/// the value reader returns.
#pragma once

#include <tavrin/detail/textreader.h>

namespace Tavrin {

/// Reads JSON documents as CWriterJson writes them (see the file's description). The reader
/// does not change after construction: several threads may Read through it at once, each
/// filling objects of its own.
class TAVRIN_API CReaderJson : public Detail::CTextReader {
public:
    /// From the caller's text (borrowed), a string (borrowed) or a temporary string (taken over),
    /// as Detail::CTextReader says; copies read the same text.
    /// A null text reads as an empty text.
    using Detail::CTextReader::CTextReader;

    /// Parse the text anew and let the object or container read from it. The calling thread runs
    /// in the "C" locale for the duration of the call and gets its own locale back on every exit.
    /// Throws:
    ///  - CException for malformed text, before the application sees a value (an object document
    ///    must hold '{' after white space or be exactly "null"; an empty text is an empty
    ///    container document; nesting deeper than 1,000 levels is refused);
    ///  - QvExceptionConversion when a value's text does not convert to the type asked for;
    ///  - CException ("Tavrin::Base64::Decode") for blob text that decodes to nothing;
    ///  - whatever the application's own Read throws, unchanged.
    ///@{
    void Read(ISerializableContainer& container) const override;
    void Read(ISerializable& object) const override;
    ///@}
};

}  // namespace Tavrin
