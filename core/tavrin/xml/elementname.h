// Element names of XML documents: the name of a class, for the writer (which names elements
// so) and the reader (which looks documents up so), and how names are compared when looked up.
#pragma once

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
        const char x = ToLowerAscii(*a);
        if (x != ToLowerAscii(*b)) return false;
        if (x == '\0') return true;
    }
}

// The first two bytes of a zero-terminated name in lower case, the second 0 when the name is
// one byte long; 0 for the empty name. Equal names (ignoring case) have equal keys.
inline unsigned ElementNameKey(const char* name) noexcept {
    const auto first = static_cast<unsigned char>(ToLowerAscii(name[0]));
    if (first == 0) return 0;
    return first | static_cast<unsigned>(static_cast<unsigned char>(ToLowerAscii(name[1]))) << 8;
}

// SameElementName for two names whose ElementNameKey is equal (and not 0).
inline bool SameElementNameOfKey(const char* a, const char* b) noexcept {
    return a[1] == '\0' || SameElementName(a + 2, b + 2);
}

}  // namespace Tavrin::Detail
