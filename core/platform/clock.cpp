#include "clock.h"

#include <time.h>

namespace Tavrin::Platform {

namespace {
// Seconds from 1601-01-01 to 1970-01-01.
constexpr uint64_t kUnixEpochSeconds = 11644473600ull;
}  // namespace

uint64_t CurrentUtcFileTime() noexcept {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const uint64_t seconds = static_cast<uint64_t>(now.tv_sec) + kUnixEpochSeconds;
    const uint64_t millis = static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return seconds * 10000000u + millis * 10000u;
}

}  // namespace Tavrin::Platform
