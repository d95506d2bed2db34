#include "codepageutf7.h"

#include <cstdint>
#include <string_view>

#include "codepages.h"
#include "widesink.h"

namespace Tavrin::Platform::Detail {
namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of a base-64 character, -1 for any other byte.
int Base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Characters written as themselves: letters, digits, NUL, tab, line ends, space and ' ( ) , -
// . / : ?. Every other one goes into a base-64 run, "+" as "+-".
bool IsDirect(std::uint32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    static constexpr std::string_view kOthers("\0\t\n\r '(),-./:?", 14);
    return c < 0x80 && kOthers.find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

size_t Utf7ToWide(const char* text, size_t length, wchar_t* out, size_t capacity) {
    CWideSink sink(out, capacity);
    bool inRun = false;
    bool runEmpty = false;
    std::uint32_t bits = 0;
    int bitCount = 0;
    for (size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (inRun) {
            const int value = Base64Value(c);
            if (value >= 0) {
                runEmpty = false;
                bits = (bits << 6 | static_cast<std::uint32_t>(value)) & 0x3FFFFF;
                bitCount += 6;
                if (bitCount >= 16) {
                    bitCount -= 16;
                    if (!sink.Put(bits >> bitCount & 0xFFFF)) return kConversionFailed;
                }
                continue;
            }
            // The run ends; bits short of a unit are dropped. "-" closing it is not text of
            // its own, except right after the "+" ("+-" is "+").
            inRun = false;
            if (c == '-') {
                if (runEmpty && !sink.Put('+')) return kConversionFailed;
                continue;
            }
        } else if (c == '+') {
            inRun = true;
            runEmpty = true;
            bits = 0;
            bitCount = 0;
            continue;
        }
        if (!sink.Put(c)) return kConversionFailed;
    }
    if (!sink.Finish()) return kConversionFailed;
    return sink.Count();
}

size_t WideToUtf7(const wchar_t* text, size_t length, char* out, size_t capacity) {
    size_t count = 0;
    auto put = [&](char c) -> bool {
        if (out != nullptr) {
            if (count == capacity) return false;
            out[count] = c;
        }
        ++count;
        return true;
    };
    bool inRun = false;
    std::uint32_t bits = 0;
    int bitCount = 0;
    // Writes the bits left (padded with zeros) and the "-" that always closes a run.
    auto closeRun = [&]() -> bool {
        if (!inRun) return true;
        inRun = false;
        if (bitCount > 0 && !put(kBase64[bits << (6 - bitCount) & 0x3F])) return false;
        return put('-');
    };
    auto putUnit = [&](std::uint32_t unit) -> bool {
        if (!inRun) {
            if (!put('+')) return false;
            inRun = true;
            bits = 0;
            bitCount = 0;
        }
        bits = (bits << 16 | unit) & 0x3FFFFF;
        bitCount += 16;
        while (bitCount >= 6) {
            bitCount -= 6;
            if (!put(kBase64[bits >> bitCount & 0x3F])) return false;
        }
        return true;
    };
    for (size_t i = 0; i < length; ++i) {
        auto c = static_cast<std::uint32_t>(text[i]);
        bool ok = false;
        if (c == '+') {
            ok = closeRun() && put('+') && put('-');
        } else if (IsDirect(c)) {
            ok = closeRun() && put(static_cast<char>(c));
        } else if (c > 0xFFFF && c <= 0x10FFFF) {
            c -= 0x10000;
            ok = putUnit(0xD800 + (c >> 10)) && putUnit(0xDC00 + (c & 0x3FF));
        } else {
            ok = putUnit(c > 0x10FFFF ? 0xFFFD : c);
        }
        if (!ok) return kConversionFailed;
    }
    if (!closeRun()) return kConversionFailed;
    return count;
}

}  // namespace Tavrin::Platform::Detail
