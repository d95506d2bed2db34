// Blobs of the text formats: Base64 text in the document, decoded once per value reader when
// the application first asks for it, and kept until that value reader goes.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include <tavrin/base64.h>
#include <tavrin/interfaces.h>

namespace Tavrin::Detail {

// Decoded bytes of one blob; the buffer never moves once made.
struct SBlobBytes {
    std::unique_ptr<unsigned char[]> data;
    size_t size = 0;

    SBlobRange Range() const noexcept { return SBlobRange{data.get(), data.get() + size}; }
};

// Decodes the zero-terminated Base64 `text` as the document holds it (line breaks and all).
// Throws CException (Base64::Decode's) when it decodes to no bytes.
inline SBlobBytes DecodeBlob(const char* text) {
    SBlobBytes bytes;
    bytes.size = Base64::GetDecodedSize(text);
    if (bytes.size != 0) bytes.data = std::make_unique_for_overwrite<unsigned char[]>(bytes.size);
    Base64::Decode(text, bytes.data.get(), bytes.size);  // throws for a decoded size of 0
    return bytes;
}

// The decoded blobs of one value reader, by slot (a member's, child's or element's index).
// Ranges handed out stay valid while the cache lives.
class CBlobCache {
public:
    // The bytes of `slot` (below `count`, the same on every call), decoded on the first call
    // from `textOf()`: zero-terminated Base64 text, or null when the value holds no blob (an
    // empty range, nothing cached). A failed decoding caches nothing either.
    template <class TextOf>
    SBlobRange Get(unsigned int slot, unsigned int count, TextOf&& textOf) {
        if (m_slots.empty()) m_slots.assign(count, 0);
        unsigned int& stored = m_slots[slot];
        if (stored == 0) {
            const char* text = textOf();
            if (text == nullptr) return {};
            SBlobBytes bytes = DecodeBlob(text);
            m_blobs.push_back(std::move(bytes));
            stored = static_cast<unsigned int>(m_blobs.size());
        }
        return m_blobs[stored - 1].Range();
    }

private:
    std::vector<unsigned int> m_slots;  // per slot: 1 + position in m_blobs, 0 while not decoded
    std::vector<SBlobBytes> m_blobs;
};

}  // namespace Tavrin::Detail
