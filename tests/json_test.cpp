// JSON writer and reader: document text, value texts, round trips, conversions, failures and
// the per-thread locale.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <limits>
#include <locale>
#include <new>
#include <random>
#include <stdexcept>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

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

// Dates compare by their fields.
auto Key(const QvDateTime& t) {
    return std::tuple(t.GetYear(), t.GetMonth(), t.GetDay(), t.GetHour(), t.GetMinute(),
                      t.GetSecond(), t.GetMilliseconds());
}

// ---- Writing ---------------------------------------------------------------------------------

TEST(JsonWriter, DocumentLayout) {
    Obj pos([](IDataWriter& w) { w.Write("x", 1); w.Write("y", 2); });
    Obj z([](IDataWriter& w) { w.Write("z", 5); });
    Cont tags([&](IContainerWriter& w) { w.Write(3); w.Write(4); w.Write(z); });
    EXPECT_EQ(WriteJson(Obj([&](IDataWriter& w) {
                  w.Write("id", 7); w.Write("name", std::string("A\"b"));
                  w.Write("pos", pos); w.Write("tags", tags);
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
    EXPECT_EQ(WriteJson(Cont([&](IContainerWriter& w) { w.Write(emptyList); w.Write(emptyList); })),
              "[\t[\n\t],\n\t[\n\t]\n]\n");
    // Names are written as given, duplicates included.
    EXPECT_EQ(WriteJson(Obj([](IDataWriter& w) { w.Write("a", 1); w.Write("a", 2); })),
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
        {ValueText(0.1f), "0.100000001"}, {ValueText(1.0f), "1"},
        {ValueText(0.1), "0.10000000000000001"}, {ValueText(100.0), "100"},
        {ValueText(1e21), "1e+21"}, {ValueText(true), "true"}, {ValueText(false), "false"},
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
        {ValueText('x'), "\"x\""}, {ValueText('"'), "\"\\\"\""}, {ValueText('\\'), "\"\\\\\""},
        {ValueText('\0'), "\"\""},
        {ValueText(size_t{3}, "ABC"), "\"QUJD\""}, {ValueText(size_t{0}, ""), "\"\""},
        // 54 bytes: 72 Base64 characters and no line break after them.
        {ValueText(bytes54.size(), bytes54.data()), "\"" + base64 + "\""},
        {ValueText(MakeDate("2024-03-05T14:07:09", 500)), "\"2024-03-05T14:07:09\""},
    };
    for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
}

// The writer formats numbers itself: whatever format the caller set on the stream, its texts
// must be those of the stream's own inserters, and finite floating values read back bit for bit.
TEST(JsonWriter, NumberTextsMatchTheStreamAndReadBackExactly) {
    const unsigned int seed = 20240305;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 random(seed);
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> doubles = {0.0,  -0.0, 1e-320, 5e-324, 1.7976931348623157e308, inf, -inf,
                                   NAN,  1e16, 1e17,   0.0001, 0.00001, 123456789.0};
    std::vector<float> floats = {0.0f, 1e-45f, 3.4028235e38f, 16777216.0f, 0.3f, -2.5f};
    for (int i = 0; i < 3000; ++i) {
        const uint64_t bits = random();
        doubles.push_back(std::bit_cast<double>(bits));
        doubles.push_back(static_cast<double>(bits % 100000000) / 1000.0);
        floats.push_back(std::bit_cast<float>(static_cast<uint32_t>(bits >> 32)));
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
            w.Write(42); w.Write(true); w.Write(static_cast<unsigned char>(7));
        }));
        for (const double d : doubles) expected << ",\n\t" << std::setprecision(17) << d;
        for (const float f : floats) expected << ",\n\t" << std::setprecision(9) << f;
        expected << ",\n\t" << 42 << ",\n\t" << std::boolalpha << true << ",\n\t" << 7u;
        EXPECT_EQ(actual.str(), "[\t" + expected.str().substr(3) + "\n]\n");
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
    writer.Write(Obj([](IDataWriter& w) { w.Write("a", 1.5f); w.Write("s", std::string("s")); }));
    EXPECT_EQ(out.precision(), 9);
    EXPECT_FALSE(out.flags() & std::ios_base::boolalpha);
    CWriterJson(writer).Write(Cont([](IContainerWriter& w) { w.Write(true); w.Write(2.5); }));
    EXPECT_EQ(out.precision(), 17);
    EXPECT_TRUE(out.flags() & std::ios_base::boolalpha);
    EXPECT_EQ(out.str(), "x{\t\"a\":1.5,\n\t\"s\":\"s\"\n}\n[\ttrue,\n\t2.5\n]\n");
    std::ostringstream german;
    try {
        german.imbue(std::locale("de_DE.UTF-8"));
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "locale de_DE.UTF-8 is not installed (scripts/install-deps.sh)";
    }
    CWriterJson(german).Write(
        Obj([](IDataWriter& w) { w.Write("a", 1234567); w.Write("b", 2.5); }));
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
    Obj root([&](IDataWriter& w) { w.Write("a", 1); w.Write("in", failing); });
    EXPECT_EQ(ExpectWriteFails(root, 372, "{\t\"a\":1,\n\t\"in\":\n\t{").size(), 1u);
    // A library exception inside leaves its own log entry, then the one of Write.
    Cont inner([](IContainerWriter& w) { w.Write(1); throw CException("inner.cpp", 1, "Inner"); });
    const auto entries = ExpectWriteFails(inner, 402, "[\t1");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].function, "Inner");
    EXPECT_EQ(entries[1].function, "Tavrin::CWriterJson::Write");
    Obj oom([](IDataWriter& w) { w.Write("x", 1); throw std::bad_alloc(); });
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
        const struct { const char* name; bool result, value; } cases[] = {
            {"t", true, true},     {"f", true, false},    {"qt", true, true},
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
    ReadObject(R"({"t":"2024-03-05T14:07:09","s":"2024-03-05 14:07:09.2Z","b":2024-03-05T14:07:09})",
               [](IDataReader& r) {
                   for (const char* name : {"t", "s", "b"}) {
                       QvDateTime t = MakeDate("2001-01-01T01:01:01", 123);
                       EXPECT_TRUE(r.Read(name, t));
                       EXPECT_EQ(Key(t), Key(MakeDate("2024-03-05T14:07:09"))) << name;
                   }
               });
}

TEST(JsonReader, TextThatDoesNotConvertRaisesTheVariantException) {
    const auto fails = [](auto read, unsigned int line, const char* function,
                          std::string_view file = kVariantFile) {
        ExpectRaisedAt<QvExceptionConversion>(read, file, line, function);
    };
    const std::string date = "core/basepool/qvdatetime.cpp";
    ReadObject(R"({"bare":abc,"quoted":"abc","wide":)" "\xc3\xa9}", [&](IDataReader& r) {
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
                       {"u", "\\u0041"}, {"sl", "a/b"}, {"bs", "x\\ny"},
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
    ExpectRaisedAt<CException>([] { Obj o; CReaderJson(static_cast<const char*>(nullptr)).Read(o); },
                               kReaderFile, 500, "SkipEmptyChars");
    Cont c;
    CReaderJson(static_cast<const char*>(nullptr)).Read(c);
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
    ReadObject(R"({"b":1,"ab":2,"a":3,"A":4,"n":null})",
               [&](IDataReader& r) { EXPECT_EQ(names(r), (Names{"A", "a", "b", "ab"})); });
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

}  // namespace
