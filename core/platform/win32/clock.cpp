// The system clock on Windows.
#include "core/platform/clock.h"

#include <windows.h>

namespace Tavrin::Platform {

uint64_t CurrentUtcFileTime() noexcept {
    // Through SYSTEMTIME, which holds whole milliseconds: the truncation the callers expect.
    SYSTEMTIME now{};
    ::GetSystemTime(&now);
    FILETIME fileTime{};
    if (!::SystemTimeToFileTime(&now, &fileTime)) return 0;
    return (static_cast<uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
}

}  // namespace Tavrin::Platform
