/// \file
/// The interfaces between application objects and the document formats.
///
/// An application class becomes serializable by implementing ISerializable (an object with
/// named values) or ISerializableContainer (an ordered sequence of unnamed elements). The
/// value writers and readers handed to it are owned by the library and valid only during
/// the call that received them.
#pragma once

#include <cstddef>
#include <string>

#include <tavrin/export.h>
#include <tavrin/idatetime.h>

namespace Tavrin {

class IDataWriter;
class IDataReader;
class IContainerWriter;
class IContainerReader;

/// Result of a blob read: [begin, end), both null when the blob is absent. The bytes belong to
/// the reader that returned them.
struct SBlobRange {
    const unsigned char* begin = nullptr;  ///< first byte, or null when absent
    const unsigned char* end = nullptr;    ///< one past the last byte, or null when absent
};

/// An application object with named values.
class TAVRIN_API ISerializable {
public:
    virtual ~ISerializable() = default;
    /// A class name that stays valid at least until the writer's Write (or XML Read) returns.
    virtual const char* GetClassName() const = 0;
    /// Calls one typed Write of `writer` per value.
    virtual void Write(IDataWriter& writer) const = 0;
    /// Calls the typed Read of `reader` for each value it wants; keeps its value where Read
    /// returns false.
    virtual void Read(IDataReader& reader) = 0;
};

/// An application container: an ordered sequence of unnamed elements.
class TAVRIN_API ISerializableContainer {
public:
    virtual ~ISerializableContainer() = default;
    /// As ISerializable::GetClassName.
    virtual const char* GetClassName() const = 0;
    /// Calls one typed Write of `writer` per element, in element order.
    virtual void Write(IContainerWriter& writer) const = 0;
    /// Reads elements by index 0, 1, 2, ... until a read returns false; for object and
    /// container elements it makes the element itself and fills it through the read.
    virtual void Read(IContainerReader& reader) = 0;
};

/// Top-level writer of one document per Write call. The writer borrows its output (a stream
/// owned by the caller) and never owns application objects.
class TAVRIN_API IWriter {
public:
    virtual ~IWriter() = default;
    /// Writes a document whose root is `container`.
    virtual void Write(const ISerializableContainer& container) = 0;
    /// Writes a document whose root is `object`.
    virtual void Write(const ISerializable& object) = 0;
};

/// Top-level reader of one document. Readers never create application objects: the caller
/// supplies the root, and containers make their own elements.
class TAVRIN_API IReader {
public:
    virtual ~IReader() = default;
    /// Fills `container` from a document whose root is a container.
    virtual void Read(ISerializableContainer& container) const = 0;
    /// Fills `object` from a document whose root is an object.
    virtual void Read(ISerializable& object) const = 0;
};

/// The values of one object, each with its name (zero-terminated, chosen by the application,
/// meant to be used once per object). One overload per value kind; `char`, `signed char` and
/// `unsigned char` are three distinct kinds. Nested objects and containers are written
/// through a child writer before the call returns.
class TAVRIN_API IDataWriter {
public:
    virtual ~IDataWriter() = default;
    /// Writes a blob of `size` bytes at `data` under `name` (copied or encoded before the call
    /// returns).
    virtual void Write(const char* name, size_t size, const void* data) = 0;
    /// Writes `value` under `name`: a nested object or container (through a child writer,
    /// before the call returns), a date-time, wide or narrow text, or a number, character or
    /// bool of exactly the overload's kind. Nothing of the arguments is kept after the call.
    /// What a writer throws is said by the writer (CWriterBinary, CWriterJson, CWriterXml);
    /// what a nested object's own Write throws passes through to it.
    ///@{
    virtual void Write(const char* name, const ISerializableContainer& value) = 0;
    virtual void Write(const char* name, const ISerializable& value) = 0;
    virtual void Write(const char* name, const IDateTime& value) = 0;
    virtual void Write(const char* name, const std::wstring& value) = 0;
    virtual void Write(const char* name, const std::string& value) = 0;
    virtual void Write(const char* name, char value) = 0;
    virtual void Write(const char* name, double value) = 0;
    virtual void Write(const char* name, float value) = 0;
    virtual void Write(const char* name, long long value) = 0;
    virtual void Write(const char* name, unsigned long long value) = 0;
    virtual void Write(const char* name, int value) = 0;
    virtual void Write(const char* name, unsigned int value) = 0;
    virtual void Write(const char* name, short value) = 0;
    virtual void Write(const char* name, unsigned short value) = 0;
    virtual void Write(const char* name, signed char value) = 0;
    virtual void Write(const char* name, unsigned char value) = 0;
    virtual void Write(const char* name, bool value) = 0;
    ///@}
};

/// The elements of one container, appended in call order, with the same kinds as IDataWriter.
class TAVRIN_API IContainerWriter {
public:
    virtual ~IContainerWriter() = default;
    /// Appends a blob element of `size` bytes at `data` (copied or encoded before the call
    /// returns).
    virtual void Write(size_t size, const void* data) = 0;
    /// Appends `value` as the next element: a nested object or container (through a child
    /// writer, before the call returns), a date-time, wide or narrow text, or a number,
    /// character or bool of exactly the overload's kind. The binary writer refuses a second
    /// kind of element in one container (see CWriterBinary::Write).
    ///@{
    virtual void Write(const ISerializableContainer& value) = 0;
    virtual void Write(const ISerializable& value) = 0;
    virtual void Write(const IDateTime& value) = 0;
    virtual void Write(const std::wstring& value) = 0;
    virtual void Write(const std::string& value) = 0;
    virtual void Write(char value) = 0;
    virtual void Write(double value) = 0;
    virtual void Write(float value) = 0;
    virtual void Write(long long value) = 0;
    virtual void Write(unsigned long long value) = 0;
    virtual void Write(int value) = 0;
    virtual void Write(unsigned int value) = 0;
    virtual void Write(short value) = 0;
    virtual void Write(unsigned short value) = 0;
    virtual void Write(signed char value) = 0;
    virtual void Write(unsigned char value) = 0;
    virtual void Write(bool value) = 0;
    ///@}
};

/// The values of one object, looked up by name. A typed read returns true and stores the
/// value when the name is present; otherwise it returns false and leaves `value` untouched.
/// A present value that does not convert to the requested type throws (the text formats raise
/// QvExceptionConversion); what the application's own Read throws passes through.
class TAVRIN_API IDataReader {
public:
    virtual ~IDataReader() = default;
    /// Number of value names the object holds.
    virtual unsigned int GetNameCount() const = 0;
    /// The name at `index`, 0 <= index < GetNameCount(); owned by the reader.
    virtual const char* GetName(unsigned int index) const = 0;
    /// The blob stored under `name`; both pointers null when absent. The bytes belong to the
    /// reader and stay valid at least until the application's Read that received it returns.
    virtual SBlobRange Read(const char* name) = 0;
    /// Reads the value stored under `name` into `value` and returns true; returns false and
    /// leaves `value` untouched when the object has no such value. A nested object or
    /// container is filled through its own Read before the call returns. Throws when a present
    /// value does not convert to the requested type (see the class).
    ///@{
    virtual bool Read(const char* name, ISerializableContainer& value) = 0;
    virtual bool Read(const char* name, ISerializable& value) = 0;
    virtual bool Read(const char* name, IDateTime& value) = 0;
    virtual bool Read(const char* name, std::wstring& value) = 0;
    virtual bool Read(const char* name, std::string& value) = 0;
    virtual bool Read(const char* name, char& value) = 0;
    virtual bool Read(const char* name, double& value) = 0;
    virtual bool Read(const char* name, float& value) = 0;
    virtual bool Read(const char* name, long long& value) = 0;
    virtual bool Read(const char* name, unsigned long long& value) = 0;
    virtual bool Read(const char* name, int& value) = 0;
    virtual bool Read(const char* name, unsigned int& value) = 0;
    virtual bool Read(const char* name, short& value) = 0;
    virtual bool Read(const char* name, unsigned short& value) = 0;
    virtual bool Read(const char* name, signed char& value) = 0;
    virtual bool Read(const char* name, unsigned char& value) = 0;
    virtual bool Read(const char* name, bool& value) = 0;
    ///@}
};

/// The elements of one container, by position. A typed read returns false, leaving the target
/// untouched, when `index` is not below the number of elements.
class TAVRIN_API IContainerReader {
public:
    virtual ~IContainerReader() = default;
    /// The blob element at `index`, as IDataReader::Read(name) does for a named blob.
    virtual SBlobRange Read(unsigned int index) = 0;
    /// Reads the element at `index` into `value` and returns true; returns false and leaves
    /// `value` untouched when `index` is not below the number of elements. A nested object or
    /// container element is filled through its own Read before the call returns.
    ///@{
    virtual bool Read(unsigned int index, ISerializableContainer& value) = 0;
    virtual bool Read(unsigned int index, ISerializable& value) = 0;
    virtual bool Read(unsigned int index, IDateTime& value) = 0;
    virtual bool Read(unsigned int index, std::wstring& value) = 0;
    virtual bool Read(unsigned int index, std::string& value) = 0;
    virtual bool Read(unsigned int index, char& value) = 0;
    virtual bool Read(unsigned int index, double& value) = 0;
    virtual bool Read(unsigned int index, float& value) = 0;
    virtual bool Read(unsigned int index, long long& value) = 0;
    virtual bool Read(unsigned int index, unsigned long long& value) = 0;
    virtual bool Read(unsigned int index, int& value) = 0;
    virtual bool Read(unsigned int index, unsigned int& value) = 0;
    virtual bool Read(unsigned int index, short& value) = 0;
    virtual bool Read(unsigned int index, unsigned short& value) = 0;
    virtual bool Read(unsigned int index, signed char& value) = 0;
    virtual bool Read(unsigned int index, unsigned char& value) = 0;
    virtual bool Read(unsigned int index, bool& value) = 0;
    ///@}
};

}  // namespace Tavrin
