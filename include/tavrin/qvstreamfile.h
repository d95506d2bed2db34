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

    /// Size of the file when it was opened.
    uint64_t GetSize() const noexcept { return m_size; }

private:
    bool Refill();

    std::unique_ptr<Tavrin::Platform::CFile> m_file;
    std::unique_ptr<unsigned char[]> m_buffer;
    size_t m_begin = 0;
    size_t m_end = 0;
    uint64_t m_size = 0;
};
