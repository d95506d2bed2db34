// Blobs of the text formats: Base64 text in the document, decoded once per value reader when
// the application first asks for it, and kept until that value reader goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include <tavrin/base64.h>
#include <tavrin/interfaces.h>

namespace Tavrin::Detail {

// Base64 text as Base64::Decode reads it, but counted: it ends at `length` or at its first NUL,
// whichever comes first, so that the document's text is read in place. One scan of the text
// gives the decoded size and the end of its characters; DecodeScannedBase64 then decodes.
struct SBase64Scan {
    const unsigned char* begin = nullptr;
    const unsigned char* stop = nullptr;  // where the value, pad and skip characters end
    size_t size = 0;                      // the decoded size, as Base64::GetDecodedSize
};
SBase64Scan ScanBase64(std::string_view text) noexcept;

// Decodes what `scan` found into `out` (`scan.size` bytes), as Base64::Decode would into a
// buffer of that size: throws Base64::Decode's CException for a decoded size of 0.
void DecodeScannedBase64(const SBase64Scan& scan, unsigned char* out);

// Decoded bytes of one blob; the buffer never moves once made.
struct SBlobBytes {
    std::unique_ptr<unsigned char[]> data;
    size_t size = 0;

    SBlobRange Range() const noexcept { return SBlobRange{data.get(), data.get() + size}; }
};

// Decodes the Base64 `text` as the document holds it (line breaks and all), up to its end or
// its first NUL. Throws CException (Base64::Decode's) when it decodes to no bytes.
inline SBlobBytes DecodeBlob(std::string_view text) {
    const SBase64Scan scan = ScanBase64(text);
    SBlobBytes bytes;
    bytes.size = scan.size;
    if (bytes.size != 0) bytes.data = std::make_unique_for_overwrite<unsigned char[]>(bytes.size);
    DecodeScannedBase64(scan, bytes.data.get());  // throws for a decoded size of 0
    return bytes;
}

// The decoded blobs of one value reader, by slot (a member's, child's or element's index).
// Ranges handed out stay valid while the cache lives. The first blob decoded lives in the
// cache itself, in a buffer of its own when it is small: an object seldom holds more than one
// blob, and then it costs no allocation. Further ones are kept by slot.
class CBlobCache {
public:
    CBlobCache() = default;
    CBlobCache(const CBlobCache&) = delete;
    CBlobCache& operator=(const CBlobCache&) = delete;

    // The bytes of `slot` (below `count`, the same on every call), decoded on the first call
    // from `textOf()`: the Base64 text (ending at its end or first NUL), or a view with a null
    // data pointer when the value holds no blob (an empty range, nothing cached). A failed
    // decoding caches nothing either.
    template <class TextOf>
    SBlobRange Get(unsigned int slot, unsigned int count, TextOf&& textOf) {
        if (m_firstSize == kNone) {
            const std::string_view text = textOf();
            if (text.data() == nullptr) return {};
            const SBase64Scan scan = ScanBase64(text);
            unsigned char* buffer = m_firstInline;
            std::unique_ptr<unsigned char[]> heap;
            if (scan.size > sizeof m_firstInline) {
                heap = std::make_unique_for_overwrite<unsigned char[]>(scan.size);
                buffer = heap.get();
            }
            DecodeScannedBase64(scan, buffer);  // throws for a decoded size of 0
            m_firstHeap = std::move(heap);
            m_firstSlot = slot;
            m_firstSize = scan.size;
            return FirstRange();
        }
        if (slot == m_firstSlot) return FirstRange();
        if (m_slots.empty()) m_slots.assign(count, 0);
        unsigned int& stored = m_slots[slot];
        if (stored == 0) {
            const std::string_view text = textOf();
            if (text.data() == nullptr) return {};
            SBlobBytes bytes = DecodeBlob(text);
            m_blobs.push_back(std::move(bytes));
            stored = static_cast<unsigned int>(m_blobs.size());
        }
        return m_blobs[stored - 1].Range();
    }

private:
    static constexpr size_t kNone = SIZE_MAX;

    SBlobRange FirstRange() const noexcept {
        const unsigned char* data = m_firstHeap ? m_firstHeap.get() : m_firstInline;
        return SBlobRange{data, data + m_firstSize};
    }

    unsigned int m_firstSlot = 0;
    size_t m_firstSize = kNone;  // kNone while no blob is decoded
    std::unique_ptr<unsigned char[]> m_firstHeap;
    unsigned char m_firstInline[48];
    std::vector<unsigned int> m_slots;  // per slot: 1 + position in m_blobs, 0 while not decoded
    std::vector<SBlobBytes> m_blobs;
};

}  // namespace Tavrin::Detail
