/// \file
/// QvPlexManager: the pool that hands out storage for the entries of a keyed table. Storage is
/// carved out of blocks that grow by half each time (128, 192, 288, ... entries for a pool that
/// starts at 128), so that a table of many entries costs few allocations and none per entry.
/// Storage is never returned to the platform before the pool is destroyed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <new>
#include <string>
#include <string_view>

#include <tavrin/export.h>

/// Lock policy of the foundation containers. The policy 0 is the one without a lock.
template <int N>
class QvCriticalSectionPolicy;

/// The policy without a lock: the container is used by one thread at a time.
template <>
class QvCriticalSectionPolicy<0> {
public:
    /// Does nothing.
    ///@{
    void Lock() noexcept {}
    void Unlock() noexcept {}
    ///@}
};

/// Base of the classes that must not be copied.
class INonCopyable {
public:
    INonCopyable(const INonCopyable&) = delete;
    INonCopyable& operator=(const INonCopyable&) = delete;

protected:
    INonCopyable() = default;
    ~INonCopyable() = default;
};

namespace QvDetail {

/// The signature as the compiler spells it, e.g. "const char* ...() [with T = X]"; its return
/// type is kept free of type aliases so that T's spelling is all that follows "T = ".
template <class T>
const char* PrettySignature() noexcept {
    return __PRETTY_FUNCTION__;
}

/// The compiler's spelling of the type T, for exception function names that name an
/// instantiated template member.
template <class T>
std::string TypeName() {
    const std::string_view pretty = PrettySignature<T>();
    const size_t start = pretty.find("T = ");
    const size_t end = pretty.rfind(']');
    if (start == std::string_view::npos || end == std::string_view::npos || end < start + 4) {
        return std::string(pretty);
    }
    return std::string(pretty.substr(start + 4, end - start - 4));
}

/// "name<arg1, arg2, ...>", the spelling of an instantiated class template in exception data.
inline std::string TemplateName(const char* name, std::initializer_list<std::string> args) {
    std::string out(name);
    out += '<';
    const char* separator = "";
    for (const std::string& arg : args) {
        out += separator;
        out += arg;
        separator = ", ";
    }
    out += '>';
    return out;
}

/// What can go wrong in a node pool or a map's storage policy.
enum class EContainerFailure { ZeroBlockSize, OutOfMemory, PoolReplacedOnNonEmptyMap };

/// Throws the QvExceptionContainer of `failure`, naming `function` (the instantiated member,
/// "<class>::<member>") as the raising function.
[[noreturn]] TAVRIN_API void RaiseContainerFailure(EContainerFailure failure,
                                                   const std::string& function);

}  // namespace QvDetail

/// TAssoc: the entry type. The integer parameters are 0 in every use (lock policy, and
/// reserved); TSize is the type of the sizes and counts.
template <class TAssoc, int N1 = 0, int N2 = 0, class TSize = unsigned int>
class QvPlexManager : public QvCriticalSectionPolicy<N1>, private INonCopyable {
public:
    /// No memory is allocated until the first getFreeElement. Throws QvExceptionContainer
    /// ("...QvPlexManager<...>::QvPlexManager") when `initialBlockSize` is 0.
    explicit QvPlexManager(TSize initialBlockSize) : m_initialBlockSize(initialBlockSize) {
        if (initialBlockSize == 0) {
            QvDetail::RaiseContainerFailure(QvDetail::EContainerFailure::ZeroBlockSize,
                                            FullName() + "::QvPlexManager");
        }
    }

    /// Frees every block. The entries' contents must have been destroyed by their owner.
    virtual ~QvPlexManager() {
        while (m_pBlocks) {
            SBlock* next = m_pBlocks->pNext;
            ::operator delete(static_cast<void*>(m_pBlocks));
            m_pBlocks = next;
        }
    }

    /// Uninitialised storage for one entry, suitably aligned. Entries of a new block are handed
    /// out from its last to its first. Throws QvExceptionContainer
    /// ("...QvPlexManager<...>::getFreeElement") when no block can be obtained.
    TAssoc* getFreeElement() {
        if (m_pFree) {
            SFreeNode* node = m_pFree;
            m_pFree = node->pNext;
            return static_cast<TAssoc*>(static_cast<void*>(node));
        }
        if (m_remaining == 0) AllocateBlock();
        --m_remaining;
        void* slot = m_pCursor + static_cast<size_t>(m_remaining) * kElementSize;
        return static_cast<TAssoc*>(slot);
    }

    /// Gives storage obtained from getFreeElement back to the pool (its content must already be
    /// destroyed); the next getFreeElement hands it out again.
    void ReturnElement(void* element) noexcept { m_pFree = ::new (element) SFreeNode{m_pFree}; }

    /// Size of the next block to allocate: the fixed size when set, else the initial size
    /// multiplied once per block allocated so far by the growth factor (single precision,
    /// truncated). Returns 0 when the size no longer fits TSize.
    TSize GetNextBlockSize() const noexcept { return BlockSizeAt(m_blockCount); }

    /// The block size the pool was constructed with.
    TSize GetInitialBlockSize() const noexcept { return m_initialBlockSize; }
    /// Number of blocks allocated so far.
    TSize GetBlockCount() const noexcept { return m_blockCount; }
    /// Number of entries in the most recently allocated block (0 before the first).
    TSize GetLastBlockSize() const noexcept {
        return m_blockCount ? BlockSizeAt(m_blockCount - 1) : 0;
    }

private:
    struct SBlock {
        SBlock* pNext;
    };
    struct SFreeNode {
        SFreeNode* pNext;
    };

    static_assert(alignof(TAssoc) <= alignof(std::max_align_t),
                  "over-aligned entries are not supported by the pool");
    static constexpr size_t kAlign = alignof(TAssoc) > alignof(SFreeNode) ? alignof(TAssoc)
                                                                          : alignof(SFreeNode);
    static constexpr size_t kElementSize =
        ((sizeof(TAssoc) > sizeof(SFreeNode) ? sizeof(TAssoc) : sizeof(SFreeNode)) + kAlign - 1) /
        kAlign * kAlign;
    /// The link to the next block, padded so that the entries that follow are aligned.
    static constexpr size_t kHeaderSize = (sizeof(SBlock) + kAlign - 1) / kAlign * kAlign;

    static std::string FullName() {
        return QvDetail::TemplateName(
            "QvPlexManager", {QvDetail::TypeName<TAssoc>(), std::to_string(N1), std::to_string(N2),
                              QvDetail::TypeName<TSize>()});
    }

    TSize BlockSizeAt(TSize blocksSoFar) const noexcept {
        if (m_fixedBlockSize != 0) return m_fixedBlockSize;
        TSize size = m_initialBlockSize;
        for (TSize i = 0; i < blocksSoFar; ++i) {
            const float grown = static_cast<float>(size) * m_growthFactor;
            // Past the range of TSize no block can be obtained anyway.
            if (!(grown < static_cast<float>(std::numeric_limits<TSize>::max()))) return 0;
            size = static_cast<TSize>(grown);
        }
        return size;
    }

    void AllocateBlock() {
        const TSize count = BlockSizeAt(m_blockCount);
        void* raw = nullptr;
        if (count != 0 && static_cast<uint64_t>(count) <= (SIZE_MAX - kHeaderSize) / kElementSize) {
            raw = ::operator new(kHeaderSize + static_cast<size_t>(count) * kElementSize,
                                 std::nothrow);
        }
        if (!raw) {
            QvDetail::RaiseContainerFailure(QvDetail::EContainerFailure::OutOfMemory,
                                            FullName() + "::getFreeElement");
        }
        m_pBlocks = ::new (raw) SBlock{m_pBlocks};
        ++m_blockCount;
        m_pCursor = static_cast<unsigned char*>(raw) + kHeaderSize;
        m_remaining = count;
    }

    SBlock* m_pBlocks = nullptr;
    SFreeNode* m_pFree = nullptr;
    unsigned char* m_pCursor = nullptr;  ///< first entry of the newest block
    TSize m_remaining = 0;               ///< entries of the newest block not yet handed out
    TSize m_initialBlockSize;
    TSize m_fixedBlockSize = 0;
    TSize m_blockCount = 0;
    float m_growthFactor = 1.5f;
};
