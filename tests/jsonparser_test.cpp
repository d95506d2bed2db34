// The JSON parser: the tree it builds, its leniency, errors with their lines, and hostile input.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/tavrin/json/sjsonelement.h"
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

// The tree as text: members in their stored order as name=value, quoted values in quotes, null
// array elements as null.
std::string Dump(const SJsonElement* e) {
    if (e == nullptr) return "null";
    if (e->GetKind() == SJsonElement::KindValue) {
        return e->IsQuoted() ? "\"" + std::string(e->GetText()) + "\"" : std::string(e->GetText());
    }
    std::string out;
    for (unsigned int i = 0; i < e->GetMemberCount(); ++i) {
        const SJsonMember& m = e->GetMember(i);
        out += (i == 0 ? "" : ",") + std::string(m.name, m.nameLength) + "=" + Dump(&m.element);
    }
    for (unsigned int i = 0; i < e->GetElementCount(); ++i) {
        out += (i == 0 ? "" : ",") + Dump(e->GetElement(i));
    }
    return e->GetKind() == SJsonElement::KindObject ? "{" + out + "}" : "[" + out + "]";
}

// Parses `text` as an object document, or an array document; gives the tree and where the
// parse stopped.
std::pair<std::string, const char*> Parse(const char* text, bool array = false) {
    CJsonNodePool pool;
    SJsonElement root(array ? SJsonElement::KindArray : SJsonElement::KindObject);
    const char* end = array ? ParseArray(text, root, pool) : ParseObject(text, root, pool);
    return {Dump(&root), end};
}

TEST(JsonParser, BuildsTheTreeLeniently) {
    const struct { const char* text; bool array; const char* tree; } cases[] = {
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
        const char* text; bool array; unsigned int line; const char* function;
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

// Objects above the size where lookups go through an index: replacement, lookup and order.
TEST(JsonParser, LargeObjectsFindEveryMember) {
    std::string doc = "{";
    for (int i = 0; i < 300; ++i) doc += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    doc += R"("k5":"five","k299":null,"k7":7.5})";
    CJsonNodePool pool;
    SJsonElement root(SJsonElement::KindObject);
    ParseObject(doc.c_str(), root, pool);
    ASSERT_EQ(root.GetMemberCount(), 300u);
    for (unsigned int i = 0; i < 300; ++i) {
        const SJsonMember* m = root.FindMember("k" + std::to_string(i));
        ASSERT_EQ(m, &root.GetMember(i)) << i;
        EXPECT_EQ(Dump(&m->element), i == 5 ? "\"five\"" : i == 7 ? "7.5" : std::to_string(i));
    }
    for (const char* absent : {"k300", "k", ""}) EXPECT_EQ(root.FindMember(absent), nullptr);
}

// ---- Hostile input ---------------------------------------------------------------------------

template <class E, class F>
void Tolerate(F f) try { f(); } catch (const E&) {}

void ReadEverything(IDataReader& r);
void ReadEverything(IContainerReader& r);

// Reads one member or element in every way, so that the whole tree is visited; only the
// conversion errors and the blob decoder's error are allowed.
template <class R, class K>
void ReadEveryWay(R& r, K key) {
    Obj o;
    Cont c;
    o.read = [](IDataReader& inner) { ReadEverything(inner); };
    c.read = [](IContainerReader& inner) { ReadEverything(inner); };
    std::string s; std::wstring w; bool b; long long v; unsigned char u; float f; double d;
    r.Read(key, o); r.Read(key, c); r.Read(key, s); r.Read(key, w); r.Read(key, b);
    Tolerate<QvExceptionConversion>([&] { r.Read(key, v); });
    Tolerate<QvExceptionConversion>([&] { r.Read(key, u); });
    Tolerate<QvExceptionConversion>([&] { r.Read(key, f); });
    Tolerate<QvExceptionConversion>([&] { r.Read(key, d); });
    Tolerate<CException>([&] { r.Read(key); });
}

void ReadEverything(IDataReader& r) {
    for (unsigned int i = 0; i < r.GetNameCount(); ++i) ReadEveryWay(r, r.GetName(i));
}

void ReadEverything(IContainerReader& r) {
    for (unsigned int i = 0; i < 64; ++i) ReadEveryWay(r, i);
}

TEST(JsonHostile, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    std::string members;
    for (int i = 0; i < 100000; ++i) members += "{\"a\":";
    const std::string deepest = std::string(1000, '[') + "7" + std::string(1000, ']');
    for (const std::string& text : {std::string(100000, '['), "[" + deepest + "]"}) {
        ExpectRaisedAt<CException>([&] { ReadContainer(text, {}); }, kReaderFile, 610,
                                   "ParseElement");
    }
    ExpectRaisedAt<CException>([&] { ReadObject(members, {}); }, kReaderFile, 610,
                               "ParseElement");
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

// Huge numbers, then random texts: each is read, or fails with the parser's CException. A
// conversion error other than the variant's, or a crash, fails the test; reads beyond the text
// show only under the sanitizers (the ci-asan preset).
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
        } catch (const CException&) {
        }
    }
    EXPECT_GT(parsed, 10);  // some of the texts must have been documents, or nothing was read
}

}  // namespace
