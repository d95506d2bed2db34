#include <tavrin/encodings.h>

#include <string>

#include "core/basepool/raise.h"
#include "core/basepool/utf.h"
#include "core/platform/codepages.h"
#include "core/platform/systemcodepages.h"

namespace Tavrin::Encodings {
namespace {

constexpr unsigned int kCodePageUtf8 = 65001;
constexpr size_t kFailed = Platform::kConversionFailed;
static_assert(kFailed == Detail::kUtfNoRoom, "one failure value for both converters");

// One conversion of counted text without a terminator, in either direction: UTF-8 by the
// library's coder, every other code page by the platform's converters. With `out` null it only
// counts. Returns the count or kFailed.
size_t ConvertCounted(unsigned int codePage, const char* text, size_t length, wchar_t* out,
                      size_t capacity) {
    if (codePage != kCodePageUtf8) {
        return Platform::CodePageToWide(codePage, text, length, out, capacity);
    }
    return out != nullptr ? Detail::DecodeUtf8(text, length, out, capacity)
                          : Detail::Utf8DecodedLength(text, length);
}

size_t ConvertCounted(unsigned int codePage, const wchar_t* text, size_t length, char* out,
                      size_t capacity) {
    if (codePage != kCodePageUtf8) {
        return Platform::WideToCodePage(codePage, text, length, out, capacity);
    }
    return out != nullptr ? Detail::EncodeUtf8(text, length, out, capacity)
                          : Detail::Utf8Length(text, length);
}

// The conversion in the manner of MultiByteToWideChar / WideCharToMultiByte over
// zero-terminated input: `length` characters precede the NUL, and the count includes the NUL.
// With `out` null it is a size query. Returns 0 when the code page is not supported or
// `capacity` is too small.
template <class In, class Out>
size_t ConvertTerminated(unsigned int codePage, const In* text, size_t length, Out* out,
                         size_t capacity) {
    if (out != nullptr && capacity == 0) return 0;
    const size_t room = out != nullptr ? capacity - 1 : 0;
    const size_t count = ConvertCounted(codePage, text, length, out, room);
    if (count == kFailed) return 0;
    if (out != nullptr) out[count] = Out(0);
    return count + 1;
}

// Zero-terminated text to the other width: a size query, then the conversion into a string of
// that size. A second pass that disagrees with the first raises `failure`.
template <class Out, class In>
std::basic_string<Out> Convert(const In* text, unsigned int codePage, Detail::ERaise failure) {
    if (text == nullptr) return {};
    codePage = Platform::ResolveSystemCodePage(codePage);
    const size_t length = std::char_traits<In>::length(text);
    const size_t n = ConvertTerminated(codePage, text, length, static_cast<Out*>(nullptr), 0);
    if (n == 0) return {};
    std::basic_string<Out> result(n - 1, Out(0));  // its buffer holds n, the last the NUL
    if (ConvertTerminated(codePage, text, length, result.data(), n) != n) Detail::Raise(failure);
    // Some code pages can encode a NUL (UTF-7 "+AAA-"); the text ends at the first one.
    if (codePage != kCodePageUtf8) result.resize(std::char_traits<Out>::length(result.c_str()));
    return result;
}

}  // namespace

std::wstring FromCodePage(const char* text, unsigned int codePage) {
    return Convert<wchar_t>(text, codePage, Detail::ERaise::CodePageFrom);
}

// The same result as FromCodePage(text, 65001) in one pass: the text formats convert every
// string value with it.
std::wstring FromUTF8(const char* text) {
    std::wstring result;
    if (text != nullptr) Detail::AppendFromUtf8(result, text);
    return result;
}

std::string ToCodePage(const wchar_t* text, unsigned int codePage) {
    return Convert<char>(text, codePage, Detail::ERaise::CodePageTo);
}

std::string ToUTF8(const wchar_t* text) { return ToCodePage(text, kCodePageUtf8); }

void AppendUTF8(std::string& out, std::wstring_view text) { Detail::AppendUtf8(out, text); }

void AppendFromUTF8(std::wstring& out, std::string_view text) { Detail::AppendFromUtf8(out, text); }

}  // namespace Tavrin::Encodings
