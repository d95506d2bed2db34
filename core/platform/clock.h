// The system clock, the stand-in for GetSystemTime.
#pragma once

#include <cstdint>

namespace Tavrin::Platform {

// Current UTC time as the count of 100-ns intervals since 1601-01-01 00:00:00, truncated to
// whole milliseconds.
uint64_t CurrentUtcFileTime() noexcept;

}  // namespace Tavrin::Platform
