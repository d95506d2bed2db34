// Base64 decoding of outside text, and the encode/decode round trip of outside bytes.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <tavrin/tavrin.h>

#include "probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz::QuietLog();
    const std::string text(reinterpret_cast<const char*>(data), size);

    // Decoding: the size it announces is what it delivers into a buffer of exactly that size;
    // a text that decodes to nothing and a buffer too small are refused, the buffer untouched.
    const size_t decodedSize = Tavrin::Base64::GetDecodedSize(text.c_str());
    std::vector<unsigned char> exact(decodedSize + 1, 0xA5);
    try {
        if (Tavrin::Base64::Decode(text.c_str(), exact.data(), decodedSize) != decodedSize ||
            decodedSize == 0 || exact[decodedSize] != 0xA5) {
            std::abort();
        }
    } catch (const IException&) {
        if (decodedSize != 0) std::abort();
    }
    if (decodedSize > 0) {
        std::vector<unsigned char> small(decodedSize - 1, 0x5A);
        try {
            (void)Tavrin::Base64::Decode(text.c_str(), small.data(), small.size());
            std::abort();
        } catch (const IException&) {
            for (const unsigned char b : small) {
                if (b != 0x5A) std::abort();
            }
        }
    }

    // Any bytes survive encoding and decoding, with and without line breaks.
    for (const bool lines : {false, true}) {
        if (size == 0) break;
        const std::string encoded = Tavrin::Base64::Encode(data, size, lines);
        std::vector<unsigned char> back(Tavrin::Base64::GetDecodedSize(encoded.c_str()));
        const size_t got = Tavrin::Base64::Decode(encoded.c_str(), back.data(), back.size());
        if (got != size || std::memcmp(back.data(), data, size) != 0) std::abort();
    }
    return 0;
}
