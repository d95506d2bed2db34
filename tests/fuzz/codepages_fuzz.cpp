// Code-page conversions of outside text: the first two bytes choose the code page, the rest is
// converted both ways (as bytes, and as wide characters made from pairs of bytes).
#include <cstdlib>
#include <iterator>
#include <string>

#include <tavrin/tavrin.h>

namespace {

// Known numbers (single-byte, double-byte, EBCDIC, UTF-7/8, the special 0-3 and UTF-16/32) and
// the raw number from the input for everything else.
constexpr unsigned int kPages[] = {
    0,     1,     2,     3,     37,    437,   500,   708,   720,   737,   775,   850,   852,
    855,   857,   858,   860,   861,   862,   863,   864,   865,   866,   869,   874,   875,
    932,   936,   949,   950,   1026,  1200,  1201,  1250,  1251,  1252,  1253,  1254,  1255,
    1256,  1257,  1258,  1361,  10000, 10001, 12000, 20127, 20866, 20932, 21866, 28591, 28592,
    28595, 28597, 28605, 50220, 51932, 51949, 52936, 54936, 65000, 65001};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const unsigned int pick = data[0] | (data[1] << 8u);
    const unsigned int codePage = pick < 0x8000 ? kPages[pick % std::size(kPages)] : pick & 0x7FFF;
    const std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);

    const std::wstring wide = Tavrin::Encodings::FromCodePage(bytes.c_str(), codePage);
    (void)Tavrin::Encodings::ToCodePage(wide.c_str(), codePage);

    // Wide text from the input: any 16-bit values, lone surrogates included.
    std::wstring units;
    for (size_t i = 2; i + 1 < size; i += 2) {
        const wchar_t unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8u));
        if (unit != 0) units.push_back(unit);
    }
    (void)Tavrin::Encodings::ToCodePage(units.c_str(), codePage);

    // UTF-8 is its own fast path: decoding what it encoded gives the same wide text back.
    const std::string utf8 = Tavrin::Encodings::ToUTF8(wide.c_str());
    if (Tavrin::Encodings::FromUTF8(utf8.c_str()) != wide && codePage == 65001) std::abort();
    std::wstring appended;
    Tavrin::Encodings::AppendFromUTF8(appended, bytes);
    if (appended != Tavrin::Encodings::FromUTF8(bytes.c_str()) &&
        bytes.find('\0') == std::string::npos) {
        std::abort();  // the counted form agrees with the zero-terminated one
    }
    return 0;
}
