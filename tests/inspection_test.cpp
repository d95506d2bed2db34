// The inspection API: CBinaryDocument against the binary reader, CJsonDocument and
// CXmlDocument against their readers.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include <tavrin/tavrin.h>

#include "support/formats.h"
#include "support/objects.h"

namespace {

using namespace TestSupport;
using Tavrin::CBinaryDocument;
using Tavrin::EValueKind;
using Tavrin::SBinaryNode;

constexpr auto BinaryOf = [](const auto& root) { return SBinaryFormat::Write(root); };

// Where an attempt failed: "" when it did not, else the raising function and line.
template <class F>
std::string Outcome(F&& attempt) {
    try {
        attempt();
        return "";
    } catch (const IException& e) {
        return std::string(e.GetFunctionName()) + ":" + std::to_string(e.GetCodeLine());
    }
}

TEST(BinaryDocument, EveryValueWithItsExactKindNameAndClass) {
    CList<SKinds> list;
    list.items = {Sample(1), Sample(2)};
    Bytes bytes = BinaryOf(list);
    const size_t size = bytes.size();
    const Bytes second = BinaryOf(list);
    bytes.insert(bytes.end(), second.begin(), second.end());  // another document follows

    const CBinaryDocument doc(bytes.data(), bytes.size());
    EXPECT_EQ(doc.GetSize(), size);
    const SBinaryNode& root = doc.GetRoot();
    ASSERT_EQ(root.kind, EValueKind::Container);
    ASSERT_EQ(root.size, 2u);
    EXPECT_EQ(root.elementKind, EValueKind::Object);
    const SBinaryNode& first = root.Children()[0];
    EXPECT_EQ(doc.GetName(first.className), "Test::Kinds");

    std::map<std::string, const SBinaryNode*> byName;
    for (uint64_t i = 0; i < first.size; ++i) {
        const SBinaryNode& n = first.Children()[i];
        byName[std::string(doc.GetName(n.name))] = &n;
    }
    ASSERT_EQ(byName.size(), 18u);
    // k0 .. k14 hold the scalar kinds in the order of the Scalars tuple.
    const EValueKind kinds[] = {EValueKind::Bool,   EValueKind::Char,    EValueKind::Int8,
                                EValueKind::UInt8,  EValueKind::Int16,   EValueKind::UInt16,
                                EValueKind::Int32,  EValueKind::UInt32,  EValueKind::Int64,
                                EValueKind::UInt64, EValueKind::Float,   EValueKind::Double,
                                EValueKind::String, EValueKind::WString, EValueKind::DateTime};
    for (int k = 0; k < 15; ++k) EXPECT_EQ(byName["k" + std::to_string(k)]->kind, kinds[k]) << k;

    const SKinds& s = list.items[0];
    EXPECT_EQ(static_cast<int>(byName["k6"]->bits), std::get<6>(s.v));
    EXPECT_EQ(byName["k9"]->bits, std::get<9>(s.v));
    double d;
    std::memcpy(&d, &byName["k11"]->bits, 8);
    EXPECT_EQ(d, std::get<11>(s.v));
    EXPECT_EQ(std::string(static_cast<const char*>(byName["k12"]->data), byName["k12"]->size),
              std::get<12>(s.v));
    EXPECT_EQ(CBinaryDocument::WideText(*byName["k13"]), std::get<13>(s.v));
    EXPECT_EQ(byName["k14"]->bits, std::get<14>(s.v).ToFileTime());
    const SBinaryNode& blob = *byName["blob"];
    EXPECT_EQ(Bytes(static_cast<const unsigned char*>(blob.data),
                    static_cast<const unsigned char*>(blob.data) + blob.size),
              s.blob);
    EXPECT_EQ(byName["inner"]->kind, EValueKind::Object);
    EXPECT_EQ(doc.GetName(byName["inner"]->className), "Test::Inner");
    const SBinaryNode& inner = *byName["inner"];
    ASSERT_EQ(inner.size, 2u);
    EXPECT_EQ(byName["list"]->kind, EValueKind::Container);
    EXPECT_EQ(byName["list"]->size, s.list.items.size());

    // Every byte of the document is accounted for, once.
    const Tavrin::SBinaryLayout& layout = doc.GetLayout();
    uint64_t total = layout.header + layout.nameTable;
    for (const uint64_t k : layout.kinds) total += k;
    EXPECT_EQ(total, size);
    EXPECT_EQ(layout.kinds[static_cast<int>(EValueKind::Bool)], 2u * (4 + 1) + 2u * 5);
}

// A damaged document fails where the reader fails, or reads as the reader reads it: every
// prefix of a document, and the document with each byte replaced in turn.
TEST(BinaryDocument, FailsWhereTheReaderFails) {
    const Logging::LogSink previous = Logging::SetSink({});  // thousands of exceptions
    const Bytes good = BinaryOf(Samples(2));
    auto same = [](const Bytes& b) {
        const std::string reader = Outcome([&] {
            QvStreamReadBinaryBuffer stream(b.data(), b.size());
            const Tavrin::CReaderBinary r(stream);
        });
        const std::string document = Outcome([&] { const CBinaryDocument d(b.data(), b.size()); });
        return reader == document ? std::string() : reader + " / " + document;
    };
    for (size_t n = 0; n < good.size(); ++n) {
        const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        ASSERT_EQ(same(cut), "") << "cut at " << n;
    }
    for (size_t i = 0; i < good.size(); ++i) {
        for (const unsigned char value : {0x00, 0x11, 0xFF}) {
            Bytes bad = good;
            bad[i] = value;
            ASSERT_EQ(same(bad), "") << "byte " << i << " = " << int(value);
        }
    }
    Logging::SetSink(previous);
}

TEST(JsonDocument, DocumentOrderAndWhereParsingStopped) {
    Tavrin::CJsonDocument doc;
    const std::string text = "{\"b\":1,\"a\":\"x\\\"y\",\"n\":null,\"b\":\"42\",\"l\":[null,2]}";
    doc.Parse(text.c_str());
    const Tavrin::CJsonValue root = doc.GetRoot();
    ASSERT_EQ(root.GetType(), Tavrin::CJsonValue::EType::Object);
    ASSERT_EQ(root.GetCount(), 3u);  // the null member is not kept, the second b replaces the first
    EXPECT_EQ(root.GetMemberName(0), "b");
    EXPECT_EQ(root.GetChild(0).GetType(), Tavrin::CJsonValue::EType::String);
    EXPECT_EQ(root.GetMemberName(1), "a");
    EXPECT_EQ(root.Find("a").GetText(), "x\\\"y");
    EXPECT_EQ(root.Find("l").GetChild(0).GetType(), Tavrin::CJsonValue::EType::Null);
    EXPECT_EQ(root.Find("zz").GetType(), Tavrin::CJsonValue::EType::Null);

    // Values convert through the reader's own value reader.
    CObject target;
    int b = 0;
    std::string a;
    target.read = [&](Tavrin::IDataReader& r) { r.Read("b", b), r.Read("a", a); };
    EXPECT_TRUE(root.ReadObject(target));
    EXPECT_EQ(b, 42);
    EXPECT_EQ(a, "x\"y");

    const struct {
        const char* text;
        unsigned int line;
        size_t stop;
    } bad[] = {{"{\"a\":1 2}", 689, 7}, {"{\"a\":\"x", 562, 7}, {"[1,]", 765, 3},
               {"[,1]", 747, 1},        {"", 500, 0},           {"  {\"a\" 1}", 695, 7}};
    for (const auto& c : bad) {
        Tavrin::CJsonDocument d;
        const std::string outcome = Outcome([&] { d.Parse(c.text); });
        EXPECT_EQ(outcome.substr(outcome.rfind(':') + 1), std::to_string(c.line)) << c.text;
        EXPECT_EQ(d.GetStopOffset(), c.stop) << c.text;
        EXPECT_EQ(d.GetRoot().GetType(), Tavrin::CJsonValue::EType::Null);
    }
}

TEST(XmlDocument, TreeReaderAndWhereParsingStopped) {
    const SKinds written = Sample(5);
    std::ostringstream text;
    Tavrin::CWriterXml(text).Write(written);
    Tavrin::CXmlDocument doc;
    ASSERT_TRUE(doc.Parse(text.str().c_str()));
    const Tavrin::CXmlElement declaration = doc.GetRoot();
    EXPECT_TRUE(declaration.IsDeclaration());
    EXPECT_EQ(declaration.GetAttributeName(1), "encoding");
    EXPECT_EQ(declaration.GetAttributeValue(1), "utf-8");
    const Tavrin::CXmlElement element = declaration.GetChild(0);
    EXPECT_EQ(element.GetName(), "Test-Kinds");
    EXPECT_EQ(element.GetChild(0).GetName(), "k0");
    SKinds back;
    element.ReadObject(back);
    EXPECT_EQ(back.found, SKinds::kKinds);
    EXPECT_TRUE(back == written);

    const std::string bad = "<a>\n  <b>x</b>\n  <c>&bogus;</c>\n</a>";
    EXPECT_FALSE(doc.Parse(bad.c_str()));
    EXPECT_TRUE(doc.GetRoot().IsEmpty());
    EXPECT_EQ(doc.GetStopOffset(), bad.find("&bogus"));
}

}  // namespace
