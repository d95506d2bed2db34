// What every format must do, run over binary, JSON and XML alike: absent values leave their
// target alone, every value kind comes back as written, named and as container elements, nesting
// of any depth and mix comes back whole, application exceptions pass through Read unchanged, and
// damaged documents raise a library exception or read what is there.
#include <cstddef>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "support/formats.h"
#include "support/objects.h"
#include "support/raising.h"

namespace {

using namespace TestSupport;
using Tavrin::IContainerReader;
using Tavrin::IContainerWriter;
using Tavrin::IDataReader;
using Tavrin::IDataWriter;
using Tavrin::ISerializable;
using Tavrin::ISerializableContainer;

template <class Format>
class Contract : public ::testing::Test {};
using Formats = ::testing::Types<SBinaryFormat, SJsonFormat, SXmlFormat>;
class FormatNames {
public:
    template <class T>
    static std::string GetName(int) {
        if (std::is_same_v<T, SBinaryFormat>) return "Binary";
        return std::is_same_v<T, SJsonFormat> ? "Json" : "Xml";
    }
};
TYPED_TEST_SUITE(Contract, Formats, FormatNames);

// Writes `in` and reads the document into `out` (twice: Read may be called any number of times).
template <class Format, class Root>
void RoundTrip(const Root& in, Root& out) {
    const auto doc = Format::Write(in);
    Format::Read(doc, out);
    Format::Read(doc, out);
}

// The edge values of every kind, low and high. The text formats keep whole seconds only; XML
// trims named texts, so no text begins or ends in white space.
Scalars Lows() {
    return Scalars{false,
                   'Q',
                   std::numeric_limits<signed char>::min(),
                   0,
                   std::numeric_limits<short>::min(),
                   0,
                   std::numeric_limits<int>::min(),
                   0u,
                   std::numeric_limits<long long>::min(),
                   0ull,
                   -std::numeric_limits<float>::denorm_min(),
                   std::numeric_limits<double>::lowest(),
                   "a<b&c>d%e \"q\" 'x' \\ / \t\r\n caf\xC3\xA9",
                   L"\"\\&<\u00e9\u4e2d\U0001F600\U0010FFFFz",
                   QvDateTime::FromFileTime(0)};
}
Scalars Highs() {
    return Scalars{true,
                   '~',
                   std::numeric_limits<signed char>::max(),
                   std::numeric_limits<unsigned char>::max(),
                   std::numeric_limits<short>::max(),
                   std::numeric_limits<unsigned short>::max(),
                   std::numeric_limits<int>::max(),
                   std::numeric_limits<unsigned int>::max(),
                   std::numeric_limits<long long>::max(),
                   std::numeric_limits<unsigned long long>::max(),
                   std::numeric_limits<float>::max(),
                   -std::numeric_limits<double>::denorm_min(),
                   std::string(),
                   std::wstring(),
                   QvDateTime::FromFileTime(133537247980000000ull)};  // 2024-02-29 23:59:58
}

SKinds Kinds(const Scalars& v) {
    SKinds k;
    k.v = v;
    k.blob = {0, 1, 2, 0x80, 0xFE, 0xFF};  // whole groups: XML elements keep their padding
    k.inner.id = -7;
    k.inner.name = "inner";
    k.list.items = {3, 1, 2};
    return k;
}

TYPED_TEST(Contract, AbsentValuesReadFalseAndLeaveTheTarget) {
    // Every kind under a name the document lacks, and at an index past the end.
    const Scalars keep = Kinds(Highs()).v;
    auto expectNothing = [&](auto& reader, auto key) {
        Scalars targets = keep;
        std::apply([&](auto&... x) { EXPECT_FALSE((reader.Read(key, x) || ...)); }, targets);
        EXPECT_TRUE(SameScalars(targets, keep));
        const Tavrin::SBlobRange blob = reader.Read(key);
        EXPECT_TRUE(blob.begin == nullptr && blob.end == nullptr);
        CObject object;
        CContainer container;
        EXPECT_FALSE(reader.Read(key, object) || reader.Read(key, container));
        EXPECT_EQ(object.reads + container.reads, 0);
    };
    CObject root([](IDataWriter& w) { w.Write("present", 1); });
    root.read = [&](IDataReader& r) { expectNothing(r, "absent"); };
    CContainer list([](IContainerWriter& w) { w.Write(1), w.Write(2); });
    list.read = [&](IContainerReader& r) { expectNothing(r, 2u); };
    CObject empty;
    empty.read = [&](IDataReader& r) {
        EXPECT_EQ(r.GetNameCount(), 0u);
        expectNothing(r, "a");
    };
    CContainer emptyList;
    emptyList.read = [&](IContainerReader& r) { expectNothing(r, 0u); };
    TypeParam::Read(TypeParam::Write(root), root);
    TypeParam::Read(TypeParam::Write(list), list);
    TypeParam::Read(TypeParam::Write(empty), empty);
    TypeParam::Read(TypeParam::Write(emptyList), emptyList);
    EXPECT_EQ(root.reads + list.reads + empty.reads + emptyList.reads, 4);

    // The values a document lacks keep what the target held.
    SKinds partial = Kinds(Lows());
    const CObject onlyK6([](IDataWriter& w) { w.Write("k6", 5); }, partial.GetClassName());
    TypeParam::Read(TypeParam::Write(onlyK6), partial);
    EXPECT_EQ(partial.found, 1);
    SKinds expected = Kinds(Lows());
    std::get<6>(expected.v) = 5;
    EXPECT_TRUE(partial == expected);
}

TYPED_TEST(Contract, EveryKindComesBackAsANamedValue) {
    for (const Scalars& v : {Lows(), Highs(), Sample(1).v, Sample(2).v}) {
        const SKinds in = Kinds(v);
        SKinds out;
        RoundTrip<TypeParam>(in, out);
        EXPECT_EQ(out.found, SKinds::kKinds);
        EXPECT_TRUE(out == in);
    }
}

template <class Format, class T>
void ExpectListBack(const std::vector<T>& items) {
    const CList<T> in(items);
    CList<T> out;
    RoundTrip<Format>(in, out);
    EXPECT_TRUE(out == in) << typeid(T).name();
}

TYPED_TEST(Contract, EveryKindComesBackAsContainerElements) {
    [&]<size_t... I>(std::index_sequence<I...>) {
        (ExpectListBack<TypeParam, std::tuple_element_t<I, Scalars>>(
             {std::get<I>(Lows()), std::get<I>(Highs()), std::get<I>(Sample(3).v)}),
         ...);
    }
    (std::make_index_sequence<std::tuple_size_v<Scalars>>());
    // Every byte value but zero in one text; blobs that use every Base64 character.
    std::string allBytes;
    for (int i = 1; i < 256; ++i) allBytes.push_back(static_cast<char>(i));
    ExpectListBack<TypeParam, std::string>({allBytes});
    CBlobList blobs, back;
    blobs.items = {{1, 2, 3}, Kinds(Lows()).blob, Sample(4).blob, Bytes(999)};
    for (size_t i = 0; i < 999; ++i) blobs.items[3][i] = static_cast<unsigned char>(i * 7);
    RoundTrip<TypeParam>(blobs, back);
    EXPECT_EQ(back.items, blobs.items);
    ExpectListBack<TypeParam, SInner>({Kinds(Lows()).inner, Sample(5).inner});
    ExpectListBack<TypeParam, CList<int>>({CList<int>({4, 5}), CList<int>(), CList<int>({6})});
}

// One level of a chain: its number, a container of containers of texts, a container of objects
// holding objects and containers, and the next level.
struct SLevel : ISerializable {
    int level = -1;
    CList<CList<std::string>> rows;
    CList<SKinds> objects;
    std::unique_ptr<SLevel> next;

    static std::unique_ptr<SLevel> Chain(int levels, int first = 0) {
        auto head = std::make_unique<SLevel>();
        head->level = first;
        for (int k = 0; k < first % 3; ++k) {
            const std::string text = "r\"<&\\\n" + std::to_string(first);
            head->rows.items.emplace_back(std::vector<std::string>(k + 1, text));
        }
        if (first % 2 == 0) head->objects.items = {Sample(first), Sample(first + 1)};
        if (first + 1 < levels) head->next = Chain(levels, first + 1);
        return head;
    }
    const char* GetClassName() const override { return "Test::Level"; }
    void Write(IDataWriter& w) const override {
        w.Write("level", level);
        w.Write("rows", rows);
        w.Write("objects", objects);
        if (next) w.Write("next", *next);
    }
    void Read(IDataReader& r) override {
        r.Read("level", level);
        r.Read("rows", rows);
        r.Read("objects", objects);
        next = std::make_unique<SLevel>();
        if (!r.Read("next", *next)) next.reset();
    }
    bool operator==(const SLevel& o) const {
        return level == o.level && rows == o.rows && objects == o.objects &&
               (next && o.next ? *next == *o.next : !next && !o.next);
    }
};

TYPED_TEST(Contract, NestedObjectsAndContainersComeBackWhole) {
    const std::unique_ptr<SLevel> chain = SLevel::Chain(25);
    SLevel back;
    RoundTrip<TypeParam>(*chain, back);
    EXPECT_TRUE(back == *chain);
    int levels = 0;
    for (const SLevel* l = &back; l != nullptr; l = l->next.get()) ++levels;
    EXPECT_EQ(levels, 25);

    // Containers of containers of containers, the innermost ones of objects, as the root.
    CList<CList<CList<SInner>>> nested, nestedBack;
    nested.items.resize(3);
    nested.items[1].items.resize(2);
    nested.items[1].items[1].items = {Sample(7).inner, Sample(8).inner};
    nested.items[2].items.resize(1);
    RoundTrip<TypeParam>(nested, nestedBack);
    EXPECT_TRUE(nestedBack == nested);
}

TYPED_TEST(Contract, ApplicationExceptionsPassThroughReadUnchanged) {
    const auto doc = TypeParam::Write(Kinds(Lows()));
    // Of the root's class: an XML document names it.
    CObject failing({}, "Test::Kinds"), nested({}, "Test::Kinds");
    failing.read = [](IDataReader& r) {
        SInner inner;
        r.Read("inner", inner);
        throw std::runtime_error("application");
    };
    {
        LogCapture log;
        EXPECT_THROW(TypeParam::Read(doc, failing), std::runtime_error);
        EXPECT_EQ(log.Count(), 0u);
    }
    nested.read = [](IDataReader& r) {
        CObject inner;
        inner.read = [](IDataReader&) { throw Tavrin::CException("app.cpp", 3, "App"); };
        r.Read("inner", inner);
    };
    // The application's own exception, logged once when it was made.
    ExpectThrowsAt<Tavrin::CException>([&] { TypeParam::Read(doc, nested); }, "app.cpp", 3, "App");
}

// Reads `doc` into a chain, which asks for every value it holds.
template <class Format>
bool Raises(const typename Format::Document& doc, SLevel& into) {
    try {
        Format::Read(doc, into);
        return false;
    } catch (const IException&) {
        return true;
    }  // anything else is not caught: the test fails
}

// The loops below find their faults (reads beyond the document, use of freed memory, undefined
// behaviour) only under the sanitizers; the ci-asan preset runs them there. Without them they
// still check that nothing but a library exception comes out, and what complete documents give.
TYPED_TEST(Contract, DamagedDocumentsRaiseALibraryExceptionOrReadWhatIsThere) {
    LogCapture quiet;
    const std::unique_ptr<SLevel> chain = SLevel::Chain(3);
    const auto doc = TypeParam::Write(*chain);
    for (size_t n = 0; n < doc.size(); ++n) {
        const auto cut = decltype(doc)(doc.begin(), doc.begin() + static_cast<std::ptrdiff_t>(n));
        SLevel back;
        const bool raised = Raises<TypeParam>(cut, back);
        switch (TypeParam::Cut(doc, n)) {
            case ECut::Raises: EXPECT_TRUE(raised) << "cut at " << n; break;
            case ECut::Reads: EXPECT_TRUE(!raised && back == *chain) << "cut at " << n; break;
            case ECut::Either: break;
        }
    }
    for (size_t i = 0; i < doc.size(); ++i) {
        for (const int value : {0x00, 0xFF, doc[i] ^ 0x01, doc[i] ^ 0x80}) {
            auto damaged = doc;
            damaged[i] = static_cast<typename decltype(damaged)::value_type>(value);
            SLevel back;
            Raises<TypeParam>(damaged, back);
        }
    }
}

}  // namespace
