// Windows gives large pages only to VirtualAlloc with MEM_LARGE_PAGES and a privilege that
// ordinary processes lack, never to blocks of the heap: the advice is a no-op there.
#include "core/platform/memory.h"

namespace Tavrin::Platform {

void AdviseLargePages(void* /*block*/, size_t /*size*/) noexcept {}

}  // namespace Tavrin::Platform
