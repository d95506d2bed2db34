/// \file
/// The XML writer: one object or container as a complete XML document in a stream.
///
/// Layout: an XML declaration line, the document element named after the class (every "::"
/// written as "-") with the xsi and xsd namespace declarations, one element per value named
/// after the value (container elements: "elt", or the class name for object and container
/// elements), TAB indentation, LF line ends. String values are escaped (& > < % LF CR),
/// blobs are Base64 text with line breaks inside a CDATA section.
#pragma once

#include <ostream>
#include <sstream>

#include <tavrin/export.h>
#include <tavrin/interfaces.h>

namespace Tavrin {

/// Writes application objects and containers as XML documents into a caller's stream (layout
/// in the file's description). Keeps nothing of what the application hands over beyond the
/// call; used by one thread at a time.
class TAVRIN_API CWriterXml : public IWriter {
public:
    /// Remembers `stream`, which the caller owns and which must outlive the writer and every
    /// Write made through it, and sets the stream's precision to 16 and boolalpha (neither is
    /// set back later).
    explicit CWriterXml(std::ostringstream& stream);
    /// The same for any output stream (a file stream, for example): the document's bytes and
    /// what the writer does to the stream's state are the same as with a string stream.
    explicit CWriterXml(std::ostream& stream);
    /// Both writers then write into the same stream.
    ///@{
    CWriterXml(const CWriterXml& other);
    CWriterXml& operator=(const CWriterXml& other);
    ///@}
    ~CWriterXml() override;

    /// Appends one complete document to whatever the stream already holds: the declaration
    /// "<?xml version=\"1.0\"?>" for a container, with encoding="utf-8" added for an object.
    /// Each value's lines reach the stream as soon as the value is written. The calling thread
    /// runs in the "C" locale for the duration of the call and gets its own locale back on every
    /// exit. Numbers are written in the "C" locale whatever the stream's locale and flags. Each
    /// float value sets the stream's precision to 9, each double to 17; neither is set back.
    /// Throws CException with the function "Tavrin::CWriterXml::Write" in place of anything
    /// raised meanwhile (by the application's Write or GetClassName, a conversion, an
    /// allocation, the stream), once the thread has its own locale back; what the stream
    /// received until then stays in it. A thread's cancellation is not replaced: it passes
    /// through.
    ///@{
    void Write(const ISerializableContainer& container) override;
    void Write(const ISerializable& object) override;
    ///@}

private:
    std::ostream* m_stream;
};

}  // namespace Tavrin
