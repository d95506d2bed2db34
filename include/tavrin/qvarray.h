/// \file
/// QvArray<T>: the dynamic array of the foundation layer (byte blobs, element lists, the
/// storage of the in-memory write stream). Counts and capacity are 32-bit; the array grows by
/// a fixed step (grow-by) or, with grow-by 0, by doubling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

/// A dynamic array of T that owns its elements, with 32-bit counts. Element addresses stay
/// valid until the array reallocates (growth, SetCapacity) or the element is destroyed. Copies
/// are deep; a moved-from array is empty. Allocation failures throw std::bad_alloc, and what
/// T's constructors throw passes through; an operation that throws leaves the array as it was.
template <class T>
class QvArray {
public:
    using value_type = T;             ///< element type
    using iterator = T*;              ///< iterator over the elements, in index order
    using const_iterator = const T*;  ///< read-only iterator

    /// An empty array: no memory, count and capacity 0, grow-by 0 (doubling).
    QvArray() noexcept = default;

    /// A copy of every element of `other` (capacity: exactly its count) and its grow-by.
    QvArray(const QvArray& other) : m_growBy(other.m_growBy) {
        if (other.m_count == 0) return;
        T* block = Allocate(other.m_count);
        try {
            std::uninitialized_copy(other.m_data, other.m_data + other.m_count, block);
        } catch (...) {
            Deallocate(block, other.m_count);
            throw;
        }
        m_data = block;
        m_count = other.m_count;
        m_capacity = other.m_count;
    }

    /// Takes over the elements and memory of `other`, which is left empty.
    QvArray(QvArray&& other) noexcept
        : m_data(std::exchange(other.m_data, nullptr)),
          m_count(std::exchange(other.m_count, 0u)),
          m_capacity(std::exchange(other.m_capacity, 0u)),
          m_growBy(other.m_growBy) {}

    /// Replaces the content with a copy of `other`'s; unchanged when the copy throws.
    QvArray& operator=(const QvArray& other) {
        if (this != &other) {
            QvArray copy(other);
            Swap(copy);
        }
        return *this;
    }

    /// Replaces the content with `other`'s, which is left empty.
    QvArray& operator=(QvArray&& other) noexcept {
        if (this != &other) {
            QvArray moved(std::move(other));
            Swap(moved);
        }
        return *this;
    }

    /// Destroys the elements and frees the memory.
    ~QvArray() {
        std::destroy(m_data, m_data + m_count);
        Deallocate(m_data, m_capacity);
    }

    /// Exchanges content, capacity and grow-by with `other`.
    void Swap(QvArray& other) noexcept {
        std::swap(m_data, other.m_data);
        std::swap(m_count, other.m_count);
        std::swap(m_capacity, other.m_capacity);
        std::swap(m_growBy, other.m_growBy);
    }

    /// Reallocates to exactly `capacity` elements and moves the held elements over. Meant for
    /// growing; a capacity below the count destroys the elements that no longer fit.
    void SetCapacity(unsigned int capacity) {
        if (capacity < m_count) {
            std::destroy(m_data + capacity, m_data + m_count);
            m_count = capacity;
        }
        Reallocate(capacity);
    }

    /// Sets the count. Growing beyond the capacity reallocates to exactly `size` (no reserve);
    /// new elements are value-initialised (0 for numbers); shrinking destroys the elements
    /// past `size`. When constructing an element throws, the array is left as it was.
    void SetSize(unsigned int size) {
        if (size == m_count) return;
        if (size < m_count) {
            std::destroy(m_data + size, m_data + m_count);
            m_count = size;
            return;
        }
        if (size > m_capacity) Reallocate(size);
        std::uninitialized_value_construct(m_data + m_count, m_data + size);
        m_count = size;
    }

    /// Growth step of Add: 0 doubles the capacity (1 when it is 0), otherwise adds this many.
    void SetGrowBy(unsigned int growBy) noexcept { m_growBy = growBy; }
    /// The growth step that SetGrowBy set (0: doubling).
    unsigned int GetGrowBy() const noexcept { return m_growBy; }

    /// Appends one element and returns it. When full, grows by the grow-by rule first. Throws
    /// std::length_error when the count would pass 0xFFFFFFFF.
    ///@{
    T& Add(const T& value) { return Emplace(value); }
    T& Add(T&& value) { return Emplace(std::move(value)); }
    ///@}

    /// As Add, constructing the element from `args` in place; `args` may refer to elements of
    /// this array.
    template <class... Args>
    T& Emplace(Args&&... args) {
        if (m_count < m_capacity) {
            T* slot = ::new (static_cast<void*>(m_data + m_count)) T(std::forward<Args>(args)...);
            ++m_count;
            return *slot;
        }
        // Build the new element in the new block before the old one is released, so that an
        // argument referring into this array stays valid.
        const unsigned int capacity = NextCapacity(m_capacity);
        T* block = Allocate(capacity);
        T* slot = nullptr;
        try {
            slot = ::new (static_cast<void*>(block + m_count)) T(std::forward<Args>(args)...);
        } catch (...) {
            Deallocate(block, capacity);
            throw;
        }
        try {
            TransferInto(block);
        } catch (...) {
            std::destroy_at(slot);
            Deallocate(block, capacity);
            throw;
        }
        Deallocate(m_data, m_capacity);
        m_data = block;
        m_capacity = capacity;
        ++m_count;
        return *slot;
    }

    /// Appends `count` elements copied from `values` (which may point into this array). The
    /// capacity reached is the one that adding them one by one would reach, with at most one
    /// reallocation.
    void Append(const T* values, unsigned int count) {
        if (count == 0) return;
        const std::less<const T*> before;
        const bool inside =
            m_count != 0 && !before(values, m_data) && before(values, m_data + m_count);
        const size_t offset = inside ? static_cast<size_t>(values - m_data) : 0;
        Reserve(static_cast<uint64_t>(m_count) + count);
        if (inside) values = m_data + offset;
        if constexpr (std::is_trivially_copyable_v<T>) {
            std::memcpy(static_cast<void*>(m_data + m_count), values, count * sizeof(T));
        } else {
            std::uninitialized_copy(values, values + count, m_data + m_count);
        }
        m_count += count;
    }

    /// Grows, as Add would, until at least `needed` elements fit; one reallocation at most.
    /// Throws std::length_error when `needed` exceeds 0xFFFFFFFF.
    void Reserve(uint64_t needed) {
        if (needed <= m_capacity) return;
        if (needed > UINT32_MAX) throw std::length_error("QvArray: more than 0xFFFFFFFF elements");
        unsigned int capacity = m_capacity;
        while (capacity < needed) capacity = NextCapacity(capacity);
        Reallocate(capacity);
    }

    /// Destroys every element; the memory is kept.
    void RemoveAll() noexcept {
        std::destroy(m_data, m_data + m_count);
        m_count = 0;
    }

    /// The element at `index`, which must be below GetCount() (not checked).
    ///@{
    T& operator[](unsigned int index) noexcept { return m_data[index]; }
    const T& operator[](unsigned int index) const noexcept { return m_data[index]; }
    ///@}

    /// The first element; null while nothing was ever allocated.
    ///@{
    T* GetData() noexcept { return m_data; }
    const T* GetData() const noexcept { return m_data; }
    ///@}
    /// One past the last element, or null while the count is 0.
    ///@{
    T* GetEnd() noexcept { return m_count ? m_data + m_count : nullptr; }
    const T* GetEnd() const noexcept { return m_count ? m_data + m_count : nullptr; }
    ///@}

    /// Number of elements held.
    unsigned int GetCount() const noexcept { return m_count; }
    /// Number of elements that fit before the next reallocation.
    unsigned int GetCapacity() const noexcept { return m_capacity; }
    /// True when the array holds no element.
    bool IsEmpty() const noexcept { return m_count == 0; }

    /// Iteration over the elements in index order (range-for).
    ///@{
    T* begin() noexcept { return m_data; }
    T* end() noexcept { return m_data + m_count; }
    const T* begin() const noexcept { return m_data; }
    const T* end() const noexcept { return m_data + m_count; }
    ///@}

private:
    static T* Allocate(unsigned int capacity) {
        if (capacity == 0) return nullptr;
        return std::allocator<T>().allocate(capacity);
    }

    static void Deallocate(T* block, unsigned int capacity) noexcept {
        if (block) std::allocator<T>().deallocate(block, capacity);
    }

    unsigned int NextCapacity(unsigned int capacity) const {
        uint64_t next = m_growBy ? static_cast<uint64_t>(capacity) + m_growBy
                                 : (capacity ? static_cast<uint64_t>(capacity) * 2 : 1);
        if (next > UINT32_MAX) {
            if (capacity == UINT32_MAX) {
                throw std::length_error("QvArray: more than 0xFFFFFFFF elements");
            }
            next = UINT32_MAX;
        }
        return static_cast<unsigned int>(next);
    }

    /// Moves (or, when moving may throw, copies) the held elements into `block` and destroys
    /// the originals. On an exception nothing is destroyed in this array.
    void TransferInto(T* block) {
        if constexpr (std::is_trivially_copyable_v<T>) {
            if (m_count) std::memcpy(static_cast<void*>(block), m_data, m_count * sizeof(T));
        } else {
            if constexpr (std::is_nothrow_move_constructible_v<T> ||
                          !std::is_copy_constructible_v<T>) {
                std::uninitialized_move(m_data, m_data + m_count, block);
            } else {
                std::uninitialized_copy(m_data, m_data + m_count, block);
            }
            std::destroy(m_data, m_data + m_count);
        }
    }

    void Reallocate(unsigned int capacity) {
        if (capacity == m_capacity) return;
        T* block = Allocate(capacity);
        try {
            TransferInto(block);
        } catch (...) {
            Deallocate(block, capacity);
            throw;
        }
        Deallocate(m_data, m_capacity);
        m_data = block;
        m_capacity = capacity;
    }

    T* m_data = nullptr;
    unsigned int m_count = 0;
    unsigned int m_capacity = 0;
    unsigned int m_growBy = 0;
};
