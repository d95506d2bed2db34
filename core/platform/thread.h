// Thread identity, the stand-in for GetCurrentThreadId.
#pragma once

namespace Tavrin::Platform {

// The kernel's identifier of the calling thread.
unsigned int CurrentThreadId() noexcept;

}  // namespace Tavrin::Platform
