// The XML reader: fills one object or container from a document in the layout that
// CWriterXml writes.
//
// Every Read parses the whole text anew. The document element is the child of the parse
// result (the declaration element) whose name is the class name of the object, every "::"
// read as "-", compared ignoring letter case; value elements are found by name ignoring
// letter case, container elements by position. The reader is lenient: a text that does not
// parse, a wrong document element or a missing value only means that the object finds fewer
// values.
#pragma once

#include <memory>
#include <string>

#include <tavrin/export.h>
#include <tavrin/interfaces.h>

namespace Tavrin {

class TAVRIN_API CReaderXml : public IReader {
public:
    // Remembers the caller's zero-terminated UTF-8 `text`, which is neither owned nor copied
    // and must stay unchanged while the reader is used. A null text finds no document element.
    // Implicit, as CReaderJson's, so that a reader can be initialised from its text.
    CReaderXml(const char* text);  // NOLINT(google-explicit-constructor)
    // Remembers a pointer to the characters of `text`, which must outlive the reader unchanged.
    CReaderXml(const std::string& text);  // NOLINT(google-explicit-constructor)
    // Takes over a temporary string (for example `stream.str()`), which the reader and its
    // copies then keep alive.
    CReaderXml(std::string&& text);  // NOLINT(google-explicit-constructor)
    // Both readers then read the same text (a text taken over stays alive while either lives).
    CReaderXml(const CReaderXml& other);
    CReaderXml& operator=(const CReaderXml& other);
    ~CReaderXml() override;

    // Parse the text anew and let the object or container read from it. The calling thread
    // runs in the "C" locale for the duration of the call and gets its own locale back on every
    // exit. Names handed out by GetName and blob ranges stay valid until the Read (or nested
    // Read) that received the value reader returns.
    // Throws, unchanged:
    //  - whatever the application's own Read throws;
    //  - QvExceptionConversion when a value's text does not convert to the type asked for;
    //  - CException ("Tavrin::Base64::Decode") for blob text that decodes to nothing;
    //  - CException ("Tavrin::CContainerReaderXml::readValue") when a scalar, bool, string,
    //    date-time or blob read reaches a container element not named "elt".
    // Malformed text raises nothing: the object simply finds no values.
    void Read(ISerializableContainer& container) const override;
    void Read(ISerializable& object) const override;

private:
    std::shared_ptr<const std::string> m_owned;  // only for a text taken over from a temporary
    const char* m_text;
};

}  // namespace Tavrin
