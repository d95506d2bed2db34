// The file functions that are the same on every system, over CFile.
#include "core/platform/file.h"

#include <cstddef>

namespace Tavrin::Platform {

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

}  // namespace Tavrin::Platform
