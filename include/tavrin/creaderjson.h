// The JSON reader: fills an application object or container from a JSON document.
//
// Each Read parses the whole text into a tree before the application sees a value; values stay
// text and are converted to the type the application asks for, with the conversions of
// QvVariant, so a member may be read as any type its text converts to. GetName hands the names
// out in the order of the keyed table (QvMapEx) that the members would fill, not in document
// order. Names and blob ranges handed out are valid until the application's Read that received
// the value reader returns.
#pragma once

#include <memory>
#include <string>

#include <tavrin/export.h>
#include <tavrin/interfaces.h>

namespace Tavrin {

class TAVRIN_API CReaderJson : public IReader {
public:
    // Remembers `text` (zero-terminated), which is neither owned nor copied and must stay
    // unchanged while the reader is used. A null text reads as an empty text.
    // Implicit, as CReaderXml's, so that a reader can be initialised from its text.
    CReaderJson(const char* text);  // NOLINT(google-explicit-constructor)
    // Remembers a pointer to the characters of `text`, which must outlive the reader unchanged.
    CReaderJson(const std::string& text);  // NOLINT(google-explicit-constructor)
    // Takes over a temporary string (for example `stream.str()`), which the reader and its
    // copies then keep alive.
    CReaderJson(std::string&& text);  // NOLINT(google-explicit-constructor)
    // Both readers then read the same text (a text taken over stays alive while either lives).
    CReaderJson(const CReaderJson& other);
    CReaderJson& operator=(const CReaderJson& other);
    ~CReaderJson() override;

    // Parse the text anew and let the object or container read from it. The calling thread runs
    // in the "C" locale for the duration of the call and gets its own locale back on every exit.
    // Throws:
    //  - CException for malformed text, before the application sees a value (an object document
    //    must hold '{' after white space or be exactly "null"; an empty text is an empty
    //    container document; nesting deeper than 1,000 levels is refused);
    //  - QvExceptionConversion when a value's text does not convert to the type asked for;
    //  - CException ("Tavrin::Base64::Decode") for blob text that decodes to nothing;
    //  - whatever the application's own Read throws, unchanged.
    void Read(ISerializableContainer& container) const override;
    void Read(ISerializable& object) const override;

private:
    std::shared_ptr<const std::string> m_owned;  // only for a text taken over from a temporary
    const char* m_text;
};

}  // namespace Tavrin
