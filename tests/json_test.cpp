// JSON writer, reader and parser: document text, value texts, conversions, failures, the order
// of names, the tree the parser builds, its leniency and errors, and hostile input.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <iomanip>
#include <limits>
#include <locale>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/tavrin/json/sjsonelement.h"
#include "fuzz/probe.h"
#include "support/formats.h"
#include "support/raising.h"

namespace {

using namespace TestSupport;
using namespace Tavrin;
using Obj = CObject;
using Cont = CContainer;

constexpr std::string_view kReaderFile = "core/tavrin/src/creaderjson.cpp";
constexpr auto WriteJson = [](const auto& root) { return SJsonFormat::Write(root); };
constexpr auto ReadObject = &ReadObjectWith<SJsonFormat>;
constexpr auto ReadContainer = &ReadContainerWith<SJsonFormat>;
constexpr std::string_view kWriterFile = "core/tavrin/src/cwriterjson.cpp";
constexpr std::string_view kVariantFile = "core/basepool/qvvariant.cpp";

// Exceptions log when they are made; keep the expected ones off the test output.
const Logging::LogSink g_previousSink = Logging::SetSink({});

QvDateTime MakeDate(const char* text, unsigned short milliseconds = 0) {
    QvDateTime t(text);
    t.SetMilliseconds(milliseconds);
    return t;
}

// ---- Writing ---------------------------------------------------------------------------------

TEST(JsonWriter, DocumentLayout) {
    Obj pos([](IDataWriter& w) {
        w.Write("x", 1);
        w.Write("y", 2);
    });
    Obj z([](IDataWriter& w) { w.Write("z", 5); });
    Cont tags([&](IContainerWriter& w) {
        w.Write(3);
        w.Write(4);
        w.Write(z);
    });
    EXPECT_EQ(WriteJson(Obj([&](IDataWriter& w) {
                  w.Write("id", 7);
                  w.Write("name", std::string("A\"b"));
                  w.Write("pos", pos);
                  w.Write("tags", tags);
              })),
              "{\t\"id\":7,\n\t\"name\":\"A\\\"b\",\n"
              "\t\"pos\":\n\t{\t\"x\":1,\n\t\t\"y\":2\n\t},\n"
              "\t\"tags\":\n\t[\t3,\n\t\t4,\n\t\t{\t\"z\":5\n\t\t}\n\t]\n"
              "}\n");
    const Obj empty;
    const Cont emptyList;
    EXPECT_EQ(WriteJson(empty), "{\n}\n");
    EXPECT_EQ(WriteJson(emptyList), "[\n]\n");
    EXPECT_EQ(WriteJson(Obj([&](IDataWriter& w) { w.Write("o", empty); })),
              "{\t\"o\":\n\t{\n\t}\n}\n");
    EXPECT_EQ(WriteJson(Cont([&](IContainerWriter& w) {
                  w.Write(emptyList);
                  w.Write(emptyList);
              })),
              "[\t[\n\t],\n\t[\n\t]\n]\n");
    // Names are written as given, duplicates included.
    EXPECT_EQ(WriteJson(Obj([](IDataWriter& w) {
                  w.Write("a", 1);
                  w.Write("a", 2);
              })),
              "{\t\"a\":1,\n\t\"a\":2\n}\n");
}

// The text of one value, written as the member "v" and as an array element, which must agree.
template <class... A>
std::string ValueText(const A&... value) {
    const std::string member = WriteJson(Obj([&](IDataWriter& w) { w.Write("v", value...); }));
    const std::string element = WriteJson(Cont([&](IContainerWriter& w) { w.Write(value...); }));
    const std::string head = "{\t\"v\":", tail = "\n}\n";
    if (!member.starts_with(head) || !member.ends_with(tail)) return "document " + member;
    const std::string text = member.substr(head.size(), member.size() - head.size() - tail.size());
    EXPECT_EQ(element, "[\t" + text + "\n]\n");
    return text;
}

TEST(JsonWriter, ValueTexts) {
    const std::vector<unsigned char> bytes54(54, 0xAB);
    std::string base64;  // of bytes54
    for (int i = 0; i < 18; ++i) base64 += "q6ur";
    const std::pair<std::string, std::string> cases[] = {
        {ValueText(static_cast<unsigned char>(200)), "200"},
        {ValueText(static_cast<signed char>(-5)), "-5"},
        {ValueText(static_cast<unsigned short>(65535)), "65535"},
        {ValueText(4000000000u), "4000000000"},
        {ValueText(std::numeric_limits<long long>::min()), "-9223372036854775808"},
        {ValueText(std::numeric_limits<unsigned long long>::max()), "18446744073709551615"},
        {ValueText(0.1f), "0.100000001"},
        {ValueText(1.0f), "1"},
        {ValueText(0.1), "0.10000000000000001"},
        {ValueText(100.0), "100"},
        {ValueText(1e21), "1e+21"},
        {ValueText(true), "true"},
        {ValueText(false), "false"},
        // The seven escapes; other control bytes, "/" and bytes from 0x80 pass unchanged.
        {ValueText(std::string("\"\\\t\n\b\f\r/\x01\x7f\xc3\xa9z")),
         "\"\\\"\\\\\\t\\n\\b\\f\\r/\x01\x7f\xc3\xa9z\""},
        {ValueText(std::string()), "\"\""},
        // Narrow text ends at its first NUL, as the wide text does in its conversion.
        {ValueText(std::string("ab\0cd", 5)), "\"ab\""},
        {ValueText(std::wstring(L"\u00e9")), "\"\xc3\xa9\""},
        {ValueText(std::wstring(L"a\"\U0001F600")), "\"a\\\"\xf0\x9f\x98\x80\""},
        {ValueText(std::wstring(L"ab\0cd", 5)), "\"ab\""},
        // A char that needs an escape gets it, so that the document stays well-formed.
        {ValueText('x'), "\"x\""},
        {ValueText('"'), "\"\\\"\""},
        {ValueText('\\'), "\"\\\\\""},
        {ValueText('\0'), "\"\""},
        {ValueText(size_t{3}, "ABC"), "\"QUJD\""},
        {ValueText(size_t{0}, ""), "\"\""},
        // 54 bytes: 72 Base64 characters and no line break after them.
        {ValueText(bytes54.size(), bytes54.data()), "\"" + base64 + "\""},
        {ValueText(MakeDate("2024-03-05T14:07:09", 500)), "\"2024-03-05T14:07:09\""},
    };
    for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
}

// The writer formats numbers itself: whatever format the caller set on the stream, its texts
// must be those of the stream's own inserters, and finite floating values read back bit for bit.
// The inserters of mingw-w64's library drop the sign of a NaN that glibc's print, so on Windows
// the sign of a NaN is not compared.
std::string WithoutNanSigns(std::string text) {
#if defined(_WIN32)
    for (const char* nan : {"-nan", "+nan", "-NAN", "+NAN"}) {
        for (size_t at = text.find(nan); at != std::string::npos; at = text.find(nan, at)) {
            text.erase(at, 1);
        }
    }
#endif
    return text;
}

// Long texts are scanned in blocks: an escape anywhere, block edges included, is still found.
TEST(JsonWriter, EscapesAtEveryPositionOfLongTexts) {
    for (const char special : {'"', '\\', '\b', '\t', '\n', '\f', '\r', '\x01', '\x0b', '/'}) {
        for (size_t at = 0; at < 40; ++at) {
            std::string text(40, 'a');
            text[at] = special;
            std::string expected = "\"" + text.substr(0, at);
            const char* escape = std::strchr("\"\"\\\\\bb\tt\nn\ff\rr", special);
            expected += escape ? std::string{'\\', escape[1]} : std::string(1, special);
            expected += text.substr(at + 1) + "\"";
            ASSERT_EQ(ValueText(text), expected) << int(special) << " at " << at;
        }
    }
}

TEST(JsonWriter, NumberTextsMatchTheStreamAndReadBackExactly) {
    const unsigned int seed = 20240305;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 random(seed);
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> doubles = {0.0,    -0.0,    1e-320,     5e-324, 1.7976931348623157e308,
                                   inf,    -inf,    NAN,        1e16,   1e17,
                                   0.0001, 0.00001, 123456789.0};
    std::vector<float> floats = {0.0f, 1e-45f, 3.4028235e38f, 16777216.0f, 0.3f, -2.5f};
    for (int i = 0; i < 3000; ++i) {
        const uint64_t bits = random();
        doubles.push_back(std::bit_cast<double>(bits));
        doubles.push_back(static_cast<double>(bits % 100000000) / 1000.0);
        floats.push_back(std::bit_cast<float>(static_cast<uint32_t>(bits >> 32)));
        // Fractions of every length, and exact halves at the last digit kept (ties round to
        // even): an integer below 2^51 plus a quarter has 18 significant digits ending in 5.
        doubles.push_back(std::ldexp(static_cast<double>(bits >> 11), -static_cast<int>(i % 90)));
        doubles.push_back(static_cast<double>((bits >> 13) | (uint64_t{1} << 49)) + 0.25 +
                          0.5 * static_cast<double>(i % 2));
        floats.push_back(std::ldexp(static_cast<float>(bits >> 40), -static_cast<int>(i % 40)));
    }
    std::string text;  // with the stream as it comes
    using StreamSetup = void (*)(std::ostream&);
    for (const StreamSetup setup : {
             +[](std::ostream&) {},
             +[](std::ostream& s) { s << std::hex << std::showbase << std::showpos; },
             +[](std::ostream& s) { s << std::fixed; },
             +[](std::ostream& s) { s << std::scientific << std::uppercase << std::boolalpha; },
             +[](std::ostream& s) { s << std::setprecision(3) << std::showpoint; },
         }) {
        std::ostringstream actual, expected;
        setup(actual);
        setup(expected);
        CWriterJson(actual).Write(Cont([&](IContainerWriter& w) {
            for (const double d : doubles) w.Write(d);
            for (const float f : floats) w.Write(f);
            w.Write(42);
            w.Write(true);
            w.Write(static_cast<unsigned char>(7));
        }));
        for (const double d : doubles) expected << ",\n\t" << std::setprecision(17) << d;
        for (const float f : floats) expected << ",\n\t" << std::setprecision(9) << f;
        expected << ",\n\t" << 42 << ",\n\t" << std::boolalpha << true << ",\n\t" << 7u;
        EXPECT_EQ(WithoutNanSigns(actual.str()),
                  WithoutNanSigns("[\t" + expected.str().substr(3) + "\n]\n"));
        if (text.empty()) text = actual.str();
    }
    unsigned int index = 0, mismatches = 0;
    ReadContainer(text, [&](IContainerReader& r) {
        const auto check = [&](auto written) {
            decltype(written) read = 0;
            const unsigned int i = index++;  // non-finite texts are not read back
            mismatches += std::isfinite(written) &&
                          !(r.Read(i, read) && std::memcmp(&read, &written, sizeof read) == 0);
        };
        std::for_each(doubles.begin(), doubles.end(), check);
        std::for_each(floats.begin(), floats.end(), check);
    });
    EXPECT_EQ(mismatches, 0u);
}

// Floats set the precision to 9, doubles to 17, a bool sets boolalpha, and none is set back.
// Documents follow what the stream holds; a copy of a writer writes into the same stream.
TEST(JsonWriter, StreamStateAndTheStreamsLocale) {
    std::ostringstream out("x", std::ios_base::ate);
    CWriterJson writer(out);
    writer.Write(Obj([](IDataWriter& w) {
        w.Write("a", 1.5f);
        w.Write("s", std::string("s"));
    }));
    EXPECT_EQ(out.precision(), 9);
    EXPECT_FALSE(out.flags() & std::ios_base::boolalpha);
    CWriterJson(writer).Write(Cont([](IContainerWriter& w) {
        w.Write(true);
        w.Write(2.5);
    }));
    EXPECT_EQ(out.precision(), 17);
    EXPECT_TRUE(out.flags() & std::ios_base::boolalpha);
    EXPECT_EQ(out.str(), "x{\t\"a\":1.5,\n\t\"s\":\"s\"\n}\n[\ttrue,\n\t2.5\n]\n");
    std::ostringstream german;
    try {
        german.imbue(std::locale("de_DE.UTF-8"));
    } catch (const std::runtime_error&) {
#if defined(_WIN32)
        GTEST_SKIP() << "the C++ library of mingw-w64 has no named locales";
#else
        GTEST_SKIP() << "locale de_DE.UTF-8 is not installed (scripts/install-deps.sh)";
#endif
    }
    CWriterJson(german).Write(Obj([](IDataWriter& w) {
        w.Write("a", 1234567);
        w.Write("b", 2.5);
    }));
    EXPECT_EQ(german.str(), "{\t\"a\":1.234.567,\n\t\"b\":2,5\n}\n");
}

struct ThrowingDate : QvDateTime {
    unsigned short GetYear() const override { throw std::runtime_error("no year"); }
};

// Writes `root` into `out`, expects the CException of Write at `line` and `partial` left in the
// stream; returns the log entries written meanwhile.
template <class Root>
std::vector<Logging::SLogEntry> ExpectWriteFails(const Root& root, unsigned int line,
                                                 const std::string& partial,
                                                 std::ostringstream&& out = {}) {
    const SThrown t = ExpectRaisedAt<CException>([&] { CWriterJson(out).Write(root); }, kWriterFile,
                                                 line, "Tavrin::CWriterJson::Write");
    EXPECT_EQ(out.str(), partial);
    return t.entries;
}

TEST(JsonWriter, EveryFailureBecomesTheCExceptionOfWrite) {
    Obj failing([](IDataWriter&) { throw std::runtime_error("application"); });
    Obj root([&](IDataWriter& w) {
        w.Write("a", 1);
        w.Write("in", failing);
    });
    EXPECT_EQ(ExpectWriteFails(root, 372, "{\t\"a\":1,\n\t\"in\":\n\t{").size(), 1u);
    // A library exception inside leaves its own log entry, then the one of Write.
    Cont inner([](IContainerWriter& w) {
        w.Write(1);
        throw CException("inner.cpp", 1, "Inner");
    });
    const auto entries = ExpectWriteFails(inner, 402, "[\t1");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].function, "Inner");
    EXPECT_EQ(entries[1].function, "Tavrin::CWriterJson::Write");
    Obj oom([](IDataWriter& w) {
        w.Write("x", 1);
        throw std::bad_alloc();
    });
    ExpectWriteFails(Cont([&](IContainerWriter& w) { w.Write(oom); }), 402, "[\t{\t\"x\":1");
    // A value that fails half way: what was written before the failure stays.
    ThrowingDate date;
    ExpectWriteFails(Obj([&](IDataWriter& w) { w.Write("d", date); }), 372, "{\t\"d\":");

    // Stream errors count only when the caller enabled the stream's exceptions.
    struct SFullBuffer : std::streambuf {
        int_type overflow(int_type) override { return traits_type::eof(); }
    } full;
    std::ostringstream out;
    static_cast<std::ostream&>(out).rdbuf(&full);
    CWriterJson(out).Write(Obj([](IDataWriter& w) { w.Write("a", 1); }));
    EXPECT_TRUE(out.bad());
    out.clear();
    out.exceptions(std::ios_base::badbit);
    ExpectWriteFails(Obj(), 372, "", std::move(out));
}

// ---- Reading ---------------------------------------------------------------------------------

TEST(JsonReader, ValuesConvertToTheTypeAskedFor) {
    ReadObject(R"({"n":42,"s":"42","x":"12abc","neg":-1,"hex":"0x1F","f":1.5,"big":70000})",
               [](IDataReader& r) {
                   EXPECT_EQ(ReadAs<std::string>(r, "n"), "42");
                   EXPECT_EQ(ReadAs<int>(r, "s"), 42);
                   EXPECT_EQ(ReadAs<int>(r, "x"), 12);
                   EXPECT_EQ(ReadAs<unsigned int>(r, "neg"), 4294967295u);
                   EXPECT_EQ(ReadAs<int>(r, "hex"), 31);
                   EXPECT_EQ(ReadAs<double>(r, "n"), 42.0);
                   EXPECT_EQ(ReadAs<float>(r, "f"), 1.5f);
                   EXPECT_EQ(ReadAs<short>(r, "big"), 4464);
                   EXPECT_EQ(ReadAs<unsigned long long>(r, "n"), 42u);
               });
    ReadObject(R"({"t":true,"f":false,"qt":"true","yes":yes,"one":1,"T":TRUE})", [](auto& r) {
        // Bools read only true and false; other text sets the target to false, and fails.
        const struct {
            const char* name;
            bool result, value;
        } cases[] = {{"t", true, true},     {"f", true, false},    {"qt", true, true},
                     {"yes", false, false}, {"one", false, false}, {"T", false, false}};
        for (const auto& c : cases) {
            bool b = !c.value;
            EXPECT_EQ(r.Read(c.name, b), c.result) << c.name;
            EXPECT_EQ(b, c.value) << c.name;
        }
        bool b = true;
        EXPECT_TRUE(!r.Read("missing", b) && b);
    });
    // Bare text is wide text of one character per byte, bytes from 0x80 sign-extended.
    ReadObject("{\"a\":\xc3\xa9,\"b\":\xc3}", [](IDataReader& r) {
        EXPECT_EQ(ReadAs<std::string>(r, "a"), "\xef\xbf\x83\xef\xbe\xa9");
        EXPECT_EQ(ReadAs<std::wstring>(r, "a"), std::wstring(L"\uffc3\uffa9"));
        EXPECT_EQ(ReadAs<char>(r, "b"), '\xc3');
    });
    const std::string date = "2024-03-05T14:07:09";
    ReadObject(R"({"t":")" + date + R"(","s":"2024-03-05 14:07:09.2Z","b":)" + date + "}",
               [&](IDataReader& r) {
                   for (const char* name : {"t", "s", "b"}) {
                       QvDateTime t = MakeDate("2001-01-01T01:01:01", 123);
                       EXPECT_TRUE(r.Read(name, t));
                       EXPECT_EQ(t.ToFileTime(), MakeDate(date.c_str()).ToFileTime()) << name;
                   }
               });
}

// Number texts of every shape near the reader's shortcuts for plain integers and decimals
// give what the variant gives for the same text, value or exception, bare and quoted.
TEST(JsonReader, NumbersConvertAsTheVariantConvertsTheirText) {
    const unsigned int seed = 777;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto digits = [&](size_t count) {
        std::string text;
        for (size_t i = 0; i < count; ++i) text += static_cast<char>('0' + random() % 10);
        return text;
    };
    std::vector<std::string> texts = Split(
        "0|-0|00|-|.5|5.|1.5.2|+1|1e5|0x1F|012|-012|9007199254740993|18446744073709551615|"
        "18446744073709551616|-9223372036854775808");
    while (texts.size() < 400) {
        std::string text = random() % 4 == 0 ? "-" : "";
        text += digits(random() % 22);
        if (random() % 2) text += "." + digits(random() % 25);
        texts.push_back(text);
    }
    std::string doc = "{";
    for (size_t i = 0; i < texts.size(); ++i) {
        doc += "\"b" + std::to_string(i) + "\":" + texts[i] + ",\"q" + std::to_string(i) + "\":\"" +
               texts[i] + "\",";
    }
    doc.back() = '}';
    ReadObject(doc, [&](IDataReader& r) {
        const auto check = [&](auto target) {
            for (size_t i = 0; i < texts.size(); ++i) {
                for (const char* kind : {"b", "q"}) {
                    const auto form =
                        *kind == 'b' ? QvVariant::ETextForm::Wide : QvVariant::ETextForm::Narrow;
                    const std::string name = kind + std::to_string(i);
                    ExpectConvertsLikeVariant<decltype(target)>(
                        texts[i], form, [&](auto& v) { r.Read(name.c_str(), v); });
                }
            }
        };
        check(double{}), check(float{}), check(int{}), check(0u), check(0ll), check(0ull);
        check(short{}), check(static_cast<unsigned char>(0)), check(static_cast<signed char>(0));
    });
}

TEST(JsonReader, TextThatDoesNotConvertRaisesTheVariantException) {
    const auto fails = [](auto read, unsigned int line, const char* function,
                          std::string_view file = kVariantFile) {
        ExpectRaisedAt<QvExceptionConversion>(read, file, line, function);
    };
    const std::string date = "core/basepool/qvdatetime.cpp";
    ReadObject(R"({"bare":abc,"quoted":"abc","wide":)"
               "\xc3\xa9}",
               [&](IDataReader& r) {
                   int i = 7;
                   char c = 'q';
                   QvDateTime t;
                   fails([&] { r.Read("bare", i); }, 812, "stringToInt");    // held wide
                   fails([&] { r.Read("quoted", i); }, 794, "stringToInt");  // held narrow
                   EXPECT_EQ(i, 7);
                   fails([&] { r.Read("wide", c); }, 929, "convertToChar");
                   fails([&] { r.Read("quoted", t); }, 248, "QvDateTime::QvDateTime", date);
                   fails([&] { r.Read("bare", t); }, 299, "QvDateTime::QvDateTime", date);
               });
    // A char that the writer had to escape comes back as a conversion error.
    ReadObject(WriteJson(Obj([](IDataWriter& w) { w.Write("c", '"'); })), [&](IDataReader& r) {
        char c = 0;
        fails([&] { r.Read("c", c); }, 926, "convertToChar");
    });
}

TEST(JsonReader, AbsentNullAndWrongKindReadFalseAndLeaveTheTarget) {
    ReadObject(R"({"a":1,"b":null,"o":{"z":5},"l":[1]})", [](IDataReader& r) {
        EXPECT_EQ(r.GetNameCount(), 3u);
        int i = 9;
        std::string s = "keep";
        for (const char* name : {"missing", "b", "o", "l", "A"}) {  // names are case-sensitive
            EXPECT_FALSE(r.Read(name, i) || r.Read(name, s)) << name;
            EXPECT_TRUE(r.Read(name).begin == nullptr && r.Read(name).end == nullptr) << name;
        }
        EXPECT_EQ(i, 9);
        EXPECT_EQ(s, "keep");
        Obj o;
        Cont c;
        EXPECT_FALSE(r.Read("a", o) || r.Read("l", o) || r.Read("o", c) || r.Read("a", c));
        EXPECT_EQ(r.GetName(3), nullptr);
    });
    ReadContainer(R"([1,null,"x",{"z":5},[2]])", [](IContainerReader& r) {
        EXPECT_EQ(ReadAs<int>(r, 0u), 1);
        int i = 9;
        for (const unsigned int index : {1u, 3u, 4u, 5u}) EXPECT_FALSE(r.Read(index, i)) << index;
        EXPECT_EQ(i, 9);
        EXPECT_EQ(r.Read(1u).begin, nullptr);
        EXPECT_EQ(r.Read(7u).begin, nullptr);
        Obj o;
        o.read = [&](IDataReader& inner) { i = ReadAs<int>(inner, "z"); };
        Cont c;
        EXPECT_FALSE(r.Read(3, c) || r.Read(4, o));
        EXPECT_TRUE(r.Read(3, o) && r.Read(4, c));
        EXPECT_EQ(i, 5);
    });
}

TEST(JsonReader, StringEscapesAreDecodedOnlyByStringReads) {
    ReadObject(R"({"u":"\u0041","sl":"a\/b","bs":"x\\ny","all":"\"\\\/\b\f\n\r\t","end":"a\\",)"
               R"("k\"ey":1,"bare":a\tb})",
               [](IDataReader& r) {
                   const std::pair<const char*, const char*> cases[] = {
                       {"u", "\\u0041"},           {"sl", "a/b"},  {"bs", "x\\ny"},
                       {"all", "\"\\/\b\f\n\r\t"}, {"end", "a\\"}, {"bare", "a\tb"}};
                   for (auto& [name, text] : cases) EXPECT_EQ(ReadAs<std::string>(r, name), text);
                   EXPECT_EQ(ReadAs<std::wstring>(r, "all"), L"\"\\/\b\f\n\r\t");
                   // Names are never decoded.
                   int i = 0;
                   EXPECT_EQ(ReadAs<int>(r, "k\\\"ey"), 1);
                   EXPECT_FALSE(r.Read("k\"ey", i));
               });
    // Invalid UTF-8: the narrow read keeps the bytes, the wide read substitutes.
    ReadObject("{\"s\":\"a\xff\xc3z\"}", [](IDataReader& r) {
        EXPECT_EQ(ReadAs<std::string>(r, "s"), "a\xff\xc3z");
        const std::wstring w = ReadAs<std::wstring>(r, "s");
        EXPECT_NE(w.find(L'\uFFFD'), std::wstring::npos);
        EXPECT_TRUE(w.starts_with(L'a') && w.ends_with(L'z')) << w.size();
    });
}

TEST(JsonReader, BlobsAreDecodedOnceAndCached) {
    const std::string base64 = "core/tavrin/src/base64.cpp";
    ReadObject(R"({"b":"QUJD","bare":QUJD,"empty":"","pad":"QQ=="})", [&](IDataReader& r) {
        const SBlobRange first = r.Read("b");
        ASSERT_NE(first.begin, nullptr);
        EXPECT_EQ(std::string(first.begin, first.end), "ABC");
        const SBlobRange second = r.Read("b");
        EXPECT_TRUE(second.begin == first.begin && second.end == first.end);
        const SBlobRange bare = r.Read("bare"), pad = r.Read("pad");
        EXPECT_EQ(std::string(bare.begin, bare.end), "ABC");
        EXPECT_EQ(std::string(pad.begin, pad.end), "A");
        ExpectRaisedAt<CException>([&] { r.Read("empty"); }, base64, 127, "Tavrin::Base64::Decode");
        // The cached range stays valid while the reader lives.
        EXPECT_EQ(std::string(first.begin, first.end), "ABC");
    });
    // A blob longer than the reader keeps in itself, read first; a failed one caches nothing.
    const std::string long64 = "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2";
    ReadObject(R"({"e":"","l":")" + long64 + R"(","b":"QUJD"})", [&](IDataReader& r) {
        ExpectRaisedAt<CException>([&] { r.Read("e"); }, base64, 127, "Tavrin::Base64::Decode");
        const SBlobRange first = r.Read("l");
        EXPECT_EQ(std::string(first.begin, first.end),
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuv");
        const SBlobRange b = r.Read("b");
        EXPECT_EQ(std::string(b.begin, b.end), "ABC");
        EXPECT_TRUE(r.Read("l").begin == first.begin && r.Read("b").begin == b.begin);
    });
    ReadContainer(R"(["QUJD",""])", [&](IContainerReader& r) {
        const SBlobRange first = r.Read(0u);
        EXPECT_EQ(std::string(first.begin, first.end), "ABC");
        EXPECT_EQ(r.Read(0u).begin, first.begin);
        ExpectRaisedAt<CException>([&] { r.Read(1u); }, base64, 127, "Tavrin::Base64::Decode");
    });
}

TEST(JsonReader, NullAndEmptyDocuments) {
    int emptyReads = 0, i = 0;
    for (const char* text : {"null", "{\n}\n"})
        ReadObject(text, [&](auto& r) { emptyReads += r.GetNameCount() == 0 && !r.Read("a", i); });
    for (const char* text : {"", "[\n]\n"})
        ReadContainer(text, [&](IContainerReader& r) { emptyReads += !r.Read(0, i); });
    EXPECT_EQ(emptyReads, 4);
    // A null text reads as an empty one.
    const char* const none = nullptr;
    ExpectRaisedAt<CException>(
        [&] {
            Obj o;
            CReaderJson(none).Read(o);
        },
        kReaderFile, 500, "SkipEmptyChars");
    Cont c;
    CReaderJson(none).Read(c);
}

// GetName follows the member map: buckets by the x33 hash of the name, masked to 128 buckets,
// newest first within a bucket.
TEST(JsonReader, NamesFollowTheMemberMapOrder) {
    using Names = std::vector<std::string>;
    const auto names = [](IDataReader& r) {
        Names all;
        for (unsigned int i = 0; i < r.GetNameCount(); ++i) all.emplace_back(r.GetName(i));
        return all;
    };
    // Buckets: A 65, a 97, b 98, ab 3299 & 127 = 99.
    ReadObject(R"({"b":1,"ab":2,"a":3,"A":4,"n":null})", [&](IDataReader& r) {
        EXPECT_EQ(names(r), (Names{"A", "a", "b", "ab"}));
    });
    // 0xE1 counts as -31, which falls into bucket 97 with "a": the newer comes first. A name
    // that comes again keeps the place of its first appearance.
    ReadObject("{\"a\":1,\"\xe1\":2,\"a\":3}", [&](IDataReader& r) {
        EXPECT_EQ(names(r), (Names{"\xe1", "a"}));
        EXPECT_EQ(ReadAs<int>(r, "a"), 3);
    });
    // Objects large enough to make the member map grow (at 96, 192 and 384 entries) give the
    // order of the library's own QvMapEx filled in document order.
    const unsigned int seed = 4242;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    for (const unsigned int count : {95u, 96u, 97u, 200u, 700u}) {
        Names written, expected;
        QvMapEx<QvStringA, int> map;
        std::string doc = "{";
        while (written.size() < count) {
            std::string name;
            for (size_t i = 0, length = 1 + random() % 6; i < length; ++i) {
                const auto byte = random() % 2 ? 'a' + random() % 26 : 0x80 + random() % 128;
                name.push_back(static_cast<char>(byte));
            }
            if (map.Lookup(QvStringA(name)) != nullptr) continue;
            map.GetOrAdd(QvStringA(name)) = 0;
            written.push_back(name);
            doc += "\"" + name + "\":" + std::to_string(written.size()) + ",";
        }
        for (auto* a = map.GetFirst(); a != nullptr; a = a->pNext)
            expected.emplace_back(a->key.GetString());
        ReadObject(doc + "}", [&](IDataReader& r) {
            EXPECT_EQ(names(r), expected) << count << " names";
            // Every name is found again, with its own value.
            for (size_t i = 0; i < written.size(); ++i)
                EXPECT_EQ(ReadAs<int>(r, written[i].c_str()), static_cast<int>(i + 1));
        });
    }
}

// ---- Parser --------------------------------------------------------------------------------

// The tree as text: members in their stored order as name=value, quoted values in quotes, null
// array elements as null.
std::string Dump(const char* text, const SJsonElement* e) {
    if (e == nullptr) return "null";
    if (e->GetKind() == SJsonElement::KindValue) {
        const std::string value(e->GetText(text));
        return e->IsQuoted() ? "\"" + value + "\"" : value;
    }
    std::string out;
    for (unsigned int i = 0; i < e->GetMemberCount(); ++i) {
        const SJsonMember& m = e->GetMember(i);
        out += (i == 0 ? "" : ",") + std::string(m.GetName(text)) + "=" + Dump(text, &m.element);
    }
    for (unsigned int i = 0; i < e->GetElementCount(); ++i) {
        out += (i == 0 ? "" : ",") + Dump(text, e->GetElement(i));
    }
    return e->GetKind() == SJsonElement::KindObject ? "{" + out + "}" : "[" + out + "]";
}

// Parses `text` as an object document, or an array document; gives the tree and where the
// parse stopped.
std::pair<std::string, const char*> Parse(const char* text, bool array = false) {
    CJsonNodePool pool;
    SJsonElement root(array ? SJsonElement::KindArray : SJsonElement::KindObject);
    const char* end = array ? ParseArray(text, root, pool) : ParseObject(text, root, pool);
    return {Dump(text, &root), end};
}

TEST(JsonParser, BuildsTheTreeLeniently) {
    const struct {
        const char* text;
        bool array;
        const char* tree;
    } cases[] = {
        {R"({"a":1 "b":2})", false, "{a=1,b=2}"},
        {R"({"a":1,})", false, "{a=1}"},
        {R"({"a":null})", false, "{}"},
        {R"({"a":1,"a":2})", false, "{a=2}"},
        // A later member replaces an earlier one in its place; null replaces nothing.
        {R"({"a":1,"b":2,"a":3,"b":null})", false, "{a=3,b=2}"},
        {R"({"a":12abc})", false, "{a=12abc}"},
        {"null", false, "{}"},
        {"\v{\f\"e\"\r:\t,\"q\" : \"x y\" ,\"n\":-0.5e+3 }", false, R"({e=,q="x y",n=-0.5e+3})"},
        // Quoted texts and names keep their escapes; a string may end in an escaped backslash.
        {R"({"s":"A\"b","t":"x\\","k\"":1})", false, R"({s="A\"b",t="x\\",k\"=1})"},
        {R"({"o":{"p":{}},"l":[[],{"q":[1]}]})", false, "{o={p={}},l=[[],{q=[1]}]}"},
        {"[1 2]", true, "[1,2]"},
        {"[null,1]", true, "[null,1]"},
        {"[1,,2]", true, "[1,,2]"},
        {"", true, "[]"},
        {R"( [ {"a":[]} , [[ ]], "s" ])", true, R"([{a=[]},[[]],"s"])"},
        {"[a}]", true, "[a}]"},  // inside an array '}' is part of a bare value
    };
    for (const auto& c : cases) EXPECT_EQ(Parse(c.text, c.array).first, c.tree) << c.text;
    // What follows the document is not looked at.
    const char* trailing = R"({"a":1}xyz)";
    EXPECT_EQ(Parse(trailing).second, trailing + 7);
    EXPECT_STREQ(Parse("[[1]]tail", true).second, "tail");
    EXPECT_EQ(Parse("null").second, nullptr);
}

// Through the reader, so that the documents take the path of the application's Read.
TEST(JsonParser, MalformedTextRaisesAtItsLine) {
    const struct {
        const char* text;
        bool array;
        unsigned int line;
        const char* function;
    } cases[] = {
        {"", false, 500, "SkipEmptyChars"},
        {" \t\n", false, 500, "SkipEmptyChars"},
        {R"({"a":1 )", false, 500, "SkipEmptyChars"},
        {R"({"a":"x")", false, 500, "SkipEmptyChars"},
        {R"({"a":{)", false, 500, "SkipEmptyChars"},
        {"[1, ", true, 500, "SkipEmptyChars"},
        {R"({"a":"x)", false, 562, "Tavrin::ParseString"},
        {R"({"a":"x\)", false, 562, "Tavrin::ParseString"},
        {R"({"a)", false, 562, "Tavrin::ParseString"},
        {R"({"a":1)", false, 586, "ParseValue"},
        {"[1", true, 586, "ParseValue"},
        {"[1}", true, 586, "ParseValue"},
        {"nul", false, 681, "Tavrin::ParseObject"},
        {"null ", false, 681, "Tavrin::ParseObject"},
        {" null", false, 681, "Tavrin::ParseObject"},
        {"[1]", false, 681, "Tavrin::ParseObject"},
        {R"({"a":{"b":[{x}]}})", false, 689, "Tavrin::ParseObject"},
        {R"({"a":1 2})", false, 689, "Tavrin::ParseObject"},
        {"{1:2}", false, 689, "Tavrin::ParseObject"},
        {R"({"a" 1})", false, 695, "Tavrin::ParseObject"},
        {"null", true, 745, "Tavrin::ParseArray"},
        {"{}", true, 745, "Tavrin::ParseArray"},
        {"[,1]", true, 747, "Tavrin::ParseArray"},
        {"[1,]", true, 765, "Tavrin::ParseArray"},
        {"[[1,]]", true, 765, "Tavrin::ParseArray"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("text: ") + c.text);
        ExpectRaisedAt<CException>(
            [&] { c.array ? ReadContainer(c.text, {}) : ReadObject(c.text, {}); }, kReaderFile,
            c.line, c.function);
    }
    for (const unsigned int kind : {1u, 4u}) {
        ExpectRaisedAt<CException>([&] { SJsonElement e(kind); }, kReaderFile, 69,
                                   "Tavrin::SJsonElement::SJsonElement");
    }
}

// Repeated names in objects below, at and above the size where the parser stops matching
// names as they come: each name keeps the place of its first appearance and the value of its
// last, whichever order the reader asks for them in.
TEST(JsonParser, RepeatedNamesKeepTheFirstPlaceAndTheLastValue) {
    const unsigned int seed = 99;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    for (int round = 0; round < 300; ++round) {
        const size_t distinct = 1 + random() % 24, members = 1 + random() % 40;
        std::vector<std::pair<std::string, int>> expected;
        std::string doc = "{";
        for (size_t i = 0; i < members; ++i) {
            // Names that share length, first and last byte as well as names that do not.
            const std::string name = "n" + std::to_string(random() % distinct) + "x";
            const int value = static_cast<int>(i);
            doc += "\"" + name + "\":" + std::to_string(value) + ",";
            auto at = std::find_if(expected.begin(), expected.end(),
                                   [&](const auto& m) { return m.first == name; });
            if (at == expected.end()) {
                expected.emplace_back(name, value);
            } else {
                at->second = value;
            }
        }
        doc += "\"n0x\":null}";  // a null member replaces nothing
        std::string tree;
        for (const auto& [name, value] : expected) {
            tree += (tree.empty() ? "" : ",") + name + "=" + std::to_string(value);
        }
        ASSERT_EQ(Parse(doc.c_str()).first, "{" + tree + "}") << doc;
        std::vector<size_t> order(expected.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::shuffle(order.begin(), order.end(), random);
        ReadObject(doc, [&](IDataReader& r) {
            for (const size_t i : order) {
                EXPECT_EQ(ReadAs<int>(r, expected[i].first.c_str()), expected[i].second);
                int absent = -1;  // a prefix and an extension of a present name
                EXPECT_FALSE(r.Read(expected[i].first.substr(0, 2).c_str(), absent));
                EXPECT_FALSE(r.Read((expected[i].first + "x").c_str(), absent));
            }
        });
    }
}

// Texts of a megabyte or more are measured again from the document when read: quoted ones
// up to the closing quote after their escapes, bare ones up to what ended them in the parse
// ('}' is text inside an array, ']' inside an object).
TEST(JsonParser, TextsOfAMegabyteAndMoreReadWhole) {
    for (const size_t length :
         {(size_t{1} << 20) - 2, (size_t{1} << 20) - 1, (size_t{1} << 20) + 3}) {
        SCOPED_TRACE(length);
        const std::string quoted = std::string(length - 2, 'q') + "\\\"";
        const std::string bare(length, '7');
        const std::string object = R"({"s":")" + quoted + R"(","b":)" + bare + "]}";
        const std::string array = "[" + bare + "}," + bare + "\n]";
        EXPECT_TRUE(Parse(object.c_str()).first == "{s=\"" + quoted + "\",b=" + bare + "]}");
        EXPECT_TRUE(Parse(array.c_str(), true).first == "[" + bare + "}," + bare + "]");
        ReadObject(object, [&](IDataReader& r) {
            EXPECT_TRUE(ReadAs<std::string>(r, "s") == quoted.substr(0, length - 2) + "\"");
        });
        ReadContainer(
            array, [&](IContainerReader& r) { EXPECT_TRUE(ReadAs<std::string>(r, 1u) == bare); });
    }
}

// ---- Hostile input ---------------------------------------------------------------------------

// Reads a whole object or array in every way, nested values included (fuzz/probe.h); the
// reads may fail only with library exceptions.
void ReadEverything(IDataReader& r) {
    Fuzz::CBudget budget(4000);
    Fuzz::CProbeObject(budget, 0).Read(r);
}
void ReadEverything(IContainerReader& r) {
    Fuzz::CBudget budget(4000);
    Fuzz::CProbeContainer(budget, 0).Read(r);
}

TEST(JsonHostile, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    std::string members;
    for (int i = 0; i < 100000; ++i) members += "{\"a\":";
    const std::string deepest = std::string(1000, '[') + "7" + std::string(1000, ']');
    for (const std::string& text : {std::string(100000, '['), "[" + deepest + "]"}) {
        ExpectRaisedAt<CException>([&] { ReadContainer(text, {}); }, kReaderFile, 610,
                                   "ParseElement");
    }
    ExpectRaisedAt<CException>([&] { ReadObject(members, {}); }, kReaderFile, 610, "ParseElement");
    // 1,000 levels, the document's own bracket included, are accepted and read back.
    int depth = 0, value = 0;
    std::function<void(IContainerReader&)> descend = [&](IContainerReader& r) {
        ++depth;
        Cont next;
        next.read = descend;
        EXPECT_TRUE(r.Read(0, next) || r.Read(0, value));
    };
    ReadContainer(deepest, descend);
    EXPECT_EQ(depth, 1000);
    EXPECT_EQ(value, 7);
}

// Huge numbers, then random texts: each is read, or fails with the parser's CException. An
// exception of no library type, or a crash, fails the test; reads beyond the text show only
// under the sanitizers (the ci-asan preset).
TEST(JsonHostile, HugeNumbersAndRandomTextsFailCleanly) {
    const std::string digits(400, '9');
    std::vector<std::string> texts = {"{\"i\":" + digits + ",\"d\":1e999999,\"t\":-1e-99999," +
                                      "\"q\":\"" + digits + "\",\"x\":0x" + digits + "}"};
    const unsigned int seed = 1234567;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const std::string alphabet = "{}[]\",:\\ \t\nnul0123456789-+.eEtrfasQUJD=\x80\xc3\xff";
    for (int round = 0; round < 4000; ++round) {
        std::string& text = texts.emplace_back(1, round % 2 ? '{' : '[');
        for (size_t i = 0, length = random() % 120; i < length; ++i) {
            text.push_back(random() % 8 == 0 ? static_cast<char>(1 + random() % 255)
                                             : alphabet[random() % alphabet.size()]);
        }
    }
    int parsed = 0;
    for (const std::string& text : texts) {
        try {
            if (text[0] == '{') {
                ReadObject(text, [](IDataReader& r) { ReadEverything(r); });
            } else {
                ReadContainer(text, [](IContainerReader& r) { ReadEverything(r); });
            }
            ++parsed;
        } catch (const CException&) {}
    }
    EXPECT_GT(parsed, 10);  // some of the texts must have been documents, or nothing was read
}

}  // namespace
