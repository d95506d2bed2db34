// The JSON parser: leniency, errors with their lines, and hostile input.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "jsontesthelpers.h"

namespace {

using namespace JsonTest;

struct SParsed {
    CJsonNodePool pool;
    SJsonElement root{SJsonElement::KindObject};
    const char* end = nullptr;
};

std::unique_ptr<SParsed> ParseObjectText(const char* text) {
    auto parsed = std::make_unique<SParsed>();
    parsed->end = ParseObject(text, parsed->root, parsed->pool);
    return parsed;
}

std::unique_ptr<SParsed> ParseArrayText(const char* text) {
    auto parsed = std::make_unique<SParsed>();
    parsed->root = SJsonElement(SJsonElement::KindArray);
    parsed->end = ParseArray(text, parsed->root, parsed->pool);
    return parsed;
}

std::string TextOf(const SJsonElement* e) {
    EXPECT_NE(e, nullptr);
    return e != nullptr ? std::string(e->GetText()) : std::string();
}

std::string Member(const SParsed& p, const char* name) {
    const SJsonMember* m = p.root.FindMember(name);
    return m != nullptr ? TextOf(&m->element) : "<absent>";
}

TEST(JsonParser, LenientObjects) {
    auto p = ParseObjectText(R"({"a":1 "b":2})");
    EXPECT_EQ(p->root.GetMemberCount(), 2u);
    EXPECT_EQ(Member(*p, "a"), "1");
    EXPECT_EQ(Member(*p, "b"), "2");

    EXPECT_EQ(ParseObjectText(R"({"a":1,})")->root.GetMemberCount(), 1u);
    EXPECT_EQ(ParseObjectText(R"({"a":null})")->root.GetMemberCount(), 0u);
    p = ParseObjectText(R"({"a":1,"a":2})");
    ASSERT_EQ(p->root.GetMemberCount(), 1u);
    EXPECT_EQ(Member(*p, "a"), "2");

    // A later member replaces the value of an earlier one in its place; null replaces nothing.
    p = ParseObjectText(R"({"a":1,"b":2,"a":3,"b":null})");
    ASSERT_EQ(p->root.GetMemberCount(), 2u);
    EXPECT_EQ(std::string(p->root.GetMember(0).name, p->root.GetMember(0).nameLength), "a");
    EXPECT_EQ(TextOf(&p->root.GetMember(0).element), "3");
    EXPECT_EQ(TextOf(&p->root.GetMember(1).element), "2");

    p = ParseObjectText(R"({"a":12abc})");
    EXPECT_EQ(Member(*p, "a"), "12abc");
    EXPECT_FALSE(p->root.FindMember("a")->element.IsQuoted());

    const char* trailing = R"({"a":1}xyz)";
    p = ParseObjectText(trailing);
    EXPECT_EQ(p->root.GetMemberCount(), 1u);
    EXPECT_EQ(p->end, trailing + 7);

    p = ParseObjectText("null");
    EXPECT_EQ(p->root.GetMemberCount(), 0u);
    EXPECT_EQ(p->end, nullptr);

    // Empty values, any C white space, and the two kinds of value.
    p = ParseObjectText("\v{\f\"e\"\r:\t,\"q\" : \"x y\" ,\"n\":-0.5e+3 }");
    EXPECT_EQ(Member(*p, "e"), "");
    EXPECT_EQ(Member(*p, "q"), "x y");
    EXPECT_TRUE(p->root.FindMember("q")->element.IsQuoted());
    EXPECT_EQ(Member(*p, "n"), "-0.5e+3");

    // Quoted texts keep their escapes; a string may end in an escaped backslash.
    p = ParseObjectText(R"({"s":"A\"b","t":"x\\","k\"":1})");
    EXPECT_EQ(Member(*p, "s"), "A\\\"b");
    EXPECT_EQ(Member(*p, "t"), "x\\\\");
    EXPECT_EQ(Member(*p, "k\\\""), "1");
}

TEST(JsonParser, LenientArrays) {
    auto p = ParseArrayText("[1 2]");
    ASSERT_EQ(p->root.GetElementCount(), 2u);
    EXPECT_EQ(TextOf(p->root.GetElement(1)), "2");

    p = ParseArrayText("[null,1]");
    ASSERT_EQ(p->root.GetElementCount(), 2u);
    EXPECT_EQ(p->root.GetElement(0), nullptr);
    EXPECT_EQ(TextOf(p->root.GetElement(1)), "1");

    p = ParseArrayText("[1,,2]");
    ASSERT_EQ(p->root.GetElementCount(), 3u);
    EXPECT_EQ(TextOf(p->root.GetElement(1)), "");

    p = ParseArrayText("");
    EXPECT_EQ(p->root.GetElementCount(), 0u);

    p = ParseArrayText(R"( [ {"a":[]} , [[ ]], "s" ]tail)");
    ASSERT_EQ(p->root.GetElementCount(), 3u);
    EXPECT_EQ(p->root.GetElement(0)->GetKind(), static_cast<unsigned int>(SJsonElement::KindObject));
    EXPECT_EQ(p->root.GetElement(0)->FindMember("a")->element.GetElementCount(), 0u);
    EXPECT_EQ(p->root.GetElement(1)->GetElement(0)->GetKind(),
              static_cast<unsigned int>(SJsonElement::KindArray));
    EXPECT_EQ(std::string(p->end), "tail");
    // Inside an array '}' is part of a bare value, not its end.
    p = ParseArrayText("[a}]");
    EXPECT_EQ(TextOf(p->root.GetElement(0)), "a}");
}

struct SErrorCase {
    const char* text;
    bool container;
    unsigned int line;
    const char* function;
};

TEST(JsonParser, MalformedTextRaisesAtItsLine) {
    const SErrorCase cases[] = {
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
        {"[]", false, 681, "Tavrin::ParseObject"},
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
    for (const SErrorCase& c : cases) {
        ExpectThrowAt<CException>(
            [&] {
                if (c.container) {
                    ParseArrayText(c.text);
                } else {
                    ParseObjectText(c.text);
                }
            },
            c.line, c.function, kReaderFile, std::string("text: ") + c.text);
    }
    ExpectThrowAt<CException>([] { SJsonElement e(1); }, 69, "Tavrin::SJsonElement::SJsonElement",
                              kReaderFile);
    ExpectThrowAt<CException>([] { SJsonElement e(4); }, 69, "Tavrin::SJsonElement::SJsonElement",
                              kReaderFile);
}

// Objects above the size where lookups go through an index: replacement, lookup and order.
TEST(JsonParser, LargeObjectsFindEveryMember) {
    std::string doc = "{";
    for (int i = 0; i < 300; ++i) doc += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    doc += R"("k5":"five","k299":null,"k7":7.5})";
    auto p = ParseObjectText(doc.c_str());
    ASSERT_EQ(p->root.GetMemberCount(), 300u);
    for (int i = 0; i < 300; ++i) {
        const std::string name = "k" + std::to_string(i);
        const SJsonMember* m = p->root.FindMember(name);
        ASSERT_NE(m, nullptr) << name;
        EXPECT_EQ(m, &p->root.GetMember(static_cast<unsigned int>(i)));
        const std::string expected = i == 5 ? "five" : i == 7 ? "7.5" : std::to_string(i);
        EXPECT_EQ(TextOf(&m->element), expected);
    }
    EXPECT_EQ(p->root.FindMember("k300"), nullptr);
    EXPECT_EQ(p->root.FindMember("k"), nullptr);
    EXPECT_EQ(p->root.FindMember(""), nullptr);
}

// ---- Hostile input ---------------------------------------------------------------------------

// Reads everything an object offers, in every way, so that the whole tree is visited.
void ReadEverything(IDataReader& r, int depth = 0);

void ReadEverythingIn(IContainerReader& r, int depth) {
    for (unsigned int i = 0; i < 64; ++i) {
        Obj o;
        o.read = [&](IDataReader& inner) { ReadEverything(inner, depth + 1); };
        Cont c;
        c.read = [&](IContainerReader& inner) { ReadEverythingIn(inner, depth + 1); };
        std::string s;
        bool b;
        if (!r.Read(i, o) && !r.Read(i, c) && !r.Read(i, s) && !r.Read(i, b)) {
            if (i > 8) break;
        }
    }
}

void ReadEverything(IDataReader& r, int depth) {
    for (unsigned int i = 0; i < r.GetNameCount(); ++i) {
        const char* name = r.GetName(i);
        Obj o;
        o.read = [&](IDataReader& inner) { ReadEverything(inner, depth + 1); };
        Cont c;
        c.read = [&](IContainerReader& inner) { ReadEverythingIn(inner, depth + 1); };
        std::string s;
        std::wstring w;
        bool b;
        r.Read(name, o);
        r.Read(name, c);
        r.Read(name, s);
        r.Read(name, w);
        r.Read(name, b);
        try {
            long long v;
            r.Read(name, v);
        } catch (const QvExceptionConversion&) {
        }
        try {
            double d;
            r.Read(name, d);
        } catch (const QvExceptionConversion&) {
        }
        try {
            r.Read(name);
        } catch (const CException&) {
        }
    }
}

TEST(JsonHostile, EveryTruncationFailsCleanly) {
    Obj inner([](IDataWriter& w) {
        w.Write("s", std::string("q\"\\x"));
        w.Write("n", -12.5);
    });
    Cont list([&](IContainerWriter& w) {
        w.Write(1);
        w.Write(inner);
        w.Write(std::string());
    });
    const std::string doc = WriteJson(Obj([&](IDataWriter& w) {
        w.Write("a", 1);
        w.Write("list", list);
        w.Write("o", inner);
        w.Write("b", true);
    }));
    const size_t complete = doc.rfind('}') + 1;
    for (size_t length = 0; length < doc.size(); ++length) {
        const std::string prefix = doc.substr(0, length);
        Obj reader;
        reader.read = [](IDataReader& r) { ReadEverything(r); };
        if (length < complete) {
            EXPECT_THROW(CReaderJson(prefix).Read(reader), CException) << "length " << length;
        } else {
            EXPECT_NO_THROW(CReaderJson(prefix).Read(reader)) << "length " << length;
        }
    }
}

TEST(JsonHostile, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    const std::string brackets(100000, '[');
    ExpectThrowAt<CException>([&] { ParseArrayText(brackets.c_str()); }, 610, "ParseElement",
                              kReaderFile);
    std::string members;
    for (int i = 0; i < 100000; ++i) members += "{\"a\":";
    ExpectThrowAt<CException>([&] { ParseObjectText(members.c_str()); }, 610, "ParseElement",
                              kReaderFile);

    // 1,000 levels, the document's own bracket included, are accepted and read back.
    const std::string deepest = std::string(1000, '[') + "7" + std::string(1000, ']');
    int depth = 0;
    int value = 0;
    std::function<void(IContainerReader&)> descend = [&](IContainerReader& r) {
        ++depth;
        Cont next;
        next.read = descend;
        if (!r.Read(0, next)) {
            EXPECT_TRUE(r.Read(0, value));
        }
    };
    Cont root;
    root.read = descend;
    CReaderJson(deepest).Read(root);
    EXPECT_EQ(depth, 1000);
    EXPECT_EQ(value, 7);
    const std::string tooDeep = "[" + deepest + "]";
    ExpectThrowAt<CException>([&] { ParseArrayText(tooDeep.c_str()); }, 610, "ParseElement",
                              kReaderFile);
}

TEST(JsonHostile, RandomBytesNeverCrash) {
    const unsigned int seed = 1234567;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const std::string alphabet = "{}[]\",:\\ \t\nnul0123456789-+.eEtrfasQUJD=\x80\xc3\xff";
    int parsed = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string text;
        text.push_back(round % 2 ? '{' : '[');
        const size_t length = random() % 120;
        for (size_t i = 0; i < length; ++i) {
            const char c = random() % 8 == 0 ? static_cast<char>(1 + random() % 255)
                                              : alphabet[random() % alphabet.size()];
            text.push_back(c);
        }
        try {
            if (round % 2) {
                Obj o;
                o.read = [](IDataReader& r) { ReadEverything(r); };
                CReaderJson(text).Read(o);
            } else {
                Cont c;
                c.read = [](IContainerReader& r) { ReadEverythingIn(r, 0); };
                CReaderJson(text).Read(c);
            }
            ++parsed;
        } catch (const CException&) {
        } catch (const QvExceptionConversion&) {
        }
    }
    // Some of the texts must have been documents, or the test reads nothing.
    EXPECT_GT(parsed, 10);
}

// Any outcome but a value or the variant's conversion error (a crash, another exception) fails.
template <class T>
void ReadOrConversionError(IDataReader& r, const char* name) {
    T value{};
    try {
        r.Read(name, value);
    } catch (const QvExceptionConversion&) {
    }
}

TEST(JsonHostile, HugeNumbersConvertOrRaiseAConversionError) {
    const std::string digits(400, '9');
    const std::string doc = "{\"i\":" + digits + ",\"d\":1e999999,\"t\":-1e-99999,\"q\":\"" +
                            digits + "\",\"x\":0x" + digits + "}";
    ReadObject(doc, [](IDataReader& r) {
        for (const char* name : {"i", "d", "t", "q", "x"}) {
            ReadOrConversionError<long long>(r, name);
            ReadOrConversionError<unsigned char>(r, name);
            ReadOrConversionError<float>(r, name);
            ReadOrConversionError<double>(r, name);
        }
    });
}

}  // namespace
