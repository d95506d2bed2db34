// Large-page advice through madvise. The kernel honours it when transparent huge pages are set
// to "madvise" or "always"; with "never" the call is refused and nothing changes.
#include "core/platform/memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace Tavrin::Platform {

void AdviseLargePages(void* block, size_t size) noexcept {
#if defined(MADV_HUGEPAGE)
    constexpr uintptr_t kPage = kLargePage;
    if (block == nullptr || size < kLargePage) return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kPage - 1) & ~(kPage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size) & ~(kPage - 1);
    if (end <= begin) return;
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the aligned start inside the caller's block
    (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)block;
    (void)size;
#endif
}

}  // namespace Tavrin::Platform
