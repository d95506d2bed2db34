// QvVariant's text functions (text to bool, integer and floating values, floating values to
// text) and the conversions of document text for the readers, which give what a variant holding
// the text would give without building one.
#include <tavrin/qvvariant.h>

#include <string>
#include <string_view>

#include "core/basepool/chars.h"
#include "core/basepool/qvvariantrules.h"
#include "core/basepool/qvvariantscan.h"
#include "core/basepool/raise.h"
#include "core/basepool/utf.h"
#include "core/platform/threadlocale.h"

using namespace Tavrin::Detail;
using namespace Tavrin::Detail::Variant;

// ---- text functions: the rules of qvvariantscan.h, each failure with its own raising place -----

namespace {

// The value of `text` by the rules of ParseBool / ScanInteger; a text they reject raises `failure`.
template <class Ch>
bool BoolOrRaise(std::basic_string_view<Ch> text, ERaise failure) {
    bool ok = false;
    const bool value = ParseBool(text, ok);
    if (!ok) Raise(failure);
    return value;
}

template <class Ch>
unsigned long long IntegerOrRaise(std::basic_string_view<Ch> text, bool prefixes, ERaise failure) {
    unsigned long long value = 0;
    if (!ScanInteger(text, prefixes, value)) Raise(failure);
    return value;
}

}  // namespace

bool QvVariant::stringToBool(const char* text) {
    return stringToBool(std::string_view(text ? text : ""));
}

bool QvVariant::stringToBool(const wchar_t* text) {
    return stringToBool(std::wstring_view(text ? text : L""));
}

bool QvVariant::stringToBool(std::string_view text) {
    return BoolOrRaise(text, ERaise::VariantStringToBoolNarrow);
}

bool QvVariant::stringToBool(std::wstring_view text) {
    return BoolOrRaise(text, ERaise::VariantStringToBoolWide);
}

long long QvVariant::stringToInt(const char* text) {
    return stringToInt(std::string_view(text ? text : ""));
}

long long QvVariant::stringToInt(const wchar_t* text) {
    return stringToInt(std::wstring_view(text ? text : L""));
}

long long QvVariant::stringToInt(std::string_view text) {
    return static_cast<long long>(IntegerOrRaise(text, true, ERaise::VariantStringToIntNarrow));
}

long long QvVariant::stringToInt(std::wstring_view text) {
    return static_cast<long long>(IntegerOrRaise(text, true, ERaise::VariantStringToIntWide));
}

unsigned long long QvVariant::stringToUInt(const char* text) {
    return stringToUInt(std::string_view(text ? text : ""));
}

unsigned long long QvVariant::stringToUInt(const wchar_t* text) {
    return stringToUInt(std::wstring_view(text ? text : L""));
}

unsigned long long QvVariant::stringToUInt(std::string_view text) {
    return IntegerOrRaise(text, false, ERaise::VariantStringToUIntNarrow);
}

unsigned long long QvVariant::stringToUInt(std::wstring_view text) {
    return IntegerOrRaise(text, false, ERaise::VariantStringToUIntWide);
}

double QvVariant::stringToDouble(const char* text) { return TextToDouble(text ? text : ""); }

double QvVariant::stringToDouble(const wchar_t* text) { return TextToDouble(text ? text : L""); }

double QvVariant::stringToDouble(std::string_view text) { return TextToDouble(text); }

double QvVariant::stringToDouble(std::wstring_view text) { return TextToDouble(text); }

std::string QvVariant::floatToString(double value) {
    // "%f" of the largest double is 317 characters.
    char buffer[512];
    const int length = Tavrin::Platform::PrintFixed(buffer, sizeof buffer, value);
    if (length < 0 || static_cast<size_t>(length) >= sizeof buffer) {
        Raise(ERaise::VariantFloatToString);
    }
    return std::string(buffer, static_cast<size_t>(length));
}

// ---- text views for the readers -----------------------------------------------------------------
// A view in the wide form stands for WideFromUtf8(text).

void QvVariant::ConvertText(std::string_view text, ETextForm form, bool& value) {
    // Only ASCII letters and digits can match, so the bytes of a wide-form text decide as its
    // characters would.
    value = Converting([&] {
        return BoolOrRaise(text, form == ETextForm::Narrow ? ERaise::VariantStringToBoolNarrow
                                                           : ERaise::VariantStringToBoolWide);
    });
}

void QvVariant::ConvertText(std::string_view text, ETextForm form, char& value) {
    value = Converting([&] {
        if (form == ETextForm::Narrow) {
            if (text.size() != 1) Raise(ERaise::VariantToCharNarrow);
            return text[0];
        }
        const std::wstring wide = WideFromUtf8(text);
        if (!IsSingleUnit(wide)) Raise(ERaise::VariantToCharWide);
        return CharOfUnit(wide[0]);
    });
}

namespace {

// The integer rules only look at ASCII characters, so the UTF-8 bytes of a wide-form text scan
// exactly as its decoded characters would; only the raising place differs.
unsigned long long TextBits(std::string_view text, QvVariant::ETextForm form, bool isSigned) {
    const bool wide = form == QvVariant::ETextForm::Wide;
    const ERaise failure =
        isSigned ? (wide ? ERaise::VariantStringToIntWide : ERaise::VariantStringToIntNarrow)
                 : (wide ? ERaise::VariantStringToUIntWide : ERaise::VariantStringToUIntNarrow);
    return IntegerOrRaise(text, isSigned, failure);
}

double TextDouble(std::string_view text, QvVariant::ETextForm form) {
    if (form == QvVariant::ETextForm::Wide && !IsAscii(text)) {
        return QvVariant::stringToDouble(std::wstring_view(WideFromUtf8(text)));
    }
    return QvVariant::stringToDouble(text);
}

}  // namespace

// Macro parameters that stand for type names cannot be parenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define TAVRIN_VARIANT_TEXT_TO_INTEGER(Type, isSigned)                                         \
    void QvVariant::ConvertText(std::string_view text, ETextForm form, Type& value) {          \
        value = Converting([&] { return static_cast<Type>(TextBits(text, form, isSigned)); }); \
    }

TAVRIN_VARIANT_TEXT_TO_INTEGER(signed char, true)
TAVRIN_VARIANT_TEXT_TO_INTEGER(unsigned char, false)
TAVRIN_VARIANT_TEXT_TO_INTEGER(short, true)
TAVRIN_VARIANT_TEXT_TO_INTEGER(unsigned short, false)
TAVRIN_VARIANT_TEXT_TO_INTEGER(int, true)
TAVRIN_VARIANT_TEXT_TO_INTEGER(unsigned int, false)
TAVRIN_VARIANT_TEXT_TO_INTEGER(long long, true)
TAVRIN_VARIANT_TEXT_TO_INTEGER(unsigned long long, false)

#undef TAVRIN_VARIANT_TEXT_TO_INTEGER
// NOLINTEND(bugprone-macro-parentheses)

void QvVariant::ConvertText(std::string_view text, ETextForm form, float& value) {
    value = Converting([&] { return NarrowToFloat(TextDouble(text, form)); });
}

void QvVariant::ConvertText(std::string_view text, ETextForm form, double& value) {
    value = Converting([&] { return TextDouble(text, form); });
}

void QvVariant::ConvertText(std::string_view text, ETextForm form, std::string& value) {
    value = Converting([&] {
        if (form == ETextForm::Narrow) return std::string(text);
        // Through the wide text and back, as the variant would convert it.
        if (IsAscii(text)) return std::string(UpToNul(text));
        return Utf8FromWide(WideFromUtf8(text));
    });
}

void QvVariant::ConvertText(std::string_view text, ETextForm /*form*/, std::wstring& value) {
    value = Converting([&] { return WideFromUtf8(text); });
}

void QvVariant::ConvertText(std::string_view text, ETextForm form, QvDateTime& value) {
    value = Converting([&] {
        if (form == ETextForm::Narrow) return QvDateTime(text, false);
        return QvDateTime(std::wstring_view(WideFromUtf8(text)), false);
    });
}
