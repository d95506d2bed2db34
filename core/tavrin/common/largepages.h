// Blocks of one large page for the buffers and arenas that grow with a document. Once a buffer
// holds megabytes, its further blocks are whole large pages, aligned and advised as such, so
// that filling them costs one page fault per block instead of one per 4 KiB: with documents of
// tens of megabytes those faults, not the encoding, set the pace.
#pragma once

#include <cstddef>
#include <new>

#include "core/platform/memory.h"

namespace Tavrin::Detail {

constexpr size_t kLargePage = Platform::kLargePage;

// Content from which a growing buffer takes its further blocks as large pages: below it the
// blocks stay small, so that small documents keep their small footprint.
constexpr size_t kLargePagesFrom = size_t(8) << 20;

// One block of kLargePage bytes, aligned to its size; give it back with DeleteLargePage.
inline void* NewLargePage() {
    void* block = ::operator new(kLargePage, std::align_val_t(kLargePage));
    Platform::AdviseLargePages(block, kLargePage);
    return block;
}

inline void DeleteLargePage(void* block) noexcept {
    ::operator delete(block, std::align_val_t(kLargePage));
}

}  // namespace Tavrin::Detail
