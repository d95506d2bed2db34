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
    // Keeps the pointer to the caller's zero-terminated UTF-8 text; nothing is copied. The text
    // must stay alive and unchanged while the reader is used.
    explicit CReaderXml(const char* text);
    // Keeps `text.c_str()`: the string must stay alive and unchanged while the reader is used.
    explicit CReaderXml(const std::string& text);
    // Takes over a temporary string (for example `stream.str()`), which the reader and its
    // copies then keep alive.
    explicit CReaderXml(std::string&& text);
    CReaderXml(const CReaderXml& other);
    CReaderXml& operator=(const CReaderXml& other);
    ~CReaderXml() override;

    // Fill the target from the text. The calling thread runs in the "C" locale for the
    // duration of the call and gets its own locale back on every exit. Names handed out by
    // GetName and blob ranges stay valid until the Read (or nested Read) that received the
    // value reader returns.
    // Throws, unchanged: what the application's Read throws; QvExceptionConversion for text
    // that does not convert to the requested type; CException from Base64 decoding; and
    // CException (function "Tavrin::CContainerReaderXml::readValue") when a scalar, bool,
    // string, date-time or blob read reaches a container element not named "elt".
    void Read(ISerializableContainer& container) const override;
    void Read(ISerializable& object) const override;

private:
    std::shared_ptr<const std::string> m_owned;  // only for a text taken over from a temporary
    const char* m_text;
};

}  // namespace Tavrin
