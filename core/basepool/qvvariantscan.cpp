#include "core/basepool/qvvariantscan.h"

#include <cstring>

#include "core/basepool/raise.h"
#include "core/platform/threadlocale.h"

namespace Tavrin::Detail::Variant {
namespace {

// The counted forms need a terminator; short texts stay on the stack.
template <class Ch>
double CountedToDouble(std::basic_string_view<Ch> text) {
    text = UpToNul(text);
    Ch small[128];
    if (text.size() < sizeof small / sizeof small[0]) {
        std::memcpy(small, text.data(), text.size() * sizeof(Ch));
        small[text.size()] = Ch(0);
        return TextToDouble(static_cast<const Ch*>(small));
    }
    return TextToDouble(std::basic_string<Ch>(text).c_str());
}

}  // namespace

double TextToDouble(const char* text) {
    const char* end = nullptr;
    const double value = Platform::StrToDouble(text, &end);
    if (*end != '\0') Raise(ERaise::VariantStringToDouble);
    return value;
}

double TextToDouble(const wchar_t* text) {
    const wchar_t* end = nullptr;
    const double value = Platform::WcsToDouble(text, &end);
    if (*end != L'\0') Raise(ERaise::VariantStringToDouble);
    return value;
}

double TextToDouble(std::string_view text) { return CountedToDouble(text); }

double TextToDouble(std::wstring_view text) { return CountedToDouble(text); }

}  // namespace Tavrin::Detail::Variant
