// The write streams: the text operations (QvStreamWrite), the typed operations over WriteBytes
// (QvStreamWriteBinary) and the growable in-memory buffer.
#include <tavrin/qvstream.h>
#include <tavrin/qvstreambuffer.h>

#include <bit>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "core/basepool/streamvalues.h"
#include "core/basepool/utf.h"

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

}  // namespace

void QvStreamWriteBinaryBuffer::Reserve(uint64_t count) {
    if (count > UINT32_MAX - m_array.GetCount()) ThrowTooLarge();
    m_array.Reserve(m_array.GetCount() + count);
}

IStreamWrite& QvStreamWriteBinaryBuffer::WriteBytes(const void* data, uint64_t count) {
    if (count == 0) return *this;
    if (count > UINT32_MAX - m_array.GetCount()) ThrowTooLarge();
    // One copy; the capacity reached equals that of appending byte by byte (doubling).
    m_array.Append(static_cast<const unsigned char*>(data), static_cast<unsigned int>(count));
    return *this;
}
