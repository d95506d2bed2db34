// Advice to the system about large blocks of memory.
#pragma once

#include <cstddef>

namespace Tavrin::Platform {

// The size of a large page.
constexpr size_t kLargePage = size_t(2) << 20;

// Unaligned blocks from this size on are worth the advice below: they hold at least one whole
// large page.
constexpr size_t kLargePageBlock = 2 * kLargePage;

// Asks the system to back the untouched parts of [block, block + size) with large pages when
// they are first written. Large buffers then cost one page fault per 2 MiB instead of one per
// 4 KiB, which dominates filling a fresh buffer of tens of megabytes on a virtual machine.
// Only whole large pages inside the block are advised; a block that holds none is left alone. The
// advice changes no content and may be refused; it never fails.
void AdviseLargePages(void* block, size_t size) noexcept;

}  // namespace Tavrin::Platform
