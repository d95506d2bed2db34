// The read streams: the version check, the typed reads over ReadBytes, and the read stream
// over bytes in memory. Every read either delivers a complete value or throws; the
// destination is only written once the whole value has arrived.
#include <tavrin/qvstream.h>
#include <tavrin/qvstreambuffer.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/basepool/raise.h"
#include "core/basepool/streamvalues.h"
#include "core/basepool/utf.h"

namespace {

using Tavrin::Detail::ERaise;
using Tavrin::Detail::Raise;

// Long texts are read in pieces of this many bytes, so that a length read from the stream
// never makes us allocate more than the data actually delivered (plus one piece).
constexpr size_t kPieceBytes = size_t{16} * 1024;

template <class T>
T FromLittleEndian(const unsigned char* bytes) noexcept {
    unsigned char ordered[sizeof(T)];
    std::memcpy(ordered, bytes, sizeof(T));
    if constexpr (std::endian::native == std::endian::big) {
        std::reverse(ordered, ordered + sizeof(T));
    }
    T value;
    std::memcpy(&value, ordered, sizeof(T));
    return value;
}

template <class T>
void ReadTyped(QvStreamReadBinary& stream, T& value, const char* function) {
    unsigned char bytes[sizeof(T)];
    if (stream.ReadBytes(bytes, sizeof(T)) != sizeof(T)) Raise(ERaise::StreamTruncated, function);
    value = FromLittleEndian<T>(bytes);
}

// Reads the wide length prefix through the stream's typed reads; returns the unit count.
uint64_t ReadWideLength(QvStreamReadBinary& stream, const char* function) {
    uint8_t mark8 = 0;
    uint16_t mark16 = 0;
    stream.ReadUInt8(mark8);
    stream.ReadUInt16(mark16);
    if (mark8 != 0xFF || mark16 != 0xFFFE) Raise(ERaise::StreamNotWideText, function);
    uint8_t length8 = 0;
    stream.ReadUInt8(length8);
    if (length8 < 0xFF) return length8;
    uint16_t length16 = 0;
    stream.ReadUInt16(length16);
    if (length16 < 0xFFFE) return length16;
    if (length16 != 0xFFFF) Raise(ERaise::StreamNotWideText, function);
    uint32_t length32 = 0;
    stream.ReadUInt32(length32);
    if (length32 < 0xFFFFFFFFu) return length32;
    uint64_t length64 = 0;
    stream.ReadUInt64(length64);
    return length64;
}

}  // namespace

// ---- QvStreamRead ----------------------------------------------------------------------------

void QvStreamRead::ReadAndCompareVersion(uint32_t expected) {
    uint32_t version = 0;
    ReadUInt32(version);
    if (version > expected) {
        Raise(ERaise::StreamNewerVersion);
    }
}

// ---- QvStreamReadBinary: typed reads over ReadBytes -------------------------------------------

void QvStreamReadBinary::ReadStringW(QvStringW& value) {
    std::wstring text;
    ReadStdWString(text);
    value.Str() = std::move(text);
}

void QvStreamReadBinary::ReadStringA(QvStringA& value) {
    std::string text;
    ReadStdString(text);
    value.Str() = std::move(text);
}

void QvStreamReadBinary::ReadStdWString(std::wstring& value) {
    static constexpr const char* kFunction = "QvStreamReadBinary::ReadStdWString";
    uint64_t units = ReadWideLength(*this, kFunction);
    std::wstring text;
    Tavrin::Detail::CUtf16Decoder decoder(text);
    unsigned char piece[kPieceBytes];
    while (units > 0) {
        const size_t take = static_cast<size_t>(std::min<uint64_t>(units, kPieceBytes / 2));
        if (ReadBytes(piece, take * 2) != take * 2) Raise(ERaise::StreamTextTruncated, kFunction);
        decoder.Feed(piece, take);
        units -= take;
    }
    decoder.Finish();
    value = std::move(text);
}

void QvStreamReadBinary::ReadStdString(std::string& value) {
    static constexpr const char* kFunction = "QvStreamReadBinary::ReadStdString";
    uint32_t length = 0;
    ReadUInt32(length);
    std::string text;
    size_t have = 0;
    while (have < length) {
        const size_t take = std::min<size_t>(length - have, kPieceBytes);
        text.resize(have + take);
        if (ReadBytes(text.data() + have, take) != take)
            Raise(ERaise::StreamTextTruncated, kFunction);
        have += take;
    }
    value = std::move(text);
}

// Macro parameters that stand for type names cannot be parenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define TAVRIN_STREAM_READ_VALUE(Name, Type)                       \
    void QvStreamReadBinary::Read##Name(Type& value) {             \
        ReadTyped(*this, value, "QvStreamReadBinary::Read" #Name); \
    }

TAVRIN_STREAM_FIXED_VALUES(TAVRIN_STREAM_READ_VALUE)

#undef TAVRIN_STREAM_READ_VALUE
// NOLINTEND(bugprone-macro-parentheses)

void QvStreamReadBinary::ReadBool(bool& value) {
    uint8_t byte = 0;
    ReadTyped(*this, byte, "QvStreamReadBinary::ReadBool");
    value = byte != 0;
}

const unsigned char* QvStreamReadBinary::GetContiguous(uint64_t& available) {
    available = 0;
    return nullptr;
}

void QvStreamReadBinary::Consume(uint64_t count) {
    if (count != 0) Raise(ERaise::StreamConsumeWithoutMemory);
}

// ---- QvStreamReadBinaryBuffer ----------------------------------------------------------------

QvStreamReadBinaryBuffer::QvStreamReadBinaryBuffer(const void* data, size_t size) noexcept
    : m_data(static_cast<const unsigned char*>(data)), m_size(data ? size : 0) {}

QvStreamReadBinaryBuffer::~QvStreamReadBinaryBuffer() = default;

template <class T>
void QvStreamReadBinaryBuffer::ReadValue(T& value, const char* function) {
    if (m_size - m_position < sizeof(T)) Raise(ERaise::StreamTruncated, function);
    value = FromLittleEndian<T>(m_data + m_position);
    m_position += sizeof(T);
}

uint64_t QvStreamReadBinaryBuffer::ReadBytes(void* data, uint64_t count) {
    const size_t take = static_cast<size_t>(std::min<uint64_t>(count, m_size - m_position));
    if (take) std::memcpy(data, m_data + m_position, take);
    m_position += take;
    return take;
}

const unsigned char* QvStreamReadBinaryBuffer::GetContiguous(uint64_t& available) {
    available = m_size - m_position;
    return m_data ? m_data + m_position : nullptr;
}

void QvStreamReadBinaryBuffer::Consume(uint64_t count) {
    if (count > m_size - m_position) Raise(ERaise::StreamConsumePastEnd);
    m_position += static_cast<size_t>(count);
}

void QvStreamReadBinaryBuffer::ReadStdString(std::string& value) {
    static constexpr const char* kFunction = "QvStreamReadBinaryBuffer::ReadStdString";
    const size_t start = m_position;
    uint32_t length = 0;
    ReadValue(length, kFunction);
    if (m_size - m_position < length) {
        m_position = start;
        Raise(ERaise::StreamTextTruncated, kFunction);
    }
    value.assign(reinterpret_cast<const char*>(m_data + m_position), length);
    m_position += length;
}

void QvStreamReadBinaryBuffer::ReadStdWString(std::wstring& value) {
    static constexpr const char* kFunction = "QvStreamReadBinaryBuffer::ReadStdWString";
    const size_t start = m_position;
    // The usual case, a short text that is all there: decoded in one go. Anything else takes
    // the general way below, which also names what is wrong.
    const unsigned char* p = m_data + m_position;
    const size_t left = m_size - m_position;
    if (left >= 4 && p[0] == 0xFF && p[1] == 0xFE && p[2] == 0xFF && p[3] < 0xFF &&
        (left - 4) / 2 >= p[3]) {
        const size_t units = p[3];
        value.resize(units);
        value.resize(Tavrin::Detail::DecodeUtf16(p + 4, units, value.data()));
        m_position += 4 + 2 * units;
        return;
    }
    try {
        const uint64_t units = ReadWideLength(*this, kFunction);
        if ((m_size - m_position) / 2 < units) Raise(ERaise::StreamTextTruncated, kFunction);
        std::wstring text(static_cast<size_t>(units), L'\0');
        text.resize(Tavrin::Detail::DecodeUtf16(m_data + m_position, static_cast<size_t>(units),
                                                text.data()));
        m_position += static_cast<size_t>(units) * 2;
        value = std::move(text);
    } catch (...) {
        m_position = start;
        throw;
    }
}

// Macro parameters that stand for type names cannot be parenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define TAVRIN_STREAM_READ_VALUE(Name, Type)                      \
    void QvStreamReadBinaryBuffer::Read##Name(Type& value) {      \
        ReadValue(value, "QvStreamReadBinaryBuffer::Read" #Name); \
    }

TAVRIN_STREAM_FIXED_VALUES(TAVRIN_STREAM_READ_VALUE)

#undef TAVRIN_STREAM_READ_VALUE
// NOLINTEND(bugprone-macro-parentheses)

void QvStreamReadBinaryBuffer::ReadBool(bool& value) {
    uint8_t byte = 0;
    ReadValue(byte, "QvStreamReadBinaryBuffer::ReadBool");
    value = byte != 0;
}
