// The program's own global operator new and delete, every form (plain, array, nothrow, sized,
// aligned): blocks come from malloc (aligned_alloc for over-aligned types) as with the standard
// ones, and while counting is on each block's usable size (malloc_usable_size, as in
// binary_bench.cpp) is added or taken off, with relaxed atomics. Outside Heap::Start/Stop an
// allocation costs one relaxed load more than the standard operator new and the blocks are
// exactly what malloc gives, so the timed loops run with the plain allocator. Libraries that
// call malloc themselves (msgpack-c's buffer and zone, RapidJSON's allocators) are not seen;
// pugixml is routed here by its own hook (pugixml.cpp).
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "common.h"

namespace {

std::atomic<bool> g_counting{false};
std::atomic<int64_t> g_inUse{0};
std::atomic<int64_t> g_peak{0};

void Count(void* block, int sign) noexcept {
    if (!g_counting.load(std::memory_order_relaxed)) return;
    const int64_t delta = sign * static_cast<int64_t>(malloc_usable_size(block));
    const int64_t now = g_inUse.fetch_add(delta, std::memory_order_relaxed) + delta;
    int64_t peak = g_peak.load(std::memory_order_relaxed);
    while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {}
}

constexpr std::size_t kMallocAlign = alignof(std::max_align_t);

void* Allocate(std::size_t size, std::size_t align) noexcept {
    void* block = nullptr;
    if (align <= kMallocAlign) {
        block = std::malloc(size == 0 ? 1 : size);
    } else if (size <= SIZE_MAX - align) {
        // aligned_alloc wants a multiple of the alignment.
        block = std::aligned_alloc(align, std::max(align, (size + align - 1) / align * align));
    }
    if (block != nullptr) Count(block, 1);
    return block;
}

void Release(void* block) noexcept {
    if (block == nullptr) return;
    Count(block, -1);
    std::free(block);
}

std::size_t Alignment(std::align_val_t align) { return static_cast<std::size_t>(align); }

// What operator new does when there is no memory: the new-handler, then bad_alloc.
void* AllocateOrThrow(std::size_t size, std::size_t align) {
    for (;;) {
        if (void* block = Allocate(size, align)) return block;
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

void* AllocateOrNull(std::size_t size, std::size_t align) noexcept {
    try {
        return AllocateOrThrow(size, align);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

namespace PeersBench::Heap {

void Start() noexcept {
    g_inUse.store(0, std::memory_order_relaxed);
    g_peak.store(0, std::memory_order_relaxed);
    g_counting.store(true, std::memory_order_relaxed);
}

int64_t Stop() noexcept {
    g_counting.store(false, std::memory_order_relaxed);
    return g_peak.load(std::memory_order_relaxed);
}

}  // namespace PeersBench::Heap

void* operator new(std::size_t size) { return AllocateOrThrow(size, kMallocAlign); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size, kMallocAlign); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size, kMallocAlign);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size, kMallocAlign);
}
void* operator new(std::size_t size, std::align_val_t align) {
    return AllocateOrThrow(size, Alignment(align));
}
void* operator new[](std::size_t size, std::align_val_t align) {
    return AllocateOrThrow(size, Alignment(align));
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size, Alignment(align));
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size, Alignment(align));
}

void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { Release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Release(p); }
