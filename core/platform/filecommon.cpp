// The file functions that are the same on every system, over CFile.
#include "core/platform/file.h"

#include <cstdint>
#include <utility>

namespace Tavrin::Platform {

const char* FileErrorText(EFileError error) noexcept {
    switch (error) {
        case EFileError::None: return "no error";
        case EFileError::NotFound: return "file not found";
        case EFileError::AccessDenied: return "access denied";
        case EFileError::IsDirectory: return "is a directory";
        case EFileError::InvalidPath: return "invalid path";
        case EFileError::NoSpace: return "no space left on device";
        case EFileError::TooLarge: return "file too large";
        case EFileError::NotOpen: return "file not open";
        case EFileError::Other: break;
    }
    return "file error";
}

EFileError CFile::ReadFull(void* data, size_t size, size_t& delivered) {
    delivered = 0;
    unsigned char* out = static_cast<unsigned char*>(data);
    while (delivered < size) {
        size_t got = 0;
        const EFileError error = Read(out + delivered, size - delivered, got);
        if (error != EFileError::None) return error;
        if (got == 0) break;
        delivered += got;
    }
    return EFileError::None;
}

EFileError ReadWholeFile(const std::wstring& path, std::vector<unsigned char>& content,
                         uint64_t maxSize) {
    CFile file;
    EFileError error = file.OpenRead(path);
    if (error != EFileError::None) return error;
    uint64_t size = 0;
    error = file.GetSize(size);
    if (error != EFileError::None) return error;
    if (size > maxSize || size > SIZE_MAX / 2) return EFileError::TooLarge;
    std::vector<unsigned char> bytes(static_cast<size_t>(size));
    size_t delivered = 0;
    error = file.ReadFull(bytes.data(), bytes.size(), delivered);
    if (error != EFileError::None) return error;
    bytes.resize(delivered);
    // A file that grew since fstat (or reports size 0, as some special files do): read the rest.
    unsigned char chunk[65536];
    for (;;) {
        size_t got = 0;
        error = file.Read(chunk, sizeof(chunk), got);
        if (error != EFileError::None) return error;
        if (got == 0) break;
        if (bytes.size() + got > maxSize) return EFileError::TooLarge;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    content = std::move(bytes);
    return EFileError::None;
}

EFileError WriteWholeFile(const std::wstring& path, const void* data, size_t size) {
    CFile file;
    EFileError error = file.CreateWrite(path);
    if (error != EFileError::None) return error;
    error = file.Write(data, size);
    if (error != EFileError::None) return error;
    return file.Close();
}

}  // namespace Tavrin::Platform
