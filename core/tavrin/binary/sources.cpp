#include "core/tavrin/binary/sources.h"

#include "core/tavrin/binary/textcoding.h"

namespace Tavrin::Binary {

uint64_t CStreamSource::Scalar(Cursor& c, uint8_t tag) {
    uint64_t bits = 0;
    auto keep = [&bits](const auto& v) { std::memcpy(&bits, &v, sizeof v); };
    switch (tag) {
        case kTagBool: bits = Bool(c) ? 1 : 0; break;
        case kTagChar: {
            char v = 0;
            m_stream.ReadChar(v);
            keep(v);
            break;
        }
        case kTagUInt8: {
            uint8_t v = 0;
            m_stream.ReadUInt8(v);
            keep(v);
            break;
        }
        case kTagInt8: {
            int8_t v = 0;
            m_stream.ReadInt8(v);
            keep(v);
            break;
        }
        case kTagUInt16: {
            uint16_t v = 0;
            m_stream.ReadUInt16(v);
            keep(v);
            break;
        }
        case kTagInt16: {
            int16_t v = 0;
            m_stream.ReadInt16(v);
            keep(v);
            break;
        }
        case kTagUInt32: {
            uint32_t v = 0;
            m_stream.ReadUInt32(v);
            keep(v);
            break;
        }
        case kTagInt32: {
            int32_t v = 0;
            m_stream.ReadInt32(v);
            keep(v);
            break;
        }
        case kTagUInt64: {
            uint64_t v = 0;
            m_stream.ReadUInt64(v);
            keep(v);
            break;
        }
        case kTagInt64: {
            int64_t v = 0;
            m_stream.ReadInt64(v);
            keep(v);
            break;
        }
        case kTagFloat: {
            float v = 0;
            m_stream.ReadFloat(v);
            keep(v);
            break;
        }
        default: {
            double v = 0;
            m_stream.ReadDouble(v);
            keep(v);
            break;
        }  // kTagDouble
    }
    return bits;
}

const unsigned char* CStreamSource::WString(Cursor&, Detail::CArena& arena) {
    m_stream.ReadStdWString(m_wideText);
    // Back to UTF-16 units, which give these characters again when read.
    bool basic = false;
    const uint64_t units = Utf16Units(m_wideText.data(), m_wideText.size(), basic);
    unsigned char* record =
        static_cast<unsigned char*>(arena.Allocate(kWideHead + static_cast<size_t>(units) * 2, 8));
    std::memcpy(record, &units, 8);
    PutUtf16(record + kWideHead, m_wideText.data(), m_wideText.size(), basic);
    return record;
}

const unsigned char* CStreamSource::Blob(Cursor&, Detail::CArena& arena, uint32_t count,
                                         bool& exact) {
    exact = true;
    if (count == 0) return NewBytes(arena, nullptr, 0, false);
    constexpr uint32_t kPiece = 64 * 1024;
    if (count <= kPiece) {
        unsigned char* record = static_cast<unsigned char*>(arena.Allocate(kNarrowHead + count, 4));
        const uint64_t delivered = m_stream.ReadBytes(record + kNarrowHead, count);
        exact = delivered == count;
        const uint32_t kept = static_cast<uint32_t>(std::min<uint64_t>(delivered, count));
        std::memcpy(record, &kept, 4);
        return record;
    }
    // A large count is trusted only as far as the bytes arrive: read in growing pieces.
    m_blob.Clear();
    while (m_blob.Size() < count) {
        const size_t have = m_blob.Size();
        const size_t take = std::min<size_t>(count - have, std::max<size_t>(have, kPiece));
        const uint64_t got = m_stream.ReadBytes(m_blob.Extend(take), take);
        if (got != take) {
            exact = false;
            m_blob.Shrink(have + static_cast<size_t>(std::min<uint64_t>(got, take)));
            break;
        }
    }
    return NewBytes(arena, m_blob.Data(), static_cast<uint32_t>(m_blob.Size()), false);
}

}  // namespace Tavrin::Binary
