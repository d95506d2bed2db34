// Element names of XML documents: the name of a class, for the writer (which names elements
// so) and the reader (which looks documents up so), and how names are compared when looked up.
#pragma once

#include <cstdint>
#include <string>

#include "core/basepool/chars.h"

namespace Tavrin::Detail {

// Appends the element name of `className`: every "::" becomes "-", scanning from the left
// (":::" gives "-:"). Null, which the interfaces do not allow, is taken as empty rather than
// crashing.
inline void AppendElementName(std::string& out, const char* className) {
    if (className == nullptr) return;
    for (const char* p = className; *p != '\0'; ++p) {
        if (p[0] == ':' && p[1] == ':') {
            out.push_back('-');
            ++p;
        } else {
            out.push_back(*p);
        }
    }
}

// Element names are looked up ignoring ASCII letter case; both texts are zero-terminated.
inline bool SameElementName(const char* a, const char* b) noexcept {
    for (;; ++a, ++b) {
        // Names are usually written in the case they are asked for: lower only a difference.
        if (*a == *b) {
            if (*a == '\0') return true;
        } else if (ToLowerAscii(*a) != ToLowerAscii(*b)) {
            return false;
        }
    }
}

// A key of a zero-terminated name, equal for names that are equal ignoring case: its first
// two bytes with bit 0x20 set (the bit that tells lower from upper case letters); 0 for the
// empty name. Names with different keys differ; names with equal keys are compared whole.
inline std::uint16_t ElementNameKey(const char* name) noexcept {
    const auto first = static_cast<unsigned char>(name[0]);
    if (first == 0) return 0;
    return static_cast<std::uint16_t>(
        (first | static_cast<unsigned>(static_cast<unsigned char>(name[1])) << 8) | 0x2020u);
}

}  // namespace Tavrin::Detail
