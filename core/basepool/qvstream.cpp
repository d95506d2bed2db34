// The write streams: the text operations (QvStreamWrite), the typed operations over WriteBytes
// (QvStreamWriteBinary) and the growable in-memory buffer.
#include <tavrin/qvstream.h>
#include <tavrin/qvstreambuffer.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>

#include "core/basepool/streamvalues.h"
#include "core/basepool/utf.h"
#include "core/platform/memory.h"

namespace {

// Little-endian bytes of an integer or floating value, whatever the host's byte order.
template <class T>
void ToLittleEndian(T value, unsigned char (&bytes)[sizeof(T)]) noexcept {
    std::memcpy(bytes, &value, sizeof(T));
    if constexpr (std::endian::native == std::endian::big) {
        for (size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
    }
}

template <class T>
IStreamWrite& WriteValue(QvStreamWriteBinary& stream, T value) {
    unsigned char bytes[sizeof(T)];
    ToLittleEndian(value, bytes);
    return stream.WriteBytes(bytes, sizeof(T));
}

constexpr unsigned int kInitialBufferCapacity = 4096;

}  // namespace

// ---- QvStreamWrite: text through the typed operations ---------------------------------------

IStreamWrite& QvStreamWrite::WriteStringW(const QvStringW& value) {
    return WriteSzW(value.GetString());
}

IStreamWrite& QvStreamWrite::WriteStringA(const QvStringA& value) {
    return WriteSzA(value.GetString());
}

IStreamWrite& QvStreamWrite::WriteStdWString(const std::wstring& value) {
    return WriteSzW(value.c_str());
}

IStreamWrite& QvStreamWrite::WriteStdString(const std::string& value) {
    return WriteSzA(value.c_str());
}

IStreamWrite& QvStreamWrite::WriteSzW(const wchar_t* text) {
    uint64_t units = 0;
    size_t chars = 0;
    for (; text[chars] != L'\0'; ++chars) units += Tavrin::Detail::Utf16Length(text[chars]);

    // Wide length prefix: the mark FF FE FF, then the shortest of 1, 2, 4 or 8 bytes whose
    // all-ones value is kept as the escape to the next width.
    WriteUInt8(0xFF);
    WriteUInt16(0xFFFE);
    if (units < 0xFF) {
        WriteUInt8(static_cast<uint8_t>(units));
    } else {
        WriteUInt8(0xFF);
        if (units < 0xFFFE) {
            WriteUInt16(static_cast<uint16_t>(units));
        } else {
            WriteUInt16(0xFFFF);
            if (units < 0xFFFFFFFFu) {
                WriteUInt32(static_cast<uint32_t>(units));
            } else {
                WriteUInt32(0xFFFFFFFFu);
                WriteUInt64(units);
            }
        }
    }

    // The units go out in one WriteBytes of 2 * n bytes, as a stream that sees only WriteBytes
    // expects; short texts are converted on the stack.
    constexpr size_t kStackUnits = 512;
    unsigned char local[2 * kStackUnits];
    std::unique_ptr<unsigned char[]> heap;
    unsigned char* out = local;
    if (units > kStackUnits) {
        heap.reset(new unsigned char[static_cast<size_t>(units) * 2]);
        out = heap.get();
    }
    size_t used = 0;
    for (size_t i = 0; i < chars; ++i) {
        uint16_t u[2];
        const unsigned n = Tavrin::Detail::EncodeUtf16(text[i], u);
        for (unsigned k = 0; k < n; ++k) {
            out[used++] = static_cast<unsigned char>(u[k] & 0xFF);
            out[used++] = static_cast<unsigned char>(u[k] >> 8);
        }
    }
    return WriteBytes(out, used);
}

IStreamWrite& QvStreamWrite::WriteSzA(const char* text) {
    const size_t n = std::strlen(text);
    WriteUInt32(static_cast<uint32_t>(n));
    return WriteBytes(text, n);
}

IStreamWrite& QvStreamWrite::WriteVersion(uint32_t version) { return WriteUInt32(version); }

// ---- QvStreamWriteBinary: every typed write is one WriteBytes of the value's width ----------

// Macro parameters that stand for type names cannot be parenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define TAVRIN_STREAM_WRITE_VALUE(Name, Type) \
    IStreamWrite& QvStreamWriteBinary::Write##Name(Type value) { return WriteValue(*this, value); }

TAVRIN_STREAM_FIXED_VALUES(TAVRIN_STREAM_WRITE_VALUE)

#undef TAVRIN_STREAM_WRITE_VALUE
// NOLINTEND(bugprone-macro-parentheses)

IStreamWrite& QvStreamWriteBinary::WriteBool(bool value) {
    return WriteValue(*this, static_cast<uint8_t>(value ? 1 : 0));
}

// ---- QvStreamWriteBinaryBuffer ---------------------------------------------------------------

QvStreamWriteBinaryBuffer::QvStreamWriteBinaryBuffer() {
    m_array.SetCapacity(kInitialBufferCapacity);
}

QvStreamWriteBinaryBuffer::~QvStreamWriteBinaryBuffer() = default;

namespace {

[[noreturn]] void ThrowTooLarge() {
    throw std::length_error("QvStreamWriteBinaryBuffer: more than 0xFFFFFFFF bytes");
}

// Makes room for `needed` bytes with the capacity that doubling reaches, as QvArray::Reserve
// does. A large new block is advised to take large pages before anything is copied into it,
// so that filling it costs a page fault per 2 MiB instead of one per 4 KiB.
void Grow(QvArray<unsigned char>& array, uint64_t needed) {
    if (needed <= array.GetCapacity()) return;
    uint64_t target = array.GetCapacity();
    while (target < needed) target = target ? std::min<uint64_t>(target * 2, UINT32_MAX) : 1;
    if (target < Tavrin::Platform::kLargePageBlock || array.GetGrowBy() != 0) {
        array.Reserve(needed);
        return;
    }
    QvArray<unsigned char> grown;
    grown.SetCapacity(static_cast<unsigned int>(target));
    Tavrin::Platform::AdviseLargePages(grown.GetData(), target);
    grown.Append(array.GetData(), array.GetCount());
    grown.Swap(array);
}

}  // namespace

void QvStreamWriteBinaryBuffer::Reserve(uint64_t count) {
    if (count > UINT32_MAX - m_array.GetCount()) ThrowTooLarge();
    Grow(m_array, m_array.GetCount() + count);
}

IStreamWrite& QvStreamWriteBinaryBuffer::WriteBytes(const void* data, uint64_t count) {
    if (count == 0) return *this;
    if (count > UINT32_MAX - m_array.GetCount()) ThrowTooLarge();
    // One copy; the capacity reached equals that of appending byte by byte (doubling).
    const auto* bytes = static_cast<const unsigned char*>(data);
    const uint64_t needed = m_array.GetCount() + count;
    if (needed > m_array.GetCapacity()) {
        const unsigned char* base = m_array.GetData();
        const std::less<const unsigned char*> before;
        if (base != nullptr && !before(bytes, base) && before(bytes, base + m_array.GetCount())) {
            // Bytes from inside the buffer itself: Append keeps them valid while it grows.
            m_array.Append(bytes, static_cast<unsigned int>(count));
            return *this;
        }
        Grow(m_array, needed);
    }
    m_array.Append(bytes, static_cast<unsigned int>(count));
    return *this;
}
