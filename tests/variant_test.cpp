// Variant: text to number rules, conversions between kinds, printing, the exceptions of every
// conversion step and accessor, object copies and the thread's locale.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "../core/platform/threadlocale.h"
#include "support/bytes.h"
#include "support/raising.h"
#include "support/random.h"

namespace {

using K = QvVariant;

void ExpectFails(const std::function<void()>& f, unsigned int line, const char* function,
                 CallSite where = CallSite::current()) {
    ExpectThrowsAt<QvExceptionConversion>(f, "core/basepool/qvvariant.cpp", line, function, where);
}

QvVariant Wide(const wchar_t* text) { return QvVariant(std::wstring(text)); }
QvVariant Narrow(const char* text) { return QvVariant(std::string(text)); }

TEST(VariantText, IntegersFollowFormattedInput) {
    EXPECT_EQ(Wide(L"42").ToInt32(), 42);
    EXPECT_EQ(Narrow("0x1F").ToInt32(), 31);
    EXPECT_EQ(Narrow("-0X1f").ToInt64(), -31);
    EXPECT_EQ(Narrow("010").ToInt32(), 8);
    EXPECT_EQ(Narrow("08").ToInt32(), 0);  // octal stops at 8
    EXPECT_EQ(Narrow("12abc").ToInt32(), 12);
    EXPECT_EQ(Narrow(" \t\n+7 z").ToInt32(), 7);
    EXPECT_EQ(Narrow("-1").ToUInt32(), 4294967295u);
    EXPECT_EQ(Narrow("0x1F").ToUInt32(), 0u);  // decimal only
    EXPECT_EQ(Narrow("0x").ToUInt32(), 0u);    // decimal: the 0 is the number
    EXPECT_EQ(Narrow("70000").ToInt16(), 4464);
    EXPECT_EQ(Wide(L"300").ToUInt8(), 44);
    EXPECT_EQ(Narrow("-129").ToInt8(), 127);
    // Accumulates modulo 2^64, no saturation.
    EXPECT_EQ(Narrow("99999999999999999999").ToUInt64(), 7766279631452241919ull);
    EXPECT_EQ(Narrow("18446744073709551615").ToInt64(), -1);
    // The text ends at its terminator.
    EXPECT_EQ(QvVariant::stringToInt(std::string_view("12\00034", 5)), 12);

    ExpectFails([] { Narrow("").ToInt32(); }, 794, "stringToInt");
    ExpectFails([] { Narrow("  ").ToInt64(); }, 794, "stringToInt");
    ExpectFails([] { Wide(L"- 5").ToInt16(); }, 812, "stringToInt");
    ExpectFails([] { Narrow("x1").ToUInt16(); }, 830, "stringToUInt");
    ExpectFails([] { Wide(L"").ToUInt64(); }, 848, "stringToUInt");
    // "0x" is only a prefix: without a hexadecimal digit after it nothing was scanned.
    ExpectFails([] { Narrow(" -0Xg").ToInt64(); }, 794, "stringToInt");
    ExpectFails([] { Wide(L"0x").ToInt8(); }, 812, "stringToInt");
    ExpectFails([] { QvVariant::stringToUInt(std::string_view("\0001", 2)); }, 830, "stringToUInt");
}

TEST(VariantText, DoublesBooleansAndChars) {
    EXPECT_EQ(Narrow("1.5").ToFloat(), 1.5f);
    EXPECT_EQ(Wide(L"42").ToDouble(), 42.0);
    EXPECT_EQ(Narrow("  -2.25e1").ToDouble(), -22.5);
    EXPECT_EQ(Narrow("").ToDouble(), 0.0);
    EXPECT_EQ(QvVariant::stringToDouble(std::wstring_view(L"0.5xyz", 3)), 0.5);
    // Beyond the float range a float target becomes infinity, not undefined behaviour.
    EXPECT_TRUE(std::isinf(Narrow("1e300").ToFloat()));
    EXPECT_EQ(Narrow("3.4028235e38").ToFloat(), std::numeric_limits<float>::max());
    ExpectFails([] { Narrow("1.5 ").ToDouble(); }, 702, "stringToDouble");
    ExpectFails([] { Wide(L"1,5").ToFloat(); }, 702, "stringToDouble");
    ExpectFails([] { Narrow(" ").ToDouble(); }, 702, "stringToDouble");

    // Only true, false (any case), 1 and 0 are booleans.
    EXPECT_TRUE(Narrow("TRUE").ToBool());
    EXPECT_TRUE(Wide(L"tRuE").ToBool());
    EXPECT_FALSE(Narrow("False").ToBool());
    EXPECT_TRUE(Narrow("1").ToBool());
    EXPECT_FALSE(Wide(L"0").ToBool());
    ExpectFails([] { Narrow("yes").ToBool(); }, 749, "stringToBool");
    ExpectFails([] { Narrow(" true").ToBool(); }, 749, "stringToBool");
    ExpectFails([] { Wide(L"42").ToBool(); }, 777, "stringToBool");
    ExpectFails([] { Wide(L"01").ToBool(); }, 777, "stringToBool");

    // A char needs exactly one unit; a wide one gives its low byte.
    EXPECT_EQ(Narrow("A").ToChar(), 'A');
    EXPECT_EQ(Wide(L"\u0141").ToChar(), '\x41');
    EXPECT_EQ(QvVariant(321).ToChar(), static_cast<char>(65));
    ExpectFails([] { Wide(L"42").ToChar(); }, 929, "convertToChar");
    ExpectFails([] { Wide(L"\U0001F600").ToChar(); }, 929, "convertToChar");  // two units
    ExpectFails([] { Narrow("").ToChar(); }, 926, "convertToChar");
    ExpectFails([] { Narrow("\xC3\xA9").ToChar(); }, 926, "convertToChar");
    ExpectFails([] { QvVariant().ToChar(); }, 969, "convertToUInt8");
}

TEST(VariantNumbers, FloatingToIntegerRounding) {
    EXPECT_EQ(QvVariant(2.5).ToInt32(), 3);
    EXPECT_EQ(QvVariant(-2.5).ToInt32(), -2);
    EXPECT_EQ(QvVariant(2.0).ToInt32(), 2);
    EXPECT_EQ(QvVariant(-3.7f).ToInt16(), -4);
    EXPECT_EQ(QvVariant(0.49999999999999994).ToInt32(), 1);  // floor(x + 0.5), not round()
    EXPECT_EQ(QvVariant(-1.0).ToUInt64(), std::numeric_limits<unsigned long long>::max());
    EXPECT_EQ(QvVariant(4294967296.0 + 5).ToUInt32(), 5u);  // through 64 bits, low bits kept
    EXPECT_EQ(QvVariant(65537.0).ToUInt16(), 1);
    EXPECT_EQ(QvVariant(1e19).ToUInt64(), 10000000000000000000ull);
    // Values the intermediate cannot hold give the "integer indefinite" value.
    EXPECT_EQ(QvVariant(std::nan("")).ToInt32(), std::numeric_limits<int>::min());
    EXPECT_EQ(QvVariant(1e10).ToInt32(), std::numeric_limits<int>::min());
    EXPECT_EQ(QvVariant(1e10).ToInt64(), 10000000000ll);
    EXPECT_EQ(QvVariant(-1e300).ToInt64(), std::numeric_limits<long long>::min());
}

TEST(VariantNumbers, IntegersAreBitPatterns) {
    EXPECT_EQ(QvVariant(static_cast<signed char>(-1)).ToInt32(), 255);
    EXPECT_EQ(QvVariant(static_cast<short>(-1)).ToInt32(), 65535);
    EXPECT_EQ(QvVariant(-1).ToInt64(), 4294967295ll);
    EXPECT_EQ(QvVariant(-1LL).ToInt16(), -1);
    EXPECT_EQ(QvVariant('\xFF').ToUInt16(), 255);
    QvVariant b(true);
    b.ConvertTo(K::KindUInt16);
    EXPECT_EQ(b.GetKind(), K::KindUInt16);
    EXPECT_EQ(static_cast<unsigned short&>(b), 1);
    QvVariant a('A');
    a.ConvertTo(K::KindInt16);
    EXPECT_EQ(a.GetKind(), K::KindInt16);
    EXPECT_EQ(static_cast<short&>(a), 65);

    // Signed sources are signed numbers for floating targets; a char is signed.
    EXPECT_EQ(QvVariant('\xFF').ToDouble(), -1.0);
    EXPECT_EQ(QvVariant(static_cast<unsigned char>(255)).ToFloat(), 255.0f);
    EXPECT_EQ(QvVariant(18446744073709551615ull).ToDouble(), 18446744073709551616.0);
    // Straight to float, without double rounding on the way: 2^60 + 2^36 + 1 rounds up.
    EXPECT_EQ(QvVariant((1LL << 60) + (1LL << 36) + 1).ToFloat(), 0x1.000002p60f);

    EXPECT_TRUE(QvVariant(std::nan("")).ToBool());
    EXPECT_FALSE(QvVariant(-0.0).ToBool());
    EXPECT_TRUE(QvVariant(0.001f).ToBool());
    EXPECT_FALSE(QvVariant(0ull).ToBool());
}

TEST(VariantStrings, Printing) {
    EXPECT_EQ(QvVariant(4000000000u).ToStringA(), "4000000000");
    EXPECT_EQ(QvVariant(-5000000000LL).ToStringA(), "-5000000000");
    EXPECT_EQ(QvVariant(0.1).ToStringA(), "0.100000");
    EXPECT_EQ(QvVariant(1.5f).ToStringW(), L"1.500000");
    EXPECT_EQ(QvVariant(-1e20).ToStringA(), "-100000000000000000000.000000");
    EXPECT_EQ(QvVariant(true).ToStringA(), "1");
    EXPECT_EQ(QvVariant(static_cast<signed char>(-5)).ToStringA(), "-5");
    EXPECT_EQ(QvVariant(static_cast<unsigned short>(65535)).ToStringW(), L"65535");
    EXPECT_EQ(QvVariant(18446744073709551615ull).ToStringA(), "18446744073709551615");
    // A char is one unit, the byte taken as signed.
    EXPECT_EQ(QvVariant('\xE9').ToStringW(), std::wstring(1, wchar_t(0xFFE9)));
    EXPECT_EQ(QvVariant('\xE9').ToStringA(), "\xEF\xBF\xA9");
    // Between the string kinds through UTF-8.
    EXPECT_EQ(Wide(L"\u00e9\U0001F600").ToStringA(), "\xC3\xA9\xF0\x9F\x98\x80");
    QvVariant n = Narrow("\xC3\xA9");
    n.ConvertTo(K::KindStringW);
    EXPECT_STREQ(static_cast<const wchar_t*>(n), L"\u00e9");

    // Date-times: from either string kind, printed with "Y-m-d H:i:s".
    QvVariant text = Narrow("2024-01-05 10:20:30");
    text.ConvertTo(K::KindDateTime);
    EXPECT_EQ(static_cast<const QvDateTime&>(text).GetSecond(), 30);
    EXPECT_EQ(text.ToStringA(), "2024-01-05 10:20:30");
    EXPECT_EQ(Wide(L"2024-01-05T10:20:30").ToDateTime().Format(L"Y-m-d H:i:s", false),
              L"2024-01-05 10:20:30");
    ExpectThrowsAt<QvExceptionConversion>([] { Narrow("2024-01-05").ToDateTime(); },
                                          "core/basepool/qvdatetime.cpp", 248,
                                          "QvDateTime::QvDateTime");
    ExpectThrowsAt<QvExceptionConversion>([] { Wide(L"nope").ToDateTime(); },
                                          "core/basepool/qvdatetime.cpp", 299,
                                          "QvDateTime::QvDateTime");
    ExpectFails([] { QvVariant(5).ToDateTime(); }, 557, "QvVariant::ConvertTo");
}

TEST(VariantErrors, KindsWithoutARule) {
    for (const unsigned int kind : {9u, 11u, 17u, 19u, 1000u}) {
        QvVariant v(5);
        ExpectFails([&] { v.ConvertTo(static_cast<K::EKind>(kind)); }, 562, "QvVariant::ConvertTo");
        EXPECT_EQ(v.GetKind(), K::KindInt32);
    }
#define TAVRIN_STEP(name, line) \
    { &K::name, line, #name }
    const std::tuple<void (QvVariant::*)(), unsigned int, const char*> steps[] = {
        TAVRIN_STEP(convertToBool, 882),    TAVRIN_STEP(convertToInt8, 916),
        TAVRIN_STEP(convertToUInt8, 969),   TAVRIN_STEP(convertToInt16, 1003),
        TAVRIN_STEP(convertToUInt16, 1037), TAVRIN_STEP(convertToInt32, 1071),
        TAVRIN_STEP(convertToUInt32, 1105), TAVRIN_STEP(convertToInt64, 1139),
        TAVRIN_STEP(convertToUInt64, 1173), TAVRIN_STEP(convertToFloat, 1223),
        TAVRIN_STEP(convertToDouble, 1271),
    };
#undef TAVRIN_STEP
    for (const auto& entry : steps) {
        const auto step = std::get<0>(entry);  // plain copies: lambdas may not capture bindings
        const unsigned int line = std::get<1>(entry);
        const char* const function = std::get<2>(entry);
        QvVariant bytes{QvArray<unsigned char>()};
        ExpectFails([&] { (bytes.*step)(); }, line, function);
        EXPECT_EQ(bytes.GetKind(), K::KindByteArray);  // the source stays
        QvVariant date{QvDateTime("2024-01-05 10:20:30")};
        ExpectFails([&] { (date.*step)(); }, line, function);
    }
    ExpectFails([] { QvVariant(QvArray<unsigned char>()).ToStringA(); }, 1328, "convertToString");
    ExpectFails([] { QvVariant().ToStringW(); }, 1326, "convertToString");
    ExpectFails([] { QvVariant(1).convertToString(K::KindInt32); }, 1342, "convertToString");

    // A failing text step leaves the text in place; ConvertTo to the same kind does nothing
    // and to empty clears.
    QvVariant text = Narrow("abc");
    ExpectFails([&] { text.ConvertTo(K::KindInt32); }, 794, "stringToInt");
    text.ConvertTo(K::KindStringA);
    EXPECT_EQ(static_cast<const std::string&>(text), "abc");
    text.ConvertTo(K::KindEmpty);
    EXPECT_EQ(text.GetKind(), K::KindEmpty);
}

TEST(VariantErrors, CheckedAccessorLines) {
#define TAVRIN_ACCESS(T) [](QvVariant& v) { (void)static_cast<T>(v); }
    const std::tuple<std::function<void(QvVariant&)>, unsigned int, const char*> accessors[] = {
        {TAVRIN_ACCESS(bool&), 216, "QvVariant::operator bool &"},
        {TAVRIN_ACCESS(char&), 217, "QvVariant::operator char &"},
        {TAVRIN_ACCESS(signed char&), 218, "QvVariant::operator signed char &"},
        {TAVRIN_ACCESS(unsigned char&), 219, "QvVariant::operator unsigned char &"},
        {TAVRIN_ACCESS(short&), 220, "QvVariant::operator short &"},
        {TAVRIN_ACCESS(unsigned short&), 221, "QvVariant::operator unsigned short &"},
        {TAVRIN_ACCESS(int&), 222, "QvVariant::operator int &"},
        {TAVRIN_ACCESS(unsigned int&), 223, "QvVariant::operator unsigned int &"},
        {TAVRIN_ACCESS(long long&), 224, "QvVariant::operator __int64 &"},
        {TAVRIN_ACCESS(unsigned long long&), 225, "QvVariant::operator unsigned __int64 &"},
        {TAVRIN_ACCESS(float&), 226, "QvVariant::operator float &"},
        {TAVRIN_ACCESS(double&), 227, "QvVariant::operator double &"},
        {TAVRIN_ACCESS(const std::string&), 228,
         "QvVariant::operator const class ATL::CStringT<char,class "
         "ATL::StrTraitATL<char,class ATL::ChTraitsCRT<char> > > &"},
        {TAVRIN_ACCESS(const std::wstring&), 229,
         "QvVariant::operator const class ATL::CStringT<wchar_t,class "
         "ATL::StrTraitATL<wchar_t,class ATL::ChTraitsCRT<wchar_t> > > &"},
        {TAVRIN_ACCESS(const QvDateTime&), 231, "QvVariant::operator const class QvDateTime &"},
        {TAVRIN_ACCESS(const char*), 235, "QvVariant::operator const char *"},
        {TAVRIN_ACCESS(const wchar_t*), 237, "QvVariant::operator const wchar_t *"},
    };
#undef TAVRIN_ACCESS
    for (const auto& entry : accessors) {
        const auto& access = std::get<0>(entry);
        const unsigned int line = std::get<1>(entry);
        const char* const function = std::get<2>(entry);
        // An empty variant, and one of another kind (a double for all but the double accessor).
        QvVariant empty, other = line == 227 ? QvVariant(7) : QvVariant(1.5);
        ExpectFails([&] { access(empty); }, line, function);
        ExpectFails([&] { access(other); }, line, function);
    }
    // The reference reaches the stored value.
    QvVariant i(7);
    static_cast<int&>(i) = 9;
    EXPECT_EQ(i.ToInt64(), 9);
}

class CPoint : public IObject {
public:
    explicit CPoint(int value) : x(value) {}
    const wchar_t* GetRuntimeClassName() const override { return L"VariantTest.Point"; }
    int x;
};

IObject* ClonePoint(const IObject& o) { return new CPoint(static_cast<const CPoint&>(o)); }
IObject* RefuseClone(const IObject&) { return nullptr; }

TEST(VariantCopy, ValuesObjectsAndMoves) {
    QvVariant s = Narrow("text");
    QvVariant copy(s);
    copy = "other";  // overwrites the copy's own string in place
    EXPECT_EQ(s.ToStringA(), "text");
    EXPECT_EQ(copy.ToStringA(), "other");
    copy = 5;
    const QvVariant& self = copy;
    copy = self;  // self-assignment keeps the value
    EXPECT_EQ(copy.ToInt32(), 5);
    QvVariant moved(std::move(s));
    EXPECT_EQ(moved.ToStringA(), "text");
    EXPECT_EQ(s.GetKind(), K::KindEmpty);  // moved-from state: empty, as documented

    QvRTTI::registerClone(L"VariantTest.Point", &ClonePoint);
    QvVariant point;
    point = CPoint(7);
    QvVariant pointCopy;
    pointCopy = point;
    ASSERT_NE(pointCopy.GetObjectPointer(), nullptr);
    EXPECT_NE(pointCopy.GetObjectPointer(), point.GetObjectPointer());
    EXPECT_EQ(static_cast<const CPoint*>(pointCopy.GetObjectPointer())->x, 7);
    ExpectFails([&] { (void)point.ToInt32(); }, 1071, "convertToInt32");

    // No clone made: the target is left of kind object holding none. A converting accessor
    // copies first, so the failed clone is what it reports.
    QvRTTI::registerClone(L"VariantTest.Point", &RefuseClone);
    QvVariant target = Narrow("old");
    ExpectFails([&] { target = point; }, 399, "QvVariant::operator =");
    EXPECT_EQ(target.GetKind(), K::KindObject);
    EXPECT_EQ(target.GetObjectPointer(), nullptr);
    ExpectFails([&] { (void)point.ToInt32(); }, 399, "QvVariant::operator =");
    QvRTTI::registerClone(L"VariantTest.Point", nullptr);  // no class registered
    ExpectFails([&] { QvVariant again(point); }, 399, "QvVariant::operator =");
    point = std::unique_ptr<IObject>(new CPoint(3));
    EXPECT_EQ(static_cast<const CPoint*>(point.GetObjectPointer())->x, 3);
}

// ConvertText of `text` must give what a variant holding the same text gives through `to`.
template <class T>
void ExpectSameAsVariant(const char* text, K::ETextForm form, T (QvVariant::*to)() const) {
    const bool narrow = form == K::ETextForm::Narrow;
    const QvVariant v =
        narrow ? QvVariant(std::string(text)) : QvVariant(Tavrin::Encodings::FromUTF8(text));
    T a{}, b{};
    const SThrown x = CatchThrown([&] { QvVariant::ConvertText(text, form, a); });
    const SThrown y = CatchThrown([&] { b = (v.*to)(); });
    const std::string what = std::string(text) + (narrow ? " narrow" : " wide");
    EXPECT_EQ(std::tie(x.thrown, x.line, x.function, x.file),
              std::tie(y.thrown, y.line, y.function, y.file))
        << what;
    if constexpr (std::is_same_v<T, QvDateTime>) {
        // A date-time starts as the current time; where both conversions failed, the two
        // targets were made at different instants and are not compared.
        if (!x.thrown) {
            EXPECT_EQ(a.ToFileTime(), b.ToFileTime()) << what;
        }
    } else {
        EXPECT_EQ(a, b) << what;
    }
}

template <auto... To>
void ExpectAllSameAsVariant(const char* text, K::ETextForm form) {
    (ExpectSameAsVariant(text, form, To), ...);
}

TEST(VariantConvertText, MatchesTheVariant) {
    const std::vector<std::string> texts = TestSupport::Split(
        "42|-1|0x1F|010|12abc|70000|| |1.5|1.5 |true|FALSE|0|A|\xC3\xA9|x|2024-01-05T10:20:30|"
        "99999999999999999999|-2.5e0|\xE2\x80\x83\x31|0x|-0xg|"
        "0x7f");
    for (const std::string& text : texts) {
        for (const K::ETextForm form : {K::ETextForm::Narrow, K::ETextForm::Wide}) {
            ExpectAllSameAsVariant<&K::ToBool, &K::ToChar, &K::ToInt8, &K::ToUInt8, &K::ToInt16,
                                   &K::ToUInt16, &K::ToInt32, &K::ToUInt32, &K::ToInt64,
                                   &K::ToUInt64, &K::ToFloat, &K::ToDouble, &K::ToStringA,
                                   &K::ToStringW, &K::ToDateTime>(text.c_str(), form);
        }
    }
    // Nothing is stored when the conversion fails.
    int untouched = 17;
    EXPECT_TRUE(Throws([&] { QvVariant::ConvertText("abc", K::ETextForm::Narrow, untouched); }));
    EXPECT_EQ(untouched, 17);
}

TEST(VariantTypedAssignment, OverwritesInPlaceAndSwitchesKinds) {
    QvVariant v = Narrow("abc");
    const std::string* held = &static_cast<const std::string&>(v);
    v = "xyz";
    EXPECT_EQ(&static_cast<const std::string&>(v), held);
    v = std::string_view(static_cast<const char*>(v) + 1);  // a view into the held text
    EXPECT_EQ(v.ToStringA(), "yz");
    v = static_cast<const char*>(nullptr);
    EXPECT_EQ(v.ToStringA(), "");
    v = 5L;  // long and unsigned long are the 64-bit kinds
    EXPECT_EQ(v.GetKind(), K::KindInt64);
    v = 5ul;
    EXPECT_EQ(v.GetKind(), K::KindUInt64);
    v.Clear();
    EXPECT_EQ(v.GetKind(), K::KindEmpty);
}

// Every numeric source kind to the numeric targets and to text: a member of the wrong width
// or signedness read from the held value would show here. Integer targets take the source's
// bit pattern zero-extended (so int8 -2 is 254 as int64); floating targets and text take its
// value; floating sources are rounded, and -2 wraps to 2^64 - 2 as uint64.
TEST(VariantNumbers, EverySourceKindToEveryTarget) {
    struct SSource {
        QvVariant value;
        unsigned long long bits;
        double number;
        const char* text;
    };
    const SSource sources[] = {
        {QvVariant(true), 1, 1, nullptr},
        {QvVariant(static_cast<signed char>(-2)), 0xFE, -2, "-2"},
        {QvVariant(static_cast<unsigned char>(200)), 200, 200, "200"},
        {QvVariant(static_cast<short>(-2)), 0xFFFE, -2, "-2"},
        {QvVariant(static_cast<unsigned short>(60000)), 60000, 60000, "60000"},
        {QvVariant(-2), 0xFFFFFFFE, -2, "-2"},
        {QvVariant(4000000000u), 4000000000u, 4e9, "4000000000"},
        {QvVariant(-2LL), ~1ull, -2, "-2"},
        {QvVariant(~0ull), ~0ull, 18446744073709551615.0, "18446744073709551615"},
        {QvVariant(-2.0f), ~1ull, -2, nullptr},
        {QvVariant(-2.0), ~1ull, -2, nullptr},
    };
    for (const SSource& s : sources) {
        SCOPED_TRACE(s.number);
        EXPECT_EQ(s.value.ToDouble(), s.number);
        EXPECT_EQ(s.value.ToFloat(), static_cast<float>(s.number));
        EXPECT_EQ(s.value.ToBool(), s.number != 0);
        EXPECT_EQ(s.value.ToUInt64(), s.bits);
        EXPECT_EQ(s.value.ToInt64(), static_cast<long long>(s.bits));
        EXPECT_EQ(s.value.ToUInt32(), static_cast<unsigned int>(s.bits));
        EXPECT_EQ(s.value.ToInt32(), static_cast<int>(static_cast<unsigned int>(s.bits)));
        EXPECT_EQ(s.value.ToUInt16(), static_cast<unsigned short>(s.bits));
        EXPECT_EQ(s.value.ToInt8(), static_cast<signed char>(static_cast<unsigned char>(s.bits)));
        EXPECT_EQ(s.value.ToChar(), static_cast<char>(static_cast<unsigned char>(s.bits)));
        if (s.text != nullptr) {
            EXPECT_EQ(s.value.ToStringA(), s.text);
            EXPECT_EQ(s.value.ToStringW(), Tavrin::Encodings::FromUTF8(s.text));
        }
    }
}

// Assignment between kinds that own their payload: each copy is independent, a move leaves the
// source empty, and switching kinds frees the old payload (the sanitizer build sees a leak).
TEST(VariantCopy, OwnedPayloadsBetweenKinds) {
    QvArray<unsigned char> bytes;
    bytes.Add(1);
    bytes.Add(2);
    const QvVariant sources[] = {Wide(L"w\u00E9"), QvVariant(bytes),
                                 QvVariant(QvDateTime::FromFileTime(123450000)), Narrow("n")};
    for (const QvVariant& source : sources) {
        QvVariant target = Narrow("old");
        target = source;
        EXPECT_EQ(target.GetKind(), source.GetKind());
        QvVariant moved;
        moved = std::move(target);
        EXPECT_EQ(moved.GetKind(), source.GetKind());
        EXPECT_EQ(target.GetKind(), K::KindEmpty);
    }
    QvVariant v = Wide(L"abc");
    v = std::wstring_view(L"xy");
    EXPECT_EQ(v.ToStringW(), L"xy");
    v = static_cast<const wchar_t*>(nullptr);
    EXPECT_EQ(v.ToStringW(), L"");
    v = bytes;  // a new array, then written in place
    bytes.Add(3);
    v = bytes;
    EXPECT_EQ(static_cast<const QvArray<unsigned char>&>(v).GetCount(), 3u);
    EXPECT_EQ(static_cast<const QvArray<unsigned char>&>(sources[1]).GetCount(), 2u);
    v = QvDateTime::FromFileTime(10000);
    v = QvDateTime::FromFileTime(20000);  // in place
    EXPECT_EQ(v.ToDateTime().ToFileTime(), 20000u);
}

// Inside the guard plain decimals take a faster path than strtod; every text must still give
// strtod's value, bit for bit, and what strtod refuses must still be refused.
TEST(VariantLocale, DecimalTextGivesWhatStrtodGives) {
    const Tavrin::Platform::CThreadLocaleGuard guard;
    std::vector<std::string> plain = TestSupport::Split(
        "0|-0|1|1.5|-2.25e-3|9007199254740993|0.1|1e308|1E5|1e+5|1.7976931348623157e308|"
        "2.2250738585072011e-308|4.9406564584124654e-324|2.4703282292062328e-324|1e400|-1e400|"
        "1e-400|0001.2500|123456789012345678901234567890|0.30000000000000004441");
    TestSupport::CRandom random(7);
    for (int i = 0; i < 2000; ++i) {
        double d = 0;
        const uint64_t bits = random.Next();
        std::memcpy(&d, &bits, sizeof d);
        if (!std::isfinite(d)) continue;
        char text[40];
        std::snprintf(text, sizeof text, i % 2 ? "%.17g" : "%.9g", d);
        plain.emplace_back(text);
    }
    auto same = [](const std::string& text) {
        SCOPED_TRACE(text);
        const double expected = std::strtod(text.c_str(), nullptr);
        const double a = QvVariant::stringToDouble(text.c_str());
        const double b = QvVariant::stringToDouble(std::string_view(text));
        EXPECT_EQ(std::memcmp(&a, &expected, sizeof a), 0);
        EXPECT_EQ(std::memcmp(&b, &expected, sizeof b), 0);
    };
    for (const std::string& text : plain) same(text);
    // Not plain decimals: refused where strtod refuses; otherwise strtod's value, unless the
    // variant's own rules refuse the text.
    for (const std::string text :
         {"0x1p3", "+2", "inf", "-nan", "1.", ".5", "1e", "1.5x", "1e5 "}) {
        SCOPED_TRACE(text);
        char* end = nullptr;
        const double expected = std::strtod(text.c_str(), &end);
        double got = 0;
        const bool threw =
            Throws<QvExceptionConversion>([&] { got = QvVariant::stringToDouble(text.c_str()); });
        EXPECT_TRUE(threw || *end == '\0');
        EXPECT_TRUE(threw || std::memcmp(&got, &expected, sizeof got) == 0);
    }
}

// In a German locale: the comma is the separator, and the guard gives "C" and puts the
// locale back, also when its scope is left by an exception.
void ExpectGermanConversionsAndTheGuard() {
    EXPECT_EQ(Wide(L"1,5").ToDouble(), 1.5);
    ExpectFails([] { QvVariant::stringToDouble("1.5"); }, 702, "stringToDouble");
    EXPECT_EQ(QvVariant(0.5).ToStringA(), "0,500000");
    {
        Tavrin::Platform::CThreadLocaleGuard guard;
        EXPECT_EQ(QvVariant::stringToDouble("1.5"), 1.5);
        EXPECT_EQ(Wide(L"2.5").ToDouble(), 2.5);
        EXPECT_EQ(QvVariant(0.5).ToStringA(), "0.500000");
    }
    try {
        Tavrin::Platform::CThreadLocaleGuard guard;
        throw std::runtime_error("leaves the scope");
    } catch (const std::runtime_error&) {}
    EXPECT_EQ(QvVariant::stringToDouble("1,5"), 1.5);
}

// The thread's locale decides the decimal separator; the guard gives "C" and puts it back.
#if !defined(_WIN32)
TEST(VariantLocale, ThreadLocaleAndGuard) {
    locale_t german = ::newlocale(LC_ALL_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
    if (!german) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
    std::thread worker([german] {
        const locale_t before = ::uselocale(german);
        ExpectGermanConversionsAndTheGuard();
        EXPECT_EQ(Tavrin::Platform::CurrentThreadLocale(), german);
        ::uselocale(before);
    });
    worker.join();
    // A thread that follows the process locale follows it again after a guard.
    {
        Tavrin::Platform::CThreadLocaleGuard guard;
        EXPECT_EQ(Tavrin::Platform::CurrentThreadLocale(), Tavrin::Platform::CLocale());
    }
    EXPECT_EQ(Tavrin::Platform::CurrentThreadLocale(), LC_GLOBAL_LOCALE);
    ::freelocale(german);
}
#else
// The same on Windows, where a thread has a locale of its own after _configthreadlocale; a C
// runtime without it has one locale for the process, and then only the library's conversions
// are switched to "C".
TEST(VariantLocale, ThreadLocaleAndGuard) {
    using Tavrin::Platform::ConfigThreadLocale;
    const std::string process = setlocale(LC_ALL, nullptr);
    if (!Tavrin::Platform::HasPerThreadLocale()) {
        if (!setlocale(LC_ALL, "German_Germany.1252")) GTEST_SKIP() << "no German locale";
        ExpectGermanConversionsAndTheGuard();
        setlocale(LC_ALL, process.c_str());
        return;
    }
    std::string german;
    std::thread([&] {
        ConfigThreadLocale(_ENABLE_PER_THREAD_LOCALE);
        if (const char* name = setlocale(LC_ALL, "German_Germany.1252")) german = name;
    }).join();
    if (german.empty()) GTEST_SKIP() << "no German locale";
    std::thread worker([&german] {
        ConfigThreadLocale(_ENABLE_PER_THREAD_LOCALE);
        setlocale(LC_ALL, german.c_str());
        ExpectGermanConversionsAndTheGuard();
        EXPECT_EQ(setlocale(LC_ALL, nullptr), german);
        EXPECT_EQ(ConfigThreadLocale(0), _ENABLE_PER_THREAD_LOCALE);
    });
    worker.join();
    // A thread that follows the process locale follows it again after a guard.
    {
        Tavrin::Platform::CThreadLocaleGuard guard;
        EXPECT_EQ(ConfigThreadLocale(0), _ENABLE_PER_THREAD_LOCALE);
        EXPECT_STREQ(setlocale(LC_ALL, nullptr), "C");
    }
    EXPECT_EQ(ConfigThreadLocale(0), _DISABLE_PER_THREAD_LOCALE);
    EXPECT_EQ(setlocale(LC_ALL, nullptr), process);
}
#endif

}  // namespace
