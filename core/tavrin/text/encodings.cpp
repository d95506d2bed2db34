#include <tavrin/encodings.h>

#include <cstring>
#include <cwchar>

#include "core/basepool/raise.h"
#include "core/basepool/utf.h"
#include "core/platform/codepages.h"

namespace Tavrin::Encodings {
namespace {

constexpr unsigned int kCodePageUtf8 = 65001;
constexpr size_t kFailed = Platform::kConversionFailed;
static_assert(kFailed == Detail::kUtfNoRoom, "one failure value for both converters");

// The system code pages of Windows (ANSI 0, OEM 1, Mac 2, thread ANSI 3) as they are here:
// UTF-8 for the first three, Mac Roman for the Mac code page.
unsigned int Resolve(unsigned int codePage) noexcept {
    switch (codePage) {
        case 0:
        case 1:
        case 3:
            return kCodePageUtf8;
        case 2:
            return 10000;
        default:
            return codePage;
    }
}

// The narrow-to-wide service in the manner of MultiByteToWideChar over zero-terminated input:
// `length` bytes precede the NUL, and the count includes the NUL. With `out` null it is a size
// query. Returns 0 when the code page is not supported or `capacity` is too small.
size_t MultiByteToWide(unsigned int codePage, const char* text, size_t length, wchar_t* out,
                       size_t capacity) {
    if (out != nullptr && capacity == 0) return 0;
    const size_t room = out != nullptr ? capacity - 1 : 0;
    size_t count;
    if (codePage == kCodePageUtf8) {
        count = out != nullptr ? Detail::DecodeUtf8(text, length, out, room)
                               : Detail::Utf8DecodedLength(text, length);
    } else {
        count = Platform::CodePageToWide(codePage, text, length, out, room);
    }
    if (count == kFailed) return 0;
    if (out != nullptr) out[count] = L'\0';
    return count + 1;
}

// The wide-to-narrow counterpart, in the manner of WideCharToMultiByte.
size_t WideToMultiByte(unsigned int codePage, const wchar_t* text, size_t length, char* out,
                       size_t capacity) {
    if (out != nullptr && capacity == 0) return 0;
    const size_t room = out != nullptr ? capacity - 1 : 0;
    size_t count;
    if (codePage == kCodePageUtf8) {
        count = out != nullptr ? Detail::EncodeUtf8(text, length, out, room)
                               : Detail::Utf8Length(text, length);
    } else {
        count = Platform::WideToCodePage(codePage, text, length, out, room);
    }
    if (count == kFailed) return 0;
    if (out != nullptr) out[count] = '\0';
    return count + 1;
}

}  // namespace

std::wstring FromCodePage(const char* text, unsigned int codePage) {
    if (text == nullptr) return {};
    codePage = Resolve(codePage);
    const size_t length = std::strlen(text);
    const size_t n = MultiByteToWide(codePage, text, length, nullptr, 0);
    if (n == 0) return {};
    std::wstring result(n - 1, L'\0');  // its buffer holds n characters, the last one the NUL
    if (MultiByteToWide(codePage, text, length, result.data(), n) != n) {
        Detail::Raise(Detail::ERaise::CodePageFrom);
    }
    // Some code pages can encode a NUL (UTF-7 "+AAA-"); the text ends at the first one.
    if (codePage != kCodePageUtf8) result.resize(std::wcslen(result.c_str()));
    return result;
}

// The same result as FromCodePage(text, 65001) in one pass: the text formats convert every
// string value with it.
std::wstring FromUTF8(const char* text) {
    std::wstring result;
    if (text != nullptr) Detail::AppendFromUtf8(result, text);
    return result;
}

std::string ToCodePage(const wchar_t* text, unsigned int codePage) {
    if (text == nullptr) return {};
    codePage = Resolve(codePage);
    const size_t length = std::wcslen(text);
    const size_t n = WideToMultiByte(codePage, text, length, nullptr, 0);
    if (n == 0) return {};
    std::string result(n - 1, '\0');
    if (WideToMultiByte(codePage, text, length, result.data(), n) != n) {
        Detail::Raise(Detail::ERaise::CodePageTo);
    }
    if (codePage != kCodePageUtf8) result.resize(std::strlen(result.c_str()));
    return result;
}

std::string ToUTF8(const wchar_t* text) { return ToCodePage(text, kCodePageUtf8); }

void AppendUTF8(std::string& out, std::wstring_view text) { Detail::AppendUtf8(out, text); }

void AppendFromUTF8(std::wstring& out, std::string_view text) { Detail::AppendFromUtf8(out, text); }

}  // namespace Tavrin::Encodings
