#include <locale.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "logcapture.h"

using namespace Tavrin;

namespace {

const std::string kNamespaces =
    " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
    " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"";
const std::string kObjectDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
const std::string kContainerDeclaration = "<?xml version=\"1.0\"?>\n";

// An object whose behaviour each test scripts.
struct ScriptObject : ISerializable {
    std::string className = "Obj";
    std::function<void(IDataWriter&)> write;
    std::function<void(IDataReader&)> read;
    const char* GetClassName() const override { return className.c_str(); }
    void Write(IDataWriter& writer) const override {
        if (write) write(writer);
    }
    void Read(IDataReader& reader) override {
        if (read) read(reader);
    }
};

struct ScriptContainer : ISerializableContainer {
    std::string className = "List";
    std::function<void(IContainerWriter&)> write;
    std::function<void(IContainerReader&)> read;
    const char* GetClassName() const override { return className.c_str(); }
    void Write(IContainerWriter& writer) const override {
        if (write) write(writer);
    }
    void Read(IContainerReader& reader) override {
        if (read) read(reader);
    }
};

QvDateTime MakeDate(unsigned short y, unsigned short mo, unsigned short d, unsigned short h,
                    unsigned short mi, unsigned short s) {
    QvDateTime value;
    value.SetYear(y);
    value.SetMonth(mo);
    value.SetDay(d);
    value.SetHour(h);
    value.SetMinute(mi);
    value.SetSecond(s);
    value.SetMilliseconds(0);
    return value;
}

std::string Document(const std::string& root, const std::string& body, bool object = true) {
    return (object ? kObjectDeclaration : kContainerDeclaration) + "<" + root + kNamespaces +
           ">\n" + body + "</" + root + ">\n";
}

std::string WriteObject(const ISerializable& object) {
    std::ostringstream stream;
    CWriterXml(stream).Write(object);
    return stream.str();
}

std::string WriteContainer(const ISerializableContainer& container) {
    std::ostringstream stream;
    CWriterXml(stream).Write(container);
    return stream.str();
}

// ---------------------------------------------------------------------------------------------
// Writer

TEST(XmlWriterLayout, EmptyObjectAndContainerOfInts) {
    ScriptObject empty;
    EXPECT_EQ(WriteObject(empty), kObjectDeclaration + "<Obj" + kNamespaces + ">\n</Obj>\n");

    ScriptContainer ints;
    ints.write = [](IContainerWriter& w) {
        w.Write(1);
        w.Write(2);
        w.Write(3);
    };
    EXPECT_EQ(WriteContainer(ints),
              Document("List", "\t<elt>1</elt>\n\t<elt>2</elt>\n\t<elt>3</elt>\n", false));
}

TEST(XmlWriterLayout, ValueTextsOfEveryScalarKind) {
    ScriptObject object;
    object.className = "Geo::Shapes::Circle";
    object.write = [](IDataWriter& w) {
        w.Write("s", std::string("a<b&c>d%e"));
        w.Write("crlf", std::string("x\r\ny\"'\t"));
        w.Write("empty", std::string());
        w.Write("c", '<');
        w.Write("u8", static_cast<unsigned char>(200));
        w.Write("i8", static_cast<signed char>(-5));
        w.Write("f1", 0.1f);
        w.Write("f2", 1.0f);
        w.Write("d1", 0.1);
        w.Write("d2", 100.0);
        w.Write("d3", 1e21);
        w.Write("b1", true);
        w.Write("b2", false);
        w.Write("i16", static_cast<short>(SHRT_MIN));
        w.Write("u16", static_cast<unsigned short>(USHRT_MAX));
        w.Write("i32", INT_MIN);
        w.Write("u32", UINT_MAX);
        w.Write("i64", LLONG_MIN);
        w.Write("u64", ULLONG_MAX);
        w.Write("dt", MakeDate(2024, 3, 5, 14, 7, 9));
        w.Write("w", std::wstring(L"\u00e9\u4e2d\U0001F600&\nz"));
        w.Write("w0", std::wstring(L"ab\0cd", 5));  // the UTF-8 text ends at the first NUL
        w.Write("s", std::string("again"));
    };
    const std::string body =
        "\t<s>a&lt;b&amp;c&gt;d&#37;e</s>\n"
        "\t<crlf>x&#13;&#10;y\"'\t</crlf>\n"
        "\t<empty></empty>\n"
        "\t<c><</c>\n"
        "\t<u8>200</u8>\n"
        "\t<i8>-5</i8>\n"
        "\t<f1>0.100000001</f1>\n"
        "\t<f2>1</f2>\n"
        "\t<d1>0.10000000000000001</d1>\n"
        "\t<d2>100</d2>\n"
        "\t<d3>1e+21</d3>\n"
        "\t<b1>true</b1>\n"
        "\t<b2>false</b2>\n"
        "\t<i16>-32768</i16>\n"
        "\t<u16>65535</u16>\n"
        "\t<i32>-2147483648</i32>\n"
        "\t<u32>4294967295</u32>\n"
        "\t<i64>-9223372036854775808</i64>\n"
        "\t<u64>18446744073709551615</u64>\n"
        "\t<dt>2024-03-05T14:07:09</dt>\n"
        "\t<w>\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80&amp;&#10;z</w>\n"
        "\t<w0>ab</w0>\n"
        "\t<s>again</s>\n";
    EXPECT_EQ(WriteObject(object), Document("Geo-Shapes-Circle", body));
}

TEST(XmlWriterLayout, BlobsAsCdataWithLineBreaks) {
    std::vector<unsigned char> bytes54(54, 0xFF);
    ScriptObject object;
    object.write = [&](IDataWriter& w) {
        w.Write("e", 0, nullptr);
        w.Write("m", 3, "Man");
        w.Write("p", bytes54.size(), bytes54.data());
    };
    const std::string b64(72, '/');
    const std::string body =
        "\t<e><![CDATA[\n\n\t]]></e>\n"
        "\t<m><![CDATA[\nTWFu\n\t]]></m>\n"
        "\t<p><![CDATA[\n" +
        b64 + "\n\n\t]]></p>\n";
    EXPECT_EQ(WriteObject(object), Document("Obj", body));
}

TEST(XmlWriterLayout, NestedElementsAndClassNames) {
    ScriptObject c;
    c.write = [](IDataWriter& w) { w.Write("v", 1); };
    ScriptObject b;
    b.write = [&](IDataWriter& w) { w.Write("c", c); };
    ScriptObject a;
    a.write = [&](IDataWriter& w) { w.Write("b", b); };
    ScriptObject root;
    root.write = [&](IDataWriter& w) { w.Write("a", a); };
    EXPECT_EQ(WriteObject(root),
              Document("Obj",
                       "\t<a>\n\t\t<b>\n\t\t\t<c>\n\t\t\t\t<v>1</v>\n\t\t\t</c>\n\t\t</b>\n"
                       "\t</a>\n"));

    ScriptObject point;
    point.className = "Geo::Point";
    point.write = [](IDataWriter& w) { w.Write("x", 1); };
    ScriptContainer inner;
    inner.className = "A:::B";
    inner.write = [](IContainerWriter& w) { w.Write(7); };
    ScriptContainer shapes;
    shapes.className = "Shapes";
    shapes.write = [&](IContainerWriter& w) {
        w.Write(point);
        w.Write(inner);
        w.Write(3, "Man");
        w.Write(std::string("a&b"));
        w.Write(MakeDate(1999, 12, 31, 23, 59, 58));
        w.Write('x');
        w.Write(false);
    };
    EXPECT_EQ(WriteContainer(shapes), Document("Shapes",
                                               "\t<Geo-Point>\n\t\t<x>1</x>\n\t</Geo-Point>\n"
                                               "\t<A-:B>\n\t\t<elt>7</elt>\n\t</A-:B>\n"
                                               "\t<elt><![CDATA[\nTWFu\n\t]]></elt>\n"
                                               "\t<elt>a&amp;b</elt>\n"
                                               "\t<elt>1999-12-31T23:59:58</elt>\n"
                                               "\t<elt>x</elt>\n"
                                               "\t<elt>false</elt>\n",
                                               false));

    // A named nested container uses the value name, not its class name.
    ScriptObject holder;
    holder.write = [&](IDataWriter& w) { w.Write("items", inner); };
    EXPECT_EQ(WriteObject(holder), Document("Obj", "\t<items>\n\t\t<elt>7</elt>\n\t</items>\n"));
}

// Objects and containers without values keep their start and end lines; class names are
// asked for the root and for container elements only, once each.
TEST(XmlWriterLayout, EmptyContentAndClassNameQueries) {
    struct CountingObject : ScriptObject {
        mutable int asked = 0;
        const char* GetClassName() const override {
            ++asked;
            return "Geo::Point";
        }
    };
    struct CountingContainer : ScriptContainer {
        mutable int asked = 0;
        const char* GetClassName() const override {
            ++asked;
            return "Bag";
        }
    };
    CountingObject point;
    CountingContainer bag;
    CountingContainer root;
    root.write = [&](IContainerWriter& w) {
        w.Write(point);
        w.Write(bag);
    };
    EXPECT_EQ(WriteContainer(root),
              Document("Bag", "\t<Geo-Point>\n\t</Geo-Point>\n\t<Bag>\n\t</Bag>\n", false));
    EXPECT_EQ(root.asked, 1);
    EXPECT_EQ(point.asked, 1);
    EXPECT_EQ(bag.asked, 1);

    CountingContainer empty;
    EXPECT_EQ(WriteContainer(empty), kContainerDeclaration + "<Bag" + kNamespaces + ">\n</Bag>\n");

    point.asked = bag.asked = 0;
    ScriptObject holder;
    holder.write = [&](IDataWriter& w) {
        w.Write("p", point);
        w.Write("b", bag);
    };
    EXPECT_EQ(WriteObject(holder), Document("Obj", "\t<p>\n\t</p>\n\t<b>\n\t</b>\n"));
    EXPECT_EQ(point.asked, 0);
    EXPECT_EQ(bag.asked, 0);
}

TEST(XmlWriterStream, PropertiesAndDocumentsInSequence) {
    std::ostringstream stream;
    stream << "head|";
    stream.precision(3);
    CWriterXml writer(stream);
    EXPECT_EQ(stream.precision(), 16);
    EXPECT_NE(stream.flags() & std::ios_base::boolalpha, 0);

    ScriptObject object;
    object.write = [](IDataWriter& w) { w.Write("f", 1.5f); };
    writer.Write(object);
    EXPECT_EQ(stream.precision(), 9);
    object.write = [](IDataWriter& w) {
        w.Write("f", 1.5f);
        w.Write("d", 2.5);
    };
    CWriterXml copy(writer);
    copy.Write(object);
    EXPECT_EQ(stream.precision(), 17);
    EXPECT_EQ(stream.str(), "head|" + Document("Obj", "\t<f>1.5</f>\n") +
                                Document("Obj", "\t<f>1.5</f>\n\t<d>2.5</d>\n"));
}

TEST(XmlWriterFailure, ExceptionsBecomeCExceptionOfWrite) {
    ScriptObject failing;
    failing.write = [](IDataWriter& w) {
        w.Write("a", 1);
        throw std::runtime_error("application");
    };
    std::ostringstream stream;
    CWriterXml writer(stream);
    LogCapture log;
    try {
        writer.Write(failing);
        FAIL() << "no exception";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCodeLine(), 220u);
        EXPECT_STREQ(e.GetFunctionName(), "Tavrin::CWriterXml::Write");
        EXPECT_TRUE(std::string(e.GetFilename()).ends_with("core/tavrin/src/cwriterxml.cpp"));
    }
    EXPECT_EQ(log.Count(), 1u);
    EXPECT_EQ(stream.str(), kObjectDeclaration + "<Obj" + kNamespaces + ">\n\t<a>1</a>\n");

    // A library exception inside a nested container: two log entries, the inner one first.
    ScriptContainer bad;
    bad.write = [](IContainerWriter&) { throw CException("inner.cpp", 5, "Inner"); };
    ScriptContainer outer;
    outer.write = [&](IContainerWriter& w) { w.Write(bad); };
    std::ostringstream second;
    LogCapture nestedLog;
    try {
        CWriterXml(second).Write(outer);
        FAIL() << "no exception";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCodeLine(), 256u);
        EXPECT_STREQ(e.GetFunctionName(), "Tavrin::CWriterXml::Write");
    }
    ASSERT_EQ(nestedLog.Count(), 2u);
    EXPECT_EQ(nestedLog.Entries()[0].function, "Inner");
    EXPECT_EQ(nestedLog.Entries()[1].function, "Tavrin::CWriterXml::Write");
    EXPECT_EQ(second.str(), kContainerDeclaration + "<List" + kNamespaces + ">\n\t<List>\n");

    // std::bad_alloc from inside is replaced as well.
    ScriptObject hungry;
    hungry.write = [](IDataWriter&) { throw std::bad_alloc(); };
    std::ostringstream fourth;
    EXPECT_THROW(CWriterXml(fourth).Write(hungry), CException);

    // Null names are outside the contract; they must still not crash the writer.
    struct NullNames : ScriptObject {
        const char* GetClassName() const override { return nullptr; }
    } nullNames;
    nullNames.write = [](IDataWriter& w) { w.Write(nullptr, 1); };
    EXPECT_EQ(WriteObject(nullNames), kObjectDeclaration + "<" + kNamespaces + ">\n\t<>1</>\n</>\n");

    // GetClassName itself failing: nothing is written.
    struct NoName : ScriptObject {
        const char* GetClassName() const override { throw 42; }
    } noName;
    std::ostringstream third;
    EXPECT_THROW(CWriterXml(third).Write(noName), CException);
    EXPECT_EQ(third.str(), "");
}

// Numbers are written and read with "." whatever locale the application runs in.
TEST(XmlLocale, NumbersUseThePointUnderACommaLocale) {
    const locale_t german = newlocale(LC_ALL_MASK, "de_DE.utf8", static_cast<locale_t>(nullptr));
    if (german == static_cast<locale_t>(nullptr)) GTEST_SKIP() << "de_DE.utf8 not installed";
    const locale_t previous = uselocale(german);
    ASSERT_STREQ(localeconv()->decimal_point, ",");

    std::string pointDuringWrite;
    ScriptObject object;
    object.write = [&](IDataWriter& w) {
        pointDuringWrite = localeconv()->decimal_point;
        w.Write("d", 1.5);
        w.Write("f", 2.25f);
    };
    const std::string text = WriteObject(object);
    EXPECT_EQ(pointDuringWrite, ".");
    EXPECT_NE(text.find("<d>1.5</d>"), std::string::npos);

    double d = 0;
    float f = 0;
    object.read = [&](IDataReader& r) {
        EXPECT_TRUE(r.Read("d", d));
        EXPECT_TRUE(r.Read("f", f));
    };
    CReaderXml(text).Read(object);
    EXPECT_EQ(d, 1.5);
    EXPECT_EQ(f, 2.25f);
    uselocale(previous);
    freelocale(german);
}

// Writer and reader give the thread back its own locale, or the global-locale mode, on every
// exit: after success, after a failing Write and after an application Read that throws.
TEST(XmlLocale, ThreadLocaleRestoredOnEveryExit) {
    // Not plain "C": glibc hands out its one static "C" object, which the switch itself uses.
    const locale_t own = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    const locale_t previous = uselocale(LC_GLOBAL_LOCALE);
    const std::string text = Document("Obj", "\t<v>1</v>\n");

    std::vector<locale_t> modes = {LC_GLOBAL_LOCALE};
    if (own != static_cast<locale_t>(nullptr)) modes.push_back(own);
    for (const locale_t mode : modes) {
        uselocale(mode);
        locale_t during = mode;
        ScriptObject object;
        object.write = [&](IDataWriter& w) {
            during = uselocale(static_cast<locale_t>(nullptr));
            w.Write("v", 1);
        };
        object.read = [&](IDataReader&) { during = uselocale(static_cast<locale_t>(nullptr)); };
        WriteObject(object);
        EXPECT_NE(during, mode);  // switched for the call
        EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), mode);

        during = mode;
        CReaderXml(text).Read(object);
        EXPECT_NE(during, mode);
        EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), mode);

        object.write = [](IDataWriter&) { throw 1; };
        EXPECT_THROW(WriteObject(object), CException);
        EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), mode);

        during = mode;
        ScriptContainer list;
        list.read = [&](IContainerReader&) {
            during = uselocale(static_cast<locale_t>(nullptr));
            throw std::runtime_error("application");
        };
        EXPECT_THROW(CReaderXml(text).Read(list), std::runtime_error);
        EXPECT_NE(during, mode);
        EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), mode);
    }
    uselocale(previous);
    if (own != static_cast<locale_t>(nullptr)) freelocale(own);
}

// ---------------------------------------------------------------------------------------------
// Round trips

struct IntList : ISerializableContainer {
    std::vector<int> values;
    const char* GetClassName() const override { return "Util::IntList"; }
    void Write(IContainerWriter& w) const override {
        for (int v : values) w.Write(v);
    }
    void Read(IContainerReader& r) override {
        values.clear();
        int v = 0;
        for (unsigned i = 0; r.Read(i, v); ++i) values.push_back(v);
    }
};

struct AllKinds : ISerializable {
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
    QvDateTime dt = MakeDate(1601, 1, 1, 0, 0, 0);
    std::vector<unsigned char> blob;
    std::unique_ptr<AllKinds> child;
    IntList list;

    // Calls f(name, member pointer) for every scalar, string and date-time member.
    template <class F>
    static void Fields(F&& f) {
        f("b", &AllKinds::b), f("c", &AllKinds::c), f("i8", &AllKinds::i8);
        f("u8", &AllKinds::u8), f("i16", &AllKinds::i16), f("u16", &AllKinds::u16);
        f("i32", &AllKinds::i32), f("u32", &AllKinds::u32), f("i64", &AllKinds::i64);
        f("u64", &AllKinds::u64), f("f", &AllKinds::f), f("d", &AllKinds::d);
        f("s", &AllKinds::s), f("ws", &AllKinds::ws), f("dt", &AllKinds::dt);
    }

    const char* GetClassName() const override { return "Test::AllKinds"; }
    void Write(IDataWriter& w) const override {
        Fields([&](const char* name, auto member) { w.Write(name, this->*member); });
        w.Write("blob", blob.size(), blob.data());
        if (child) w.Write("child", *child);
        w.Write("list", list);
    }
    void Read(IDataReader& r) override {
        Fields([&](const char* name, auto member) { EXPECT_TRUE(r.Read(name, this->*member)); });
        const SBlobRange range = r.Read("blob");
        blob.assign(range.begin, range.end);
        auto nested = std::make_unique<AllKinds>();
        if (r.Read("child", *nested)) child = std::move(nested);
        EXPECT_TRUE(r.Read("list", list));
    }
};

void ExpectSame(const AllKinds& a, const AllKinds& b) {
    AllKinds::Fields([&](const char* name, auto member) {
        if constexpr (std::is_same_v<decltype(member), QvDateTime AllKinds::*>) {
            EXPECT_EQ((a.*member).ToFileTime(), (b.*member).ToFileTime());
        } else {
            EXPECT_EQ(a.*member, b.*member) << name;
        }
    });
    EXPECT_EQ(a.blob, b.blob);
    EXPECT_EQ(a.list.values, b.list.values);
    ASSERT_EQ(a.child != nullptr, b.child != nullptr);
    if (a.child) ExpectSame(*a.child, *b.child);
}

AllKinds Sample() {
    AllKinds v;
    v.b = true;
    v.c = 'Q';
    v.i8 = -128;
    v.u8 = 255;
    v.i16 = -12345;
    v.u16 = 54321;
    v.i32 = -2000000000;
    v.u32 = 4000000000u;
    v.i64 = LLONG_MIN;
    v.u64 = ULLONG_MAX;
    v.f = 3.14159274f;
    v.d = 0.1 + 0.2;
    v.s = "a&b <c> 100% \"q\" 'x'\nline\r\nend\ttab";
    v.ws = L"caf\u00e9 \u00df \u4e2d \u20ac \U0001F600 <&>";
    v.dt = MakeDate(2024, 2, 29, 23, 59, 58);
    for (int i = 0; i < 200; ++i) v.blob.push_back(static_cast<unsigned char>(i * 7));
    v.list.values = {1, -2, 3};
    v.child = std::make_unique<AllKinds>();
    v.child->c = 'z';  // a NUL char would end the document text right there
    v.child->s = "inner";
    v.child->f = -1.5e-30f;
    v.child->d = -1.7976931348623157e308;
    v.child->blob = {0};
    return v;
}

TEST(XmlRoundTrip, EveryKindComesBack) {
    const AllKinds original = Sample();
    const std::string text = WriteObject(original);
    AllKinds copy;
    CReaderXml(text).Read(copy);
    ExpectSame(original, copy);

    // The same through the const char* constructor and a copied reader.
    AllKinds again;
    const CReaderXml reader(text.c_str());
    CReaderXml copied(reader);
    copied = reader;
    copied.Read(again);
    ExpectSame(original, again);
}

// Objects and containers nested ten levels deep.
struct Chain : ISerializable {
    int level = 0;
    std::unique_ptr<Chain> next;
    const char* GetClassName() const override { return "Chain"; }
    void Write(IDataWriter& w) const override {
        w.Write("level", level);
        if (next) w.Write("next", *next);
    }
    void Read(IDataReader& r) override {
        r.Read("level", level);
        auto n = std::make_unique<Chain>();
        if (r.Read("next", *n)) next = std::move(n);
    }
};

struct Nest : ISerializableContainer {
    std::vector<std::unique_ptr<Nest>> inner;
    std::vector<std::string> texts;
    const char* GetClassName() const override { return "Deep::Nest"; }
    void Write(IContainerWriter& w) const override {
        for (const auto& t : texts) w.Write(t);
        for (const auto& n : inner) w.Write(*n);
    }
    // Strings first, then nested containers, as written.
    void Read(IContainerReader& r) override {
        unsigned i = 0;
        for (std::string t; i < texts.size() && r.Read(i, t); ++i) texts[i] = t;
        for (;; ++i) {
            auto n = std::make_unique<Nest>();
            n->texts.resize(1);
            if (!r.Read(i, *n)) break;
            inner.push_back(std::move(n));
        }
    }
};

TEST(XmlRoundTrip, TenLevelsOfObjectsAndContainers) {
    Chain chain;
    Chain* tail = &chain;
    for (int i = 1; i < 10; ++i) {
        tail->next = std::make_unique<Chain>();
        tail = tail->next.get();
        tail->level = i;
    }
    Chain readChain;
    CReaderXml(WriteObject(chain)).Read(readChain);
    int depth = 0;
    for (const Chain* c = &readChain; c != nullptr; c = c->next.get(), ++depth) {
        EXPECT_EQ(c->level, depth);
    }
    EXPECT_EQ(depth, 10);

    Nest nest;
    nest.texts = {"root"};
    Nest* last = &nest;
    for (int i = 1; i < 10; ++i) {
        last->inner.push_back(std::make_unique<Nest>());
        last = last->inner.back().get();
        last->texts = {"level" + std::to_string(i)};
    }
    const std::string text = WriteContainer(nest);
    EXPECT_NE(text.find("\t\t\t\t\t\t\t\t\t<elt>level9</elt>\n"), std::string::npos);
    Nest readNest;
    readNest.texts.resize(1);
    CReaderXml(text).Read(readNest);
    const Nest* n = &readNest;
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(n->texts.size(), 1u);
        EXPECT_EQ(n->texts[0], i == 0 ? "root" : "level" + std::to_string(i));
        if (i < 9) {
            ASSERT_EQ(n->inner.size(), 1u) << i;
            n = n->inner[0].get();
        } else {
            EXPECT_TRUE(n->inner.empty());
        }
    }
}

// Element `index` read as T; the read must succeed.
template <class T>
T At(IContainerReader& r, unsigned index) {
    T value{};
    EXPECT_TRUE(r.Read(index, value)) << index;
    return value;
}

TEST(XmlRoundTrip, ContainerElementsOfEveryKind) {
    ScriptContainer list;
    const QvDateTime date = MakeDate(2030, 1, 2, 3, 4, 5);
    list.write = [&](IContainerWriter& w) {
        w.Write(3, "\x01\x02\x03");
        w.Write(date);
        w.Write(std::wstring(L"\u00e9&"));
        w.Write(std::string(" padded "));
        w.Write('c');
        w.Write(2.5);
        w.Write(0.3f);
        w.Write(-7LL);
        w.Write(7ULL);
        w.Write(-8);
        w.Write(8u);
        w.Write(static_cast<short>(-9));
        w.Write(static_cast<unsigned short>(9));
        w.Write(static_cast<signed char>(-10));
        w.Write(static_cast<unsigned char>(10));
        w.Write(true);
    };
    int count = 0;
    list.read = [&](IContainerReader& r) {
        const SBlobRange blob = r.Read(0u);
        EXPECT_EQ(std::string(blob.begin, blob.end), "\x01\x02\x03");
        EXPECT_EQ(r.Read(0u).begin, blob.begin);  // cached
        EXPECT_EQ(At<QvDateTime>(r, 1).ToFileTime(), date.ToFileTime());
        EXPECT_EQ(At<std::wstring>(r, 2), L"\u00e9&");
        EXPECT_EQ(At<std::string>(r, 3), "padded");  // the parser trims every text segment
        EXPECT_EQ(At<char>(r, 4), 'c');
        EXPECT_EQ(At<double>(r, 5), 2.5);
        EXPECT_EQ(At<float>(r, 6), 0.3f);
        EXPECT_EQ(At<long long>(r, 7), -7);
        EXPECT_EQ(At<unsigned long long>(r, 8), 7u);
        EXPECT_EQ(At<int>(r, 9), -8);
        EXPECT_EQ(At<unsigned>(r, 10), 8u);
        EXPECT_EQ(At<short>(r, 11), -9);
        EXPECT_EQ(At<unsigned short>(r, 12), 9);
        EXPECT_EQ(At<signed char>(r, 13), -10);
        EXPECT_EQ(At<unsigned char>(r, 14), 10);
        EXPECT_TRUE(At<bool>(r, 15));
        // Past the end every read is false and leaves its target alone.
        int untouched = 99;
        EXPECT_FALSE(r.Read(16, untouched));
        EXPECT_EQ(untouched, 99);
        EXPECT_EQ(r.Read(16u).begin, nullptr);
        ScriptObject o;
        EXPECT_FALSE(r.Read(16, o));
        ++count;
    };
    CReaderXml(WriteContainer(list)).Read(list);
    EXPECT_EQ(count, 1);
}

// ---------------------------------------------------------------------------------------------
// Reader

TEST(XmlReader, NamesIgnoreCaseAndTheFirstDuplicateWins) {
    const std::string text =
        Document("Obj",
                 "\t<Count>5</Count>\n\t<count>6</count>\n\t<s>  spaced  </s>\n"
                 "\t<flag>True</flag>\n\t<e></e>\n");
    int count = 0;
    std::string s = "unchanged";
    std::string e = "unchanged";
    bool flag = false;
    unsigned nameCount = 0;
    std::vector<std::string> names;
    ScriptObject object;
    object.read = [&](IDataReader& r) {
        EXPECT_TRUE(r.Read("COUNT", count));
        EXPECT_TRUE(r.Read("s", s));
        EXPECT_TRUE(r.Read("e", e));
        EXPECT_FALSE(r.Read("flag", flag));  // only exactly "true" and "false" are bools
        int missing = 3;
        EXPECT_FALSE(r.Read("missing", missing));
        EXPECT_EQ(missing, 3);
        EXPECT_EQ(r.Read("missing").begin, nullptr);
        nameCount = r.GetNameCount();
        for (unsigned i = 0; i < nameCount; ++i) names.emplace_back(r.GetName(i));
        EXPECT_EQ(r.GetName(nameCount), nullptr);
    };
    CReaderXml(text).Read(object);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(s, "spaced");
    EXPECT_EQ(e, "");
    EXPECT_FALSE(flag);
    EXPECT_EQ(names, (std::vector<std::string>{"Count", "count", "s", "flag", "e"}));

    // A root element differing only in letter case is the document element.
    object.className = "OBJ";
    count = 0;
    names.clear();
    CReaderXml(text).Read(object);
    EXPECT_EQ(count, 5);
}

TEST(XmlReader, DocumentsThatGiveNoValues) {
    const std::string good = Document("Obj", "\t<v>1</v>\n");
    const std::string withoutDeclaration = good.substr(good.find('\n') + 1);
    const std::vector<std::string> texts = {
        withoutDeclaration,
        "\xEF\xBB\xBF" + good,
        Document("Other", "\t<v>1</v>\n"),
        Document("Obj", "\t<v>1 & 2</v>\n"),
        "",
        "<?xml version=\"1.0\"?><Obj><v>1</v></Obj></Stray>",
    };
    for (const std::string& text : texts) {
        int v = -1;
        unsigned names = 99;
        ScriptObject object;
        object.read = [&](IDataReader& r) {
            EXPECT_FALSE(r.Read("v", v));
            names = r.GetNameCount();
            EXPECT_EQ(r.GetName(0), nullptr);
        };
        EXPECT_NO_THROW(CReaderXml(text).Read(object)) << text;
        EXPECT_EQ(v, -1);
        EXPECT_EQ(names, 0u);
    }
    int v = 0;
    ScriptObject object;
    object.read = [&](IDataReader& r) { r.Read("v", v); };
    CReaderXml(good).Read(object);
    EXPECT_EQ(v, 1);
}

TEST(XmlReader, ContainerElementsMustBeNamedElt) {
    const std::string text = Document("List",
                                      "\t<elt>true</elt>\n\t<item>2</item>\n"
                                      "\t<elt>True</elt>\n",
                                      false);
    ScriptContainer list;
    list.read = [](IContainerReader& r) {
        bool b = false;
        EXPECT_TRUE(r.Read(0, b));
        EXPECT_TRUE(b);
        int v = 0;
        try {
            r.Read(1, v);
            ADD_FAILURE() << "no exception";
        } catch (const CException& e) {
            EXPECT_EQ(e.GetCodeLine(), 393u);
            EXPECT_STREQ(e.GetFunctionName(), "Tavrin::CContainerReaderXml::readValue");
            EXPECT_TRUE(std::string(e.GetFilename()).ends_with("core/tavrin/src/creaderxml.cpp"));
        }
        EXPECT_THROW(r.Read(1u), CException);
        std::string s;
        EXPECT_THROW(r.Read(1, s), CException);
        EXPECT_THROW(r.Read(1, b), CException);
        // As a nested object or container the element is accepted.
        ScriptObject o;
        int inner = 0;
        o.read = [&](IDataReader& rr) {
            EXPECT_EQ(rr.GetNameCount(), 0u);
            ++inner;
        };
        EXPECT_TRUE(r.Read(1, o));
        ScriptContainer c;
        EXPECT_TRUE(r.Read(1, c));
        EXPECT_EQ(inner, 1);
        // "True" is not a bool: the read says false and keeps the target.
        b = false;
        EXPECT_FALSE(r.Read(2, b));
        EXPECT_FALSE(b);
    };
    CReaderXml(text).Read(list);
}

// Where the text of a read comes from. Named values: first text segment, else the first raw
// section, trimmed of all six white-space characters; bools and date-times take the first
// text segment only. Container elements: the same sources untrimmed, for every kind.
TEST(XmlReader, TextSourcesOfNamedValuesAndElements) {
    const std::string cdataDate = "<![CDATA[2024-01-05T10:20:30]]>";
    const std::string object = Document("Obj",
                                        "\t<s><![CDATA[ \v raw \f]]></s>\n"
                                        "\t<n><![CDATA[\n42\n]]></n>\n"
                                        "\t<b><![CDATA[true]]></b>\n"
                                        "\t<dt>" + cdataDate + "</dt>\n"
                                        "\t<e>&#10;x&#11;&#13;</e>\n");
    ScriptObject named;
    named.read = [](IDataReader& r) {
        std::string s;
        EXPECT_TRUE(r.Read("s", s));
        EXPECT_EQ(s, "raw");
        int n = 0;
        EXPECT_TRUE(r.Read("n", n));
        EXPECT_EQ(n, 42);
        bool b = false;
        EXPECT_FALSE(r.Read("b", b));
        EXPECT_FALSE(b);
        QvDateTime dt;
        try {
            r.Read("dt", dt);
            ADD_FAILURE() << "a date-time in a raw section only reads as empty text";
        } catch (const QvExceptionConversion& e) {
            EXPECT_EQ(e.GetCodeLine(), 225u);
        }
        std::string e;
        EXPECT_TRUE(r.Read("e", e));
        EXPECT_EQ(e, "x");
    };
    CReaderXml(object).Read(named);

    const std::string list = Document("List",
                                      "\t<elt><![CDATA[ \v raw \f]]></elt>\n"
                                      "\t<elt><![CDATA[true]]></elt>\n"
                                      "\t<elt>" + cdataDate + "</elt>\n"
                                      "\t<elt>&#10;x&#11;&#13;</elt>\n",
                                      false);
    ScriptContainer elements;
    elements.read = [](IContainerReader& r) {
        EXPECT_EQ(At<std::string>(r, 0), " \v raw \f");
        EXPECT_TRUE(At<bool>(r, 1));
        EXPECT_EQ(At<QvDateTime>(r, 2).ToFileTime(), MakeDate(2024, 1, 5, 10, 20, 30).ToFileTime());
        EXPECT_EQ(At<std::string>(r, 3), "\nx\v\r");
    };
    CReaderXml(list).Read(elements);
}

TEST(XmlReader, BlobsAreDecodedOnceAndEmptyOnesAreAbsent) {
    ScriptObject object;
    object.write = [](IDataWriter& w) {
        w.Write("empty", 0, nullptr);
        w.Write("data", 5, "hello");
    };
    const std::string text = WriteObject(object);
    object.read = [](IDataReader& r) {
        const SBlobRange empty = r.Read("empty");
        EXPECT_EQ(empty.begin, nullptr);
        EXPECT_EQ(empty.end, nullptr);
        const SBlobRange first = r.Read("data");
        const SBlobRange second = r.Read("data");
        EXPECT_EQ(std::string(first.begin, first.end), "hello");
        EXPECT_EQ(first.begin, second.begin);
        EXPECT_EQ(first.end, second.end);
        // Same element under another letter case: decoded again, same bytes.
        const SBlobRange upper = r.Read("DATA");
        EXPECT_EQ(std::string(upper.begin, upper.end), "hello");
    };
    CReaderXml(text).Read(object);

    // A container element's text is not trimmed before decoding: the line break and indent
    // after the pads keep them from being dropped, so a padded blob reads back longer, the
    // extra bytes zero. A named value's text is trimmed, so the same blob reads back exactly.
    ScriptContainer list;
    list.write = [](IContainerWriter& w) {
        w.Write(4, "\x01\x02\x03\x04");
        w.Write(0, nullptr);
        w.Write(std::string("  "));
    };
    list.read = [](IContainerReader& r) {
        const SBlobRange padded = r.Read(0u);
        EXPECT_EQ(std::string(padded.begin, padded.end), std::string("\x01\x02\x03\x04\0\0", 6));
        EXPECT_EQ(r.Read(1u).begin, nullptr);
        EXPECT_EQ(r.Read(2u).end, nullptr);
    };
    CReaderXml(WriteContainer(list)).Read(list);
    object.write = [](IDataWriter& w) { w.Write("four", 4, "\x01\x02\x03\x04"); };
    object.read = [](IDataReader& r) {
        const SBlobRange exact = r.Read("four");
        EXPECT_EQ(std::string(exact.begin, exact.end), "\x01\x02\x03\x04");
    };
    CReaderXml(WriteObject(object)).Read(object);

    // Base64 text that decodes to nothing raises the decoder's exception.
    object.read = [](IDataReader& r) { EXPECT_THROW(r.Read("data"), CException); };
    CReaderXml(Document("Obj", "\t<data>====</data>\n")).Read(object);
}

TEST(XmlReader, ConversionExceptionsPassUnchanged) {
    ScriptObject object;
    object.read = [](IDataReader& r) {
        int v = 0;
        try {
            r.Read("v", v);
            ADD_FAILURE() << "no exception";
        } catch (const QvExceptionConversion& e) {
            EXPECT_STREQ(e.GetFunctionName(), "stringToInt");
            EXPECT_EQ(e.GetCodeLine(), 794u);
        }
        QvDateTime date;
        try {
            r.Read("none", date);  // an element without text is the empty text
            ADD_FAILURE() << "no exception";
        } catch (const QvExceptionConversion& e) {
            EXPECT_EQ(e.GetCodeLine(), 225u);
        }
        throw std::runtime_error("application");
    };
    EXPECT_THROW(CReaderXml(Document("Obj", "\t<v>abc</v>\n\t<none/>\n")).Read(object),
                 std::runtime_error);
}

// ---------------------------------------------------------------------------------------------
// Hostile input and threads

// Reads every value of AllKinds, nested ones included, swallowing the library's exceptions.
void ProbeAll(IDataReader& r) {
    auto attempt = [](auto&& read) {
        try {
            read();
        } catch (const IException&) {
            // conversion and decoding failures are expected on damaged text
        }
    };
    for (unsigned i = 0; i < r.GetNameCount(); ++i) (void)std::strlen(r.GetName(i));
    AllKinds sink;
    AllKinds::Fields([&](const char* name, auto member) {
        attempt([&] { r.Read(name, sink.*member); });
    });
    attempt([&] { r.Read("blob"); });
    ScriptObject child;
    child.read = ProbeAll;
    attempt([&] { r.Read("child", child); });
    attempt([&] { r.Read("list", sink.list); });
}

TEST(XmlReader, MangledDocumentsNeverCrash) {
    LogCapture quiet;
    const std::string text = WriteObject(Sample());
    ScriptObject probe;
    probe.className = "Test::AllKinds";
    probe.read = ProbeAll;
    for (size_t n = 0; n < text.size(); n += 3) CReaderXml(text.substr(0, n)).Read(probe);

    const unsigned seed = 777;
    std::printf("mangled XML seed %u\n", seed);
    std::mt19937 random(seed);
    for (int round = 0; round < 400; ++round) {
        std::string doc = text;
        for (int k = 0; k < 4; ++k)
            doc[random() % doc.size()] = static_cast<char>(1 + random() % 255);
        CReaderXml(doc).Read(probe);
    }
}

TEST(XmlThreads, WritersAndReadersOnSeveralThreads) {
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round) {
                IntList list;
                for (int i = 0; i < 100; ++i) list.values.push_back(t * 100000 + round * 100 + i);
                IntList back;
                CReaderXml(WriteContainer(list)).Read(back);
                if (back.values != list.values) ++mismatches;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
