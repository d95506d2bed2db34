// QvVariant's conversions between kinds: the converted value of each kind (the rules), the
// conversion steps in place and the converting accessors.
#include <tavrin/qvvariant.h>

#include <charconv>
#include <string_view>
#include <type_traits>

#include "core/basepool/qvvariantrules.h"
#include "core/basepool/raise.h"
#include "core/basepool/utf.h"

using namespace Tavrin::Detail;
using namespace Tavrin::Detail::Variant;

namespace {

// ---- the converted value of each kind -----------------------------------------------------------

struct SIntegerStep {
    ERaise failure;
    bool isSigned;
    EIntermediate via;
};

enum EIntegerStep : unsigned int {
    kInt8,
    kUInt8,
    kInt16,
    kUInt16,
    kInt32,
    kUInt32,
    kInt64,
    kUInt64
};

constexpr SIntegerStep kIntegerSteps[] = {
    {ERaise::VariantToInt8, true, EIntermediate::Int32},
    {ERaise::VariantToUInt8, false, EIntermediate::Int64},
    {ERaise::VariantToInt16, true, EIntermediate::Int32},
    {ERaise::VariantToUInt16, false, EIntermediate::Int64},
    {ERaise::VariantToInt32, true, EIntermediate::Int32},
    {ERaise::VariantToUInt32, false, EIntermediate::Int64},
    {ERaise::VariantToInt64, true, EIntermediate::Int64},
    {ERaise::VariantToUInt64, false, EIntermediate::UInt64},
};

// The floating value of a held value of kind `kind`. Signed sources convert as signed numbers,
// unsigned ones as unsigned, straight to F (no detour through double for a float, which could
// round twice). `Payload` is the variant's value union.
template <class F, class Payload>
F FloatingValue(unsigned int kind, const Payload& v) {
    // A double (held, or read from text) reaches a float by rounding to nearest.
    const auto fromDouble = [](double d) -> F {
        if constexpr (std::is_same_v<F, float>) {
            return NarrowToFloat(d);
        } else {
            return d;
        }
    };
    switch (kind) {
        case QvVariant::KindBool: return v.b ? F(1) : F(0);
        case QvVariant::KindChar: return static_cast<F>(static_cast<signed char>(v.c));
        case QvVariant::KindInt8: return static_cast<F>(v.i8);
        case QvVariant::KindUInt8: return static_cast<F>(v.u8);
        case QvVariant::KindInt16: return static_cast<F>(v.i16);
        case QvVariant::KindUInt16: return static_cast<F>(v.u16);
        case QvVariant::KindInt32: return static_cast<F>(v.i32);
        case QvVariant::KindUInt32: return static_cast<F>(v.u32);
        case QvVariant::KindInt64: return static_cast<F>(v.i64);
        case QvVariant::KindUInt64: return static_cast<F>(v.u64);
        case QvVariant::KindFloat: return static_cast<F>(v.f);
        case QvVariant::KindDouble: return fromDouble(v.d);
        case QvVariant::KindStringA:
            return fromDouble(QvVariant::stringToDouble(v.stringA->c_str()));
        case QvVariant::KindStringW:
            return fromDouble(QvVariant::stringToDouble(v.stringW->c_str()));
        default: Raise(std::is_same_v<F, float> ? ERaise::VariantToFloat : ERaise::VariantToDouble);
    }
}

// The text kinds convert into each other through UTF-8; a view of the own kind is copied whole.
void AssignText(std::string& out, std::string_view text) { out.assign(text); }
void AssignText(std::string& out, std::wstring_view text) { out = Utf8FromWide(text); }
void AssignText(std::wstring& out, std::string_view text) { out = WideFromUtf8(text); }
void AssignText(std::wstring& out, std::wstring_view text) { out.assign(text); }

// A char as text: one UTF-16 unit, or its UTF-8 form (a NUL included, a lone surrogate as
// U+FFFD).
void AppendUnit(std::string& out, wchar_t unit) {
    char bytes[4];
    out.append(bytes, EncodeUtf8(&unit, 1, bytes, sizeof bytes));
}
void AppendUnit(std::wstring& out, wchar_t unit) { out.push_back(unit); }

template <class String, class Integer>
void AppendInteger(String& out, Integer value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

// The text of a held value of kind `kind` as String. Numbers print as ASCII, which is the same
// text in either string kind, so they are printed straight into String; only a char, the string
// kinds and a date-time need a real conversion.
template <class String, class Payload>
String TextValue(unsigned int kind, const Payload& v) {
    using Ch = typename String::value_type;
    String out;
    switch (kind) {
        case QvVariant::KindEmpty: Raise(ERaise::VariantToStringEmpty);
        case QvVariant::KindBool: out.push_back(v.b ? Ch('1') : Ch('0')); break;
        case QvVariant::KindChar: AppendUnit(out, UnitOfChar(v.c)); break;
        case QvVariant::KindInt8: AppendInteger(out, static_cast<int>(v.i8)); break;
        case QvVariant::KindUInt8: AppendInteger(out, static_cast<unsigned int>(v.u8)); break;
        case QvVariant::KindInt16: AppendInteger(out, static_cast<int>(v.i16)); break;
        case QvVariant::KindUInt16: AppendInteger(out, static_cast<unsigned int>(v.u16)); break;
        case QvVariant::KindInt32: AppendInteger(out, v.i32); break;
        case QvVariant::KindUInt32: AppendInteger(out, v.u32); break;
        case QvVariant::KindInt64: AppendInteger(out, v.i64); break;
        case QvVariant::KindUInt64: AppendInteger(out, v.u64); break;
        case QvVariant::KindFloat:
            AssignText(out, std::string_view(QvVariant::floatToString(static_cast<double>(v.f))));
            break;
        case QvVariant::KindDouble:
            AssignText(out, std::string_view(QvVariant::floatToString(v.d)));
            break;
        case QvVariant::KindStringA: AssignText(out, std::string_view(*v.stringA)); break;
        case QvVariant::KindStringW: AssignText(out, std::wstring_view(*v.stringW)); break;
        case QvVariant::KindDateTime:
            AssignText(out, std::wstring_view(v.dateTime->Format(L"Y-m-d H:i:s", false)));
            break;
        default: Raise(ERaise::VariantToStringSource);
    }
    return out;
}

}  // namespace

// Integer and character sources give their own bit pattern, zero-extended.
unsigned long long QvVariant::integerBits(unsigned int step) const {
    const SIntegerStep& s = kIntegerSteps[step];
    switch (m_kind) {
        case KindBool: return m_value.b ? 1u : 0u;
        case KindChar: return static_cast<unsigned char>(m_value.c);
        case KindInt8: return static_cast<unsigned char>(m_value.i8);
        case KindUInt8: return m_value.u8;
        case KindInt16: return static_cast<unsigned short>(m_value.i16);
        case KindUInt16: return m_value.u16;
        case KindInt32: return static_cast<unsigned int>(m_value.i32);
        case KindUInt32: return m_value.u32;
        case KindInt64: return static_cast<unsigned long long>(m_value.i64);
        case KindUInt64: return m_value.u64;
        case KindFloat: return RoundToBits(static_cast<double>(m_value.f), s.via);
        case KindDouble: return RoundToBits(m_value.d, s.via);
        case KindStringA:
            return s.isSigned
                       ? static_cast<unsigned long long>(stringToInt(m_value.stringA->c_str()))
                       : stringToUInt(m_value.stringA->c_str());
        case KindStringW:
            return s.isSigned
                       ? static_cast<unsigned long long>(stringToInt(m_value.stringW->c_str()))
                       : stringToUInt(m_value.stringW->c_str());
        default: Raise(s.failure);
    }
}

bool QvVariant::boolValue() const {
    switch (m_kind) {
        case KindBool: return m_value.b;
        case KindChar: return m_value.c != 0;
        case KindInt8: return m_value.i8 != 0;
        case KindUInt8: return m_value.u8 != 0;
        case KindInt16: return m_value.i16 != 0;
        case KindUInt16: return m_value.u16 != 0;
        case KindInt32: return m_value.i32 != 0;
        case KindUInt32: return m_value.u32 != 0;
        case KindInt64: return m_value.i64 != 0;
        case KindUInt64: return m_value.u64 != 0;
        case KindFloat: return m_value.f != 0.0f;  // NaN gives true
        case KindDouble: return m_value.d != 0.0;
        case KindStringA: return stringToBool(m_value.stringA->c_str());
        case KindStringW: return stringToBool(m_value.stringW->c_str());
        default: Raise(ERaise::VariantToBool);
    }
}

char QvVariant::charValue() const {
    switch (m_kind) {
        case KindChar: return m_value.c;
        case KindStringA:
            if (m_value.stringA->size() != 1) Raise(ERaise::VariantToCharNarrow);
            return (*m_value.stringA)[0];
        case KindStringW:
            if (!IsSingleUnit(*m_value.stringW)) Raise(ERaise::VariantToCharWide);
            return CharOfUnit((*m_value.stringW)[0]);
        default: return static_cast<char>(static_cast<unsigned char>(integerBits(kUInt8)));
    }
}

float QvVariant::floatValue() const { return FloatingValue<float>(m_kind, m_value); }

double QvVariant::doubleValue() const { return FloatingValue<double>(m_kind, m_value); }

std::string QvVariant::stringAValue() const { return TextValue<std::string>(m_kind, m_value); }

std::wstring QvVariant::stringWValue() const { return TextValue<std::wstring>(m_kind, m_value); }

QvDateTime QvVariant::dateTimeValue() const {
    switch (m_kind) {
        case KindDateTime: return *m_value.dateTime;
        case KindStringW: return QvDateTime(m_value.stringW->c_str(), false);
        case KindStringA: return QvDateTime(m_value.stringA->c_str(), false);
        default: Raise(ERaise::VariantConvertDateTime);
    }
}

void QvVariant::checkCopyable() const {
    if (m_kind == KindObject || m_kind == KindReserved || m_kind > KindStringA) {
        QvVariant copy(*this);
    }
}

// The scalar targets: type, name, kind, payload member and the converted value of the held one.
#define TAVRIN_VARIANT_SCALAR_TARGETS(X)                                                          \
    X(bool, Bool, KindBool, b, boolValue())                                                       \
    X(char, Char, KindChar, c, charValue())                                                       \
    X(signed char, Int8, KindInt8, i8, static_cast<signed char>(integerBits(kInt8)))              \
    X(unsigned char, UInt8, KindUInt8, u8, static_cast<unsigned char>(integerBits(kUInt8)))       \
    X(short, Int16, KindInt16, i16, static_cast<short>(integerBits(kInt16)))                      \
    X(unsigned short, UInt16, KindUInt16, u16, static_cast<unsigned short>(integerBits(kUInt16))) \
    X(int, Int32, KindInt32, i32, static_cast<int>(integerBits(kInt32)))                          \
    X(unsigned int, UInt32, KindUInt32, u32, static_cast<unsigned int>(integerBits(kUInt32)))     \
    X(long long, Int64, KindInt64, i64, static_cast<long long>(integerBits(kInt64)))              \
    X(unsigned long long, UInt64, KindUInt64, u64, integerBits(kUInt64))                          \
    X(float, Float, KindFloat, f, floatValue())                                                   \
    X(double, Double, KindDouble, d, doubleValue())

// The steps in place: the new value is computed before anything changes.
#define TAVRIN_VARIANT_CONVERT_TO(Type, Name, kind, member, compute) \
    void QvVariant::convertTo##Name() {                              \
        const Type value = compute;                                  \
        *this = value;                                               \
    }

TAVRIN_VARIANT_SCALAR_TARGETS(TAVRIN_VARIANT_CONVERT_TO)

#undef TAVRIN_VARIANT_CONVERT_TO

void QvVariant::convertToString(EKind kind) {
    // The source is checked first, then the requested kind, all before anything changes.
    if (m_kind == KindEmpty) Raise(ERaise::VariantToStringEmpty);
    if (m_kind == KindByteArray || m_kind == KindObject || m_kind == KindReserved ||
        m_kind > KindStringA) {
        Raise(ERaise::VariantToStringSource);
    }
    if (kind == KindStringA) {
        if (m_kind == KindStringA) return;
        std::string value = stringAValue();
        *this = std::move(value);
    } else if (kind == KindStringW) {
        if (m_kind == KindStringW) return;
        std::wstring value = stringWValue();
        *this = std::move(value);
    } else {
        Raise(ERaise::VariantToStringTarget);
    }
}

void QvVariant::ConvertTo(EKind kind) {
    if (m_kind == kind) return;
    Converting([&] {
        switch (kind) {
            case KindEmpty: Clear(); return;
            case KindBool: convertToBool(); return;
            case KindInt32: convertToInt32(); return;
            case KindInt64: convertToInt64(); return;
            case KindUInt32: convertToUInt32(); return;
            case KindFloat: convertToFloat(); return;
            case KindDouble: convertToDouble(); return;
            case KindChar: convertToChar(); return;
            case KindStringW: convertToString(KindStringW); return;
            case KindDateTime: {
                QvDateTime value = dateTimeValue();
                *this = value;
                return;
            }
            case KindInt8: convertToInt8(); return;
            case KindUInt8: convertToUInt8(); return;
            case KindInt16: convertToInt16(); return;
            case KindUInt16: convertToUInt16(); return;
            case KindUInt64: convertToUInt64(); return;
            case KindStringA: convertToString(KindStringA); return;
            default: Raise(ERaise::VariantConvertKind);
        }
    });
}

// ---- converting accessors ----------------------------------------------------------------------
// Each gives what ConvertTo on a copy would give, computed from the held value directly: a copy
// is made only where making it can fail (an object to clone).

#define TAVRIN_VARIANT_TO(Type, Name, kind, member, compute) \
    Type QvVariant::To##Name() const {                       \
        if (m_kind == (kind)) return m_value.member;         \
        checkCopyable();                                     \
        return Converting([&] { return compute; });          \
    }

TAVRIN_VARIANT_SCALAR_TARGETS(TAVRIN_VARIANT_TO)

#undef TAVRIN_VARIANT_TO
#undef TAVRIN_VARIANT_SCALAR_TARGETS

std::string QvVariant::ToStringA() const {
    if (m_kind == KindStringA) return *m_value.stringA;
    checkCopyable();
    return Converting([&] { return stringAValue(); });
}

std::wstring QvVariant::ToStringW() const {
    if (m_kind == KindStringW) return *m_value.stringW;
    checkCopyable();
    return Converting([&] { return stringWValue(); });
}

QvDateTime QvVariant::ToDateTime() const {
    if (m_kind == KindDateTime) return *m_value.dateTime;
    checkCopyable();
    return Converting([&] { return dateTimeValue(); });
}
