// The element name of a class in an XML document, for the writer (which names elements so)
// and the reader (which looks documents up so).
#pragma once

#include <string>

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

}  // namespace Tavrin::Detail
