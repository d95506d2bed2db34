#include <tavrin/qvvariant.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <cwchar>

#include <tavrin/iexception.h>

#include "core/basepool/chars.h"
#include "core/basepool/raise.h"
#include "core/basepool/utf.h"
#include "core/platform/threadlocale.h"

namespace {

using Tavrin::Detail::DigitValue;
using Tavrin::Detail::ERaise;
using Tavrin::Detail::IsAscii;
using Tavrin::Detail::IsSpace;
using Tavrin::Detail::Raise;


// A conversion lets exceptions of the library through and turns anything else into its own.
template <class F>
decltype(auto) Converting(F&& convert) {
    try {
        return convert();
    } catch (const IException&) {
        throw;
    } catch (...) {
        Raise(ERaise::VariantConvertOther);
    }
}

// ---- text scanning --------------------------------------------------------------------------

// A counted text ends at its first NUL, as the zero-terminated forms do.
template <class Ch>
std::basic_string_view<Ch> UpToNul(std::basic_string_view<Ch> text) {
    const size_t nul = text.find(Ch(0));
    return nul == std::basic_string_view<Ch>::npos ? text : text.substr(0, nul);
}

// Formatted input of a 64-bit integer: white space, sign, digits. With `prefixes` ("%i") a
// leading 0x/0X selects hexadecimal and a leading 0 octal; otherwise decimal only ("%u").
// The value accumulates modulo 2^64. Returns false when no digit was scanned.
template <class Ch>
bool ScanInteger(const Ch* p, const Ch* end, bool prefixes, unsigned long long& out) {
    while (p != end && IsSpace(*p)) ++p;
    bool negative = false;
    if (p != end && (*p == Ch('+') || *p == Ch('-'))) {
        negative = *p == Ch('-');
        ++p;
    }
    unsigned base = 10;
    bool scanned = false;
    if (prefixes && p != end && *p == Ch('0')) {
        ++p;
        if (p != end && (*p == Ch('x') || *p == Ch('X'))) {
            // "0x" is a prefix, not a number: at least one hexadecimal digit must follow,
            // otherwise nothing was scanned ("0x", "0xg" fail as formatted input does).
            base = 16;
            ++p;
        } else {
            scanned = true;  // the 0 of an octal number is a digit, whatever follows
            base = 8;
        }
    }
    unsigned long long value = 0;
    for (; p != end; ++p) {
        const unsigned digit = DigitValue(*p);
        if (digit >= base) break;
        value = value * base + digit;
        scanned = true;
    }
    if (!scanned) return false;
    out = negative ? 0ull - value : value;
    return true;
}

template <class Ch>
bool EqualsIgnoringCase(std::basic_string_view<Ch> text, const char* word) {
    for (const Ch c : text) {
        if (*word == '\0') return false;
        if (Tavrin::Detail::ToLowerAscii(c) != static_cast<Ch>(*word++)) return false;
    }
    return *word == '\0';
}

// true / false / 1 / 0; `ok` false for anything else.
template <class Ch>
bool ParseBool(std::basic_string_view<Ch> text, bool& ok) {
    text = UpToNul(text);
    ok = true;
    if (text.size() == 1 && text[0] == Ch('1')) return true;
    if (text.size() == 1 && text[0] == Ch('0')) return false;
    if (EqualsIgnoringCase(text, "true")) return true;
    if (EqualsIgnoringCase(text, "false")) return false;
    ok = false;
    return false;
}

// strtod over a whole zero-terminated text in the thread's locale.
double WholeTextToDouble(const char* text) {
    const char* end = nullptr;
    const double value = Tavrin::Platform::StrToDouble(text, &end);
    if (*end != '\0') Raise(ERaise::VariantStringToDouble);
    return value;
}

double WholeTextToDouble(const wchar_t* text) {
    const wchar_t* end = nullptr;
    const double value = Tavrin::Platform::WcsToDouble(text, &end);
    if (*end != L'\0') Raise(ERaise::VariantStringToDouble);
    return value;
}

// The counted forms need a terminator; short texts stay on the stack.
template <class Ch>
double CountedToDouble(std::basic_string_view<Ch> text) {
    text = UpToNul(text);
    Ch small[128];
    if (text.size() < sizeof small / sizeof small[0]) {
        std::memcpy(small, text.data(), text.size() * sizeof(Ch));
        small[text.size()] = Ch(0);
        return WholeTextToDouble(small);
    }
    return WholeTextToDouble(std::basic_string<Ch>(text).c_str());
}

// ---- numeric helpers ------------------------------------------------------------------------

// How a floating value reaches an integer target after rounding.
enum class EIntermediate { Int32, Int64, UInt64 };

constexpr unsigned long long kIndefinite32 = 0x80000000ull;
constexpr unsigned long long kIndefinite64 = 0x8000000000000000ull;

// Rounds (integral values stay, others floor(x + 0.5)) and truncates through `via`. Values
// that the intermediate cannot hold give its x86 "integer indefinite" pattern.
unsigned long long RoundToBits(double x, EIntermediate via) {
    const double r = x == std::floor(x) ? x : std::floor(x + 0.5);
    switch (via) {
        case EIntermediate::Int32:
            if (!(r >= -2147483648.0 && r < 2147483648.0)) return kIndefinite32;
            return static_cast<unsigned long long>(static_cast<long long>(static_cast<int>(r)));
        case EIntermediate::Int64:
            if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) return kIndefinite64;
            return static_cast<unsigned long long>(static_cast<long long>(r));
        case EIntermediate::UInt64:
            if (r >= 0.0 && r < 18446744073709551616.0) return static_cast<unsigned long long>(r);
            if (r > -9223372036854775808.0 && r < 0.0) {
                return static_cast<unsigned long long>(static_cast<long long>(r));
            }
            return kIndefinite64;
    }
    return kIndefinite64;
}

// double to float, rounding to nearest; values beyond the float range become the largest float
// or infinity as IEEE rounding gives, without the undefined out-of-range conversion.
float NarrowToFloat(double value) {
    constexpr double kMax = 3.4028234663852886e38;        // FLT_MAX
    constexpr double kOverflow = 3.4028235677973366e38;   // FLT_MAX + half an ulp
    if (std::isnan(value) || std::isinf(value)) return static_cast<float>(value);
    if (value >= kOverflow) return HUGE_VALF;
    if (value <= -kOverflow) return -HUGE_VALF;
    if (value > kMax) return static_cast<float>(kMax);
    if (value < -kMax) return static_cast<float>(-kMax);
    return static_cast<float>(value);
}

// UTF-16 units of a code point held in a wide character.
bool IsSingleUnit(const std::wstring& text) {
    return text.size() == 1 && static_cast<unsigned long>(text[0]) <= 0xFFFFul;
}

// A char printed as one unit: the byte taken as signed 8-bit, sign-extended to 16 bits.
wchar_t CharUnit(char c) {
    return static_cast<wchar_t>(static_cast<unsigned short>(static_cast<short>(static_cast<signed char>(c))));
}

// The UTF-8 form of one 16-bit unit, a NUL included (a lone surrogate becomes U+FFFD).
void AppendUnitUtf8(std::string& out, wchar_t unit) {
    char bytes[4];
    out.append(bytes, Tavrin::Detail::EncodeUtf8(&unit, 1, bytes, sizeof bytes));
}

template <class String, class Integer>
void AppendInteger(String& out, Integer value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

std::wstring Widen(std::string_view text) {
    std::wstring wide;
    Tavrin::Detail::AppendFromUtf8(wide, text);
    return wide;
}

std::string Narrow(std::wstring_view text) {
    std::string narrow;
    Tavrin::Detail::AppendUtf8(narrow, text);
    return narrow;
}

}  // namespace

// ---- lifetime and assignment --------------------------------------------------------------------

// ---- lifetime and assignment --------------------------------------------------------------------

QvVariant::QvVariant(const QvVariant& other) { *this = other; }

QvVariant::QvVariant(QvVariant&& other) noexcept : m_kind(other.m_kind), m_value(other.m_value) {
    other.m_kind = KindEmpty;
    other.m_value.u64 = 0;
}

QvVariant::~QvVariant() { Clear(); }

void QvVariant::Clear() noexcept {
    switch (m_kind) {
        case KindStringA: delete m_value.stringA; break;
        case KindStringW: delete m_value.stringW; break;
        case KindByteArray: delete m_value.bytes; break;
        case KindDateTime: delete m_value.dateTime; break;
        case KindObject: delete m_value.object; break;
        default: break;
    }
    m_kind = KindEmpty;
    m_value.u64 = 0;
}

void QvVariant::setKind(unsigned int kind) noexcept {
    Clear();
    m_kind = kind;
}

QvVariant& QvVariant::operator=(const QvVariant& other) {
    if (this == &other) return *this;
    if (other.m_kind == KindReserved || other.m_kind > KindStringA) {
        Raise(ERaise::VariantAssignKind);
    }
    copyFrom(other);
    return *this;
}

void QvVariant::copyFrom(const QvVariant& other) {
    switch (other.m_kind) {
        case KindStringA: *this = *other.m_value.stringA; return;
        case KindStringW: *this = *other.m_value.stringW; return;
        case KindByteArray: *this = *other.m_value.bytes; return;
        case KindDateTime: *this = *other.m_value.dateTime; return;
        case KindObject: {
            setKind(KindObject);  // a failed clone leaves kind object holding nothing
            const IObject* source = other.m_value.object;
            if (!source) Raise(ERaise::VariantAssignClone);
            const QvRTTI::CloneFunction clone = QvRTTI::getClone(source->GetRuntimeClassName());
            if (!clone) Raise(ERaise::VariantAssignClone);
            IObject* copy = clone(*source);
            if (!copy) Raise(ERaise::VariantAssignClone);
            m_value.object = copy;
            return;
        }
        default:
            Clear();
            m_kind = other.m_kind;
            m_value = other.m_value;
            return;
    }
}

QvVariant& QvVariant::operator=(QvVariant&& other) noexcept {
    if (this != &other) {
        Clear();
        m_kind = other.m_kind;
        m_value = other.m_value;
        other.m_kind = KindEmpty;
        other.m_value.u64 = 0;
    }
    return *this;
}

std::string& QvVariant::prepareStringA() {
    if (m_kind != KindStringA) {
        auto* text = new std::string();
        setKind(KindStringA);
        m_value.stringA = text;
    }
    return *m_value.stringA;
}

std::wstring& QvVariant::prepareStringW() {
    if (m_kind != KindStringW) {
        auto* text = new std::wstring();
        setKind(KindStringW);
        m_value.stringW = text;
    }
    return *m_value.stringW;
}

QvVariant& QvVariant::operator=(const char* text) {
    return *this = std::string_view(text ? text : "");
}

QvVariant& QvVariant::operator=(const wchar_t* text) {
    return *this = std::wstring_view(text ? text : L"");
}

// assign() copes with a view into the held string itself.
QvVariant& QvVariant::operator=(std::string_view text) {
    prepareStringA().assign(text.data(), text.size());
    return *this;
}

QvVariant& QvVariant::operator=(std::wstring_view text) {
    prepareStringW().assign(text.data(), text.size());
    return *this;
}

QvVariant& QvVariant::operator=(const std::string& text) {
    prepareStringA() = text;
    return *this;
}

QvVariant& QvVariant::operator=(std::string&& text) {
    prepareStringA() = std::move(text);
    return *this;
}

QvVariant& QvVariant::operator=(const std::wstring& text) {
    prepareStringW() = text;
    return *this;
}

QvVariant& QvVariant::operator=(std::wstring&& text) {
    prepareStringW() = std::move(text);
    return *this;
}

QvVariant& QvVariant::operator=(const QvArray<unsigned char>& bytes) {
    if (m_kind == KindByteArray) {
        *m_value.bytes = bytes;
    } else {
        auto* copy = new QvArray<unsigned char>(bytes);
        setKind(KindByteArray);
        m_value.bytes = copy;
    }
    return *this;
}

QvVariant& QvVariant::operator=(QvArray<unsigned char>&& bytes) {
    if (m_kind == KindByteArray) {
        *m_value.bytes = std::move(bytes);
    } else {
        auto* moved = new QvArray<unsigned char>(std::move(bytes));
        setKind(KindByteArray);
        m_value.bytes = moved;
    }
    return *this;
}

QvVariant& QvVariant::operator=(const QvDateTime& value) {
    if (m_kind == KindDateTime) {
        *m_value.dateTime = value;
    } else {
        auto* copy = new QvDateTime(value);
        setKind(KindDateTime);
        m_value.dateTime = copy;
    }
    return *this;
}

QvVariant& QvVariant::operator=(const IObject& object) {
    if (m_kind == KindObject && m_value.object == &object) return *this;
    // Clone before releasing the held object: `object` may be owned by it.
    const QvRTTI::CloneFunction clone = QvRTTI::getClone(object.GetRuntimeClassName());
    IObject* copy = clone ? clone(object) : nullptr;
    setKind(KindObject);
    if (!copy) Raise(ERaise::VariantAssignClone);
    m_value.object = copy;
    return *this;
}

QvVariant& QvVariant::operator=(std::unique_ptr<IObject> object) noexcept {
    setKind(KindObject);
    m_value.object = object.release();
    return *this;
}

#define TAVRIN_VARIANT_ASSIGN_SCALAR(Type, kind, member, stored) \
    QvVariant& QvVariant::operator=(Type value) noexcept {      \
        if (m_kind != (kind)) setKind(kind);                     \
        m_value.member = (stored);                               \
        return *this;                                            \
    }

TAVRIN_VARIANT_ASSIGN_SCALAR(bool, KindBool, b, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(char, KindChar, c, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(signed char, KindInt8, i8, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(unsigned char, KindUInt8, u8, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(short, KindInt16, i16, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(unsigned short, KindUInt16, u16, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(int, KindInt32, i32, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(unsigned int, KindUInt32, u32, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(long, KindInt64, i64, static_cast<long long>(value))
TAVRIN_VARIANT_ASSIGN_SCALAR(unsigned long, KindUInt64, u64, static_cast<unsigned long long>(value))
TAVRIN_VARIANT_ASSIGN_SCALAR(long long, KindInt64, i64, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(unsigned long long, KindUInt64, u64, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(float, KindFloat, f, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(double, KindDouble, d, value)

#undef TAVRIN_VARIANT_ASSIGN_SCALAR

// ---- checked accessors -------------------------------------------------------------------------

#define TAVRIN_VARIANT_ACCESSOR(Type, kind, member, failure) \
    QvVariant::operator Type&() {                                  \
        if (m_kind != (kind)) Raise(failure);                \
        return m_value.member;                                     \
    }

TAVRIN_VARIANT_ACCESSOR(bool, KindBool, b, ERaise::VariantAsBool)
TAVRIN_VARIANT_ACCESSOR(char, KindChar, c, ERaise::VariantAsChar)
TAVRIN_VARIANT_ACCESSOR(signed char, KindInt8, i8, ERaise::VariantAsInt8)
TAVRIN_VARIANT_ACCESSOR(unsigned char, KindUInt8, u8, ERaise::VariantAsUInt8)
TAVRIN_VARIANT_ACCESSOR(short, KindInt16, i16, ERaise::VariantAsInt16)
TAVRIN_VARIANT_ACCESSOR(unsigned short, KindUInt16, u16, ERaise::VariantAsUInt16)
TAVRIN_VARIANT_ACCESSOR(int, KindInt32, i32, ERaise::VariantAsInt32)
TAVRIN_VARIANT_ACCESSOR(unsigned int, KindUInt32, u32, ERaise::VariantAsUInt32)
TAVRIN_VARIANT_ACCESSOR(long long, KindInt64, i64, ERaise::VariantAsInt64)
TAVRIN_VARIANT_ACCESSOR(unsigned long long, KindUInt64, u64, ERaise::VariantAsUInt64)
TAVRIN_VARIANT_ACCESSOR(float, KindFloat, f, ERaise::VariantAsFloat)
TAVRIN_VARIANT_ACCESSOR(double, KindDouble, d, ERaise::VariantAsDouble)

#undef TAVRIN_VARIANT_ACCESSOR

QvVariant::operator const std::string&() const {
    if (m_kind != KindStringA) Raise(ERaise::VariantAsStringA);
    return *m_value.stringA;
}

QvVariant::operator const std::wstring&() const {
    if (m_kind != KindStringW) Raise(ERaise::VariantAsStringW);
    return *m_value.stringW;
}

QvVariant::operator const QvArray<unsigned char>&() const {
    if (m_kind != KindByteArray) Raise(ERaise::VariantAsByteArray);
    return *m_value.bytes;
}

QvVariant::operator const QvDateTime&() const {
    if (m_kind != KindDateTime) Raise(ERaise::VariantAsDateTime);
    return *m_value.dateTime;
}

QvVariant::operator const char*() const {
    if (m_kind != KindStringA) Raise(ERaise::VariantAsTextA);
    return m_value.stringA->c_str();
}

QvVariant::operator const wchar_t*() const {
    if (m_kind != KindStringW) Raise(ERaise::VariantAsTextW);
    return m_value.stringW->c_str();
}

const IObject* QvVariant::GetObjectPointer() const noexcept {
    return m_kind == KindObject ? m_value.object : nullptr;
}

// ---- conversion steps --------------------------------------------------------------------------

namespace {

struct SIntegerStep {
    ERaise failure;
    bool isSigned;
    EIntermediate via;
};

enum EIntegerStep : unsigned int { kInt8, kUInt8, kInt16, kUInt16, kInt32, kUInt32, kInt64, kUInt64 };

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
            return s.isSigned ? static_cast<unsigned long long>(stringToInt(m_value.stringA->c_str()))
                              : stringToUInt(m_value.stringA->c_str());
        case KindStringW:
            return s.isSigned ? static_cast<unsigned long long>(stringToInt(m_value.stringW->c_str()))
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
            return static_cast<char>(static_cast<unsigned char>((*m_value.stringW)[0] & 0xFF));
        default:
            return static_cast<char>(static_cast<unsigned char>(integerBits(kUInt8)));
    }
}

// Signed sources convert as signed numbers, unsigned ones as unsigned, straight to float
// (no detour through double, which could round twice).
float QvVariant::floatValue() const {
    switch (m_kind) {
        case KindBool: return m_value.b ? 1.0f : 0.0f;
        case KindChar: return static_cast<float>(static_cast<signed char>(m_value.c));
        case KindInt8: return static_cast<float>(m_value.i8);
        case KindUInt8: return static_cast<float>(m_value.u8);
        case KindInt16: return static_cast<float>(m_value.i16);
        case KindUInt16: return static_cast<float>(m_value.u16);
        case KindInt32: return static_cast<float>(m_value.i32);
        case KindUInt32: return static_cast<float>(m_value.u32);
        case KindInt64: return static_cast<float>(m_value.i64);
        case KindUInt64: return static_cast<float>(m_value.u64);
        case KindFloat: return m_value.f;
        case KindDouble: return NarrowToFloat(m_value.d);
        case KindStringA: return NarrowToFloat(stringToDouble(m_value.stringA->c_str()));
        case KindStringW: return NarrowToFloat(stringToDouble(m_value.stringW->c_str()));
        default: Raise(ERaise::VariantToFloat);
    }
}

double QvVariant::doubleValue() const {
    switch (m_kind) {
        case KindBool: return m_value.b ? 1.0 : 0.0;
        case KindChar: return static_cast<double>(static_cast<signed char>(m_value.c));
        case KindInt8: return static_cast<double>(m_value.i8);
        case KindUInt8: return static_cast<double>(m_value.u8);
        case KindInt16: return static_cast<double>(m_value.i16);
        case KindUInt16: return static_cast<double>(m_value.u16);
        case KindInt32: return static_cast<double>(m_value.i32);
        case KindUInt32: return static_cast<double>(m_value.u32);
        case KindInt64: return static_cast<double>(m_value.i64);
        case KindUInt64: return static_cast<double>(m_value.u64);
        case KindFloat: return static_cast<double>(m_value.f);
        case KindDouble: return m_value.d;
        case KindStringA: return stringToDouble(m_value.stringA->c_str());
        case KindStringW: return stringToDouble(m_value.stringW->c_str());
        default: Raise(ERaise::VariantToDouble);
    }
}

// Numbers print as ASCII, which is the same text in either string kind, so they are printed
// straight into the requested kind; only a char and the string kinds need a real conversion.
std::string QvVariant::stringAValue() const {
    std::string out;
    switch (m_kind) {
        case KindEmpty: Raise(ERaise::VariantToStringEmpty);
        case KindBool: out.push_back(m_value.b ? '1' : '0'); break;
        case KindChar: AppendUnitUtf8(out, CharUnit(m_value.c)); break;
        case KindInt8: AppendInteger(out, static_cast<int>(m_value.i8)); break;
        case KindUInt8: AppendInteger(out, static_cast<unsigned int>(m_value.u8)); break;
        case KindInt16: AppendInteger(out, static_cast<int>(m_value.i16)); break;
        case KindUInt16: AppendInteger(out, static_cast<unsigned int>(m_value.u16)); break;
        case KindInt32: AppendInteger(out, m_value.i32); break;
        case KindUInt32: AppendInteger(out, m_value.u32); break;
        case KindInt64: AppendInteger(out, m_value.i64); break;
        case KindUInt64: AppendInteger(out, m_value.u64); break;
        case KindFloat: out = floatToString(static_cast<double>(m_value.f)); break;
        case KindDouble: out = floatToString(m_value.d); break;
        case KindStringA: out = *m_value.stringA; break;
        case KindStringW: out = Narrow(*m_value.stringW); break;
        case KindDateTime: out = Narrow(m_value.dateTime->Format(L"Y-m-d H:i:s", false)); break;
        default: Raise(ERaise::VariantToStringSource);
    }
    return out;
}

std::wstring QvVariant::stringWValue() const {
    std::wstring out;
    switch (m_kind) {
        case KindEmpty: Raise(ERaise::VariantToStringEmpty);
        case KindBool: out.push_back(m_value.b ? L'1' : L'0'); break;
        case KindChar: out.assign(1, CharUnit(m_value.c)); break;
        case KindInt8: AppendInteger(out, static_cast<int>(m_value.i8)); break;
        case KindUInt8: AppendInteger(out, static_cast<unsigned int>(m_value.u8)); break;
        case KindInt16: AppendInteger(out, static_cast<int>(m_value.i16)); break;
        case KindUInt16: AppendInteger(out, static_cast<unsigned int>(m_value.u16)); break;
        case KindInt32: AppendInteger(out, m_value.i32); break;
        case KindUInt32: AppendInteger(out, m_value.u32); break;
        case KindInt64: AppendInteger(out, m_value.i64); break;
        case KindUInt64: AppendInteger(out, m_value.u64); break;
        case KindFloat: out = Widen(floatToString(static_cast<double>(m_value.f))); break;
        case KindDouble: out = Widen(floatToString(m_value.d)); break;
        case KindStringA: out = Widen(*m_value.stringA); break;
        case KindStringW: out = *m_value.stringW; break;
        case KindDateTime: out = m_value.dateTime->Format(L"Y-m-d H:i:s", false); break;
        default: Raise(ERaise::VariantToStringSource);
    }
    return out;
}

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

void QvVariant::convertToBool() {
    const bool value = boolValue();
    *this = value;
}

void QvVariant::convertToChar() {
    const char value = charValue();
    *this = value;
}

void QvVariant::convertToInt8() {
    const auto value = static_cast<signed char>(integerBits(kInt8));
    *this = value;
}

void QvVariant::convertToUInt8() {
    const auto value = static_cast<unsigned char>(integerBits(kUInt8));
    *this = value;
}

void QvVariant::convertToInt16() {
    const auto value = static_cast<short>(integerBits(kInt16));
    *this = value;
}

void QvVariant::convertToUInt16() {
    const auto value = static_cast<unsigned short>(integerBits(kUInt16));
    *this = value;
}

void QvVariant::convertToInt32() {
    const auto value = static_cast<int>(integerBits(kInt32));
    *this = value;
}

void QvVariant::convertToUInt32() {
    const auto value = static_cast<unsigned int>(integerBits(kUInt32));
    *this = value;
}

void QvVariant::convertToInt64() {
    const auto value = static_cast<long long>(integerBits(kInt64));
    *this = value;
}

void QvVariant::convertToUInt64() {
    const unsigned long long value = integerBits(kUInt64);
    *this = value;
}

void QvVariant::convertToFloat() {
    const float value = floatValue();
    *this = value;
}

void QvVariant::convertToDouble() {
    const double value = doubleValue();
    *this = value;
}

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
    Type QvVariant::Name() const {                           \
        if (m_kind == (kind)) return m_value.member;         \
        checkCopyable();                                     \
        return Converting([&] { return compute; });          \
    }

TAVRIN_VARIANT_TO(bool, ToBool, KindBool, b, boolValue())
TAVRIN_VARIANT_TO(char, ToChar, KindChar, c, charValue())
TAVRIN_VARIANT_TO(signed char, ToInt8, KindInt8, i8, static_cast<signed char>(integerBits(kInt8)))
TAVRIN_VARIANT_TO(unsigned char, ToUInt8, KindUInt8, u8,
                  static_cast<unsigned char>(integerBits(kUInt8)))
TAVRIN_VARIANT_TO(short, ToInt16, KindInt16, i16, static_cast<short>(integerBits(kInt16)))
TAVRIN_VARIANT_TO(unsigned short, ToUInt16, KindUInt16, u16,
                  static_cast<unsigned short>(integerBits(kUInt16)))
TAVRIN_VARIANT_TO(int, ToInt32, KindInt32, i32, static_cast<int>(integerBits(kInt32)))
TAVRIN_VARIANT_TO(unsigned int, ToUInt32, KindUInt32, u32,
                  static_cast<unsigned int>(integerBits(kUInt32)))
TAVRIN_VARIANT_TO(long long, ToInt64, KindInt64, i64, static_cast<long long>(integerBits(kInt64)))
TAVRIN_VARIANT_TO(unsigned long long, ToUInt64, KindUInt64, u64, integerBits(kUInt64))
TAVRIN_VARIANT_TO(float, ToFloat, KindFloat, f, floatValue())
TAVRIN_VARIANT_TO(double, ToDouble, KindDouble, d, doubleValue())

#undef TAVRIN_VARIANT_TO

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

// ---- text functions ----------------------------------------------------------------------------

bool QvVariant::stringToBool(const char* text) {
    return stringToBool(std::string_view(text ? text : ""));
}

bool QvVariant::stringToBool(const wchar_t* text) {
    return stringToBool(std::wstring_view(text ? text : L""));
}

bool QvVariant::stringToBool(std::string_view text) {
    bool ok = false;
    const bool value = ParseBool(text, ok);
    if (!ok) Raise(ERaise::VariantStringToBoolNarrow);
    return value;
}

bool QvVariant::stringToBool(std::wstring_view text) {
    bool ok = false;
    const bool value = ParseBool(text, ok);
    if (!ok) Raise(ERaise::VariantStringToBoolWide);
    return value;
}

long long QvVariant::stringToInt(const char* text) {
    return stringToInt(std::string_view(text ? text : ""));
}

long long QvVariant::stringToInt(const wchar_t* text) {
    return stringToInt(std::wstring_view(text ? text : L""));
}

long long QvVariant::stringToInt(std::string_view text) {
    text = UpToNul(text);
    unsigned long long value = 0;
    if (!ScanInteger(text.data(), text.data() + text.size(), true, value)) {
        Raise(ERaise::VariantStringToIntNarrow);
    }
    return static_cast<long long>(value);
}

long long QvVariant::stringToInt(std::wstring_view text) {
    text = UpToNul(text);
    unsigned long long value = 0;
    if (!ScanInteger(text.data(), text.data() + text.size(), true, value)) {
        Raise(ERaise::VariantStringToIntWide);
    }
    return static_cast<long long>(value);
}

unsigned long long QvVariant::stringToUInt(const char* text) {
    return stringToUInt(std::string_view(text ? text : ""));
}

unsigned long long QvVariant::stringToUInt(const wchar_t* text) {
    return stringToUInt(std::wstring_view(text ? text : L""));
}

unsigned long long QvVariant::stringToUInt(std::string_view text) {
    text = UpToNul(text);
    unsigned long long value = 0;
    if (!ScanInteger(text.data(), text.data() + text.size(), false, value)) {
        Raise(ERaise::VariantStringToUIntNarrow);
    }
    return value;
}

unsigned long long QvVariant::stringToUInt(std::wstring_view text) {
    text = UpToNul(text);
    unsigned long long value = 0;
    if (!ScanInteger(text.data(), text.data() + text.size(), false, value)) {
        Raise(ERaise::VariantStringToUIntWide);
    }
    return value;
}

double QvVariant::stringToDouble(const char* text) { return WholeTextToDouble(text ? text : ""); }

double QvVariant::stringToDouble(const wchar_t* text) {
    return WholeTextToDouble(text ? text : L"");
}

double QvVariant::stringToDouble(std::string_view text) { return CountedToDouble(text); }

double QvVariant::stringToDouble(std::wstring_view text) { return CountedToDouble(text); }

std::string QvVariant::floatToString(double value) {
    // "%f" of the largest double is 317 characters.
    char buffer[512];
    const int length = Tavrin::Platform::PrintFixed(buffer, sizeof buffer, value);
    if (length < 0 || static_cast<size_t>(length) >= sizeof buffer) {
        Raise(ERaise::VariantFloatToString);
    }
    return std::string(buffer, static_cast<size_t>(length));
}

// ---- text views for the readers ----------------------------------------------------------------

namespace {

// The wide text that a view in the wide form stands for.
std::wstring WideForm(std::string_view text) { return Widen(text); }

}  // namespace

void QvVariant::ConvertText(std::string_view text, ETextForm form, bool& value) {
    // Only ASCII letters and digits can match, so the bytes of a wide-form text decide as its
    // characters would.
    value = Converting([&] {
        if (form == ETextForm::Narrow) return stringToBool(text);
        bool ok = false;
        const bool result = ParseBool(text, ok);
        if (!ok) Raise(ERaise::VariantStringToBoolWide);
        return result;
    });
}

void QvVariant::ConvertText(std::string_view text, ETextForm form, char& value) {
    value = Converting([&] {
        if (form == ETextForm::Narrow) {
            if (text.size() != 1) Raise(ERaise::VariantToCharNarrow);
            return text[0];
        }
        const std::wstring wide = WideForm(text);
        if (!IsSingleUnit(wide)) Raise(ERaise::VariantToCharWide);
        return static_cast<char>(static_cast<unsigned char>(wide[0] & 0xFF));
    });
}

namespace {

// The integer rules only look at ASCII characters, so the UTF-8 bytes of a wide-form text scan
// exactly as its decoded characters would; only the exception line differs.
unsigned long long TextBits(std::string_view text, QvVariant::ETextForm form, bool isSigned) {
    text = UpToNul(text);
    unsigned long long value = 0;
    if (!ScanInteger(text.data(), text.data() + text.size(), isSigned, value)) {
        const bool wide = form == QvVariant::ETextForm::Wide;
        if (isSigned) Raise(wide ? ERaise::VariantStringToIntWide : ERaise::VariantStringToIntNarrow);
        Raise(wide ? ERaise::VariantStringToUIntWide : ERaise::VariantStringToUIntNarrow);
    }
    return value;
}

double TextDouble(std::string_view text, QvVariant::ETextForm form) {
    if (form == QvVariant::ETextForm::Wide && !IsAscii(text)) {
        return QvVariant::stringToDouble(std::wstring_view(WideForm(text)));
    }
    return QvVariant::stringToDouble(text);
}

}  // namespace

#define TAVRIN_VARIANT_TEXT_TO_INTEGER(Type, isSigned)                                     \
    void QvVariant::ConvertText(std::string_view text, ETextForm form, Type& value) {      \
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
        return Narrow(WideForm(text));
    });
}

void QvVariant::ConvertText(std::string_view text, ETextForm /*form*/, std::wstring& value) {
    value = Converting([&] { return WideForm(text); });
}

void QvVariant::ConvertText(std::string_view text, ETextForm form, QvDateTime& value) {
    value = Converting([&] {
        if (form == ETextForm::Narrow) return QvDateTime(text, false);
        return QvDateTime(std::wstring_view(WideForm(text)), false);
    });
}
