// Thread identity on Windows.
#include "core/platform/thread.h"

#include <windows.h>

namespace Tavrin::Platform {

unsigned int CurrentThreadId() noexcept {
    return static_cast<unsigned int>(::GetCurrentThreadId());
}

}  // namespace Tavrin::Platform
