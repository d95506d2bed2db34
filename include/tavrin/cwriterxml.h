// The XML writer: one object or container as a complete XML document in a string stream.
//
// Layout: an XML declaration line, the document element named after the class (every "::"
// written as "-") with the xsi and xsd namespace declarations, one element per value named
// after the value (container elements: "elt", or the class name for object and container
// elements), TAB indentation, LF line ends. String values are escaped (& > < % LF CR),
// blobs are Base64 text with line breaks inside a CDATA section.
#pragma once

#include <sstream>

#include <tavrin/export.h>
#include <tavrin/interfaces.h>

namespace Tavrin {

class TAVRIN_API CWriterXml : public IWriter {
public:
    // Remembers `stream`, which the caller owns and which must outlive the writer and every
    // Write made through it, and sets the stream's precision to 16 and boolalpha (neither is
    // set back later).
    explicit CWriterXml(std::ostringstream& stream);
    // Both writers then write into the same stream.
    CWriterXml(const CWriterXml& other);
    CWriterXml& operator=(const CWriterXml& other);
    ~CWriterXml() override;

    // Appends one complete document to whatever the stream already holds: the declaration
    // "<?xml version=\"1.0\"?>" for a container, with encoding="utf-8" added for an object.
    // The calling thread runs in the "C" locale for the duration of the call and gets its own
    // locale back on every exit. Each float value sets the stream's precision to 9, each double
    // to 17; neither is set back.
    // Any exception raised meanwhile (by the application's Write or GetClassName, a conversion,
    // an allocation, the stream) is replaced by a CException with the function
    // "Tavrin::CWriterXml::Write"; what the stream received until then stays in it.
    void Write(const ISerializableContainer& container) override;
    void Write(const ISerializable& object) override;

private:
    std::ostringstream* m_stream;
};

}  // namespace Tavrin
