/// \file
/// The JSON writer: one object or container as a complete JSON document in a stream.
///
/// Layout: TAB indentation, one value per line, no spaces outside string values, numbers and
/// booleans unquoted, strings, chars, date-times (Y-m-dTH:i:s) and Base64 blobs quoted; the
/// document ends with one "\n". Members stand in the order the object writes them.
#pragma once

#include <ostream>
#include <sstream>

#include <tavrin/export.h>
#include <tavrin/interfaces.h>

namespace Tavrin {

/// Writes application objects and containers as JSON documents into a caller's stream (layout
/// in the file's description). Keeps nothing of what the application hands over beyond the
/// call; used by one thread at a time.
class TAVRIN_API CWriterJson : public IWriter {
public:
    /// Remembers `stream`, which the caller owns and which must outlive the writer and every
    /// Write made through it. No stream property is set here.
    explicit CWriterJson(std::ostringstream& stream);
    /// The same for any output stream (a file stream, for example): the document's bytes and
    /// what a Write does to the stream's state are the same as with a string stream.
    explicit CWriterJson(std::ostream& stream);
    /// Both writers then write into the same stream.
    ///@{
    CWriterJson(const CWriterJson& other);
    CWriterJson& operator=(const CWriterJson& other);
    ///@}
    ~CWriterJson() override;

    /// Appends one complete document to whatever the stream already holds; the text of each
    /// value reaches the stream as soon as the value is written. The calling thread runs in the
    /// "C" locale for the duration of the call and gets its own locale back on every exit.
    /// Numbers and bools are written as the stream's inserters write them with the stream's own
    /// locale and flags.
    /// Each float value sets the stream's precision to 9, each double to 17, and a bool value
    /// sets boolalpha; none of these is set back.
    /// Throws CException with the function "Tavrin::CWriterJson::Write" in place of anything
    /// raised meanwhile (by the application's Write, a conversion, an allocation, the stream,
    /// an object value written without a name), once the thread has its own locale back; what
    /// the stream received until then stays in it. A thread's cancellation is not replaced: it
    /// passes through.
    ///@{
    void Write(const ISerializableContainer& container) override;
    void Write(const ISerializable& object) override;
    ///@}

private:
    std::ostream* m_stream;
};

}  // namespace Tavrin
