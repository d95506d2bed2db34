// Read streams that offer less than the library's own: only ReadBytes, or no memory access.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <tavrin/tavrin.h>

#include "support/bytes.h"

namespace TestSupport {

// A caller's read stream that implements ReadBytes alone, so that the typed reads of the base
// class run. It notes calls of the read operations a reader should have no use for, and can
// report one byte more than it delivered for one request size.
class CByteSource : public QvStreamReadBinary {
public:
    explicit CByteSource(Bytes bytes) : m_bytes(std::move(bytes)) {}
    uint64_t ReadBytes(void* data, uint64_t count) override {
        const size_t take = static_cast<size_t>(std::min<uint64_t>(count, m_bytes.size() - m_at));
        if (take) std::memcpy(data, m_bytes.data() + m_at, take);
        m_at += take;
        return take + (count == claimOneMoreFor ? 1 : 0);
    }
    void ReadLong(int32_t& v) override { ++unexpectedCalls, QvStreamReadBinary::ReadLong(v); }
    void ReadULong(uint32_t& v) override { ++unexpectedCalls, QvStreamReadBinary::ReadULong(v); }
    void ReadStringW(QvStringW& v) override {
        ++unexpectedCalls, QvStreamReadBinary::ReadStringW(v);
    }

    int unexpectedCalls = 0;
    uint64_t claimOneMoreFor = UINT64_MAX;  // a request size answered with one byte too many

private:
    Bytes m_bytes;
    size_t m_at = 0;
};

// Hides its memory: the reader then goes through the read operations only.
class CHiddenBuffer : public QvStreamReadBinaryBuffer {
public:
    using QvStreamReadBinaryBuffer::QvStreamReadBinaryBuffer;
    const unsigned char* GetContiguous(uint64_t& available) override {
        available = 0;
        return nullptr;
    }
};

}  // namespace TestSupport
