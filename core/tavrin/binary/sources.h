// Where the binary reader takes the primitives of a document from. Both sources offer the
// same operations on a cursor, so that one loader (loader.h) decodes from either:
// CMemorySource straight from the memory that the stream offers, CStreamSource through the
// stream's read operations.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <tavrin/qvdatetime.h>
#include <tavrin/qvstream.h>
#include <tavrin/qvstring.h>

#include "core/tavrin/binary/binaryformat.h"
#include "core/tavrin/binary/documentrecords.h"
#include "core/tavrin/common/arena.h"
#include "core/tavrin/common/bytes.h"
#include "core/tavrin/common/bytestack.h"

namespace Tavrin::Binary {

// The primitives through the stream's read operations: works with any stream, and calls only
// the operations that the format needs. It keeps no position of its own (SNoCursor).
class CStreamSource {
public:
    struct SNoCursor {};
    using Cursor = SNoCursor;
    // The loader's raw fast paths need a cursor into memory.
    static constexpr bool kInMemory = false;

    explicit CStreamSource(QvStreamReadBinary& stream) noexcept : m_stream(stream) {}

    Cursor Resume() const noexcept { return {}; }
    void Park(const Cursor&) noexcept {}
    void Finish(const Cursor&) noexcept {}

    uint8_t U8(Cursor&) {
        uint8_t v = 0;
        m_stream.ReadUInt8(v);
        return v;
    }
    uint32_t U32(Cursor&) {
        uint32_t v = 0;
        m_stream.ReadUInt32(v);
        return v;
    }
    bool Bool(Cursor&) {
        bool v = false;
        m_stream.ReadBool(v);
        return v;
    }

    // One value of a scalar kind (tags 0 to 11), as its bytes.
    uint64_t Scalar(Cursor&, uint8_t tag);

    // The `size` bytes of `count` scalars, when they can be taken as they stand (never here).
    const unsigned char* Run(Cursor&, uint64_t) noexcept { return nullptr; }

    // A text of the name table; valid until the next read.
    std::string_view Name(Cursor&) {
        m_stream.ReadStringA(m_name);
        return m_name.Str();
    }

    // Texts and blobs as byte records in the arena.
    const unsigned char* String(Cursor&, Detail::CArena& arena) {
        m_stream.ReadStdString(m_text);
        return NewBytes(arena, m_text.data(), static_cast<uint32_t>(m_text.size()), true);
    }
    const unsigned char* WString(Cursor&, Detail::CArena& arena);
    // Up to `count` bytes; `exact` tells whether the stream reported exactly the number asked
    // for (a stream may claim more than it was asked for: only the bytes asked for are kept).
    const unsigned char* Blob(Cursor&, Detail::CArena& arena, uint32_t count, bool& exact);

    // A date-time as its 100-ns count.
    uint64_t DateTime(Cursor&) {
        m_dateTime.ReadFromStream(m_stream);
        return m_dateTime.ToFileTime();  // the fields hold whole milliseconds: exact
    }

private:
    QvStreamReadBinary& m_stream;
    QvStringA m_name;
    std::string m_text;
    std::wstring m_wideText;
    Detail::CByteStack m_blob;                            // a large blob while it arrives
    QvDateTime m_dateTime = QvDateTime::FromFileTime(0);  // a target only: no clock read
};

// The primitives straight from the memory that the stream offers. Only a value that is
// complete and well-formed in that memory is decoded here; for anything else (a value cut
// short, a date-time version above 0, a wrong wide-text mark, a text too long for the short
// length forms) the bytes taken so far are handed back to the stream with Consume and the
// stream's own read operation reads the value, so that the results, exceptions included, are
// those of the stream.
//
// The loader keeps the cursor in a local, so that the hot paths run in registers; the cold
// paths and nested records meet it parked in m_at.
class CMemorySource {
public:
    // The next byte to decode.
    using Cursor = const unsigned char*;
    // The loader may decode values straight at the cursor once Left says they are all there.
    static constexpr bool kInMemory = true;

    CMemorySource(QvStreamReadBinary& stream, const unsigned char* data,
                  uint64_t available) noexcept
        : m_stream(stream), m_slow(stream), m_begin(data), m_at(data), m_end(data + available) {}

    Cursor Resume() const noexcept { return m_at; }
    void Park(const Cursor& c) noexcept { m_at = c; }
    // Leaves the stream just behind what was decoded.
    void Finish(const Cursor& c) {
        m_at = c;
        Sync();
    }

    uint8_t U8(Cursor& c) {
        if (c != m_end) return *c++;
        return Slow(c, [this] { return m_slow.U8(m_none); });
    }
    uint32_t U32(Cursor& c) {
        if (Left(c) >= 4) {
            uint32_t v = 0;
            std::memcpy(&v, c, 4);
            c += 4;
            return v;
        }
        return Slow(c, [this] { return m_slow.U32(m_none); });
    }
    bool Bool(Cursor& c) {
        if (c != m_end) return *c++ != 0;
        return Slow(c, [this] { return m_slow.Bool(m_none); });
    }

    uint64_t Scalar(Cursor& c, uint8_t tag) {
        const size_t width = kScalarWidth[tag];
        uint64_t bits = 0;
        if (Left(c) >= 8) {
            std::memcpy(&bits, c, 8);  // little-endian: the low bytes are the value
            if (width < 8) bits &= (uint64_t(1) << (8 * width)) - 1;
        } else if (Left(c) >= width) {
            std::memcpy(&bits, c, width);
        } else {
            return Slow(c, [this, tag] { return m_slow.Scalar(m_none, tag); });
        }
        c += width;
        return tag == kTagBool ? (bits != 0 ? 1 : 0) : bits;
    }

    const unsigned char* Run(Cursor& c, uint64_t size) noexcept {
        if (Left(c) < size) return nullptr;
        const unsigned char* bytes = c;
        c += size;
        return bytes;
    }

    std::string_view Name(Cursor& c) {
        uint32_t length = 0;
        if (Left(c) >= 4) {
            std::memcpy(&length, c, 4);
            if (Left(c) - 4 >= length) {
                const std::string_view text(reinterpret_cast<const char*>(c + 4), length);
                c += 4 + size_t(length);
                return text;
            }
        }
        return Slow(c, [this] { return m_slow.Name(m_none); });
    }

    const unsigned char* String(Cursor& c, Detail::CArena& arena) {
        uint32_t length = 0;
        if (Left(c) >= 4) {
            std::memcpy(&length, c, 4);
            if (Left(c) - 4 >= length) {
                const unsigned char* record = NewBytes(arena, c + 4, length, true);
                c += 4 + size_t(length);
                return record;
            }
        }
        return Slow(c, [this, &arena] { return m_slow.String(m_none, arena); });
    }

    const unsigned char* WString(Cursor& c, Detail::CArena& arena) {
        // The wide length prefix: FF FE FF, then one byte below FF, or FF and two bytes below
        // FFFE; longer texts are rare enough for the stream's own way.
        const size_t left = Left(c);
        if (left >= 4 && c[0] == 0xFF && c[1] == 0xFE && c[2] == 0xFF) {
            uint64_t units = c[3];
            size_t head = 4;
            if (units == 0xFF) {
                uint16_t n = 0xFFFF;
                if (left >= 6) std::memcpy(&n, c + 4, 2);
                units = n;
                head = 6;
            }
            if (units < 0xFFFE && (left - std::min(left, head)) / 2 >= units) {
                unsigned char* record = static_cast<unsigned char*>(
                    arena.Allocate(kWideHead + static_cast<size_t>(units) * 2, 8));
                std::memcpy(record, &units, 8);
                Detail::CopySmall(record + kWideHead, c + head, static_cast<size_t>(units) * 2);
                c += head + static_cast<size_t>(units) * 2;
                return record;
            }
        }
        return Slow(c, [this, &arena] { return m_slow.WString(m_none, arena); });
    }

    const unsigned char* Blob(Cursor& c, Detail::CArena& arena, uint32_t count, bool& exact) {
        if (Left(c) >= count) {
            exact = true;
            const unsigned char* record = NewBytes(arena, c, count, false);
            c += count;
            return record;
        }
        return Slow(c, [&] { return m_slow.Blob(m_none, arena, count, exact); });
    }

    uint64_t DateTime(Cursor& c) {
        // Version 0 (the only one that passes), then the count.
        if (Left(c) >= 12 && c[0] == 0 && c[1] == 0 && c[2] == 0 && c[3] == 0) {
            uint64_t count = 0;
            std::memcpy(&count, c + 4, 8);
            c += 12;
            // As stored after a round through the seven fields: whole milliseconds.
            return count - count % 10000;
        }
        return Slow(c, [this] { return m_slow.DateTime(m_none); });
    }

    // Bytes from the cursor to the end of the memory offered (for a stream over one buffer:
    // to the end of the buffer, also after a value read the stream's own way).
    uint64_t Remaining(const Cursor& c) const noexcept { return Left(c); }

    // Bytes of the memory offered from the cursor on.
    size_t Left(Cursor c) const noexcept { return static_cast<size_t>(m_end - c); }

private:
    void Sync() {
        m_stream.Consume(static_cast<uint64_t>(m_at - m_begin));
        m_begin = m_at;
    }

    // The stream's own operation at the cursor's position; then the memory it offers anew.
    template <class F>
    std::invoke_result_t<F&> Slow(Cursor& c, F&& read) {
        m_at = c;
        auto result = SlowCall(read);
        c = m_at;
        return result;
    }
    template <class F>
    [[gnu::noinline]] std::invoke_result_t<F&> SlowCall(F& read) {
        Sync();
        auto result = read();
        uint64_t available = 0;
        const unsigned char* data = m_stream.GetContiguous(available);
        m_begin = m_at = data;
        m_end = data ? data + available : data;
        return result;
    }

    QvStreamReadBinary& m_stream;
    CStreamSource m_slow;
    CStreamSource::Cursor m_none;
    const unsigned char* m_begin;  // the stream's position in the memory
    Cursor m_at;                   // the cursor while it is not in the loader's hands
    const unsigned char* m_end;    // the end of the memory offered
};

}  // namespace Tavrin::Binary
