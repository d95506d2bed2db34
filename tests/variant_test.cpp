#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "../core/platform/threadlocale.h"
#include "logcapture.h"

namespace {

using K = QvVariant;

struct SThrown {
    bool thrown = false;
    unsigned int line = 0;
    std::string function;
    std::string file;
};

SThrown Catch(const std::function<void()>& f) {
    LogCapture log;
    SThrown result;
    try {
        f();
    } catch (const QvExceptionConversion& e) {
        result.thrown = true;
        result.line = e.GetCodeLine();
        result.function = e.GetFunctionName();
        result.file = e.GetFilename();
    }
    return result;
}

void ExpectThrowsAt(const std::function<void()>& f, unsigned int line, const char* function) {
    const SThrown t = Catch(f);
    EXPECT_TRUE(t.thrown) << "expected line " << line;
    EXPECT_EQ(t.line, line);
    EXPECT_EQ(t.function, function);
    EXPECT_TRUE(t.file.ends_with("core/basepool/qvvariant.cpp")) << t.file;
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
    EXPECT_EQ(Narrow("-1").ToUInt64(), std::numeric_limits<unsigned long long>::max());
    EXPECT_EQ(Narrow("0x1F").ToUInt32(), 0u);  // decimal only
    EXPECT_EQ(Narrow("70000").ToInt16(), 4464);
    EXPECT_EQ(Wide(L"300").ToUInt8(), 44);
    EXPECT_EQ(Narrow("-129").ToInt8(), 127);
    // Accumulates modulo 2^64, no saturation.
    EXPECT_EQ(Narrow("99999999999999999999").ToUInt64(), 7766279631452241919ull);
    EXPECT_EQ(Narrow("18446744073709551615").ToInt64(), -1);

    ExpectThrowsAt([] { Narrow("").ToInt32(); }, 794, "stringToInt");
    ExpectThrowsAt([] { Narrow("  ").ToInt64(); }, 794, "stringToInt");
    ExpectThrowsAt([] { Wide(L"- 5").ToInt16(); }, 812, "stringToInt");
    ExpectThrowsAt([] { Narrow("x1").ToUInt16(); }, 830, "stringToUInt");
    // "0x" is only a prefix: without a hexadecimal digit after it nothing was scanned.
    EXPECT_EQ(Narrow("0xA").ToInt32(), 10);
    EXPECT_EQ(Narrow("0").ToInt32(), 0);
    ExpectThrowsAt([] { Narrow("0x").ToInt32(); }, 794, "stringToInt");
    ExpectThrowsAt([] { Narrow(" -0Xg").ToInt64(); }, 794, "stringToInt");
    ExpectThrowsAt([] { Wide(L"0x").ToInt8(); }, 812, "stringToInt");
    EXPECT_EQ(Narrow("0x").ToUInt32(), 0u);  // decimal: the 0 is the number
    ExpectThrowsAt([] { Wide(L"").ToUInt64(); }, 848, "stringToUInt");
    // The text ends at its terminator.
    EXPECT_EQ(QvVariant::stringToInt(std::string_view("12\0" "34", 5)), 12);
    ExpectThrowsAt([] { QvVariant::stringToUInt(std::string_view("\0" "1", 2)); }, 830,
                   "stringToUInt");
}

TEST(VariantText, DoublesTakeTheWholeText) {
    EXPECT_EQ(Narrow("1.5").ToFloat(), 1.5f);
    EXPECT_EQ(Wide(L"42").ToDouble(), 42.0);
    EXPECT_EQ(Narrow("  -2.25e1").ToDouble(), -22.5);
    EXPECT_EQ(Narrow("").ToDouble(), 0.0);
    EXPECT_EQ(QvVariant::stringToDouble(L""), 0.0);
    EXPECT_EQ(QvVariant::stringToDouble(std::wstring_view(L"0.5xyz", 3)), 0.5);
    ExpectThrowsAt([] { Narrow("1.5 ").ToDouble(); }, 702, "stringToDouble");
    ExpectThrowsAt([] { Wide(L"1,5").ToFloat(); }, 702, "stringToDouble");
    ExpectThrowsAt([] { Narrow(" ").ToDouble(); }, 702, "stringToDouble");
    // Beyond the float range a float target becomes infinity, not undefined behaviour.
    EXPECT_TRUE(std::isinf(Narrow("1e300").ToFloat()));
    EXPECT_EQ(Narrow("3.4028235e38").ToFloat(), std::numeric_limits<float>::max());
}

TEST(VariantText, BooleansAreStrict) {
    EXPECT_TRUE(Narrow("TRUE").ToBool());
    EXPECT_TRUE(Wide(L"tRuE").ToBool());
    EXPECT_FALSE(Narrow("False").ToBool());
    EXPECT_TRUE(Narrow("1").ToBool());
    EXPECT_FALSE(Wide(L"0").ToBool());
    ExpectThrowsAt([] { Narrow("yes").ToBool(); }, 749, "stringToBool");
    ExpectThrowsAt([] { Narrow(" true").ToBool(); }, 749, "stringToBool");
    ExpectThrowsAt([] { Wide(L"42").ToBool(); }, 777, "stringToBool");
    ExpectThrowsAt([] { Wide(L"01").ToBool(); }, 777, "stringToBool");
}

TEST(VariantText, CharsNeedExactlyOneUnit) {
    EXPECT_EQ(Narrow("A").ToChar(), 'A');
    EXPECT_EQ(Wide(L"\u0141").ToChar(), '\x41');  // low byte of the unit
    ExpectThrowsAt([] { Wide(L"42").ToChar(); }, 929, "convertToChar");
    ExpectThrowsAt([] { Wide(L"\U0001F600").ToChar(); }, 929, "convertToChar");  // two units
    ExpectThrowsAt([] { Narrow("").ToChar(); }, 926, "convertToChar");
    ExpectThrowsAt([] { Narrow("\xC3\xA9").ToChar(); }, 926, "convertToChar");
    EXPECT_EQ(QvVariant(321).ToChar(), static_cast<char>(65));
    ExpectThrowsAt([] { QvVariant().ToChar(); }, 969, "convertToUInt8");
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
    EXPECT_EQ(QvVariant(true).ToUInt64(), 1u);

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
    EXPECT_EQ(QvVariant(-5000000000LL).ToDouble(), -5e9);
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
    EXPECT_EQ(QvVariant('z').ToStringA(), "z");
    // Between the string kinds through UTF-8.
    EXPECT_EQ(Wide(L"\u00e9\U0001F600").ToStringA(), "\xC3\xA9\xF0\x9F\x98\x80");
    QvVariant n = Narrow("\xC3\xA9");
    n.ConvertTo(K::KindStringW);
    EXPECT_EQ(n.GetKind(), K::KindStringW);
    EXPECT_STREQ(static_cast<const wchar_t*>(n), L"\u00e9");
}

TEST(VariantStrings, DateTimeBothWays) {
    QvVariant text = Narrow("2024-01-05 10:20:30");
    text.ConvertTo(K::KindDateTime);
    ASSERT_EQ(text.GetKind(), K::KindDateTime);
    const QvDateTime& t = text;
    EXPECT_EQ(t.GetYear(), 2024);
    EXPECT_EQ(t.GetSecond(), 30);
    EXPECT_EQ(text.ToStringA(), "2024-01-05 10:20:30");
    EXPECT_EQ(Wide(L"2024-01-05T10:20:30").ToDateTime().Format(L"Y-m-d H:i:s", false),
              L"2024-01-05 10:20:30");
    {
        LogCapture log;
        EXPECT_THROW(Narrow("2024-01-05").ToDateTime(), QvExceptionConversion);
        ASSERT_EQ(log.Count(), 1u);
        EXPECT_EQ(log.Entries()[0].line, 248);
        EXPECT_THROW(Wide(L"nope").ToDateTime(), QvExceptionConversion);
        EXPECT_EQ(log.Entries()[1].line, 299);
    }
    ExpectThrowsAt([] { QvVariant(5).ToDateTime(); }, 557, "QvVariant::ConvertTo");
}

TEST(VariantErrors, KindsWithoutARule) {
    for (const unsigned int kind : {9u, 11u, 17u, 19u, 1000u}) {
        QvVariant v(5);
        ExpectThrowsAt([&] { v.ConvertTo(static_cast<K::EKind>(kind)); }, 562,
                       "QvVariant::ConvertTo");
        EXPECT_EQ(v.GetKind(), K::KindInt32);
    }
    struct SStep {
        std::function<void(QvVariant&)> step;
        unsigned int line;
        const char* function;
    };
    const SStep steps[] = {
        {[](QvVariant& v) { v.convertToBool(); }, 882, "convertToBool"},
        {[](QvVariant& v) { v.convertToInt8(); }, 916, "convertToInt8"},
        {[](QvVariant& v) { v.convertToUInt8(); }, 969, "convertToUInt8"},
        {[](QvVariant& v) { v.convertToInt16(); }, 1003, "convertToInt16"},
        {[](QvVariant& v) { v.convertToUInt16(); }, 1037, "convertToUInt16"},
        {[](QvVariant& v) { v.convertToInt32(); }, 1071, "convertToInt32"},
        {[](QvVariant& v) { v.convertToUInt32(); }, 1105, "convertToUInt32"},
        {[](QvVariant& v) { v.convertToInt64(); }, 1139, "convertToInt64"},
        {[](QvVariant& v) { v.convertToUInt64(); }, 1173, "convertToUInt64"},
        {[](QvVariant& v) { v.convertToFloat(); }, 1223, "convertToFloat"},
        {[](QvVariant& v) { v.convertToDouble(); }, 1271, "convertToDouble"},
        {[](QvVariant& v) { v.convertToString(K::KindStringA); }, 1328, "convertToString"},
    };
    for (const SStep& s : steps) {
        QvVariant bytes{QvArray<unsigned char>()};
        ExpectThrowsAt([&] { s.step(bytes); }, s.line, s.function);
        EXPECT_EQ(bytes.GetKind(), K::KindByteArray);  // the source stays
        QvVariant date{QvDateTime("2024-01-05 10:20:30")};
        if (s.line != 1328) ExpectThrowsAt([&] { s.step(date); }, s.line, s.function);
    }
    ExpectThrowsAt([] { QvVariant().ToStringW(); }, 1326, "convertToString");
    ExpectThrowsAt([] { QvVariant(1).convertToString(K::KindInt32); }, 1342, "convertToString");

    // A failing text step leaves the text in place.
    QvVariant text = Narrow("abc");
    ExpectThrowsAt([&] { text.ConvertTo(K::KindInt32); }, 794, "stringToInt");
    EXPECT_EQ(static_cast<const std::string&>(text), "abc");
    // ConvertTo to empty clears; to the same kind does nothing.
    text.ConvertTo(K::KindStringA);
    EXPECT_EQ(text.ToStringA(), "abc");
    text.ConvertTo(K::KindEmpty);
    EXPECT_EQ(text.GetKind(), K::KindEmpty);
}

TEST(VariantErrors, CheckedAccessorLines) {
    QvVariant v(1.5);  // double, so every other accessor throws
    ExpectThrowsAt([&] { (void)static_cast<bool&>(v); }, 216, "QvVariant::operator bool &");
    ExpectThrowsAt([&] { (void)static_cast<char&>(v); }, 217, "QvVariant::operator char &");
    ExpectThrowsAt([&] { (void)static_cast<signed char&>(v); }, 218,
                   "QvVariant::operator signed char &");
    ExpectThrowsAt([&] { (void)static_cast<unsigned char&>(v); }, 219,
                   "QvVariant::operator unsigned char &");
    ExpectThrowsAt([&] { (void)static_cast<short&>(v); }, 220, "QvVariant::operator short &");
    ExpectThrowsAt([&] { (void)static_cast<unsigned short&>(v); }, 221,
                   "QvVariant::operator unsigned short &");
    ExpectThrowsAt([&] { (void)static_cast<int&>(v); }, 222, "QvVariant::operator int &");
    ExpectThrowsAt([&] { (void)static_cast<unsigned int&>(v); }, 223,
                   "QvVariant::operator unsigned int &");
    ExpectThrowsAt([&] { (void)static_cast<long long&>(v); }, 224,
                   "QvVariant::operator __int64 &");
    ExpectThrowsAt([&] { (void)static_cast<unsigned long long&>(v); }, 225,
                   "QvVariant::operator unsigned __int64 &");
    ExpectThrowsAt([&] { (void)static_cast<float&>(v); }, 226, "QvVariant::operator float &");
    ExpectThrowsAt([&] { (void)static_cast<const std::string&>(v); }, 228,
                   "QvVariant::operator const class ATL::CStringT<char,class "
                   "ATL::StrTraitATL<char,class ATL::ChTraitsCRT<char> > > &");
    ExpectThrowsAt([&] { (void)static_cast<const std::wstring&>(v); }, 229,
                   "QvVariant::operator const class ATL::CStringT<wchar_t,class "
                   "ATL::StrTraitATL<wchar_t,class ATL::ChTraitsCRT<wchar_t> > > &");
    ExpectThrowsAt([&] { (void)static_cast<const QvDateTime&>(v); }, 231,
                   "QvVariant::operator const class QvDateTime &");
    ExpectThrowsAt([&] { (void)static_cast<const char*>(v); }, 235,
                   "QvVariant::operator const char *");
    ExpectThrowsAt([&] { (void)static_cast<const wchar_t*>(v); }, 237,
                   "QvVariant::operator const wchar_t *");
    QvVariant i(7);
    ExpectThrowsAt([&] { (void)static_cast<double&>(i); }, 227, "QvVariant::operator double &");
    // The reference reaches the stored value.
    static_cast<int&>(i) = 9;
    EXPECT_EQ(i.ToInt64(), 9);
}

class CPoint : public IObject {
public:
    explicit CPoint(int value) : x(value) {}
    const wchar_t* GetRuntimeClassName() const override { return name; }
    int x;
    const wchar_t* name = L"VariantTest.Point";
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
    EXPECT_EQ(copy.GetKind(), K::KindInt32);
    copy = copy;  // self-assignment keeps the value
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
    ExpectThrowsAt([&] { (void)point.ToInt32(); }, 1071, "convertToInt32");

    QvRTTI::registerClone(L"VariantTest.Point", &RefuseClone);
    QvVariant target = Narrow("old");
    ExpectThrowsAt([&] { target = point; }, 399, "QvVariant::operator =");
    EXPECT_EQ(target.GetKind(), K::KindObject);
    EXPECT_EQ(target.GetObjectPointer(), nullptr);
    // A converting accessor copies first, so the failed clone is what it reports.
    ExpectThrowsAt([&] { (void)point.ToInt32(); }, 399, "QvVariant::operator =");

    QvRTTI::registerClone(L"VariantTest.Point", nullptr);
    EXPECT_EQ(QvRTTI::getClone(L"VariantTest.Point"), nullptr);
    ExpectThrowsAt([&] { QvVariant again(point); }, 399, "QvVariant::operator =");
    point = std::unique_ptr<IObject>(new CPoint(3));
    EXPECT_EQ(static_cast<const CPoint*>(point.GetObjectPointer())->x, 3);
}

// The readers' view conversions must agree with a variant holding the same text.
TEST(VariantConvertText, MatchesTheVariant) {
    const char* texts[] = {"42", "-1", "0x1F", "010", "12abc", "70000", "", " ", "1.5", "1.5 ",
                           "true", "FALSE", "0", "A", "\xC3\xA9", "x", "2024-01-05T10:20:30",
                           "99999999999999999999", "-2.5e0", "\xE2\x80\x83" "1", "0x", "-0xg", "0x7f"};
    auto same = [](auto fromView, auto fromVariant, const std::string& what) {
        const SThrown a = Catch([&] { fromView(); });
        const SThrown b = Catch([&] { fromVariant(); });
        EXPECT_EQ(a.thrown, b.thrown) << what;
        EXPECT_EQ(a.line, b.line) << what;
        EXPECT_EQ(a.function, b.function) << what;
        EXPECT_EQ(a.file, b.file) << what;
    };
    for (const char* text : texts) {
        for (const K::ETextForm form : {K::ETextForm::Narrow, K::ETextForm::Wide}) {
            const QvVariant v = form == K::ETextForm::Narrow
                                    ? QvVariant(std::string(text))
                                    : QvVariant(Tavrin::Encodings::FromUTF8(text));
            const std::string what =
                std::string(text) + (form == K::ETextForm::Narrow ? " narrow" : " wide");
#define TAVRIN_SAME(Type, To)                                                           \
    {                                                                                   \
        Type a{}, b{};                                                                  \
        same([&] { QvVariant::ConvertText(text, form, a); }, [&] { b = v.To(); },       \
             what + " " #Type);                                                         \
        EXPECT_EQ(a, b) << what << " " #Type;                                           \
    }
            TAVRIN_SAME(bool, ToBool)
            TAVRIN_SAME(char, ToChar)
            TAVRIN_SAME(signed char, ToInt8)
            TAVRIN_SAME(unsigned char, ToUInt8)
            TAVRIN_SAME(short, ToInt16)
            TAVRIN_SAME(unsigned short, ToUInt16)
            TAVRIN_SAME(int, ToInt32)
            TAVRIN_SAME(unsigned int, ToUInt32)
            TAVRIN_SAME(long long, ToInt64)
            TAVRIN_SAME(unsigned long long, ToUInt64)
            TAVRIN_SAME(float, ToFloat)
            TAVRIN_SAME(double, ToDouble)
            TAVRIN_SAME(std::string, ToStringA)
            TAVRIN_SAME(std::wstring, ToStringW)
#undef TAVRIN_SAME
            QvDateTime a, b;
            same([&] { QvVariant::ConvertText(text, form, a); }, [&] { b = v.ToDateTime(); },
                 what + " date-time");
            EXPECT_EQ(a.ToFileTime(), b.ToFileTime()) << what;
        }
    }
    // Nothing is stored when the conversion fails.
    int untouched = 17;
    Catch([&] { QvVariant::ConvertText("abc", K::ETextForm::Narrow, untouched); });
    EXPECT_EQ(untouched, 17);
}

TEST(VariantTypedAssignment, OverwritesInPlaceAndSwitchesKinds) {
    QvVariant v = Narrow("abc");
    const std::string* held = &static_cast<const std::string&>(v);
    v = "xyz";
    EXPECT_EQ(&static_cast<const std::string&>(v), held);
    EXPECT_STREQ(static_cast<const char*>(v), "xyz");
    v = std::string_view(static_cast<const char*>(v) + 1);  // a view into the held text
    EXPECT_EQ(v.ToStringA(), "yz");
    v = static_cast<const char*>(nullptr);
    EXPECT_EQ(v.ToStringA(), "");
    v = L"wide";
    EXPECT_EQ(v.GetKind(), K::KindStringW);
    v = 5L;
    EXPECT_EQ(v.GetKind(), K::KindInt64);
    v = 5ul;
    EXPECT_EQ(v.GetKind(), K::KindUInt64);
    QvArray<unsigned char> bytes;
    bytes.Add(1);
    v = bytes;
    EXPECT_EQ(static_cast<const QvArray<unsigned char>&>(v).GetCount(), 1u);
    v = QvDateTime("2024-01-05 10:20:30");
    EXPECT_EQ(v.GetKind(), K::KindDateTime);
    v.Clear();
    EXPECT_EQ(v.GetKind(), K::KindEmpty);
}

// The thread's locale decides the decimal separator; the guard gives "C" and puts it back.
TEST(VariantLocale, ThreadLocaleAndGuard) {
    locale_t german = ::newlocale(LC_ALL_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
    if (!german) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
    std::thread worker([german] {
        const locale_t before = ::uselocale(german);
        EXPECT_EQ(QvVariant::stringToDouble("1,5"), 1.5);
        EXPECT_EQ(Wide(L"1,5").ToDouble(), 1.5);
        ExpectThrowsAt([] { QvVariant::stringToDouble("1.5"); }, 702, "stringToDouble");
        EXPECT_EQ(QvVariant(0.5).ToStringA(), "0,500000");
        {
            Tavrin::Platform::CThreadLocaleGuard guard;
            EXPECT_EQ(QvVariant::stringToDouble("1.5"), 1.5);
            EXPECT_EQ(QvVariant(0.5).ToStringA(), "0.500000");
            ExpectThrowsAt([] { QvVariant::stringToDouble("1,5"); }, 702, "stringToDouble");
        }
        EXPECT_EQ(Tavrin::Platform::CurrentThreadLocale(), german);
        try {
            Tavrin::Platform::CThreadLocaleGuard guard;
            throw std::runtime_error("leaves the scope");
        } catch (const std::runtime_error&) {
        }
        EXPECT_EQ(Tavrin::Platform::CurrentThreadLocale(), german);
        EXPECT_EQ(QvVariant::stringToDouble("1,5"), 1.5);
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

}  // namespace
