// Files on Linux: open, read, write and fstat on descriptors.
#include "core/platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <algorithm>
#include <utility>

namespace Tavrin::Platform {

namespace {

EFileError FromErrno(int error) noexcept {
    switch (error) {
        case ENOENT:
        case ENOTDIR: return EFileError::NotFound;
        case EACCES:
        case EPERM:
        case EROFS: return EFileError::AccessDenied;
        case EISDIR: return EFileError::IsDirectory;
        case ENAMETOOLONG:
        case EILSEQ: return EFileError::InvalidPath;
        case ENOSPC:
        case EDQUOT: return EFileError::NoSpace;
        case EFBIG:
        case EOVERFLOW: return EFileError::TooLarge;
        default: return EFileError::Other;
    }
}

// Largest piece handed to one read or write call (Linux moves at most about 2 GiB per call).
constexpr size_t kMaxPiece = size_t(1) << 30;

}  // namespace

bool WideToUtf8Path(const std::wstring& path, std::string& utf8) {
    std::string out;
    out.reserve(path.size());
    for (const wchar_t wc : path) {
        const uint32_t c = static_cast<uint32_t>(wc);
        if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    utf8 = std::move(out);
    return true;
}

CFile::~CFile() {
    if (m_fd != kClosed) ::close(static_cast<int>(m_fd));
}

CFile::CFile(CFile&& other) noexcept : m_fd(std::exchange(other.m_fd, kClosed)) {}

CFile& CFile::operator=(CFile&& other) noexcept {
    if (this != &other) {
        if (m_fd != kClosed) ::close(static_cast<int>(m_fd));
        m_fd = std::exchange(other.m_fd, kClosed);
    }
    return *this;
}

EFileError CFile::Open(const std::wstring& path, int flags) {
    if (m_fd != kClosed) {
        ::close(static_cast<int>(m_fd));
        m_fd = kClosed;
    }
    std::string utf8;
    if (path.empty() || !WideToUtf8Path(path, utf8)) return EFileError::InvalidPath;
    int fd = -1;
    do {
        fd = ::open(utf8.c_str(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return FromErrno(errno);
    m_fd = fd;
    return EFileError::None;
}

EFileError CFile::OpenRead(const std::wstring& path) {
    const EFileError error = Open(path, O_RDONLY);
    if (error != EFileError::None) return error;
    // open() accepts a directory for reading; refuse it here, as reading it would fail later.
    struct stat info {};
    if (::fstat(static_cast<int>(m_fd), &info) != 0) {
        const int saved = errno;
        Close();
        return FromErrno(saved);
    }
    if (S_ISDIR(info.st_mode)) {
        Close();
        return EFileError::IsDirectory;
    }
    return EFileError::None;
}

EFileError CFile::CreateWrite(const std::wstring& path) {
    return Open(path, O_WRONLY | O_CREAT | O_TRUNC);
}

EFileError CFile::Read(void* data, size_t size, size_t& delivered) {
    delivered = 0;
    if (m_fd == kClosed) return EFileError::NotOpen;
    if (size == 0) return EFileError::None;
    ssize_t got = 0;
    do {
        got = ::read(static_cast<int>(m_fd), data, std::min(size, kMaxPiece));
    } while (got < 0 && errno == EINTR);
    if (got < 0) return FromErrno(errno);
    delivered = static_cast<size_t>(got);
    return EFileError::None;
}

EFileError CFile::Write(const void* data, size_t size) {
    if (m_fd == kClosed) return EFileError::NotOpen;
    const unsigned char* in = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(static_cast<int>(m_fd), in, std::min(size, kMaxPiece));
        if (put < 0) {
            if (errno == EINTR) continue;
            return FromErrno(errno);
        }
        if (put == 0) return EFileError::Other;
        in += put;
        size -= static_cast<size_t>(put);
    }
    return EFileError::None;
}

EFileError CFile::GetSize(uint64_t& size) const {
    size = 0;
    if (m_fd == kClosed) return EFileError::NotOpen;
    struct stat info {};
    if (::fstat(static_cast<int>(m_fd), &info) != 0) return FromErrno(errno);
    size = static_cast<uint64_t>(info.st_size);
    return EFileError::None;
}

EFileError CFile::Close() {
    if (m_fd == kClosed) return EFileError::None;
    const int fd = static_cast<int>(std::exchange(m_fd, kClosed));
    // The descriptor is released even when close reports an error; do not retry on EINTR.
    if (::close(fd) != 0 && errno != EINTR) return FromErrno(errno);
    return EFileError::None;
}

}  // namespace Tavrin::Platform
