// One growable stack of plain bytes, for the records that the readers gather while a block
// is open and the encoded values that the binary writer keeps: pushes and truncations stay
// inline, the storage only grows and is never zero-filled, and it keeps its memory when
// emptied so that a recycled owner does not allocate again.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

namespace Tavrin::Detail {

class CByteStack {
public:
    // Allocates nothing yet; the first growth makes room for at least `firstCapacity` bytes.
    explicit CByteStack(size_t firstCapacity = 256) noexcept : m_firstCapacity(firstCapacity) {}
    CByteStack(const CByteStack&) = delete;
    CByteStack& operator=(const CByteStack&) = delete;

    // Appends `n` uninitialised bytes and returns them; valid until the next growth.
    unsigned char* Extend(size_t n) {
        if (m_capacity - m_size < n) Grow(n);
        unsigned char* p = m_data.get() + m_size;
        m_size += n;
        return p;
    }

    // Appends the bytes of `item`.
    template <class T>
    void Push(const T& item) {
        static_assert(std::is_trivially_copyable_v<T>);
        constexpr size_t size = sizeof(T);  // NOLINT(bugprone-sizeof-expression): may be a pointer
        std::memcpy(Extend(size), &item, size);
    }

    // Room for at least `n` more bytes behind Size(): returns where they start. Writers fill
    // it through a pointer of their own up to Limit() and then say where they ended (SetEnd).
    unsigned char* Room(size_t n) {
        if (m_capacity - m_size < n) Grow(n);
        return m_data.get() + m_size;
    }
    unsigned char* Limit() noexcept { return m_data.get() + m_capacity; }
    void SetEnd(const unsigned char* end) noexcept {
        m_size = static_cast<size_t>(end - m_data.get());
    }

    const unsigned char* Data() const noexcept { return m_data.get(); }
    unsigned char* Data() noexcept { return m_data.get(); }
    size_t Size() const noexcept { return m_size; }
    bool Empty() const noexcept { return m_size == 0; }

    // Makes room for `capacity` bytes in all, so that extending up to that does not throw.
    void Reserve(size_t capacity) {
        if (m_capacity < capacity) Grow(capacity - m_size);
    }

    // Drops everything above `size` (at most Size()); the memory stays.
    void Shrink(size_t size) noexcept { m_size = size; }
    void Clear() noexcept { m_size = 0; }

private:
    void Grow(size_t n) {
        if (n > SIZE_MAX / 2 - m_size) throw std::bad_alloc();
        const size_t capacity = std::max(m_size + n, std::max(m_capacity * 2, m_firstCapacity));
        std::unique_ptr<unsigned char[]> block(new unsigned char[capacity]);
        if (m_size) std::memcpy(block.get(), m_data.get(), m_size);
        m_data = std::move(block);
        m_capacity = capacity;
    }

    std::unique_ptr<unsigned char[]> m_data;
    size_t m_size = 0;
    size_t m_capacity = 0;
    size_t m_firstCapacity;
};

// The same stack seen as items of one trivially copyable type, for parsers that gather
// entries of a kind: the interface of a vector, without its zero-filling or its checks.
template <class T>
class CStack {
    static_assert(std::is_trivially_copyable_v<T>);
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    // NOLINTNEXTLINE(bugprone-sizeof-expression): T may be a pointer type; its size is meant
    static constexpr size_t kItemSize = sizeof(T);

public:
    explicit CStack(size_t firstCapacity = 64) noexcept : m_bytes(firstCapacity * kItemSize) {}

    size_t size() const noexcept { return m_bytes.Size() / kItemSize; }
    bool empty() const noexcept { return m_bytes.Empty(); }
    T* data() noexcept { return reinterpret_cast<T*>(m_bytes.Data()); }
    const T* data() const noexcept { return reinterpret_cast<const T*>(m_bytes.Data()); }
    T& back() noexcept { return data()[size() - 1]; }
    const T& back() const noexcept { return data()[size() - 1]; }

    void push_back(const T& item) { m_bytes.Push(item); }
    void pop_back() noexcept { m_bytes.Shrink(m_bytes.Size() - kItemSize); }
    // Only ever shrinks: `count` is at most size().
    void resize(size_t count) noexcept { m_bytes.Shrink(count * kItemSize); }
    void clear() noexcept { m_bytes.Clear(); }

private:
    CByteStack m_bytes;
};

}  // namespace Tavrin::Detail
