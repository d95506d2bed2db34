// Where the binary writer's encoded bytes go: the chunked buffer of a container's elements,
// and the sink into the caller's stream. Both take bytes through
// Room/Commit (a run written in place) and Append (a copy), so that one record writer serves
// both.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <tavrin/qvstream.h>

#include "core/platform/memory.h"
#include "core/tavrin/common/bytes.h"

namespace Tavrin::Binary {

// The encoded elements of a container: a sequence of chunks whose bytes never move, so that
// growing costs no copy and holds at most one partly filled chunk beyond the content.
class CChunkBuffer {
public:
    CChunkBuffer() = default;
    CChunkBuffer(const CChunkBuffer&) = delete;
    CChunkBuffer& operator=(const CChunkBuffer&) = delete;
    ~CChunkBuffer() { FreeChunks(0); }

    // `n` contiguous writable bytes at the end; commit them with Commit.
    unsigned char* Room(size_t n) {
        if (static_cast<size_t>(m_end - m_cur) < n) AddChunk(n);
        return m_cur;
    }
    void Commit(size_t n) noexcept { m_cur += n; }

    void Append(const void* data, size_t n) {
        const unsigned char* p = static_cast<const unsigned char*>(data);
        const size_t room = static_cast<size_t>(m_end - m_cur);
        if (n > room) {
            if (room) std::memcpy(m_cur, p, room);
            m_cur += room;
            p += room;
            n -= room;
            AddChunk(n);
        }
        Detail::CopyShort(m_cur, p, n);
        m_cur += n;
    }

    size_t Size() const noexcept {
        return m_closed +
               (m_chunks.empty() ? 0 : static_cast<size_t>(m_cur - m_chunks.back().data));
    }

    // A position to go back to with Rollback.
    struct SMark {
        size_t chunks;
        unsigned char* cur;
    };
    SMark Mark() const noexcept { return {m_chunks.size(), m_cur}; }

    // Forgets everything appended after `mark`.
    void Rollback(const SMark& mark) noexcept {
        if (mark.chunks == 0) {
            FreeChunks(0);
            m_closed = 0;
            m_cur = m_end = nullptr;
            return;
        }
        FreeChunks(mark.chunks);
        m_closed = 0;
        for (size_t i = 0; i + 1 < m_chunks.size(); ++i) m_closed += m_chunks[i].used;
        SChunk& last = m_chunks.back();
        m_cur = mark.cur;
        m_end = last.data + last.capacity;
    }

    // Calls fn(data, size) for each run of bytes, in order.
    template <class F>
    void ForEachRun(F&& fn) const {
        for (size_t i = 0; i < m_chunks.size(); ++i) {
            const SChunk& c = m_chunks[i];
            const size_t used =
                i + 1 == m_chunks.size() ? static_cast<size_t>(m_cur - c.data) : c.used;
            if (used) fn(c.data, used);
        }
    }

    // Empties the buffer for reuse; keeps one chunk of about the size that was needed.
    void Clear() noexcept {
        if (m_chunks.size() > 1) {
            const size_t size = Size();
            FreeChunks(0);
            m_nextCapacity = std::min<size_t>(std::bit_ceil(size), kReuseLimit);
            m_closed = 0;
            m_cur = m_end = nullptr;
            return;
        }
        if (!m_chunks.empty()) m_cur = m_chunks.back().data;
        m_closed = 0;
    }

private:
    static constexpr size_t kFirstChunk = 256;
    static constexpr size_t kLargestChunk = size_t(64) << 10;
    static constexpr size_t kReuseLimit = size_t(64) << 10;
    // From kLargeFrom bytes on, chunks of kLargeChunk, advised to take large pages: filling
    // fresh memory a 4 KiB page at a time costs more than the encoding.
    static constexpr size_t kLargeFrom = size_t(8) << 20;
    static constexpr size_t kLargeChunk = size_t(4) << 20;

    struct SChunk {
        unsigned char* data;
        size_t used;
        size_t capacity;
    };

    void AddChunk(size_t needed) {
        size_t capacity = m_nextCapacity;
        if (!m_chunks.empty()) {
            SChunk& last = m_chunks.back();
            last.used = static_cast<size_t>(m_cur - last.data);
            // Each new chunk as large as the content so far (within limits): few chunks, and
            // at most one half-empty chunk.
            capacity = std::min(std::max(Size(), kFirstChunk), kLargestChunk);
        }
        if (capacity < needed) capacity = needed;
        m_chunks.reserve(m_chunks.size() + 1);
        // A document of megabytes continues in chunks that take large pages.
        if (Size() >= kLargeFrom) capacity = std::max(capacity, kLargeChunk);
        unsigned char* data = new unsigned char[capacity];
        if (capacity >= kLargeChunk) Platform::AdviseLargePages(data, capacity);
        if (!m_chunks.empty()) m_closed += m_chunks.back().used;
        m_chunks.push_back({data, 0, capacity});
        m_cur = data;
        m_end = data + capacity;
        m_nextCapacity = kFirstChunk;
    }

    void FreeChunks(size_t keep) noexcept {
        while (m_chunks.size() > keep) {
            delete[] m_chunks.back().data;
            m_chunks.pop_back();
        }
    }

    std::vector<SChunk> m_chunks;
    unsigned char* m_cur = nullptr;
    unsigned char* m_end = nullptr;
    size_t m_closed = 0;  // bytes in the chunks before the last one
    size_t m_nextCapacity = kFirstChunk;
};

// The document's way into the caller's stream: small pieces are gathered and handed over with
// WriteBytes in runs; large pieces go straight through.
class COutSink {
public:
    explicit COutSink(QvStreamWriteBinary& stream) : m_stream(stream) {}
    COutSink(const COutSink&) = delete;
    COutSink& operator=(const COutSink&) = delete;

    unsigned char* Room(size_t n) {
        if (static_cast<size_t>(m_end - m_cur) < n) MakeRoom(n);
        return m_cur;
    }
    void Commit(size_t n) noexcept { m_cur += n; }

    void Append(const void* data, size_t n) {
        if (static_cast<size_t>(m_end - m_cur) >= n) {
            Detail::CopySmall(m_cur, data, n);
            m_cur += n;
            return;
        }
        if (n >= kDirectSize) {
            Flush();
            m_stream.WriteBytes(data, n);
            return;
        }
        MakeRoom(n);
        std::memcpy(m_cur, data, n);
        m_cur += n;
    }

    void Flush() {
        const unsigned char* begin = m_buffer.get();
        if (m_cur != begin) {
            const size_t n = static_cast<size_t>(m_cur - begin);
            m_cur = m_buffer.get();
            m_stream.WriteBytes(begin, n);
        }
    }

private:
    static constexpr size_t kLargestBuffer = size_t(64) << 10;
    static constexpr size_t kDirectSize = size_t(16) << 10;

    // Called with n <= kLargestBuffer only.
    void MakeRoom(size_t n) {
        size_t used = static_cast<size_t>(m_cur - m_buffer.get());
        if (used + n > kLargestBuffer) {
            Flush();
            used = 0;
        }
        if (m_capacity - used >= n) return;
        // Grow while the document is small, so that a small document costs a small buffer.
        size_t capacity = std::max<size_t>(m_capacity * 2, 512);
        while (capacity < used + n) capacity *= 2;
        capacity = std::min(capacity, kLargestBuffer);
        std::unique_ptr<unsigned char[]> block(new unsigned char[capacity]);
        if (used) std::memcpy(block.get(), m_buffer.get(), used);
        m_buffer = std::move(block);
        m_capacity = capacity;
        m_cur = m_buffer.get() + used;
        m_end = m_buffer.get() + capacity;
    }

    QvStreamWriteBinary& m_stream;
    std::unique_ptr<unsigned char[]> m_buffer;
    size_t m_capacity = 0;
    unsigned char* m_cur = nullptr;
    unsigned char* m_end = nullptr;
};

template <class Sink, class T>
inline void Put(Sink& sink, T value) {
    unsigned char* p = sink.Room(sizeof(T));
    std::memcpy(p, &value, sizeof(T));
    sink.Commit(sizeof(T));
}

}  // namespace Tavrin::Binary
