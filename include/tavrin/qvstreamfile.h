/// \file
/// Binary streams over files, with the same bytes as the in-memory streams. Both are buffered:
/// the file is read and written in large pieces, not per value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <tavrin/export.h>
#include <tavrin/qvstream.h>

namespace Tavrin::Platform {
class CFile;
}

/// Creates (or truncates) the file at `path` and writes into it. Failures to open, write, flush
/// or close throw Tavrin::CException. The destructor flushes and closes without throwing (a
/// failure there is lost): call Close() to learn about it.
class TAVRIN_API QvStreamWriteBinaryFile : public QvStreamWriteBinary {
public:
    /// Creates or truncates the file at `path`; throws Tavrin::CException when it cannot.
    explicit QvStreamWriteBinaryFile(const std::wstring& path);
    ~QvStreamWriteBinaryFile() override;
    QvStreamWriteBinaryFile(const QvStreamWriteBinaryFile&) = delete;
    QvStreamWriteBinaryFile& operator=(const QvStreamWriteBinaryFile&) = delete;

    /// Appends the bytes; throws Tavrin::CException when the file is closed or cannot be written.
    IStreamWrite& WriteBytes(const void* data, uint64_t count) override;

    /// Hands the buffered bytes to the file; throws Tavrin::CException on failure.
    void Flush();
    /// Flushes and closes; later writes throw. Closing a closed stream does nothing.
    void Close();

    /// Bytes written so far (buffered ones included).
    uint64_t GetCount() const noexcept { return m_written + m_used; }

private:
    void FlushBuffer(const char* function);

    std::unique_ptr<Tavrin::Platform::CFile> m_file;
    std::unique_ptr<unsigned char[]> m_buffer;
    size_t m_used = 0;
    uint64_t m_written = 0;
};

/// Opens the file at `path` for reading. Failures to open (missing file, a directory, no
/// permission) or to read throw Tavrin::CException. A typed read past the end of the file
/// throws Tavrin::CException and stores nothing; ReadBytes delivers what is left and returns
/// that count.
class TAVRIN_API QvStreamReadBinaryFile : public QvStreamReadBinary {
public:
    /// Opens the file at `path`; throws Tavrin::CException when it cannot.
    explicit QvStreamReadBinaryFile(const std::wstring& path);
    ~QvStreamReadBinaryFile() override;
    QvStreamReadBinaryFile(const QvStreamReadBinaryFile&) = delete;
    QvStreamReadBinaryFile& operator=(const QvStreamReadBinaryFile&) = delete;

    uint64_t ReadBytes(void* data, uint64_t count) override;

    /// On the first call reads the rest of the file into memory in one piece and offers it, so
    /// that readers decode a file as fast as a buffer; later calls offer what is left of it.
    /// When that memory cannot be had, offers the buffered bytes. Throws Tavrin::CException
    /// when the file cannot be read.
    const unsigned char* GetContiguous(uint64_t& available) override;
    /// Consumes `count` of the bytes GetContiguous offered; more throws Tavrin::CException.
    void Consume(uint64_t count) override;

    /// Size of the file when it was opened.
    uint64_t GetSize() const noexcept { return m_size; }

private:
    bool Refill();
    void ReadRest();

    std::unique_ptr<Tavrin::Platform::CFile> m_file;
    std::unique_ptr<unsigned char[]> m_buffer;
    size_t m_capacity = 0;  // bytes of m_buffer
    size_t m_begin = 0;
    size_t m_end = 0;
    uint64_t m_size = 0;
    uint64_t m_taken = 0;  // bytes taken from the file so far
    bool m_whole = false;  // the rest of the file was read in one piece
};
