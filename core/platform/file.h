// Files: the library's only access to the file system. Paths are wide strings, handed to the
// system as UTF-8 on Linux and as they are on Windows; on both a path must be valid Unicode.
// No operation throws: each reports an EFileError, and a CFile always closes its descriptor
// (a handle on Windows) when it goes away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Tavrin::Platform {

enum class EFileError {
    None,
    NotFound,      // the file or a directory on the way does not exist
    AccessDenied,  // no permission, or a read-only file system
    IsDirectory,   // the path names a directory
    InvalidPath,   // empty, holds a zero character or a value that is no code point
    NoSpace,       // the device or the quota is full
    TooLarge,      // the size does not fit the caller's limits
    NotOpen,       // the operation needs an open file
    Other,
};

#if !defined(_WIN32)
// UTF-8 form of a wide path; false when the path holds a zero character, a surrogate or a
// value above U+10FFFF.
bool WideToUtf8Path(const std::wstring& path, std::string& utf8);
#endif

class CFile {
public:
    CFile() noexcept = default;
    ~CFile();
    CFile(CFile&& other) noexcept;
    CFile& operator=(CFile&& other) noexcept;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Opens an existing file for reading; a directory is refused with IsDirectory.
    EFileError OpenRead(const std::wstring& path);
    // Creates the file, or truncates an existing one, for writing (permissions 0666 less umask).
    EFileError CreateWrite(const std::wstring& path);

    bool IsOpen() const noexcept { return m_fd != kClosed; }

    // Reads up to `size` bytes; `delivered` is 0 only at the end of the file. Retries
    // interrupted calls.
    EFileError Read(void* data, size_t size, size_t& delivered);
    // Reads until `size` bytes are in or the file ends; `delivered` tells how many came.
    EFileError ReadFull(void* data, size_t size, size_t& delivered);
    // Writes all `size` bytes (short writes and interruptions are retried).
    EFileError Write(const void* data, size_t size);
    // Current size of the open file.
    EFileError GetSize(uint64_t& size) const;
    // Closes the descriptor and reports what the system says about it; a closed file is None.
    EFileError Close();

private:
    // The descriptor, or the handle on Windows, whose invalid value is also -1.
    static constexpr std::intptr_t kClosed = -1;

    EFileError Open(const std::wstring& path, int flags);

    std::intptr_t m_fd = kClosed;
};

}  // namespace Tavrin::Platform
