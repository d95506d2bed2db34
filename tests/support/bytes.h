// Byte vectors written and read as hexadecimal text; lists of texts written as one.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace TestSupport {

using Bytes = std::vector<unsigned char>;

// "00 0a ff" -> bytes
inline Bytes Hex(const char* text) {
    Bytes out;
    unsigned value = 0;
    for (int used = 0; std::sscanf(text, " %2x%n", &value, &used) == 1; text += used) {
        out.push_back(static_cast<unsigned char>(value));
    }
    return out;
}

// bytes -> "00 0a ff " (every byte followed by a space)
inline std::string ToHex(const Bytes& bytes) {
    std::string s;
    char piece[4];
    for (unsigned char b : bytes) s.append(piece, std::snprintf(piece, sizeof piece, "%02x ", b));
    return s;
}

// "a|b||c" -> {"a", "b", "", "c"}: long lists of short texts, one line for many
inline std::vector<std::string> Split(std::string_view text, char separator = '|') {
    std::vector<std::string> parts;
    for (size_t at = 0;; ++at) {
        const size_t end = std::min(text.find(separator, at), text.size());
        parts.emplace_back(text.substr(at, end - at));
        if ((at = end) == text.size()) return parts;
    }
}

}  // namespace TestSupport
