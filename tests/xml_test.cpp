// XML writer and reader: document text, value texts, text sources, failures and threads (the
// per-thread locale: textwriters_test.cpp). Round trips and damaged documents: contract_test.cpp.
#include <atomic>
#include <climits>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <vector>

#include <tavrin/base64.h>
#include <tavrin/qvvariant.h>

#include "support/formats.h"
#include "support/objects.h"
#include "support/raising.h"

using namespace Tavrin;
using namespace TestSupport;

namespace {

const std::string kNamespaces =
    " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
    " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"";
const std::string kObjectDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
const std::string kContainerDeclaration = "<?xml version=\"1.0\"?>\n";
const char* const kWrite = "Tavrin::CWriterXml::Write";
const char* const kDateFile = "core/basepool/qvdatetime.cpp";

constexpr auto WriteXml = [](const auto& root) { return SXmlFormat::Write(root); };

std::string Document(const std::string& root, const std::string& body, bool object = true) {
    return (object ? kObjectDeclaration : kContainerDeclaration) + "<" + root + kNamespaces +
           ">\n" + body + "</" + root + ">\n";
}

// Reads `body` as the values of an object "Obj", or as the elements of a container "List" (the
// root element takes the class name of the scripted object).
template <class Root, class Reader>
void ReadBody(const std::string& body, const std::function<void(Reader&)>& read) {
    Root root;
    root.read = read;
    CReaderXml(Document(root.className, body, std::is_same_v<Root, CObject>)).Read(root);
    EXPECT_EQ(root.reads, 1);
}
const auto ReadNamed = ReadBody<CObject, IDataReader>;
const auto ReadElements = ReadBody<CContainer, IContainerReader>;

// One value: the text the writer gives it, and how it is written as a named value and as a
// container element.
struct SValue {
    std::string text;
    std::function<void(IDataWriter&, const char*)> write;
    std::function<void(IContainerWriter&)> writeElement;
};

template <class T>
SValue Value(T v, std::string text) {
    return {std::move(text), [v](IDataWriter& w, const char* n) { w.Write(n, v); },
            [v](IContainerWriter& w) { w.Write(v); }};
}

SValue Blob(std::string bytes, const std::string& base64) {
    return {"<![CDATA[\n" + base64 + "\n\t]]>",
            [bytes](IDataWriter& w, const char* n) { w.Write(n, bytes.size(), bytes.data()); },
            [bytes](IContainerWriter& w) { w.Write(bytes.size(), bytes.data()); }};
}

// Every kind, with the edge values of its text form.
const std::vector<SValue>& Values() {
    static const std::vector<SValue> values = {
        Value(std::string("a<b&c>d%e \"q\" 'x'"), "a&lt;b&amp;c&gt;d&#37;e \"q\" 'x'"),
        Value(std::string("x\r\ny\tz"), "x&#13;&#10;y\tz"),
        Value(std::string(), ""),
        Value('Q', "Q"),
        Value(static_cast<unsigned char>(200), "200"),
        Value(static_cast<signed char>(-128), "-128"),
        Value(0.1f, "0.100000001"),
        Value(1.0f, "1"),
        Value(-1.5e-30f, "-1.5e-30"),
        Value(0.1, "0.10000000000000001"),
        Value(100.0, "100"),
        Value(1e21, "1e+21"),
        Value(0.1 + 0.2, "0.30000000000000004"),
        Value(-1.7976931348623157e308, "-1.7976931348623157e+308"),
        Value(true, "true"),
        Value(false, "false"),
        Value(static_cast<short>(SHRT_MIN), "-32768"),
        Value(static_cast<unsigned short>(USHRT_MAX), "65535"),
        Value(INT_MIN, "-2147483648"),
        Value(UINT_MAX, "4294967295"),
        Value(LLONG_MIN, "-9223372036854775808"),
        Value(ULLONG_MAX, "18446744073709551615"),
        Value(QvDateTime("2024-02-29T23:59:58"), "2024-02-29T23:59:58"),
        Value(std::wstring(L"\u00e9\u4e2d\U0001F600&\nz"),
              "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80&amp;&#10;z"),
        Blob("", ""),
        Blob("Man", "TWFu"),
        Blob(std::string(54, '\xFF'), std::string(72, '/') + "\n")};  // the encoder's LF too
    return values;
}

std::string Name(size_t i) { return "v" + std::to_string(i); }

void WriteValues(IDataWriter& w) {
    for (size_t i = 0; i < Values().size(); ++i) Values()[i].write(w, Name(i).c_str());
}
void WriteElements(IContainerWriter& w) {
    for (const SValue& value : Values()) value.writeElement(w);
}

// ---- Writer ---------------------------------------------------------------------------------

// Every kind's text as a named value and as a container element (round trips of every kind:
// contract_test.cpp).
TEST(XmlWriter, ValueTextsOfEveryKind) {
    CObject object;
    object.className = "Geo::Shapes::Circle";
    object.write = WriteValues;
    CContainer list;
    list.write = WriteElements;
    list.read = [](IContainerReader& r) {
        const unsigned last = static_cast<unsigned>(Values().size()) - 1;
        const SBlobRange blob = r.Read(last);
        EXPECT_EQ(std::string(blob.begin, blob.end), std::string(54, '\xFF'));
        EXPECT_EQ(r.Read(last).begin, blob.begin);  // decoded once, then cached
    };
    std::string named, elements;
    for (size_t i = 0; i < Values().size(); ++i) {
        named += "\t<" + Name(i) + ">" + Values()[i].text + "</" + Name(i) + ">\n";
        elements += "\t<elt>" + Values()[i].text + "</elt>\n";
    }
    const std::string text = WriteXml(object), listText = WriteXml(list);
    EXPECT_EQ(text, Document("Geo-Shapes-Circle", named));
    EXPECT_EQ(listText, Document("List", elements, false));
    const CReaderXml reader(text.c_str());  // read through a copy-assigned reader
    CReaderXml copied("");
    copied = reader;
    copied.Read(object);
    CReaderXml(listText).Read(list);
    EXPECT_EQ(object.reads + list.reads, 2);

    // Char values and names are not escaped; a wide text ends at its first NUL; a name written
    // twice gives two elements.
    object.write = [](IDataWriter& w) {
        w.Write("c", '<'), w.Write("w", std::wstring(L"ab\0cd", 5)), w.Write("c", '&');
    };
    EXPECT_EQ(WriteXml(object),
              Document("Geo-Shapes-Circle", "\t<c><</c>\n\t<w>ab</w>\n\t<c>&</c>\n"));
}

// Long texts are scanned in blocks: a byte to replace anywhere, block edges included, is still
// found.
TEST(XmlWriter, ReplacementsAtEveryPositionOfLongTexts) {
    const std::pair<char, std::string> replaced[] = {
        {'&', "&amp;"},  {'>', "&gt;"},   {'<', "&lt;"}, {'%', "&#37;"},
        {'\n', "&#10;"}, {'\r', "&#13;"}, {'"', "\""},   {'\t', "\t"}};
    for (const auto& [special, replacement] : replaced) {
        for (size_t at = 0; at < 40; ++at) {
            std::string text(40, 'a');
            text[at] = special;
            CObject object;
            object.write = [&](IDataWriter& w) { w.Write("s", text); };
            const std::string expected =
                "\t<s>" + text.substr(0, at) + replacement + text.substr(at + 1) + "</s>\n";
            ASSERT_EQ(WriteXml(object), Document(object.className, expected))
                << int(special) << " at " << at;
        }
    }
}

// Nesting indents one TAB per level; container elements that are objects or containers take
// their class names. Class names are asked once for the root and for each container element,
// never for named values.
TEST(XmlWriter, NestingElementNamesAndClassNameQueries) {
    EXPECT_EQ(WriteXml(CObject()), Document("Obj", ""));
    EXPECT_EQ(WriteXml(CContainer()), Document("List", "", false));

    CObject c, b, a, root;
    c.write = [](IDataWriter& w) { w.Write("v", 1); };
    b.write = [&](IDataWriter& w) { w.Write("c", c); };
    a.write = [&](IDataWriter& w) { w.Write("b", b); };
    root.write = [&](IDataWriter& w) { w.Write("a", a); };
    EXPECT_EQ(WriteXml(root), Document("Obj",
                                       "\t<a>\n\t\t<b>\n\t\t\t<c>\n\t\t\t\t<v>1</v>\n"
                                       "\t\t\t</c>\n\t\t</b>\n\t</a>\n"));
    EXPECT_EQ(a.asked + b.asked + c.asked, 0);

    CObject point, blank;
    point.className = "Geo::Point";
    point.write = [](IDataWriter& w) { w.Write("x", 1); };
    CContainer inner, shapes;
    inner.className = "A:::B";
    inner.write = [](IContainerWriter& w) { w.Write(7); };
    shapes.className = "Shapes";
    shapes.write = [&](IContainerWriter& w) {
        w.Write(point), w.Write(inner), w.Write(blank), w.Write(false);
    };
    EXPECT_EQ(WriteXml(shapes), Document("Shapes",
                                         "\t<Geo-Point>\n\t\t<x>1</x>\n\t</Geo-Point>\n"
                                         "\t<A-:B>\n\t\t<elt>7</elt>\n\t</A-:B>\n"
                                         "\t<Obj>\n\t</Obj>\n\t<elt>false</elt>\n",
                                         false));
    EXPECT_EQ(shapes.asked + point.asked + inner.asked + blank.asked, 4);

    CObject holder;
    holder.write = [&](IDataWriter& w) { w.Write("items", inner); };
    EXPECT_EQ(WriteXml(holder), Document("Obj", "\t<items>\n\t\t<elt>7</elt>\n\t</items>\n"));
    EXPECT_EQ(inner.asked, 1);
}

TEST(XmlWriter, StreamPropertiesAndDocumentsInSequence) {
    std::ostringstream stream;
    stream << "head|";
    stream.precision(3);
    CWriterXml writer(stream);
    EXPECT_EQ(stream.precision(), 16);
    EXPECT_NE(stream.flags() & std::ios_base::boolalpha, 0);

    CObject object;
    object.write = [](IDataWriter& w) { w.Write("f", 1.5f); };
    writer.Write(object);
    EXPECT_EQ(stream.precision(), 9);
    object.write = [](IDataWriter& w) { w.Write("f", 1.5f), w.Write("d", 2.5); };
    CWriterXml(writer).Write(object);  // a copy writes into the same stream
    EXPECT_EQ(stream.precision(), 17);
    EXPECT_EQ(stream.str(), "head|" + Document("Obj", "\t<f>1.5</f>\n") +
                                Document("Obj", "\t<f>1.5</f>\n\t<d>2.5</d>\n"));
}

TEST(XmlWriter, FailuresBecomeCExceptionOfWrite) {
    const char* const file = "core/tavrin/src/cwriterxml.cpp";
    CObject failing;
    failing.write = [](IDataWriter& w) { w.Write("a", 1), throw std::runtime_error("app"); };
    std::ostringstream stream;
    ExpectThrowsAt<CException>([&] { CWriterXml(stream).Write(failing); }, file, 220, kWrite);
    EXPECT_EQ(stream.str(), kObjectDeclaration + "<Obj" + kNamespaces + ">\n\t<a>1</a>\n");

    // A library exception inside a nested container: two log entries, the inner one first.
    CContainer bad, outer;
    bad.write = [](IContainerWriter&) { throw CException("inner.cpp", 5, "Inner"); };
    outer.write = [&](IContainerWriter& w) { w.Write(bad); };
    std::ostringstream second;
    LogCapture log;
    EXPECT_THROW(CWriterXml(second).Write(outer), CException);
    const auto entries = log.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].function, "Inner");
    EXPECT_TRUE(entries[1].function == kWrite && entries[1].line == 256) << entries[1].line;
    EXPECT_EQ(second.str(), kContainerDeclaration + "<List" + kNamespaces + ">\n\t<List>\n");

    // Even an exception of no library type is replaced; a failing GetClassName writes nothing.
    struct NoName : CObject {
        const char* GetClassName() const override { throw 42; }
    } noName;
    std::ostringstream third;
    EXPECT_THROW(CWriterXml(third).Write(noName), CException);
    EXPECT_EQ(third.str(), "");
    // Null names are outside the contract; they must still not crash the writer.
    struct NullNames : CObject {
        const char* GetClassName() const override { return nullptr; }
    } nullNames;
    nullNames.write = [](IDataWriter& w) { w.Write(nullptr, 1); };
    EXPECT_EQ(WriteXml(nullNames), kObjectDeclaration + "<" + kNamespaces + ">\n\t<>1</>\n</>\n");
}

// ---- Reader ---------------------------------------------------------------------------------

TEST(XmlReader, NamesIgnoreCaseAndTheFirstDuplicateWins) {
    const std::string body =
        "\t<Count>5</Count>\n\t<count>6</count>\n\t<s>  spaced  </s>\n\t<flag>True</flag>\n"
        "\t<e></e>\n";
    ReadNamed(body, [](IDataReader& r) {
        EXPECT_EQ(ReadAs<int>(r, "COUNT"), 5);
        EXPECT_EQ(ReadAs<std::string>(r, "s"), "spaced");
        EXPECT_EQ(ReadAs<std::string>(r, "e"), "");
        bool flag = false;
        EXPECT_FALSE(r.Read("flag", flag));  // only exactly "true" and "false" are bools
        int missing = 3;
        EXPECT_FALSE(r.Read("missing", missing));
        EXPECT_TRUE(missing == 3 && r.Read("missing").begin == nullptr);
        std::vector<std::string> names;
        for (unsigned i = 0; i < r.GetNameCount(); ++i) names.emplace_back(r.GetName(i));
        EXPECT_EQ(names, (std::vector<std::string>{"Count", "count", "s", "flag", "e"}));
        EXPECT_EQ(r.GetName(r.GetNameCount()), nullptr);
    });
    CObject upper;  // a root element differing only in letter case is accepted
    upper.className = "OBJ";
    upper.read = [](IDataReader& r) { EXPECT_EQ(ReadAs<int>(r, "count"), 5); };
    CReaderXml(Document("Obj", body)).Read(upper);
    EXPECT_EQ(upper.reads, 1);
}

TEST(XmlReader, DocumentsThatGiveNoValues) {
    const std::string good = Document("Obj", "\t<v>1</v>\n");
    const std::string texts[] = {
        good.substr(good.find('\n') + 1),  // without the declaration
        "\xEF\xBB\xBF" + good,
        Document("Other", "\t<v>1</v>\n"),
        Document("Obj", "\t<v>1 & 2</v>\n"),
        "",
        "<?xml version=\"1.0\"?><Obj><v>1</v></Obj></Stray>",
        good,  // the control: the only text that gives a value
    };
    for (const std::string& text : texts) {
        int v = -1;
        unsigned names = 99;
        CObject object;
        object.read = [&](IDataReader& r) {
            EXPECT_EQ(r.Read("v", v), text == good);
            EXPECT_EQ(r.GetName(names = r.GetNameCount()), nullptr);
        };
        EXPECT_NO_THROW(CReaderXml(text).Read(object)) << text;
        EXPECT_EQ(v, text == good ? 1 : -1) << text;
        EXPECT_EQ(names, text == good ? 1u : 0u);
    }
}

TEST(XmlReader, ContainerElementsMustBeNamedElt) {
    const char* body = "\t<elt>true</elt>\n\t<item>2</item>\n\t<elt>True</elt>\n";
    ReadElements(body, [](IContainerReader& r) {
        EXPECT_TRUE(ReadAs<bool>(r, 0u));
        const std::function<void()> reads[] = {
            [&] { ReadAs<int>(r, 1u); }, [&] { r.Read(1u); }, [&] { ReadAs<std::string>(r, 1u); },
            [&] { ReadAs<bool>(r, 1u); }, [&] { ReadAs<QvDateTime>(r, 1u); }};
        for (const auto& read : reads) {
            ExpectThrowsAt<CException>(read, "core/tavrin/src/creaderxml.cpp", 393,
                                       "Tavrin::CContainerReaderXml::readValue");
        }
        // As a nested object or container the element is accepted.
        CObject object;
        object.read = [](IDataReader& inner) { EXPECT_EQ(inner.GetNameCount(), 0u); };
        CContainer container;
        EXPECT_TRUE(r.Read(1, object) && r.Read(1, container));
        EXPECT_EQ(object.asked + container.asked, 0);
        bool b = false;  // "True" is not a bool: the read says false and keeps the target
        EXPECT_FALSE(r.Read(2, b) || b);
    });
}

// Where the text of a read comes from. Named values: first text segment, else the first raw
// section, trimmed of all six white-space characters; bools and date-times take the first
// text segment only. Container elements: the same sources untrimmed, for every kind. The
// variant's and date-time's conversion exceptions reach the caller unwrapped.
TEST(XmlReader, TextSourcesOfNamedValuesAndElements) {
    const std::string date = "<![CDATA[2024-01-05T10:20:30]]>";
    ReadNamed(
        "\t<s><![CDATA[ \v raw \f]]></s>\n\t<n><![CDATA[\n42\n]]></n>\n"
        "\t<b><![CDATA[true]]></b>\n\t<dt>" +
            date +
            "</dt>\n\t<e>&#10;x&#11;&#13;</e>\n"
            "\t<none/>\n\t<v>abc</v>\n\t<z>a&#0;b</z>\n\t<m>t1<x/>t2</m>\n",
        [](IDataReader& r) {
            EXPECT_EQ(ReadAs<std::string>(r, "s"), "raw");
            // A text ends at a NUL decoded inside it; the first of several texts is read.
            EXPECT_EQ(ReadAs<std::string>(r, "z"), "a");
            EXPECT_EQ(ReadAs<std::string>(r, "m"), "t1");
            EXPECT_EQ(ReadAs<int>(r, "n"), 42);
            EXPECT_EQ(ReadAs<std::string>(r, "e"), "x");
            bool b = false;
            EXPECT_FALSE(r.Read("b", b));
            QvDateTime dt;  // a date-time in a raw section, or no text, is the empty text
            for (const char* name : {"dt", "none"}) {
                ExpectThrowsAt<QvExceptionConversion>([&] { r.Read(name, dt); }, kDateFile, 225,
                                                      "QvDateTime::QvDateTime");
            }
            int v = 0;
            ExpectThrowsAt<QvExceptionConversion>(
                [&] { r.Read("v", v); }, "core/basepool/qvvariant.cpp", 794, "stringToInt");
        });
    ReadElements("\t<elt><![CDATA[ \v raw \f]]></elt>\n\t<elt><![CDATA[true]]></elt>\n\t<elt>" +
                     date + "</elt>\n\t<elt>&#10;x&#11;&#13;</elt>\n\t<elt>a&#0;b</elt>\n",
                 [](IContainerReader& r) {
                     EXPECT_EQ(ReadAs<std::string>(r, 0u), " \v raw \f");
                     EXPECT_TRUE(ReadAs<bool>(r, 1u));
                     EXPECT_EQ(ReadAs<QvDateTime>(r, 2u).ToFileTime(),
                               QvDateTime("2024-01-05T10:20:30").ToFileTime());
                     EXPECT_EQ(ReadAs<std::string>(r, 3u), "\nx\v\r");
                     EXPECT_EQ(ReadAs<std::string>(r, 4u), "a");
                 });
}

// A named value's text is trimmed before decoding, so a padded blob reads back exactly; a
// container element's is not: the line break and indent after the pads keep them from being
// dropped, so the same blob reads back longer, the extra bytes zero.
TEST(XmlReader, BlobRanges) {
    const std::string padded = "<![CDATA[\nAQIDBA==\n\t]]>";
    ReadNamed(
        "\t<empty><![CDATA[\n\n\t]]></empty>\n\t<four>" + padded + "</four>\n\t<bad>====</bad>\n",
        [](IDataReader& r) {
            const SBlobRange empty = r.Read("empty");
            EXPECT_TRUE(empty.begin == nullptr && empty.end == nullptr);
            const SBlobRange first = r.Read("four"), second = r.Read("four");
            EXPECT_EQ(std::string(first.begin, first.end), "\x01\x02\x03\x04");
            EXPECT_TRUE(first.begin == second.begin && first.end == second.end);
            EXPECT_THROW(r.Read("bad"), CException);  // Base64 that decodes to nothing
        });
    ReadElements("\t<elt>" + padded + "</elt>\n\t<elt><![CDATA[\n\n\t]]></elt>\n\t<elt>  </elt>\n",
                 [](IContainerReader& r) {
                     const SBlobRange longer = r.Read(0u);
                     EXPECT_EQ(std::string(longer.begin, longer.end),
                               std::string("\x01\x02\x03\x04\0\0", 6));
                     EXPECT_EQ(r.Read(1u).begin, nullptr);
                     EXPECT_EQ(r.Read(2u).end, nullptr);
                 });
}

// Number texts near the readers' shortcuts for plain integers and decimals give what the
// variant gives for the text the reader holds (as a string read shows it), value or exception.
TEST(XmlReader, NumbersConvertAsTheVariantConvertsTheirText) {
    const std::vector<std::string> texts = Split(
        "0|-0|00|012|-012|0x1F|+1|-|.5|5.|1.5.2|1e5| 7 |7x|2.5|-1234.75|0.1|123456789.12345678|"
        "9007199254740993|18446744073709551615|18446744073709551616|-9223372036854775808|"
        "12345678901234567890123|4294967296|-2147483649|65536.5");
    std::string named, elements;
    for (size_t i = 0; i < texts.size(); ++i) {
        named += "\t<v" + std::to_string(i) + ">" + texts[i] + "</v" + std::to_string(i) + ">\n";
        elements += "\t<elt>" + texts[i] + "</elt>\n";
    }
    // Each text as the reader holds it (as a string read shows it), read as every number type.
    const auto each = [&](auto& r, auto key) {
        const std::string text = ReadAs<std::string>(r, key);
        const auto as = [&](auto target) {
            ExpectConvertsLikeVariant<decltype(target)>(
                text, QvVariant::ETextForm::Narrow, [&](auto& v) { EXPECT_TRUE(r.Read(key, v)); });
        };
        as(double{}), as(float{}), as(int{}), as(0u), as(0ll), as(0ull), as(short{});
        as(static_cast<unsigned char>(0));
    };
    ReadNamed(named, [&](IDataReader& r) {
        for (size_t i = 0; i < texts.size(); ++i) each(r, ("v" + std::to_string(i)).c_str());
    });
    ReadElements(elements, [&](IContainerReader& r) {
        for (unsigned int i = 0; i < texts.size(); ++i) each(r, i);
    });
}

// Documents of many thousand elements: the tree keeps them in fixed-size blocks, sized by the
// text's length at first, and child lists of every length, also ones longer than a block or
// ones that start near a block's end, must read back whole and in order.
TEST(XmlReader, LongChildListsReadWhole) {
    for (const unsigned int count : {3000u, 7000u}) {
        std::string body;
        for (unsigned int i = 0; i < count; ++i) {
            const std::string n = std::to_string(i);
            body += "<elt><a>" + n + "</a><b/><c>" + n + "c</c></elt>";
        }
        ReadElements(body, [count](IContainerReader& r) {
            for (unsigned int i = 0; i < count; ++i) {
                CObject item;
                item.read = [i](IDataReader& element) {
                    ASSERT_EQ(element.GetNameCount(), 3u);
                    EXPECT_STREQ(element.GetName(1), "b");
                    EXPECT_EQ(ReadAs<int>(element, "a"), static_cast<int>(i));
                    EXPECT_EQ(ReadAs<std::string>(element, "C"), std::to_string(i) + "c");
                };
                ASSERT_TRUE(r.Read(i, item)) << i;
            }
            std::string past;
            EXPECT_FALSE(r.Read(count, past));
        });
    }
    // An element name longer than the parser compares byte for byte still ends its element.
    const std::string name(5000, 'n');
    ReadNamed("<" + name + ">1</" + name + "><" + name + ">2</" + name + "><v>3</v>",
              [&](IDataReader& r) {
                  EXPECT_EQ(ReadAs<int>(r, name.c_str()), 1);
                  EXPECT_EQ(ReadAs<int>(r, "v"), 3);
              });
}

// Several blobs in one value reader: the first small, a later one too large for the reader's
// own buffer, each decoded once; a failed decoding keeps nothing, and a decoded NUL ends the
// Base64 text as the end of the text would.
TEST(XmlReader, SeveralBlobsInOneReader) {
    std::string bytes60;
    for (int i = 0; i < 60; ++i) bytes60 += static_cast<char>(i * 7);
    const std::string long64 = Base64::Encode(bytes60.data(), bytes60.size(), true);
    ReadNamed("\t<bad>====</bad>\n\t<a>AQID</a>\n\t<long>" + long64 +
                  "</long>\n\t<nul>AQID&#0;BA==</nul>\n",
              [&](IDataReader& r) {
                  EXPECT_THROW(r.Read("bad"), CException);
                  const SBlobRange a = r.Read("a"), big = r.Read("long"), nul = r.Read("nul");
                  EXPECT_EQ(std::string(a.begin, a.end), "\x01\x02\x03");
                  EXPECT_EQ(std::string(big.begin, big.end), bytes60);
                  EXPECT_EQ(std::string(nul.begin, nul.end), "\x01\x02\x03");
                  EXPECT_THROW(r.Read("bad"), CException);
                  const SBlobRange again = r.Read("long"), first = r.Read("a");
                  EXPECT_TRUE(again.begin == big.begin && again.end == big.end);
                  EXPECT_TRUE(first.begin == a.begin && first.end == a.end);
              });
    ReadElements("\t<elt>" + long64 + "</elt>\n\t<elt>AQID</elt>\n", [&](IContainerReader& r) {
        const SBlobRange second = r.Read(1u), first = r.Read(0u);
        EXPECT_EQ(std::string(second.begin, second.end), "\x01\x02\x03");
        EXPECT_EQ(std::string(first.begin, first.end), bytes60);
        EXPECT_EQ(r.Read(1u).begin, second.begin);
        EXPECT_EQ(r.Read(0u).begin, first.begin);
    });
}

// ---- Threads ---------------------------------------------------------------------------------

TEST(XmlThreads, WritersAndReadersOnSeveralThreads) {
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; ++t) {
        threads.emplace_back([&mismatches, t] {
            for (unsigned round = 0; round < 50; ++round) {
                const SKinds in = Sample(t * 100 + round);
                SKinds out;
                SXmlFormat::Read(WriteXml(in), out);
                mismatches += out == in ? 0 : 1;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
