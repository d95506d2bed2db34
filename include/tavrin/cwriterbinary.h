/// \file
/// The binary document writer.
#pragma once

#include <tavrin/export.h>
#include <tavrin/interfaces.h>

class QvStreamWriteBinary;

namespace Tavrin {

/// Writes application objects and containers as binary documents into a caller's stream.
///
/// A document is version 0, the root kind (object or container), the name table (every value
/// name and class name once, with its identifier), then the root's record. Each Write first
/// walks the whole object tree into memory and only when the root's own Write has returned
/// writes the complete document: a failure during the walk leaves the stream untouched; a
/// failure while the document is being written leaves in the stream what was written so far.
///
/// The writer keeps only a reference to the stream, which the caller owns and keeps alive while
/// Write runs. Nothing that the application hands over (names, texts, blob bytes, objects) is
/// kept beyond the call that receives it. Used by one thread at a time.
class TAVRIN_API CWriterBinary : public IWriter {
public:
    /// Remembers `stream`; writes nothing yet.
    explicit CWriterBinary(QvStreamWriteBinary& stream) noexcept : m_stream(stream) {}
    /// The copy writes to the same stream.
    CWriterBinary(const CWriterBinary& other) noexcept = default;
    CWriterBinary& operator=(const CWriterBinary&) = delete;
    ~CWriterBinary() override;

    /// Writes one complete document whose root is `container` (or `object`) at the stream's
    /// position, calling the root's Write and, through the value writers handed to it, the
    /// Write of every nested object and container.
    ///
    /// A value written again under the same name and of the same kind replaces the earlier
    /// one; a null name is the empty name. Texts end at their first zero character.
    ///
    /// Throws CException, with the function text given here, when:
    ///  - a container receives elements of two kinds, before the second kind's element is
    ///    stored ("Tavrin::CContainerWriterBinary::Write" for blob, object and container
    ///    elements, "Tavrin::CContainerWriterBinary::write" for the others);
    ///  - a container receives more than 4,294,967,295 elements (the same two texts);
    ///  - a blob element or narrow text element holds more than 4,294,967,295 bytes, or a blob
    ///    element of a non-zero size has no bytes ("Tavrin::CContainerWriterBinary::Write",
    ///    "...::write" for text);
    ///  - a named blob or narrow text holds more than 4,294,967,295 bytes, a named blob of a
    ///    non-zero size has no bytes, or an object holds more than 4,294,967,295 values of one
    ///    kind ("Tavrin::CDataWriterBinary::Write").
    /// Exceptions of the application's Write, of allocation (std::bad_alloc) and of the stream
    /// pass through unchanged.
    ///@{
    void Write(const ISerializableContainer& container) override;
    void Write(const ISerializable& object) override;
    ///@}

private:
    QvStreamWriteBinary& m_stream;
};

}  // namespace Tavrin
