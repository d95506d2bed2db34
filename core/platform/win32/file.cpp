// Files on Windows: CreateFileW, ReadFile, WriteFile, GetFileSizeEx and CloseHandle.
#include "core/platform/file.h"

#include <windows.h>

#include <algorithm>
#include <utility>

namespace Tavrin::Platform {

namespace {

EFileError FromLastError(DWORD error) noexcept {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME: return EFileError::NotFound;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return EFileError::AccessDenied;
        case ERROR_DIRECTORY: return EFileError::IsDirectory;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE: return EFileError::InvalidPath;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return EFileError::NoSpace;
        case ERROR_FILE_TOO_LARGE: return EFileError::TooLarge;
        default: return EFileError::Other;
    }
}

// Largest piece handed to one ReadFile or WriteFile call (they count in 32 bits).
constexpr size_t kMaxPiece = size_t(1) << 30;

HANDLE AsHandle(std::intptr_t value) noexcept { return reinterpret_cast<HANDLE>(value); }

// A path the system is given as it is must still be valid UTF-16, as on Linux: no zero
// character and no surrogate outside a pair.
bool IsValidPath(const std::wstring& path) noexcept {
    if (path.empty()) return false;
    for (size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned>(path[i]);
        if (c == 0 || c - 0xDC00u < 0x400u) return false;
        if (c - 0xD800u < 0x400u) {
            if (i + 1 == path.size() || static_cast<unsigned>(path[i + 1]) - 0xDC00u >= 0x400u) {
                return false;
            }
            ++i;
        }
    }
    return true;
}

bool IsDirectoryPath(const std::wstring& path) noexcept {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

enum : int { kOpenRead = 1, kCreateWrite = 2 };

}  // namespace

CFile::~CFile() {
    if (m_fd != kClosed) ::CloseHandle(AsHandle(m_fd));
}

CFile::CFile(CFile&& other) noexcept : m_fd(std::exchange(other.m_fd, kClosed)) {}

CFile& CFile::operator=(CFile&& other) noexcept {
    if (this != &other) {
        if (m_fd != kClosed) ::CloseHandle(AsHandle(m_fd));
        m_fd = std::exchange(other.m_fd, kClosed);
    }
    return *this;
}

EFileError CFile::Open(const std::wstring& path, int flags) {
    if (m_fd != kClosed) {
        ::CloseHandle(AsHandle(m_fd));
        m_fd = kClosed;
    }
    if (!IsValidPath(path)) return EFileError::InvalidPath;
    const bool read = flags == kOpenRead;
    // Other openers may read, write and delete meanwhile, as they may on Linux.
    const HANDLE handle =
        ::CreateFileW(path.c_str(), read ? GENERIC_READ : GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      read ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        // The system refuses a directory as "access denied"; tell it apart.
        if (error == ERROR_ACCESS_DENIED && IsDirectoryPath(path)) return EFileError::IsDirectory;
        return FromLastError(error);
    }
    m_fd = reinterpret_cast<std::intptr_t>(handle);
    return EFileError::None;
}

EFileError CFile::OpenRead(const std::wstring& path) { return Open(path, kOpenRead); }

EFileError CFile::CreateWrite(const std::wstring& path) { return Open(path, kCreateWrite); }

EFileError CFile::Read(void* data, size_t size, size_t& delivered) {
    delivered = 0;
    if (m_fd == kClosed) return EFileError::NotOpen;
    if (size == 0) return EFileError::None;
    DWORD got = 0;
    if (!::ReadFile(AsHandle(m_fd), data, static_cast<DWORD>(std::min(size, kMaxPiece)), &got,
                    nullptr)) {
        return FromLastError(::GetLastError());
    }
    delivered = got;
    return EFileError::None;
}

EFileError CFile::Write(const void* data, size_t size) {
    if (m_fd == kClosed) return EFileError::NotOpen;
    const unsigned char* in = static_cast<const unsigned char*>(data);
    while (size > 0) {
        DWORD put = 0;
        if (!::WriteFile(AsHandle(m_fd), in, static_cast<DWORD>(std::min(size, kMaxPiece)), &put,
                         nullptr)) {
            return FromLastError(::GetLastError());
        }
        if (put == 0) return EFileError::Other;
        in += put;
        size -= put;
    }
    return EFileError::None;
}

EFileError CFile::GetSize(uint64_t& size) const {
    size = 0;
    if (m_fd == kClosed) return EFileError::NotOpen;
    LARGE_INTEGER value{};
    if (!::GetFileSizeEx(AsHandle(m_fd), &value)) return FromLastError(::GetLastError());
    size = static_cast<uint64_t>(value.QuadPart);
    return EFileError::None;
}

EFileError CFile::Close() {
    if (m_fd == kClosed) return EFileError::None;
    const HANDLE handle = AsHandle(std::exchange(m_fd, kClosed));
    if (!::CloseHandle(handle)) return FromLastError(::GetLastError());
    return EFileError::None;
}

}  // namespace Tavrin::Platform
