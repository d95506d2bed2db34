/// \file
/// In-memory binary streams: a growable write buffer and a read stream over caller's bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include <tavrin/export.h>
#include <tavrin/qvarray.h>
#include <tavrin/qvstream.h>

/// A write stream into memory it owns. A new buffer holds 0 bytes with a capacity of 4096; it
/// only grows, doubling whenever it is full (4096, 8192, 16384, ...). Holds at most 0xFFFFFFFF
/// bytes: a write that would pass that throws std::length_error and appends nothing. When memory
/// runs out, std::bad_alloc leaves the write and the content is not preserved.
class TAVRIN_API QvStreamWriteBinaryBuffer : public QvStreamWriteBinary {
public:
    /// An empty buffer with a capacity of 4096 bytes.
    QvStreamWriteBinaryBuffer();
    ~QvStreamWriteBinaryBuffer() override;
    /// Takes over the content and memory of `other`, which is left empty with no memory.
    ///@{
    QvStreamWriteBinaryBuffer(QvStreamWriteBinaryBuffer&& other) noexcept = default;
    QvStreamWriteBinaryBuffer& operator=(QvStreamWriteBinaryBuffer&& other) noexcept = default;
    ///@}
    QvStreamWriteBinaryBuffer(const QvStreamWriteBinaryBuffer&) = delete;
    QvStreamWriteBinaryBuffer& operator=(const QvStreamWriteBinaryBuffer&) = delete;

    /// Appends the bytes as they stand; a count of 0 changes nothing.
    IStreamWrite& WriteBytes(const void* data, uint64_t count) override;

    /// Grows the capacity to what writing `count` more bytes would make it (doubling, with one
    /// reallocation at most), so that writing them later moves nothing. Writes nothing. Throws
    /// std::length_error, and changes nothing, when the content would pass 0xFFFFFFFF bytes.
    void Reserve(uint64_t count);

    /// The bytes written so far (valid until the next write or the destruction of the buffer).
    const unsigned char* GetData() const noexcept { return m_array.GetData(); }
    /// Number of bytes written so far.
    unsigned int GetCount() const noexcept { return m_array.GetCount(); }
    /// Number of bytes that fit before the buffer grows again.
    unsigned int GetCapacity() const noexcept { return m_array.GetCapacity(); }
    /// The array holding the bytes written so far (valid as GetData()).
    const QvArray<unsigned char>& GetArray() const noexcept { return m_array; }

    /// Forgets the content, keeps the memory (for reuse by the same owner).
    void Clear() noexcept { m_array.RemoveAll(); }

private:
    QvArray<unsigned char> m_array;
};

/// A read stream over `size` bytes at `data`, which are not copied: the caller keeps them alive
/// and unchanged while the stream is used. A typed read that needs more bytes than are left
/// throws Tavrin::CException and consumes and stores nothing; ReadBytes past the end delivers
/// what is left and returns that count.
class TAVRIN_API QvStreamReadBinaryBuffer : public QvStreamReadBinary {
public:
    /// A stream at the first of the `size` bytes at `data` (see the class for who owns them).
    QvStreamReadBinaryBuffer(const void* data, size_t size) noexcept;
    ~QvStreamReadBinaryBuffer() override;

    void ReadStdWString(std::wstring& value) override;
    void ReadStdString(std::string& value) override;
    void ReadLong(int32_t& value) override;
    void ReadULong(uint32_t& value) override;
    void ReadChar(char& value) override;
    void ReadDouble(double& value) override;
    void ReadFloat(float& value) override;
    void ReadInt64(int64_t& value) override;
    void ReadUInt64(uint64_t& value) override;
    void ReadInt32(int32_t& value) override;
    void ReadUInt32(uint32_t& value) override;
    void ReadInt16(int16_t& value) override;
    void ReadUInt16(uint16_t& value) override;
    void ReadInt8(int8_t& value) override;
    void ReadUInt8(uint8_t& value) override;
    void ReadBool(bool& value) override;
    uint64_t ReadBytes(void* data, uint64_t count) override;

    /// The unread bytes, in one piece (null only for a stream over no memory). Consume moves past
    /// `count` of them; more than are left raises Tavrin::CException and consumes nothing.
    ///@{
    const unsigned char* GetContiguous(uint64_t& available) override;
    void Consume(uint64_t count) override;
    ///@}

    /// Number of bytes consumed so far.
    size_t GetPosition() const noexcept { return m_position; }
    /// Number of bytes not yet consumed.
    size_t GetRemaining() const noexcept { return m_size - m_position; }

private:
    template <class T>
    void ReadValue(T& value, const char* function);

    const unsigned char* m_data;
    size_t m_size;
    size_t m_position = 0;
};
