// The binary document writer.
#pragma once

#include <tavrin/export.h>
#include <tavrin/interfaces.h>

class QvStreamWriteBinary;

namespace Tavrin {

// Writes application objects and containers as binary documents into a caller's stream.
//
// Each Write first walks the whole object tree into memory (values grouped by kind per object,
// container elements already encoded) and only when the root's own Write has returned writes
// the complete document: version 0, the root kind, the name table, then the root's record.
// A failure during the walk leaves the stream untouched; a failure while the document is
// being written leaves in the stream what was written so far.
//
// Exceptions raised by the application, by allocation or by the stream pass through unchanged.
// A container that receives elements of two kinds raises CException
// ("Tavrin::CContainerWriterBinary::Write" for blob, object and container elements,
// "Tavrin::CContainerWriterBinary::write" for the others) before the element is written.
//
// The writer keeps only a reference to the stream, which the caller owns and keeps alive
// while Write runs. Used by one thread at a time.
class TAVRIN_API CWriterBinary : public IWriter {
public:
    explicit CWriterBinary(QvStreamWriteBinary& stream) noexcept : m_stream(stream) {}
    // The copy writes to the same stream.
    CWriterBinary(const CWriterBinary& other) noexcept = default;
    CWriterBinary& operator=(const CWriterBinary&) = delete;
    ~CWriterBinary() override;

    // Writes one complete document whose root is `container`, at the stream's position.
    void Write(const ISerializableContainer& container) override;
    // Writes one complete document whose root is `object`, at the stream's position.
    void Write(const ISerializable& object) override;

private:
    QvStreamWriteBinary& m_stream;
};

}  // namespace Tavrin
