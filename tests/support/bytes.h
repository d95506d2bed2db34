// Byte vectors written and read as hexadecimal text.
#pragma once

#include <cstdio>
#include <string>
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

}  // namespace TestSupport
