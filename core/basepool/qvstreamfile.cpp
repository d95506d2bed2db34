// Binary streams over files. Both sides keep one buffer, so that the many small values of a
// document cost one system call per buffer, not one per value.
#include <tavrin/qvstreamfile.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "core/basepool/raise.h"
#include "core/platform/file.h"
#include "core/platform/memory.h"

namespace {

constexpr size_t kBufferSize = size_t{64} * 1024;

using Tavrin::Detail::ERaise;
using Tavrin::Detail::Raise;

}  // namespace

// ---- QvStreamWriteBinaryFile -----------------------------------------------------------------

QvStreamWriteBinaryFile::QvStreamWriteBinaryFile(const std::wstring& path)
    : m_file(std::make_unique<Tavrin::Platform::CFile>()),
      m_buffer(std::make_unique<unsigned char[]>(kBufferSize)) {
    if (m_file->CreateWrite(path) != Tavrin::Platform::EFileError::None) {
        Raise(ERaise::FileOpenWrite);
    }
}

QvStreamWriteBinaryFile::~QvStreamWriteBinaryFile() {
    if (m_file && m_file->IsOpen()) {
        if (m_used) m_file->Write(m_buffer.get(), m_used);  // errors are lost here: see Close()
        m_file->Close();
    }
}

void QvStreamWriteBinaryFile::FlushBuffer(const char* function) {
    if (m_used == 0) return;
    if (m_file->Write(m_buffer.get(), m_used) != Tavrin::Platform::EFileError::None) {
        // What reached the file is unknown: give up on the file rather than write a gap.
        m_used = 0;
        m_file->Close();
        Raise(ERaise::FileWrite, function);
    }
    m_written += m_used;
    m_used = 0;
}

IStreamWrite& QvStreamWriteBinaryFile::WriteBytes(const void* data, uint64_t count) {
    static constexpr const char* kFunction = "QvStreamWriteBinaryFile::WriteBytes";
    if (!m_file->IsOpen()) Raise(ERaise::FileWriteClosed, kFunction);
    if (count == 0) return *this;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    if (count <= kBufferSize - m_used) {
        std::memcpy(m_buffer.get() + m_used, bytes, static_cast<size_t>(count));
        m_used += static_cast<size_t>(count);
        return *this;
    }
    FlushBuffer(kFunction);
    if (count >= kBufferSize) {
        // Large pieces go straight to the file.
        if (m_file->Write(bytes, static_cast<size_t>(count)) !=
            Tavrin::Platform::EFileError::None) {
            m_file->Close();
            Raise(ERaise::FileWrite, kFunction);
        }
        m_written += count;
    } else {
        std::memcpy(m_buffer.get(), bytes, static_cast<size_t>(count));
        m_used = static_cast<size_t>(count);
    }
    return *this;
}

void QvStreamWriteBinaryFile::Flush() {
    static constexpr const char* kFunction = "QvStreamWriteBinaryFile::Flush";
    if (!m_file->IsOpen()) Raise(ERaise::FileWriteClosed, kFunction);
    FlushBuffer(kFunction);
}

void QvStreamWriteBinaryFile::Close() {
    static constexpr const char* kFunction = "QvStreamWriteBinaryFile::Close";
    if (!m_file->IsOpen()) return;
    FlushBuffer(kFunction);
    if (m_file->Close() != Tavrin::Platform::EFileError::None) Raise(ERaise::FileClose);
}

// ---- QvStreamReadBinaryFile ------------------------------------------------------------------

QvStreamReadBinaryFile::QvStreamReadBinaryFile(const std::wstring& path)
    : m_file(std::make_unique<Tavrin::Platform::CFile>()),
      m_buffer(std::make_unique<unsigned char[]>(kBufferSize)),
      m_capacity(kBufferSize) {
    if (m_file->OpenRead(path) != Tavrin::Platform::EFileError::None) {
        Raise(ERaise::FileOpenRead);
    }
    if (m_file->GetSize(m_size) != Tavrin::Platform::EFileError::None) Raise(ERaise::FileOpenRead);
}

QvStreamReadBinaryFile::~QvStreamReadBinaryFile() = default;

bool QvStreamReadBinaryFile::Refill() {
    size_t got = 0;
    if (m_file->Read(m_buffer.get(), kBufferSize, got) != Tavrin::Platform::EFileError::None) {
        Raise(ERaise::FileRead);
    }
    m_begin = 0;
    m_end = got;
    m_taken += got;
    return got != 0;
}

void QvStreamReadBinaryFile::ReadRest() {
    m_whole = true;
    const size_t unread = m_end - m_begin;
    const uint64_t rest = m_size > m_taken ? m_size - m_taken : 0;
    if (rest == 0 || rest > SIZE_MAX - unread) return;
    const size_t total = unread + static_cast<size_t>(rest);
    if (total > m_capacity) {
        // Without that much memory the file is read piece by piece, as through ReadBytes.
        std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[total]);
        if (!block) return;
        Tavrin::Platform::AdviseLargePages(block.get(), total);
        if (unread) std::memcpy(block.get(), m_buffer.get() + m_begin, unread);
        m_buffer = std::move(block);
        m_capacity = total;
    } else if (unread) {
        std::memmove(m_buffer.get(), m_buffer.get() + m_begin, unread);
    }
    m_begin = 0;
    m_end = unread;
    size_t got = 0;
    const Tavrin::Platform::EFileError error =
        m_file->ReadFull(m_buffer.get() + unread, static_cast<size_t>(rest), got);
    m_end += got;
    m_taken += got;
    if (error != Tavrin::Platform::EFileError::None) Raise(ERaise::FileRead);
}

const unsigned char* QvStreamReadBinaryFile::GetContiguous(uint64_t& available) {
    if (!m_whole) ReadRest();
    if (m_begin == m_end) Refill();
    available = m_end - m_begin;
    return m_buffer.get() + m_begin;
}

void QvStreamReadBinaryFile::Consume(uint64_t count) {
    if (count > m_end - m_begin) {
        Raise(ERaise::StreamConsumePastEnd, "QvStreamReadBinaryFile::Consume");
    }
    m_begin += static_cast<size_t>(count);
}

uint64_t QvStreamReadBinaryFile::ReadBytes(void* data, uint64_t count) {
    unsigned char* out = static_cast<unsigned char*>(data);
    uint64_t delivered = 0;
    while (delivered < count) {
        if (m_begin == m_end) {
            const uint64_t wanted = count - delivered;
            if (wanted >= kBufferSize) {
                // Large reads bypass the buffer.
                size_t got = 0;
                const size_t piece = static_cast<size_t>(std::min<uint64_t>(wanted, SIZE_MAX));
                if (m_file->ReadFull(out + delivered, piece, got) !=
                    Tavrin::Platform::EFileError::None) {
                    Raise(ERaise::FileRead);
                }
                delivered += got;
                m_taken += got;
                if (got < piece) break;
                continue;
            }
            if (!Refill()) break;
        }
        const size_t take =
            static_cast<size_t>(std::min<uint64_t>(count - delivered, m_end - m_begin));
        std::memcpy(out + delivered, m_buffer.get() + m_begin, take);
        m_begin += take;
        delivered += take;
    }
    return delivered;
}
