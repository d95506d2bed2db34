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

}  // namespace Tavrin::Detail
