// JSON writer and reader: document text, value texts, round trips, conversions, failures and
// the per-thread locale.
#include <locale.h>

#include <cmath>
#include <cstring>
#include <iomanip>
#include <limits>
#include <locale>
#include <new>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "jsontesthelpers.h"
#include "logcapture.h"

namespace {

using namespace JsonTest;

// Exceptions log when they are made; keep the expected ones off the test output.
const Logging::LogSink g_previousSink = Logging::SetSink({});

QvDateTime MakeDate(unsigned short y, unsigned short mo, unsigned short d, unsigned short h,
                    unsigned short mi, unsigned short s, unsigned short ms = 0) {
    QvDateTime t;
    t.SetYear(y);
    t.SetMonth(mo);
    t.SetDay(d);
    t.SetHour(h);
    t.SetMinute(mi);
    t.SetSecond(s);
    t.SetMilliseconds(ms);
    return t;
}

// The text of one member "v" as the writer gives it.
std::string MemberText(const std::function<void(IDataWriter&)>& write) {
    const std::string doc = WriteJson(Obj(write));
    const std::string head = "{\t\"v\":", tail = "\n}\n";
    EXPECT_EQ(doc.substr(0, head.size()), head);
    EXPECT_EQ(doc.substr(doc.size() - tail.size()), tail);
    return doc.substr(head.size(), doc.size() - head.size() - tail.size());
}

// The text of one container element as the writer gives it.
std::string ElementText(const std::function<void(IContainerWriter&)>& write) {
    const std::string doc = WriteJson(Cont(write));
    EXPECT_EQ(doc.substr(0, 2), "[\t");
    EXPECT_EQ(doc.substr(doc.size() - 3), "\n]\n");
    return doc.substr(2, doc.size() - 5);
}

// ---- Document layout -------------------------------------------------------------------------

TEST(JsonWriter, NestedObjectAndContainerLayout) {
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
    Obj root([&](IDataWriter& w) {
        w.Write("id", 7);
        w.Write("name", std::string("A\"b"));
        w.Write("pos", pos);
        w.Write("tags", tags);
    });
    EXPECT_EQ(WriteJson(root),
              "{\t\"id\":7,\n"
              "\t\"name\":\"A\\\"b\",\n"
              "\t\"pos\":\n"
              "\t{\t\"x\":1,\n"
              "\t\t\"y\":2\n"
              "\t},\n"
              "\t\"tags\":\n"
              "\t[\t3,\n"
              "\t\t4,\n"
              "\t\t{\t\"z\":5\n"
              "\t\t}\n"
              "\t]\n"
              "}\n");
}

TEST(JsonWriter, EmptyBlocksAndSmallRoots) {
    EXPECT_EQ(WriteJson(Obj()), "{\n}\n");
    EXPECT_EQ(WriteJson(Cont()), "[\n]\n");
    EXPECT_EQ(WriteJson(Obj([](IDataWriter& w) {
                  w.Write("a", 1);
                  w.Write("b", 2);
              })),
              "{\t\"a\":1,\n\t\"b\":2\n}\n");
    EXPECT_EQ(WriteJson(Cont([](IContainerWriter& w) {
                  w.Write(1);
                  w.Write(2);
                  w.Write(3);
              })),
              "[\t1,\n\t2,\n\t3\n]\n");
    Obj empty;
    EXPECT_EQ(WriteJson(Obj([&](IDataWriter& w) { w.Write("o", empty); })),
              "{\t\"o\":\n\t{\n\t}\n}\n");
    Cont emptyList;
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

TEST(JsonWriter, DocumentsAppendToTheStreamAndCopiesShareIt) {
    std::ostringstream out;
    out << "x";
    CWriterJson writer(out);
    writer.Write(Obj([](IDataWriter& w) { w.Write("a", 1); }));
    CWriterJson copy(writer);
    copy.Write(Cont([](IContainerWriter& w) { w.Write(2); }));
    EXPECT_EQ(out.str(), "x{\t\"a\":1\n}\n[\t2\n]\n");
}

// ---- Value texts -----------------------------------------------------------------------------

TEST(JsonWriter, NumberTexts) {
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", static_cast<unsigned char>(200)); }),
              "200");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", static_cast<signed char>(-5)); }), "-5");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", std::numeric_limits<long long>::min()); }),
              "-9223372036854775808");
    EXPECT_EQ(MemberText([](IDataWriter& w) {
                  w.Write("v", std::numeric_limits<unsigned long long>::max());
              }),
              "18446744073709551615");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", static_cast<short>(-32768)); }),
              "-32768");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", static_cast<unsigned short>(65535)); }),
              "65535");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", 4000000000u); }), "4000000000");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", 0.1f); }), "0.100000001");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", 1.0f); }), "1");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", 0.1); }), "0.10000000000000001");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", 100.0); }), "100");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", 1e21); }), "1e+21");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", true); }), "true");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", false); }), "false");
    // The same texts as array elements.
    EXPECT_EQ(ElementText([](IContainerWriter& w) { w.Write(static_cast<signed char>(-128)); }),
              "-128");
    EXPECT_EQ(ElementText([](IContainerWriter& w) { w.Write(0.1f); }), "0.100000001");
    EXPECT_EQ(ElementText([](IContainerWriter& w) { w.Write(false); }), "false");
}

// The writer formats numbers itself where the stream would give the same text: pin that it
// does, for many values, against the stream's own inserters.
TEST(JsonWriter, FloatingTextsEqualTheStreamInserters) {
    const unsigned int seed = 20240305;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 random(seed);
    std::vector<double> doubles = {0.0, -0.0, 1e-320, 5e-324, 1.7976931348623157e308,
                                   std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity(),
                                   std::numeric_limits<double>::quiet_NaN(), 123456789.0, 1e16,
                                   1e17, 0.0001, 0.00001};
    std::vector<float> floats = {0.0f, 1e-45f, 3.4028235e38f, 16777216.0f, 0.3f, -2.5f};
    for (int i = 0; i < 3000; ++i) {
        const uint64_t bits = random();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        doubles.push_back(d);
        doubles.push_back(static_cast<double>(bits % 100000000) / 1000.0);
        const auto fbits = static_cast<uint32_t>(bits >> 32);
        float f;
        std::memcpy(&f, &fbits, sizeof f);
        floats.push_back(f);
    }
    std::ostringstream expected;
    expected << "[";
    for (size_t i = 0; i < doubles.size(); ++i) {
        expected << (i == 0 ? "\t" : ",\n\t");
        expected.precision(17);
        expected << doubles[i];
    }
    for (const float f : floats) {
        expected << ",\n\t";
        expected.precision(9);
        expected << f;
    }
    expected << "\n]\n";
    EXPECT_EQ(WriteJson(Cont([&](IContainerWriter& w) {
                  for (const double d : doubles) w.Write(d);
                  for (const float f : floats) w.Write(f);
              })),
              expected.str());
}

TEST(JsonWriter, StringCharBlobAndDateTexts) {
    // The seven escapes; other control bytes, "/" and bytes from 0x80 pass unchanged.
    EXPECT_EQ(MemberText([](IDataWriter& w) {
                  w.Write("v", std::string("\"\\\t\n\b\f\r/\x01\x7f\xc3\xa9z"));
              }),
              "\"\\\"\\\\\\t\\n\\b\\f\\r/\x01\x7f\xc3\xa9z\"");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", std::string()); }), "\"\"");
    // Narrow text ends at its first NUL, as the wide text does in its conversion.
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", std::string("ab\0cd", 5)); }),
              "\"ab\"");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", std::wstring(L"\u00e9")); }),
              "\"\xc3\xa9\"");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", std::wstring(L"a\"\U0001F600")); }),
              "\"a\\\"\xf0\x9f\x98\x80\"");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", std::wstring(L"ab\0cd", 5)); }),
              "\"ab\"");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", 'x'); }), "\"x\"");
    // A char that needs an escape gets it, so that the document stays well-formed.
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", '"'); }), "\"\\\"\"");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", '\\'); }), "\"\\\\\"");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", '\0'); }), "\"\"");

    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", 3, "ABC"); }), "\"QUJD\"");
    EXPECT_EQ(MemberText([](IDataWriter& w) { w.Write("v", 0, ""); }), "\"\"");
    const std::vector<unsigned char> bytes54(54, 0xAB);
    const std::string long64 = MemberText([&](IDataWriter& w) { w.Write("v", 54, bytes54.data()); });
    EXPECT_EQ(long64.size(), 74u);
    EXPECT_EQ(long64.find('\n'), std::string::npos);

    const QvDateTime date = MakeDate(2024, 3, 5, 14, 7, 9, 500);
    EXPECT_EQ(MemberText([&](IDataWriter& w) { w.Write("v", date); }), "\"2024-03-05T14:07:09\"");
    EXPECT_EQ(ElementText([&](IContainerWriter& w) { w.Write(date); }), "\"2024-03-05T14:07:09\"");
    EXPECT_EQ(ElementText([](IContainerWriter& w) { w.Write(std::string("a\nb")); }),
              "\"a\\nb\"");
}

TEST(JsonWriter, StreamSettingsLeftByTheWrite) {
    std::ostringstream out;
    CWriterJson writer(out);
    writer.Write(Obj([](IDataWriter& w) { w.Write("a", 1.5f); }));
    EXPECT_EQ(out.precision(), 9);
    EXPECT_FALSE(out.flags() & std::ios_base::boolalpha);
    writer.Write(Obj([](IDataWriter& w) {
        w.Write("a", true);
        w.Write("b", 2.5);
    }));
    EXPECT_EQ(out.precision(), 17);
    EXPECT_TRUE(out.flags() & std::ios_base::boolalpha);
}

// A caller that set its own number format or locale on the stream gets the stream's texts.
TEST(JsonWriter, StreamOwnFormattingIsHonoured) {
    std::ostringstream hex;
    hex << std::hex << std::showbase;
    CWriterJson(hex).Write(Obj([](IDataWriter& w) {
        w.Write("a", 255);
        w.Write("b", std::string("s"));
    }));
    EXPECT_EQ(hex.str(), "{\t\"a\":0xff,\n\t\"b\":\"s\"\n}\n");

    // Sign, fixed or exponent form, trailing zeros, a precision or boolalpha left from before:
    // whatever the caller set, the texts are those of the stream's own inserters.
    using StreamSetup = void (*)(std::ostream&);
    const StreamSetup setups[] = {
        [](std::ostream& s) { s << std::showpos; },
        [](std::ostream& s) { s << std::fixed; },
        [](std::ostream& s) { s << std::scientific << std::uppercase; },
        [](std::ostream& s) { s << std::showpoint; },
        [](std::ostream& s) { s << std::setprecision(3) << std::boolalpha; },
    };
    for (const StreamSetup setup : setups) {
        std::ostringstream actual, expected;
        setup(actual);
        setup(expected);
        CWriterJson(actual).Write(Obj([](IDataWriter& w) {
            w.Write("i", 42);
            w.Write("d", 0.1);
            w.Write("f", 2.5f);
            w.Write("b", true);
            w.Write("u", static_cast<unsigned char>(7));
        }));
        expected << "{\t\"i\":" << 42 << ",\n\t\"d\":" << std::setprecision(17) << 0.1
                 << ",\n\t\"f\":" << std::setprecision(9) << 2.5 << ",\n\t\"b\":" << std::boolalpha
                 << true << ",\n\t\"u\":" << 7u << "\n}\n";
        EXPECT_EQ(actual.str(), expected.str());
    }

    std::locale german;
    try {
        german = std::locale("de_DE.UTF-8");
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "locale de_DE.UTF-8 is not installed (scripts/install-deps.sh)";
    }
    std::ostringstream out;
    out.imbue(german);
    CWriterJson(out).Write(Obj([](IDataWriter& w) {
        w.Write("a", 1234567);
        w.Write("b", 2.5);
    }));
    EXPECT_EQ(out.str(), "{\t\"a\":1.234.567,\n\t\"b\":2,5\n}\n");
}

// ---- Failures while writing ------------------------------------------------------------------

struct ThrowingDate : QvDateTime {
    unsigned short GetYear() const override { throw std::runtime_error("no year"); }
};

TEST(JsonWriter, EveryFailureBecomesTheCExceptionOfWrite) {
    Obj failing([](IDataWriter&) { throw std::runtime_error("application"); });
    Obj root([&](IDataWriter& w) {
        w.Write("a", 1);
        w.Write("in", failing);
    });
    {
        LogCapture log;
        std::ostringstream out;
        ExpectThrowAt<CException>([&] { CWriterJson(out).Write(root); }, 372,
                                  "Tavrin::CWriterJson::Write", kWriterFile);
        EXPECT_EQ(out.str(), "{\t\"a\":1,\n\t\"in\":\n\t{");
        EXPECT_EQ(log.Count(), 1u);
    }
    {
        // A library exception inside leaves its own log entry, then the one of Write.
        LogCapture log;
        std::ostringstream out;
        Cont list([](IContainerWriter& w) {
            w.Write(1);
            throw CException("inner.cpp", 1, "Inner");
        });
        ExpectThrowAt<CException>([&] { CWriterJson(out).Write(list); }, 402,
                                  "Tavrin::CWriterJson::Write", kWriterFile);
        EXPECT_EQ(out.str(), "[\t1");
        const auto entries = log.Entries();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0].function, "Inner");
        EXPECT_EQ(entries[1].function, "Tavrin::CWriterJson::Write");
    }
    {
        std::ostringstream out;
        Obj oom([](IDataWriter& w) {
            w.Write("x", 1);
            throw std::bad_alloc();
        });
        Cont list([&](IContainerWriter& w) { w.Write(oom); });
        ExpectThrowAt<CException>([&] { CWriterJson(out).Write(list); }, 402,
                                  "Tavrin::CWriterJson::Write", kWriterFile);
        EXPECT_EQ(out.str(), "[\t{\t\"x\":1");
    }
    {
        // A value that fails half way: what was written of it before the failure stays.
        std::ostringstream out;
        ThrowingDate date;
        ExpectThrowAt<CException>(
            [&] { CWriterJson(out).Write(Obj([&](IDataWriter& w) { w.Write("d", date); })); },
            372, "Tavrin::CWriterJson::Write", kWriterFile);
        EXPECT_EQ(out.str(), "{\t\"d\":");
    }
    {
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
        ExpectThrowAt<CException>([&] { CWriterJson(out).Write(Obj()); }, 372,
                                  "Tavrin::CWriterJson::Write", kWriterFile);
    }
}

// ---- Round trips -----------------------------------------------------------------------------

struct SAll {
    bool b = false;
    char c = 0;
    signed char i8 = 0;
    unsigned char u8 = 0;
    short i16 = 0;
    unsigned short u16 = 0;
    int i32 = 0;
    unsigned int u32 = 0;
    long long i64 = 0;
    unsigned long long u64 = 0;
    float f = 0;
    double d = 0;
    std::string s;
    std::wstring ws;
    QvDateTime t = MakeDate(1601, 1, 1, 0, 0, 0);
    std::vector<unsigned char> blob;

    void Write(IDataWriter& w) const {
        w.Write("b", b);
        w.Write("c", c);
        w.Write("i8", i8);
        w.Write("u8", u8);
        w.Write("i16", i16);
        w.Write("u16", u16);
        w.Write("i32", i32);
        w.Write("u32", u32);
        w.Write("i64", i64);
        w.Write("u64", u64);
        w.Write("f", f);
        w.Write("d", d);
        w.Write("s", s);
        w.Write("ws", ws);
        w.Write("t", t);
        w.Write("blob", blob.size(), blob.data());
    }
    void Read(IDataReader& r) {
        EXPECT_TRUE(r.Read("b", b));
        EXPECT_TRUE(r.Read("c", c));
        EXPECT_TRUE(r.Read("i8", i8));
        EXPECT_TRUE(r.Read("u8", u8));
        EXPECT_TRUE(r.Read("i16", i16));
        EXPECT_TRUE(r.Read("u16", u16));
        EXPECT_TRUE(r.Read("i32", i32));
        EXPECT_TRUE(r.Read("u32", u32));
        EXPECT_TRUE(r.Read("i64", i64));
        EXPECT_TRUE(r.Read("u64", u64));
        EXPECT_TRUE(r.Read("f", f));
        EXPECT_TRUE(r.Read("d", d));
        EXPECT_TRUE(r.Read("s", s));
        EXPECT_TRUE(r.Read("ws", ws));
        EXPECT_TRUE(r.Read("t", t));
        const SBlobRange range = r.Read("blob");
        blob.assign(range.begin, range.end);
    }
    bool operator==(const SAll& o) const {
        return b == o.b && c == o.c && i8 == o.i8 && u8 == o.u8 && i16 == o.i16 &&
               u16 == o.u16 && i32 == o.i32 && u32 == o.u32 && i64 == o.i64 && u64 == o.u64 &&
               std::memcmp(&f, &o.f, sizeof f) == 0 && std::memcmp(&d, &o.d, sizeof d) == 0 &&
               s == o.s && ws == o.ws && t.GetYear() == o.t.GetYear() &&
               t.GetMonth() == o.t.GetMonth() && t.GetDay() == o.t.GetDay() &&
               t.GetHour() == o.t.GetHour() && t.GetMinute() == o.t.GetMinute() &&
               t.GetSecond() == o.t.GetSecond() && blob == o.blob;
    }
};

SAll RoundTrip(const SAll& in) {
    SAll out;
    Obj writer([&](IDataWriter& w) { in.Write(w); });
    const std::string text = WriteJson(writer);
    Obj reader;
    reader.read = [&](IDataReader& r) { out.Read(r); };
    CReaderJson(text).Read(reader);
    return out;
}

TEST(JsonRoundTrip, ExtremesOfEveryKind) {
    std::string allBytes;
    for (int i = 1; i < 256; ++i) allBytes.push_back(static_cast<char>(i));
    SAll lo;
    lo.b = false;
    lo.c = 'x';
    lo.i8 = -128;
    lo.u8 = 0;
    lo.i16 = -32768;
    lo.u16 = 0;
    lo.i32 = std::numeric_limits<int>::min();
    lo.u32 = 0;
    lo.i64 = std::numeric_limits<long long>::min();
    lo.u64 = 0;
    lo.f = -std::numeric_limits<float>::denorm_min();
    lo.d = -std::numeric_limits<double>::denorm_min();
    lo.s = allBytes;
    lo.ws = L"\"\\\t\n/\u00e9\u20ac\u4e2d\U0001F600\U0010FFFF";
    lo.t = MakeDate(1601, 1, 1, 0, 0, 0);
    lo.blob = {0};
    EXPECT_EQ(RoundTrip(lo), lo);

    SAll hi;
    hi.b = true;
    hi.c = '~';
    hi.i8 = 127;
    hi.u8 = 255;
    hi.i16 = 32767;
    hi.u16 = 65535;
    hi.i32 = std::numeric_limits<int>::max();
    hi.u32 = std::numeric_limits<unsigned int>::max();
    hi.i64 = std::numeric_limits<long long>::max();
    hi.u64 = std::numeric_limits<unsigned long long>::max();
    hi.f = std::numeric_limits<float>::max();
    hi.d = std::numeric_limits<double>::max();
    hi.s = "";
    hi.ws = L"";
    hi.t = MakeDate(9999, 12, 31, 23, 59, 59);
    for (int i = 0; i < 1000; ++i) hi.blob.push_back(static_cast<unsigned char>(i * 7));
    EXPECT_EQ(RoundTrip(hi), hi);
}

TEST(JsonRoundTrip, RandomFloatsAndDoublesComeBackBitForBit) {
    const unsigned int seed = 77;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 random(seed);
    std::vector<double> doubles;
    std::vector<float> floats;
    while (doubles.size() < 2000) {
        const uint64_t bits = random();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        const auto fbits = static_cast<uint32_t>(bits);
        float f;
        std::memcpy(&f, &fbits, sizeof f);
        if (std::isfinite(d) && std::isfinite(f)) {
            doubles.push_back(d);
            floats.push_back(f);
        }
    }
    const std::string text = WriteJson(Cont([&](IContainerWriter& w) {
        for (size_t i = 0; i < doubles.size(); ++i) {
            w.Write(doubles[i]);
            w.Write(floats[i]);
        }
    }));
    std::vector<double> readDoubles;
    std::vector<float> readFloats;
    Cont reader;
    reader.read = [&](IContainerReader& r) {
        double d = 0;
        float f = 0;
        for (unsigned int i = 0; r.Read(i, d) && r.Read(i + 1, f); i += 2) {
            readDoubles.push_back(d);
            readFloats.push_back(f);
        }
    };
    CReaderJson(text).Read(reader);
    ASSERT_EQ(readDoubles.size(), doubles.size());
    EXPECT_EQ(std::memcmp(readDoubles.data(), doubles.data(), doubles.size() * sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(readFloats.data(), floats.data(), floats.size() * sizeof(float)), 0);
}

// Objects and containers nested at every depth, each level with its own value.
struct SNested : ISerializable {
    int level = 0;
    int depth;
    std::vector<int> list;
    std::unique_ptr<SNested> child;
    explicit SNested(int d) : depth(d) {}
    const char* GetClassName() const override { return "Nested"; }
    void Write(IDataWriter& w) const override {
        w.Write("level", level);
        Cont items([&](IContainerWriter& cw) {
            for (const int v : list) cw.Write(v);
        });
        w.Write("list", items);
        if (child) w.Write("child", *child);
    }
    void Read(IDataReader& r) override {
        EXPECT_TRUE(r.Read("level", level));
        Cont items;
        items.read = [&](IContainerReader& cr) {
            int v = 0;
            for (unsigned int i = 0; cr.Read(i, v); ++i) list.push_back(v);
        };
        EXPECT_TRUE(r.Read("list", items));
        if (depth > 0) {
            child = std::make_unique<SNested>(depth - 1);
            EXPECT_TRUE(r.Read("child", *child));
        } else {
            SNested none(0);
            EXPECT_FALSE(r.Read("child", none));
        }
    }
};

TEST(JsonRoundTrip, NestedObjectsAndContainersOfContainers) {
    SNested root(20);
    SNested* node = &root;
    for (int i = 0; i <= 20; ++i) {
        node->level = i;
        node->list = std::vector<int>(static_cast<size_t>(i), i);
        if (i < 20) {
            node->child = std::make_unique<SNested>(19 - i);
            node = node->child.get();
        }
    }
    SNested back(20);
    CReaderJson(WriteJson(root)).Read(back);
    const SNested* a = &root;
    const SNested* b = &back;
    for (int i = 0; i <= 20; ++i) {
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->level, a->level);
        EXPECT_EQ(b->list, a->list);
        a = a->child.get();
        b = b->child.get();
    }

    // A matrix: a container of containers of strings.
    const std::vector<std::vector<std::string>> matrix = {{"a", "b"}, {}, {"c\"", "d\\", "e\n"}};
    const std::string text = WriteJson(Cont([&](IContainerWriter& w) {
        for (const auto& row : matrix) {
            w.Write(Cont([&](IContainerWriter& rw) {
                for (const auto& s : row) rw.Write(s);
            }));
        }
    }));
    std::vector<std::vector<std::string>> read;
    Cont reader;
    reader.read = [&](IContainerReader& r) {
        for (unsigned int i = 0;; ++i) {
            std::vector<std::string> row;
            Cont rowReader;
            rowReader.read = [&](IContainerReader& rr) {
                std::string s;
                for (unsigned int j = 0; rr.Read(j, s); ++j) row.push_back(s);
            };
            if (!r.Read(i, rowReader)) break;
            read.push_back(row);
        }
    };
    CReaderJson(text).Read(reader);
    EXPECT_EQ(read, matrix);
}

// ---- Reading ---------------------------------------------------------------------------------

TEST(JsonReader, ValuesConvertToTheTypeAskedFor) {
    ReadObject(R"({"n":42,"s":"42","x":"12abc","neg":-1,"hex":"0x1F","f":1.5,"big":70000})",
               [](IDataReader& r) {
                   std::string s;
                   EXPECT_TRUE(r.Read("n", s));
                   EXPECT_EQ(s, "42");
                   int i = 0;
                   EXPECT_TRUE(r.Read("s", i));
                   EXPECT_EQ(i, 42);
                   EXPECT_TRUE(r.Read("x", i));
                   EXPECT_EQ(i, 12);
                   unsigned int u = 0;
                   EXPECT_TRUE(r.Read("neg", u));
                   EXPECT_EQ(u, 4294967295u);
                   EXPECT_TRUE(r.Read("hex", i));
                   EXPECT_EQ(i, 31);
                   double d = 0;
                   EXPECT_TRUE(r.Read("n", d));
                   EXPECT_EQ(d, 42.0);
                   float f = 0;
                   EXPECT_TRUE(r.Read("f", f));
                   EXPECT_EQ(f, 1.5f);
                   short sh = 0;
                   EXPECT_TRUE(r.Read("big", sh));
                   EXPECT_EQ(sh, 4464);
                   unsigned long long u64 = 0;
                   EXPECT_TRUE(r.Read("n", u64));
                   EXPECT_EQ(u64, 42u);
               });
}

TEST(JsonReader, TextThatDoesNotConvertRaisesTheVariantException) {
    const std::string doc = R"({"bare":abc,"quoted":"abc","two":42,"one":"x","d":"1.5 "})";
    ReadObject(doc, [](IDataReader& r) {
        int i = 7;
        ExpectThrowAt<QvExceptionConversion>([&] { r.Read("bare", i); }, 812, "stringToInt",
                                             kVariantFile, "bare text is held wide");
        ExpectThrowAt<QvExceptionConversion>([&] { r.Read("quoted", i); }, 794, "stringToInt",
                                             kVariantFile, "a quoted string is held narrow");
        EXPECT_EQ(i, 7);
        char c = 'q';
        ExpectThrowAt<QvExceptionConversion>([&] { r.Read("two", c); }, 929, "convertToChar",
                                             kVariantFile);
        EXPECT_TRUE(r.Read("one", c));
        EXPECT_EQ(c, 'x');
        double d = 0;
        ExpectThrowAt<QvExceptionConversion>([&] { r.Read("d", d); }, 702, "stringToDouble",
                                             kVariantFile);
        QvDateTime t;
        ExpectThrowAt<QvExceptionConversion>([&] { r.Read("quoted", t); }, 248,
                                             "QvDateTime::QvDateTime", "core/basepool/qvdatetime.cpp");
        ExpectThrowAt<QvExceptionConversion>([&] { r.Read("bare", t); }, 299,
                                             "QvDateTime::QvDateTime", "core/basepool/qvdatetime.cpp");
    });
    // A char that the writer had to escape comes back as a conversion error.
    const std::string quote = WriteJson(Obj([](IDataWriter& w) { w.Write("c", '"'); }));
    ReadObject(quote, [](IDataReader& r) {
        char c = 0;
        ExpectThrowAt<QvExceptionConversion>([&] { r.Read("c", c); }, 926, "convertToChar",
                                             kVariantFile);
    });
}

// Bare text stands for wide text with one character per byte, bytes from 0x80 sign-extended.
TEST(JsonReader, BareNonAsciiTextIsWidenedBytewise) {
    ReadObject("{\"a\":\xc3\xa9}", [](IDataReader& r) {
        std::string s;
        EXPECT_TRUE(r.Read("a", s));
        EXPECT_EQ(s, "\xef\xbf\x83\xef\xbe\xa9");
        std::wstring w;
        EXPECT_TRUE(r.Read("a", w));
        EXPECT_EQ(w, std::wstring(L"\uffc3\uffa9"));
        char c = 0;
        ExpectThrowAt<QvExceptionConversion>([&] { r.Read("a", c); }, 929, "convertToChar",
                                             kVariantFile);
    });
    ReadObject("{\"a\":\xc3}", [](IDataReader& r) {
        char c = 0;
        EXPECT_TRUE(r.Read("a", c));
        EXPECT_EQ(c, '\xc3');
    });
}

TEST(JsonReader, AbsentNullAndWrongKindReadFalseAndLeaveTheTarget) {
    ReadObject(R"({"a":1,"b":null,"o":{"z":5},"l":[1]})", [](IDataReader& r) {
        EXPECT_EQ(r.GetNameCount(), 3u);
        int i = 9;
        EXPECT_FALSE(r.Read("missing", i));
        EXPECT_FALSE(r.Read("b", i));
        EXPECT_FALSE(r.Read("o", i));
        EXPECT_FALSE(r.Read("l", i));
        EXPECT_FALSE(r.Read("A", i));  // names are case-sensitive
        EXPECT_EQ(i, 9);
        std::string s = "keep";
        EXPECT_FALSE(r.Read("o", s));
        EXPECT_EQ(s, "keep");
        Obj o;
        EXPECT_FALSE(r.Read("a", o));
        EXPECT_FALSE(r.Read("l", o));
        Cont c;
        EXPECT_FALSE(r.Read("o", c));
        const SBlobRange none = r.Read("missing");
        EXPECT_EQ(none.begin, nullptr);
        EXPECT_EQ(none.end, nullptr);
        EXPECT_EQ(r.Read("o").begin, nullptr);
        EXPECT_EQ(r.GetName(3), nullptr);
    });
    ReadObject(R"({"a":1,"b":null})", [](IDataReader& r) {
        ASSERT_EQ(r.GetNameCount(), 1u);
        EXPECT_STREQ(r.GetName(0), "a");
    });
    ReadContainer("[1,2]", [](IContainerReader& r) {
        int i = 9;
        EXPECT_FALSE(r.Read(2, i));
        EXPECT_EQ(i, 9);
    });
    ReadContainer(R"([1,null,"x",{"z":5},[2]])", [](IContainerReader& r) {
        int i = 9;
        EXPECT_TRUE(r.Read(0, i));
        EXPECT_EQ(i, 1);
        i = 9;
        EXPECT_FALSE(r.Read(1, i));
        EXPECT_FALSE(r.Read(3, i));
        EXPECT_FALSE(r.Read(5, i));
        EXPECT_EQ(i, 9);
        EXPECT_EQ(r.Read(1).begin, nullptr);
        EXPECT_EQ(r.Read(7).begin, nullptr);
        int z = 0;
        Obj o;
        o.read = [&](IDataReader& inner) { EXPECT_TRUE(inner.Read("z", z)); };
        EXPECT_TRUE(r.Read(3, o));
        EXPECT_EQ(z, 5);
        Cont c;
        EXPECT_FALSE(r.Read(3, c));
        EXPECT_TRUE(r.Read(4, c));
    });
}

TEST(JsonReader, StringEscapesAreDecodedOnlyByStringReads) {
    ReadObject(R"({"u":"\u0041","sl":"a\/b","bs":"x\\ny","all":"\"\\\/\b\f\n\r\t","end":"a\\",)"
               R"("k\"ey":1,"bare":a\tb})",
               [](IDataReader& r) {
                   std::string s;
                   EXPECT_TRUE(r.Read("u", s));
                   EXPECT_EQ(s, "\\u0041");
                   EXPECT_TRUE(r.Read("sl", s));
                   EXPECT_EQ(s, "a/b");
                   EXPECT_TRUE(r.Read("bs", s));
                   EXPECT_EQ(s, "x\\ny");
                   EXPECT_TRUE(r.Read("all", s));
                   EXPECT_EQ(s, "\"\\/\b\f\n\r\t");
                   EXPECT_TRUE(r.Read("end", s));
                   EXPECT_EQ(s, "a\\");
                   EXPECT_TRUE(r.Read("bare", s));
                   EXPECT_EQ(s, "a\tb");
                   std::wstring w;
                   EXPECT_TRUE(r.Read("all", w));
                   EXPECT_EQ(w, L"\"\\/\b\f\n\r\t");
                   // Names are never decoded.
                   int i = 0;
                   EXPECT_TRUE(r.Read("k\\\"ey", i));
                   EXPECT_FALSE(r.Read("k\"ey", i));
               });
    // Invalid UTF-8: the narrow read keeps the bytes, the wide read substitutes.
    ReadObject("{\"s\":\"a\xff\xc3z\"}", [](IDataReader& r) {
        std::string s;
        EXPECT_TRUE(r.Read("s", s));
        EXPECT_EQ(s, "a\xff\xc3z");
        std::wstring w;
        EXPECT_TRUE(r.Read("s", w));
        EXPECT_NE(w.find(L'\uFFFD'), std::wstring::npos);
        EXPECT_EQ(w.front(), L'a');
        EXPECT_EQ(w.back(), L'z');
    });
}

TEST(JsonReader, BoolReadsOnlyTrueAndFalse) {
    ReadObject(R"({"t":true,"f":false,"qt":"true","yes":yes,"one":1,"T":TRUE})",
               [](IDataReader& r) {
                   bool b = false;
                   EXPECT_TRUE(r.Read("t", b));
                   EXPECT_TRUE(b);
                   EXPECT_TRUE(r.Read("f", b));
                   EXPECT_FALSE(b);
                   EXPECT_TRUE(r.Read("qt", b));
                   EXPECT_TRUE(b);
                   // Other text sets the target to false although the read fails.
                   EXPECT_FALSE(r.Read("yes", b));
                   EXPECT_FALSE(b);
                   b = true;
                   EXPECT_FALSE(r.Read("one", b));
                   EXPECT_FALSE(b);
                   b = true;
                   EXPECT_FALSE(r.Read("T", b));
                   EXPECT_FALSE(b);
                   b = true;
                   EXPECT_FALSE(r.Read("missing", b));
                   EXPECT_TRUE(b);
               });
}

TEST(JsonReader, BlobsAreDecodedOnceAndCached) {
    ReadObject(R"({"b":"QUJD","bare":QUJD,"empty":"","pad":"QQ=="})", [](IDataReader& r) {
        const SBlobRange first = r.Read("b");
        ASSERT_NE(first.begin, nullptr);
        EXPECT_EQ(std::string(first.begin, first.end), "ABC");
        const SBlobRange second = r.Read("b");
        EXPECT_EQ(second.begin, first.begin);
        EXPECT_EQ(second.end, first.end);
        const SBlobRange bare = r.Read("bare");
        EXPECT_EQ(std::string(bare.begin, bare.end), "ABC");
        const SBlobRange pad = r.Read("pad");
        EXPECT_EQ(std::string(pad.begin, pad.end), "A");
        ExpectThrowAt<CException>([&] { r.Read("empty"); }, 127, "Tavrin::Base64::Decode",
                                  "core/tavrin/src/base64.cpp");
        // The cached range stays valid while the reader lives.
        EXPECT_EQ(std::string(first.begin, first.end), "ABC");
    });
    ReadContainer(R"(["QUJD",""])", [](IContainerReader& r) {
        const SBlobRange first = r.Read(0u);
        EXPECT_EQ(std::string(first.begin, first.end), "ABC");
        EXPECT_EQ(r.Read(0u).begin, first.begin);
        ExpectThrowAt<CException>([&] { r.Read(1u); }, 127, "Tavrin::Base64::Decode",
                                  "core/tavrin/src/base64.cpp");
    });
}

TEST(JsonReader, DateTimes) {
    ReadObject(R"({"t":"2024-03-05T14:07:09","s":"2024-03-05 14:07:09.250Z","bare":2024-03-05T14:07:09})",
               [](IDataReader& r) {
                   for (const char* name : {"t", "s", "bare"}) {
                       QvDateTime t = MakeDate(1, 1, 1, 1, 1, 1, 123);
                       EXPECT_TRUE(r.Read(name, t));
                       EXPECT_EQ(t.GetYear(), 2024);
                       EXPECT_EQ(t.GetMonth(), 3);
                       EXPECT_EQ(t.GetDay(), 5);
                       EXPECT_EQ(t.GetHour(), 14);
                       EXPECT_EQ(t.GetMinute(), 7);
                       EXPECT_EQ(t.GetSecond(), 9);
                       EXPECT_EQ(t.GetMilliseconds(), 0);
                   }
               });
}

TEST(JsonReader, NullAndEmptyDocuments) {
    ReadObject("null", [](IDataReader& r) {
        EXPECT_EQ(r.GetNameCount(), 0u);
        int i = 3;
        EXPECT_FALSE(r.Read("a", i));
    });
    ReadObject("{}", [](IDataReader& r) { EXPECT_EQ(r.GetNameCount(), 0u); });
    ReadObject("{\n}\n", [](IDataReader& r) { EXPECT_EQ(r.GetNameCount(), 0u); });
    int calls = 0;
    ReadContainer("", [&](IContainerReader& r) {
        ++calls;
        int i = 0;
        EXPECT_FALSE(r.Read(0, i));
    });
    ReadContainer("[\n]\n", [&](IContainerReader& r) {
        ++calls;
        int i = 0;
        EXPECT_FALSE(r.Read(0, i));
    });
    EXPECT_EQ(calls, 2);
    ExpectThrowAt<CException>([] { ReadObject("", [](IDataReader&) {}); }, 500, "SkipEmptyChars",
                              kReaderFile);
    ExpectThrowAt<CException>([] { ReadObject(" null", [](IDataReader&) {}); }, 681,
                              "Tavrin::ParseObject", kReaderFile);
    ExpectThrowAt<CException>([] { ReadContainer("null", [](IContainerReader&) {}); }, 745,
                              "Tavrin::ParseArray", kReaderFile);
    ExpectThrowAt<CException>([] { ReadObject("[1]", [](IDataReader&) {}); }, 681,
                              "Tavrin::ParseObject", kReaderFile);
    // A null text reads as an empty one.
    ExpectThrowAt<CException>([] { Obj o; CReaderJson(static_cast<const char*>(nullptr)).Read(o); },
                              500, "SkipEmptyChars", kReaderFile);
    Cont c;
    CReaderJson(static_cast<const char*>(nullptr)).Read(c);
}

TEST(JsonReader, ApplicationExceptionsPassUnchanged) {
    LogCapture log;
    EXPECT_THROW(ReadObject("{}", [](IDataReader&) { throw std::runtime_error("app"); }),
                 std::runtime_error);
    ExpectThrowAt<CException>(
        [] { ReadContainer("[1]", [](IContainerReader&) { throw CException("app.cpp", 3, "App"); }); },
        3, "App", "app.cpp");
    EXPECT_EQ(log.Count(), 1u);
}

// GetName follows the member map: buckets by the x33 hash of the name, masked to 128 buckets,
// newest first within a bucket.
TEST(JsonReader, NamesFollowTheMemberMapOrder) {
    ReadObject(R"({"b":1,"ab":2,"a":3,"A":4,"n":null})", [](IDataReader& r) {
        // Buckets: A 65, a 97, b 98, ab 3299 & 127 = 99.
        ASSERT_EQ(r.GetNameCount(), 4u);
        EXPECT_STREQ(r.GetName(0), "A");
        EXPECT_STREQ(r.GetName(1), "a");
        EXPECT_STREQ(r.GetName(2), "b");
        EXPECT_STREQ(r.GetName(3), "ab");
    });
    // 0xE1 counts as -31, which falls into bucket 97 with "a": the newer comes first. A name
    // that comes again keeps the place of its first appearance.
    ReadObject("{\"a\":1,\"\xe1\":2,\"a\":3}", [](IDataReader& r) {
        ASSERT_EQ(r.GetNameCount(), 2u);
        EXPECT_STREQ(r.GetName(0), "\xe1");
        EXPECT_STREQ(r.GetName(1), "a");
        int a = 0;
        EXPECT_TRUE(r.Read("a", a));
        EXPECT_EQ(a, 3);
    });
}

// Objects large enough to make the member map grow (at 96, 192 and 384 entries) give the same
// order as the library's own QvMapEx filled in document order.
TEST(JsonReader, NamesOfLargeObjectsMatchQvMapEx) {
    const unsigned int seed = 4242;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    for (const unsigned int count : {95u, 96u, 97u, 200u, 700u}) {
        std::vector<std::string> names;
        QvMapEx<QvStringA, int> map;
        std::string doc = "{";
        while (names.size() < count) {
            std::string name;
            const size_t length = 1 + random() % 6;
            for (size_t i = 0; i < length; ++i) {
                name.push_back(static_cast<char>(random() % 2 ? 'a' + random() % 26 : 0x80 + random() % 128));
            }
            if (map.Lookup(QvStringA(name)) != nullptr) continue;
            map.GetOrAdd(QvStringA(name)) = static_cast<int>(names.size());
            names.push_back(name);
            doc += "\"" + name + "\":" + std::to_string(names.size()) + ",";
        }
        doc += "}";
        std::vector<std::string> expected;
        for (auto* a = map.GetFirst(); a != nullptr; a = a->pNext) expected.emplace_back(a->key.GetString());
        std::vector<std::string> actual;
        ReadObject(doc, [&](IDataReader& r) {
            ASSERT_EQ(r.GetNameCount(), count);
            for (unsigned int i = 0; i < count; ++i) actual.emplace_back(r.GetName(i));
            // Every name is found again, with its own value.
            for (size_t i = 0; i < names.size(); ++i) {
                int v = 0;
                ASSERT_TRUE(r.Read(names[i].c_str(), v));
                EXPECT_EQ(v, static_cast<int>(i + 1));
            }
        });
        EXPECT_EQ(actual, expected) << count << " names";
    }
}

// ---- The per-thread "C" locale ---------------------------------------------------------------

// Runs `body` on a new thread whose locale is de_DE.UTF-8 (decimal comma).
template <class F>
void OnGermanThread(F body) {
    locale_t german = newlocale(LC_ALL_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
    if (german == static_cast<locale_t>(nullptr)) {
        GTEST_SKIP() << "locale de_DE.UTF-8 is not installed (scripts/install-deps.sh)";
    }
    std::thread thread([&] {
        uselocale(german);
        body(german);
        uselocale(LC_GLOBAL_LOCALE);
    });
    thread.join();
    freelocale(german);
}

TEST(JsonLocale, WriteAndReadUseTheDecimalPointOnAnyThreadLocale) {
    OnGermanThread([](locale_t german) {
        ASSERT_STREQ(localeconv()->decimal_point, ",");
        std::string seen;
        Obj object([&](IDataWriter& w) {
            seen = localeconv()->decimal_point;
            w.Write("d", 1.5);
            w.Write("f", 0.25f);
            w.Write("i", 1234567);
        });
        const std::string text = WriteJson(object);
        EXPECT_EQ(seen, ".");
        EXPECT_EQ(text, "{\t\"d\":1.5,\n\t\"f\":0.25,\n\t\"i\":1234567\n}\n");
        EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), german);

        double d = 0;
        float f = 0;
        ReadObject(text, [&](IDataReader& r) {
            seen = localeconv()->decimal_point;
            EXPECT_TRUE(r.Read("d", d));
            EXPECT_TRUE(r.Read("f", f));
        });
        EXPECT_EQ(seen, ".");
        EXPECT_EQ(d, 1.5);
        EXPECT_EQ(f, 0.25f);
        EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), german);
    });
}

TEST(JsonLocale, LocaleIsBackAfterFailures) {
    OnGermanThread([](locale_t german) {
        std::ostringstream out;
        EXPECT_THROW(CWriterJson(out).Write(Obj([](IDataWriter&) { throw 1; })), CException);
        EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), german);
        EXPECT_THROW(ReadObject("{\"a\":", [](IDataReader&) {}), CException);
        EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), german);
        EXPECT_THROW(ReadObject("{\"a\":x}",
                                [](IDataReader& r) {
                                    double d;
                                    r.Read("a", d);
                                }),
                     QvExceptionConversion);
        EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), german);
        EXPECT_STREQ(localeconv()->decimal_point, ",");
    });
    // A thread that follows the process-wide locale follows it again afterwards.
    std::thread plain([] {
        std::ostringstream out;
        EXPECT_THROW(CWriterJson(out).Write(Cont([](IContainerWriter&) { throw 1; })), CException);
        EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), LC_GLOBAL_LOCALE);
        ReadContainer("[1]", [](IContainerReader&) {});
        EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), LC_GLOBAL_LOCALE);
    });
    plain.join();
}

// Regression: a reader made from `stream.str()` kept a pointer into the destroyed temporary.
TEST(JsonReader, ReaderMadeFromATemporaryKeepsItsText) {
    const Obj written([](IDataWriter& w) {
        w.Write("id", 7);
        w.Write("name", std::string(100, 'x'));
    });
    std::ostringstream out;
    CWriterJson(out).Write(written);
    const CReaderJson reader(out.str());
    const CReaderJson copy = reader;
    out.str("{}");
    int id = 0;
    std::string name;
    Obj target;
    target.read = [&](IDataReader& r) {
        r.Read("id", id);
        r.Read("name", name);
    };
    copy.Read(target);
    EXPECT_EQ(id, 7);
    EXPECT_EQ(name, std::string(100, 'x'));
}

}  // namespace
