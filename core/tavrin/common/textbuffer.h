// The text of a document being written by a text writer. It offers the few appends of
// std::string that the writers use, inline and with one capacity check each: assembling a
// value's text is most of a text writer's work, and std::string's out-of-line appends cost
// more than the bytes they copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "core/tavrin/common/bytes.h"

namespace Tavrin::Detail {

class CTextBuffer {
public:
    CTextBuffer() = default;
    CTextBuffer(const CTextBuffer&) = delete;
    CTextBuffer& operator=(const CTextBuffer&) = delete;

    size_t size() const noexcept { return static_cast<size_t>(m_at - m_data.get()); }
    bool empty() const noexcept { return m_at == m_data.get(); }
    const char* data() const noexcept { return m_data.get(); }

    void clear() noexcept { m_at = m_data.get(); }
    // Drops the bytes from `n` on; `n` is at most size().
    void Truncate(size_t n) noexcept { m_at = m_data.get() + n; }

    // Room for `n` more bytes: write them at the address returned, then Commit their end.
    char* Room(size_t n) {
        if (static_cast<size_t>(m_end - m_at) < n) Grow(n);
        return m_at;
    }
    void Commit(char* end) noexcept { m_at = end; }

    void push_back(char c) {
        if (m_at == m_end) Grow(1);
        *m_at++ = c;
    }
    void append(const char* text, size_t n) {
        char* p = Room(n);
        CopySmall(p, text, n);
        m_at = p + n;
    }
    void append(const char* first, const char* last) {
        append(first, static_cast<size_t>(last - first));
    }
    void append(std::string_view text) { append(text.data(), text.size()); }
    void append(const char* text) { append(text, std::strlen(text)); }

private:
    // At least `n` bytes of room: the capacity doubles, so appends take amortised constant time.
    void Grow(size_t n) {
        const size_t used = size();
        const size_t capacity = static_cast<size_t>(m_end - m_data.get());
        if (n > SIZE_MAX / 2 - used) throw std::length_error("text too long");
        size_t wanted = capacity < 256 ? 256 : capacity * 2;
        if (wanted - used < n) wanted = used + n;
        std::unique_ptr<char[]> data = std::make_unique_for_overwrite<char[]>(wanted);
        if (used != 0) std::memcpy(data.get(), m_data.get(), used);
        m_data = std::move(data);
        m_at = m_data.get() + used;
        m_end = m_data.get() + wanted;
    }

    std::unique_ptr<char[]> m_data;
    char* m_at = nullptr;
    char* m_end = nullptr;
};

}  // namespace Tavrin::Detail
