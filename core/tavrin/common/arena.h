// One bump-pointer arena for the trees and records that the format readers build: pieces are
// carved out of large blocks and all given back at once when the arena goes. Nothing is
// destroyed: only trivially destructible things belong here.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

namespace Tavrin::Detail {

class CArena {
public:
    static constexpr size_t kDefaultFirstBlock = 4096;
    static constexpr size_t kLargestBlock = size_t(1) << 20;

    // Allocates nothing yet. The first block holds `firstBlock` bytes (a reader that knows the
    // size of its input may give a size that fits the whole tree); each later one twice the
    // one before, up to `largestBlock` (a tree many times its text's size grows in fewer,
    // larger blocks, which the C library keeps for the next document instead of mapping
    // them anew).
    explicit CArena(size_t firstBlock = kDefaultFirstBlock,
                    size_t largestBlock = kLargestBlock) noexcept
        : m_nextSize(std::max<size_t>(firstBlock, 64)), m_largestBlock(largestBlock) {}
    CArena(const CArena&) = delete;
    CArena& operator=(const CArena&) = delete;
    ~CArena() {
        while (m_blocks) {
            SBlock* next = m_blocks->next;
            ::operator delete(m_blocks);
            m_blocks = next;
        }
    }

    // `size` bytes aligned to `align` (a power of two, at most alignof(std::max_align_t)),
    // valid while the arena lives. Throws std::bad_alloc when memory runs out. Sizes stay far
    // below the address space (the callers' sizes are 32-bit counts of small items), so the
    // end of the piece is computed without a test for wrapping.
    void* Allocate(size_t size, size_t align) {
        const uintptr_t p =
            (reinterpret_cast<uintptr_t>(m_cur) + (align - 1)) & ~(uintptr_t(align) - 1);
        if (p + size > reinterpret_cast<uintptr_t>(m_end)) return AllocateSlow(size);
        m_cur = reinterpret_cast<unsigned char*>(p + size);
        return reinterpret_cast<void*>(p);
    }

    // Uninitialised room for `count` objects of T.
    template <class T>
    T* AllocateArray(size_t count) {
        static_assert(std::is_trivially_destructible_v<T>);
        return static_cast<T*>(Allocate(count * sizeof(T), alignof(T)));
    }

    // One T made in the arena from `args`.
    template <class T, class... Args>
    T* Make(Args&&... args) {
        static_assert(std::is_trivially_destructible_v<T>);
        return ::new (Allocate(sizeof(T), alignof(T))) T(static_cast<Args&&>(args)...);
    }

    // A copy of `count` items in the arena; null for none.
    template <class T>
    T* Copy(const T* items, size_t count) {
        static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
        if (count == 0) return nullptr;
        // NOLINTNEXTLINE(bugprone-sizeof-expression): T may be a pointer type; its size is meant
        constexpr size_t kSize = sizeof(T);
        void* p = Allocate(count * kSize, alignof(T));
        if (count == 1) {
            std::memcpy(p, items, kSize);  // the usual case, without a call
        } else {
            std::memcpy(p, items, count * kSize);
        }
        return static_cast<T*>(p);
    }

private:
    struct alignas(std::max_align_t) SBlock {
        SBlock* next;
    };

    // Blocks start at max_align_t alignment, which covers every alignment asked for.
    void* AllocateSlow(size_t size) {
        if (size > m_nextSize / 4) {
            // A large piece gets a block of its own; the current block stays in use.
            SBlock* block = NewBlock(size);
            if (m_blocks) {
                block->next = m_blocks->next;
                m_blocks->next = block;
            } else {
                block->next = nullptr;
                m_blocks = block;
                m_cur = m_end = reinterpret_cast<unsigned char*>(block + 1) + size;
            }
            return block + 1;
        }
        SBlock* block = NewBlock(m_nextSize);
        block->next = m_blocks;
        m_blocks = block;
        m_cur = reinterpret_cast<unsigned char*>(block + 1);
        m_end = m_cur + m_nextSize;
        m_nextSize = m_nextSize >= m_largestBlock / 2 ? m_largestBlock : m_nextSize * 2;
        void* p = m_cur;
        m_cur += size;
        return p;
    }

    static SBlock* NewBlock(size_t size) {
        if (size > SIZE_MAX - sizeof(SBlock)) throw std::bad_alloc();
        return static_cast<SBlock*>(::operator new(sizeof(SBlock) + size));
    }

    // Before the first block, the free room is an empty range at an aligned address: the
    // fast path then needs no test of its own for a missing block.
    alignas(std::max_align_t) static inline unsigned char s_noBlock[1] = {};

    SBlock* m_blocks = nullptr;  // the block in use first, then the others
    unsigned char* m_cur = s_noBlock;
    unsigned char* m_end = s_noBlock;
    size_t m_nextSize;
    size_t m_largestBlock;
};

}  // namespace Tavrin::Detail
