// The JSON writer: one object or container as a complete JSON document in a string stream.
//
// Layout: TAB indentation, one value per line, no spaces outside string values, numbers and
// booleans unquoted, strings, chars, date-times (Y-m-dTH:i:s) and Base64 blobs quoted; the
// document ends with one "\n". Members stand in the order the object writes them.
#pragma once

#include <sstream>

#include <tavrin/export.h>
#include <tavrin/interfaces.h>

namespace Tavrin {

class TAVRIN_API CWriterJson : public IWriter {
public:
    // Remembers `stream`, which the caller owns and which must outlive the writer and every
    // Write made through it. No stream property is set here.
    explicit CWriterJson(std::ostringstream& stream);
    // Both writers then write into the same stream.
    CWriterJson(const CWriterJson& other);
    CWriterJson& operator=(const CWriterJson& other);
    ~CWriterJson() override;

    // Appends one complete document to whatever the stream already holds. The calling thread
    // runs in the "C" locale for the duration of the call and gets its own locale back on every
    // exit. Each float value sets the stream's precision to 9, each double to 17, and a bool
    // value sets boolalpha; none of these is set back.
    // Any exception raised meanwhile (by the application's Write, a conversion, an allocation,
    // the stream) is replaced by a CException with the function "Tavrin::CWriterJson::Write";
    // what the stream received until then stays in it.
    void Write(const ISerializableContainer& container) override;
    void Write(const ISerializable& object) override;

private:
    std::ostringstream* m_stream;
};

}  // namespace Tavrin
