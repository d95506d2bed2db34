// The binary writer and reader: exact document bytes, the order of names and entries (checked
// against a plain writer built on the real keyed tables), round trips of every kind, the
// raising places, and damaged or hostile documents.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <tuple>
#include <typeinfo>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "support/bytes.h"
#include "support/formats.h"
#include "support/objects.h"
#include "support/raising.h"
#include "support/streams.h"

// ---- Allocation watch: the largest single allocation while a test looks -----------------------

namespace {
std::atomic<bool> g_watching{false};
std::atomic<size_t> g_largest{0};

void* Counted(size_t size) noexcept {
    if (g_watching.load(std::memory_order_relaxed)) {
        size_t seen = g_largest.load(std::memory_order_relaxed);
        while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
        }
    }
    return std::malloc(size ? size : 1);
}

void* CountedOrThrow(size_t size) {
    if (void* p = Counted(size)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(size_t size) { return CountedOrThrow(size); }
void* operator new[](size_t size) { return CountedOrThrow(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Counted(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Counted(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

// Defined with the fast-path tests.
namespace BinaryTest {
// A document holding every kind, named and as elements, with texts beyond U+FFFF and unpaired
// surrogates; `large` adds wide texts in the longer length forms.
TestSupport::Bytes RichDocument(bool large);
// Everything a reader makes of `stream` as text, with the stream position at the end; or the
// raising place of the library exception it threw.
std::string ReadAll(QvStreamReadBinaryBuffer& stream);
}  // namespace BinaryTest

namespace {

using namespace TestSupport;
using BinaryTest::ReadAll;
using BinaryTest::RichDocument;
using Tavrin::IContainerReader;
using Tavrin::IContainerWriter;
using Tavrin::IDataReader;
using Tavrin::IDataWriter;

constexpr const char* kWriterFile = "core/tavrin/src/cwriterbinary.cpp";
constexpr const char* kReaderFile = "core/tavrin/src/creaderbinary.cpp";

template <class Root>
Bytes Document(const Root& root) {
    return SBinaryFormat::Write(root);
}

// prefix followed by the number (built by appending: GCC 12 warns falsely on "k" + string)
std::string Key(const char* prefix, int number) {
    std::string key(prefix);
    key += std::to_string(number);
    return key;
}

std::unique_ptr<Tavrin::CReaderBinary> Load(const Bytes& bytes) {
    QvStreamReadBinaryBuffer stream(bytes.data(), bytes.size());
    return std::make_unique<Tavrin::CReaderBinary>(stream);
}

// Reads the document's root (a CObject or a CContainer) through `read`, which must be called.
template <class Root>
void ReadRoot(const Bytes& doc, const std::function<void(typename Root::Reader&)>& read) {
    bool called = false;
    Root root;
    root.read = [&](typename Root::Reader& r) {
        called = true;
        read(r);
    };
    Load(doc)->Read(root);
    EXPECT_TRUE(called);
}

// ---- Document bytes --------------------------------------------------------------------------

TEST(BinaryLayout, DocumentBytes) {
    auto element = [](const char* cls) { return CObject({}, cls); };
    std::wstring wide = L"a";
    wide += static_cast<wchar_t>(0x1F600);  // beyond U+FFFF: a surrogate pair
    const struct {
        const char* what;
        Bytes doc;
        const char* hex;
    } cases[] = {
        {"empty object", Document(CObject()), "00 00 00 00 10 00 00 00 00 00"},
        {"empty container", Document(CContainer()), "00 00 00 00 11 00 00 00 00 00 00 00 00 00"},
        {"int a = 1", Document(CObject([](IDataWriter& w) { w.Write("a", 1); })),
         "00 00 00 00 10 01 00 00 00 01 00 00 00 61 00 00 00 00 "
         "01 07 01 00 00 00 00 00 00 00 01 00 00 00"},
        // P gets 0 before x gets 1; the table lists P (bucket 80) before x (bucket 120).
        {"two objects of class P", Document(CContainer([](IContainerWriter& w) {
             w.Write(CObject([](IDataWriter& d) { d.Write("x", 1); }, "P"));
             w.Write(CObject([](IDataWriter& d) { d.Write("x", 2); }, "P"));
         })),
         "00 00 00 00 11 02 00 00 00 01 00 00 00 50 00 00 00 00 01 00 00 00 78 01 "
         "00 00 00 10 02 00 00 00 01 00 00 00 00 00 00 00 00 01 07 01 00 00 00 01 "
         "00 00 00 01 00 00 00 00 00 00 00 01 07 01 00 00 00 01 00 00 00 02 00 00 00"},
        // n gets 0, C gets 1; the table lists C (bucket 67) before n (bucket 110).
        {"nested object", Document(CObject([](IDataWriter& w) { w.Write("n", CObject({}, "C")); })),
         "00 00 00 00 10 02 00 00 00 01 00 00 00 43 01 00 00 00 01 00 00 00 6e 00 "
         "00 00 00 01 10 01 00 00 00 00 00 00 00 01 00 00 00 00"},
        // A named container: its class name is in the table, its record carries none.
        {"named container", Document(CObject([](IDataWriter& w) {
             w.Write("k", CContainer([](IContainerWriter& c) { c.Write(true); }, "Q"));
         })),
         "00 00 00 00 10 02 00 00 00 01 00 00 00 51 01 00 00 00 01 00 00 00 6b 00 "
         "00 00 00 01 11 01 00 00 00 00 00 00 00 00 01 00 00 00 01"},
        // s 0, c 1, d 2, b 3; the char section comes after the double one.
        {"sections in tag order", Document(CObject([](IDataWriter& w) {
             w.Write("s", std::string("hi"));
             w.Write("c", 'z');
             w.Write("d", 1.0);
             w.Write("b", false);
         })),
         "00 00 00 00 10 04 00 00 00 01 00 00 00 62 03 00 00 00 01 00 00 00 63 01 00 00 00 "
         "01 00 00 00 64 02 00 00 00 01 00 00 00 73 00 00 00 00 04 00 01 00 00 00 03 00 00 00 00 "
         "0b 01 00 00 00 02 00 00 00 00 00 00 00 00 00 f0 3f 01 01 00 00 00 01 00 00 00 7a "
         "0c 01 00 00 00 00 00 00 00 02 00 00 00 68 69"},
        // The last int of a name wins, a double is another entry; text stops at a zero byte.
        {"repeated names", Document(CObject([](IDataWriter& w) {
             w.Write("a", 1);
             w.Write("a", 2);
             w.Write("a", 2.0);
             w.Write("t", std::string("ab\0cd", 5));
         })),
         "00 00 00 00 10 02 00 00 00 01 00 00 00 61 00 00 00 00 01 00 00 00 74 01 "
         "00 00 00 03 07 01 00 00 00 00 00 00 00 02 00 00 00 0b 01 00 00 00 00 00 "
         "00 00 00 00 00 00 00 00 00 40 0c 01 00 00 00 01 00 00 00 02 00 00 00 61 62"},
        // Nested values written twice: the first ones' names stay. n 0, C 1, x 2, D 3, y 4,
        // k 5, L 6, M 7, listed by bucket as C D L M k n x y.
        {"replaced nested values", Document(CObject([](IDataWriter& w) {
             w.Write("n", CObject([](IDataWriter& d) { d.Write("x", 1); }, "C"));
             w.Write("n", CObject([](IDataWriter& d) { d.Write("y", 2); }, "D"));
             w.Write("k", CContainer([](IContainerWriter& c) { c.Write(1); }, "L"));
             w.Write("k", CContainer({}, "M"));
         })),
         "00 00 00 00 10 08 00 00 00 01 00 00 00 43 01 00 00 00 01 00 00 00 44 03 00 00 00 "
         "01 00 00 00 4c 06 00 00 00 01 00 00 00 4d 07 00 00 00 01 00 00 00 6b 05 00 00 00 "
         "01 00 00 00 6e 00 00 00 00 01 00 00 00 78 02 00 00 00 01 00 00 00 79 04 00 00 00 "
         "02 10 01 00 00 00 00 00 00 00 03 00 00 00 01 07 01 00 00 00 04 00 00 00 "
         "02 00 00 00 11 01 00 00 00 05 00 00 00 00 00 00 00 00"},
        {"objects of one class", Document(CContainer([&](IContainerWriter& w) {
             for (int i = 0; i < 3; ++i) w.Write(element("A"));
         })),
         "00 00 00 00 11 01 00 00 00 01 00 00 00 41 00 00 00 00 10 03 00 00 00 01 00 00 00 00 "
         "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"objects of two classes", Document(CContainer([&](IContainerWriter& w) {
             w.Write(element("A"));
             w.Write(element("B"));
             w.Write(element("A"));
         })),
         "00 00 00 00 11 02 00 00 00 01 00 00 00 41 00 00 00 00 01 00 00 00 42 01 "
         "00 00 00 10 03 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 "
         "00 00 00 00 00 01 00 00 00 00 00 00 00 00 00"},
        {"wide text as UTF-16", Document(CContainer([&](IContainerWriter& w) { w.Write(wide); })),
         "00 00 00 00 11 00 00 00 00 0d 01 00 00 00 ff fe ff 03 61 00 3d d8 00 de"},
    };
    for (const auto& c : cases) EXPECT_EQ(ToHex(c.doc), ToHex(Hex(c.hex))) << c.what;

    // 255 units take the three-byte length.
    const Bytes longer =
        Document(CContainer([](IContainerWriter& w) { w.Write(std::wstring(255, L'x')); }));
    ASSERT_EQ(longer.size(), 14u + 6u + 510u);
    EXPECT_EQ(ToHex(Bytes(longer.begin() + 14, longer.begin() + 20)), "ff fe ff ff ff 00 ");
}

TEST(BinaryLayout, SuccessiveWritesMakeIndependentDocuments) {
    const CObject first([](IDataWriter& w) { w.Write("a", 1); });
    const CObject second([](IDataWriter& w) {
        w.Write("b", 2);
        w.Write("a", 3);
    });
    QvStreamWriteBinaryBuffer buffer;
    Tavrin::CWriterBinary writer(buffer);
    writer.Write(first);
    Tavrin::CWriterBinary(writer).Write(second);  // a copy writes to the same stream
    // The second has a name table of its own, starting again at identifier 0 (b).
    Bytes expected = Document(first), alone = Document(second);
    EXPECT_EQ(ToHex(Bytes(alone.begin(), alone.begin() + 18)),
              ToHex(Hex("00 00 00 00 10 02 00 00 00 01 00 00 00 61 01 00 00 00")));
    expected.insert(expected.end(), alone.begin(), alone.end());
    EXPECT_EQ(ToHex(Bytes(buffer.GetData(), buffer.GetData() + buffer.GetCount())),
              ToHex(expected));

    // One stream holding a large document and both: each reader stops just behind its own.
    Bytes all = RichDocument(true);
    const size_t firstEnd = all.size();
    all.insert(all.end(), buffer.GetData(), buffer.GetData() + buffer.GetCount());
    QvStreamReadBinaryBuffer stream(all.data(), all.size());
    Tavrin::CReaderBinary large(stream);
    EXPECT_EQ(stream.GetPosition(), firstEnd);
    Tavrin::CReaderBinary one(stream);
    EXPECT_EQ(stream.GetPosition(), firstEnd + Document(first).size());
    Tavrin::CReaderBinary two(stream);
    EXPECT_EQ(stream.GetRemaining(), 0u);
    int a = 0, b = 0;
    CObject probe;
    probe.read = [&](IDataReader& r) { EXPECT_TRUE(r.Read("a", a) && r.Read("b", b)); };
    two.Read(probe);
    EXPECT_TRUE(a == 3 && b == 2);
}

// ---- Lookups and round trips -----------------------------------------------------------------

TEST(BinaryReader, ValuesAnswerOnlyToTheirKindAndName) {
    // A zero-byte blob is present, with equal ends.
    ReadRoot<CObject>(Document(CObject([](IDataWriter& w) { w.Write("b", 0, nullptr); })),
                      [](IDataReader& r) {
                          const Tavrin::SBlobRange blob = r.Read("b");
                          EXPECT_TRUE(blob.begin != nullptr && blob.begin == blob.end);
                      });
    CObject o([](IDataWriter& w) {
        w.Write("a", 1);
        w.Write("a", 2.5);
        w.Write("z", true);
        w.Write("c", 'x');
        w.Write("sc", static_cast<signed char>(120));
    });
    ReadRoot<CObject>(Document(o), [](IDataReader& r) {
        // Names in section order: bool z, signed char sc, int a, double a, char c.
        ASSERT_EQ(r.GetNameCount(), 5u);
        std::string names;
        for (unsigned i = 0; i < 5; ++i) (names += r.GetName(i)) += ' ';
        EXPECT_EQ(names, "z sc a a c ");
        int i = 0;
        double d = 0;
        char c = 0;
        signed char sc = 0;
        EXPECT_TRUE(r.Read("a", i) && r.Read("a", d) && r.Read("c", c) && r.Read("sc", sc));
        // Another kind or another letter case finds nothing and leaves the target alone.
        long long ll = 77;
        unsigned u = 77;
        float f = 7;
        unsigned char uc = 9;
        EXPECT_FALSE(r.Read("a", ll) || r.Read("a", u) || r.Read("a", f) || r.Read("A", i) ||
                     r.Read("c", sc) || r.Read("c", uc) || r.Read("sc", c));
        EXPECT_TRUE(ll == 77 && u == 77 && f == 7 && uc == 9);
        EXPECT_TRUE(i == 1 && d == 2.5 && sc == 120 && c == 'x');
        const Tavrin::SBlobRange none = r.Read("missing");
        EXPECT_TRUE(none.begin == nullptr && none.end == nullptr);
    });
}

template <class T>
void ExpectListBack(std::vector<T> items) {
    CList<T> in, out;
    in.items = std::move(items);
    Load(Document(in))->Read(out);
    EXPECT_TRUE(Same(in.items, out.items));
}

TEST(BinaryRoundTrip, ContainerElements) {
    // Texts in the longer length forms.
    ExpectListBack<std::string>({std::string(300, 'q')});
    ExpectListBack<std::wstring>({std::wstring(70000, L'w')});  // the seven-byte length

    // Only the element kind answers; past the end nothing does.
    CList<double> doubles;
    doubles.items = {1, 2, 3, 4, 5};
    ReadRoot<CContainer>(Document(doubles), [](IContainerReader& r) {
        double d = 0;
        float f = 3;
        for (unsigned i = 0; i < 5; ++i) EXPECT_TRUE(r.Read(i, d) && d == i + 1.0) << i;
        EXPECT_FALSE(r.Read(5, d) || r.Read(0, f));
        EXPECT_EQ(f, 3);
        EXPECT_EQ(r.Read(0).begin, nullptr);
    });

    // Blob elements are given back by index.
    CContainer blobs([](IContainerWriter& w) {
        w.Write(3, "\1\2\3");
        w.Write(0, nullptr);
    });
    ReadRoot<CContainer>(Document(blobs), [](IContainerReader& r) {
        const Tavrin::SBlobRange first = r.Read(0u), empty = r.Read(1u), past = r.Read(2u);
        ASSERT_NE(first.begin, nullptr);
        EXPECT_EQ(Bytes(first.begin, first.end), (Bytes{1, 2, 3}));
        EXPECT_NE(empty.begin, nullptr);
        EXPECT_EQ(empty.begin, empty.end);
        EXPECT_TRUE(past.begin == nullptr && past.end == nullptr);
    });
}

// An object holding `depth - 1` more levels below it, each under the name "n".
CObject Chain(int depth) {
    return CObject([depth](IDataWriter& w) {
        w.Write("level", depth);
        if (depth > 1) w.Write("n", Chain(depth - 1));
    });
}

int SumOfLevels(IDataReader& r) {
    int level = 0, below = 0;
    r.Read("level", level);
    CObject next;
    next.read = [&](IDataReader& d) { below = SumOfLevels(d); };
    r.Read("n", next);
    return level + below;
}

// A container root with containers `levels` deep, the innermost one empty.
Bytes NestedContainers(int levels) {
    Bytes doc = Hex("00 00 00 00 11 00 00 00 00");
    for (int i = 1; i < levels; ++i) doc.insert(doc.end(), {0x11, 1, 0, 0, 0});
    doc.insert(doc.end(), {0, 0, 0, 0, 0});
    return doc;
}

TEST(BinaryRoundTrip, NestingUpToTheDepthLimit) {
    for (int depth : {10, 1000}) {
        int sum = 0;
        ReadRoot<CObject>(Document(Chain(depth)), [&](IDataReader& r) { sum = SumOfLevels(r); });
        EXPECT_EQ(sum, depth * (depth + 1) / 2);
    }
    EXPECT_NO_THROW(Load(NestedContainers(1000)));  // one level more: see RaisingPlaces
}

TEST(BinaryRoundTrip, ManyValuesInOneObject) {
    // Large objects are looked up through an index; the last value of a name still wins.
    CObject o([](IDataWriter& w) {
        for (int i = 0; i < 500; ++i) w.Write(Key("k", i).c_str(), i);
        w.Write("k7", 700);
        for (int i = 0; i < 50; ++i) w.Write(Key("k", i).c_str(), i * 0.5);
    });
    ReadRoot<CObject>(Document(o), [](IDataReader& r) {
        EXPECT_EQ(r.GetNameCount(), 550u);
        int v = -1;
        double d = -1;
        for (int i = 0; i < 500; ++i) {
            ASSERT_TRUE(r.Read(Key("k", i).c_str(), v));
            EXPECT_EQ(v, i == 7 ? 700 : i);
        }
        EXPECT_TRUE(r.Read("k49", d));
        EXPECT_EQ(d, 24.5);
        EXPECT_FALSE(r.Read("k50", d) || r.Read("k500", v));
    });
}

using CPlainStream = CByteSource;  // the reader must rely on ReadBytes alone

TEST(BinaryRoundTrip, OrdersThroughAnyReadStream) {
    const CList<SKinds> orders = Samples(300);
    const Bytes doc = Document(orders);
    EXPECT_EQ(doc, Document(orders));  // the same document again, byte for byte
    CPlainStream stream(doc);
    for (const auto& reader : {Load(doc), std::make_unique<Tavrin::CReaderBinary>(stream)}) {
        CList<SKinds> back;
        reader->Read(back);
        EXPECT_EQ(back.items.size(), 300u);
        EXPECT_TRUE(back == orders);
    }
    const Bytes rich = RichDocument(true);
    CPlainStream richStream(rich);
    Tavrin::CReaderBinary richReader(richStream);
    EXPECT_EQ(stream.unexpectedCalls + richStream.unexpectedCalls, 0);

    // A named blob for which the stream reports more bytes than asked for is refused like one
    // that reports fewer.
    const Bytes blob = Hex("00 00 00 00 10 01 00 00 00 01 00 00 00 62 00 00 00 00 "
                           "01 0f 01 00 00 00 00 00 00 00 03 00 00 00 aa bb cc");
    CPlainStream claiming(blob);
    claiming.claimOneMoreFor = 3;
    ExpectThrowsAt([&] { Tavrin::CReaderBinary r(claiming); }, kReaderFile, 476,
                   "Tavrin::CDataReader::readBlobs");
}

// ---- Order of names and entries, against a plain writer --------------------------------------

// A tree of values described as data, so that the writer and the plain writer below can be
// handed the same one.
struct STree {
    std::string name;  // of a value of an object
    uint8_t tag = 0;
    uint64_t bits = 0;      // tags 0 to 11, little-endian
    std::string text;       // tags 12 and 15 (the blob's bytes)
    std::wstring wide;      // tag 13
    uint64_t fileTime = 0;  // whole milliseconds, so that a date's fields hold it exactly
    std::string className;
    std::vector<STree> children;  // values of an object, elements of a container
};

// The number types in tag order.
using Numbers = std::tuple<bool, char, unsigned char, signed char, unsigned short, short,
                           unsigned int, int, unsigned long long, long long, float, double>;

CObject TreeObject(const STree& tree);
CContainer TreeList(const STree& tree);

// Hands one value to a data writer (with its name) or to a container writer.
template <class W, class... Name>
void Emit(W& w, const STree& v, Name... name) {
    switch (v.tag) {
        case 12: w.Write(name..., v.text); break;
        case 13: w.Write(name..., v.wide); break;
        case 14: w.Write(name..., QvDateTime::FromFileTime(v.fileTime)); break;
        case 15: w.Write(name..., v.text.size(), static_cast<const void*>(v.text.data())); break;
        case 16: w.Write(name..., TreeObject(v)); break;
        case 17: w.Write(name..., TreeList(v)); break;
        default:
            [&]<size_t... I>(std::index_sequence<I...>) {
                auto number = [&](auto typed) {
                    std::memcpy(&typed, &v.bits, sizeof typed);
                    w.Write(name..., typed);
                };
                ((v.tag == I ? number(std::tuple_element_t<I, Numbers>{}) : void()), ...);
            }(std::make_index_sequence<12>());
    }
}

CObject TreeObject(const STree& tree) {
    return CObject(
        [&tree](IDataWriter& w) {
            for (const STree& v : tree.children) Emit(w, v, v.name.c_str());
        },
        tree.className);
}

CContainer TreeList(const STree& tree) {
    return CContainer(
        [&tree](IContainerWriter& w) {
            for (const STree& v : tree.children) Emit(w, v);
        },
        tree.className);
}

// Encodes a tree as the format is defined, step by step: identifiers in the order in which
// the texts are met, one keyed table per kind and object, every table written in its order.
class CPlainWriter {
public:
    Bytes Document(const STree& root) {
        QvStreamWriteBinaryBuffer record, out;
        Value(record, root);
        out.WriteVersion(0).WriteUInt8(root.tag).WriteUInt32(m_names.GetCount());
        for (const auto& a : m_names) out.WriteStringA(a.key).WriteUInt32(a.value);
        out.WriteBytes(record.GetData(), record.GetCount());
        return Bytes(out.GetData(), out.GetData() + out.GetCount());
    }

private:
    unsigned int Id(const std::string& text) {
        bool added = false;
        auto* a = m_names.GetOrAddAssociation(QvStringA(text.c_str()), &added);
        if (added) a->value = m_names.GetCount() - 1;
        return a->value;
    }

    // A value without its name: numbers, texts, date, blob or nested record.
    void Value(QvStreamWriteBinary& s, const STree& v) {
        static const uint8_t kSize[] = {1, 1, 1, 1, 2, 2, 4, 4, 8, 8, 4, 8};
        switch (v.tag) {
            case 12: s.WriteStdString(v.text); break;
            case 13: s.WriteStdWString(v.wide); break;
            case 14: s.WriteUInt32(0).WriteUInt64(v.fileTime); break;
            case 15:
                s.WriteUInt32(static_cast<uint32_t>(v.text.size()));
                s.WriteBytes(v.text.data(), v.text.size());
                break;
            case 16: ObjectRecord(s, v.children); break;
            case 17: ContainerRecord(s, v.children); break;
            default: s.WriteBytes(&v.bits, kSize[v.tag]); break;
        }
    }

    void ObjectRecord(QvStreamWriteBinary& s, const std::vector<STree>& values) {
        QvMapEx<unsigned int, Bytes> tables[18];
        for (const STree& v : values) {
            const unsigned int id = Id(v.name);
            QvStreamWriteBinaryBuffer entry;
            if (v.tag == 16) entry.WriteUInt32(Id(v.className));
            if (v.tag == 17) Id(v.className);  // entered, though the record does not carry it
            Value(entry, v);
            tables[v.tag].GetOrAdd(id) = Bytes(entry.GetData(), entry.GetData() + entry.GetCount());
        }
        s.WriteUInt8(static_cast<uint8_t>(std::count_if(
            std::begin(tables), std::end(tables), [](const auto& t) { return !t.IsEmpty(); })));
        for (uint8_t tag : {0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 1, 12, 13, 14, 15, 16, 17}) {
            if (tables[tag].IsEmpty()) continue;
            s.WriteUInt8(tag).WriteUInt32(tables[tag].GetCount());
            for (const auto& a : tables[tag]) {
                s.WriteUInt32(a.key);
                s.WriteBytes(a.value.data(), a.value.size());
            }
        }
    }

    void ContainerRecord(QvStreamWriteBinary& s, const std::vector<STree>& elements) {
        const uint8_t tag = elements.empty() ? 0 : elements[0].tag;
        s.WriteUInt8(tag).WriteUInt32(static_cast<uint32_t>(elements.size()));
        if (elements.empty()) return;
        QvStreamWriteBinaryBuffer encoded;
        std::vector<unsigned int> classes;
        for (const STree& v : elements) {
            if (tag == 16) encoded.WriteUInt32(classes.emplace_back(Id(v.className)));
            Value(encoded, v);
        }
        if (tag == 16) {
            const bool same = std::all_of(classes.begin(), classes.end(),
                                          [&](unsigned int id) { return id == classes[0]; });
            s.WriteBool(same);
            for (size_t i = 0; i < (same ? 1 : classes.size()); ++i) s.WriteUInt32(classes[i]);
        }
        s.WriteBytes(encoded.GetData(), encoded.GetCount());
    }

    QvMapEx<QvStringA, unsigned int> m_names;
};

class CTreeGenerator {
public:
    explicit CTreeGenerator(uint64_t seed) : m_random(seed) {
        for (int i = 0; i < 30; ++i) {
            m_names.push_back(m_random.Letters(0, 4) + (i % 3 ? "" : "\xC3\xA9"));
        }
    }

    // A value of `tag`; objects and containers are filled, with nested ones down to level 3.
    STree Value(uint8_t tag, int level) {
        static const char* const kClasses[] = {"A", "B", "Kl\xC3\xA4sse", ""};
        STree v;
        v.tag = tag;
        v.bits = m_random.Next();
        if (tag == 0) v.bits &= 1;
        if (tag == 10) v.bits &= ~(uint64_t(0xFF) << 23);  // no NaN
        if (tag == 11) v.bits &= ~(uint64_t(0x7FF) << 52);
        v.text = m_random.Letters(0, 8);
        v.wide = m_random.Note(0, 8);
        v.fileTime = m_random.Between(0, 25'000'000'000'000ull) * 10'000;  // up to about 2390
        v.className = kClasses[m_random.Between(0, 3)];
        if (tag == 16) {
            // Now and then an object large enough to make its tables and the name table grow.
            const bool large = m_random.Between(0, 9) == 0;
            uint64_t count = large ? m_random.Between(100, 600) : m_random.Between(0, 12);
            for (; count > 0; --count) {
                static const uint8_t kFlat[] = {7, 11, 1, 0};
                STree& child = v.children.emplace_back(
                    Value(large ? kFlat[m_random.Between(0, 3)] : Tag(level), level + 1));
                child.name = large && count % 2 ? Key("big", int(m_random.Between(0, 400)))
                                                : m_names[m_random.Between(0, 29)];
            }
        }
        if (tag == 17) {
            // Object elements often, and then often all of one class.
            const uint8_t elementTag = m_random.Between(0, 2) == 0 && level < 3 ? 16 : Tag(level);
            const bool oneClass = m_random.Between(0, 1) == 0;
            for (uint64_t i = m_random.Between(0, 6); i; --i) {
                v.children.push_back(Value(elementTag, level + 1));
                if (oneClass) v.children.back().className = v.children[0].className;
            }
        }
        return v;
    }

private:
    uint8_t Tag(int level) {
        return static_cast<uint8_t>(m_random.Between(0, level < 3 ? 17 : 15));
    }

    CRandom m_random;
    std::vector<std::string> m_names;
};

// The writer's document equals the plain writer's byte for byte, and reads back.
void ExpectAsPlainWriter(const STree& root) {
    const Bytes doc = root.tag == 16 ? Document(TreeObject(root)) : Document(TreeList(root));
    ASSERT_EQ(ToHex(doc), ToHex(CPlainWriter().Document(root)));
    EXPECT_NO_THROW(Load(doc));
}

TEST(BinaryOrder, TreesMatchThePlainWriter) {
    // Nested objects and containers of every kind, repeated and replaced names, names and
    // classes with bytes above 0x7F, large objects of four kinds over many names.
    for (uint64_t seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE(seed);
        ExpectAsPlainWriter(CTreeGenerator(seed).Value(seed % 4 ? 16 : 17, 1));
    }
    // 200 names and 200 ints make both tables grow twice (at 96 and 192 entries); 95 to 97
    // straddle the first growth.
    for (int n : {95, 96, 97, 200}) {
        SCOPED_TRACE(n);
        STree root;
        root.tag = 16;
        for (int i = 0; i < n; ++i) {
            STree& v = root.children.emplace_back();
            v.name = Key("v", i);
            v.tag = 7;
            v.bits = static_cast<uint64_t>(i);
        }
        ExpectAsPlainWriter(root);
    }
}

// ---- Raising places and failures passing through ---------------------------------------------

TEST(BinaryWriterFailures, SecondElementKindIsRefusedBeforeAnythingHappens) {
    bool touched = false;
    CObject element([&](IDataWriter&) { touched = true; }, "E");
    CContainer inner([&](IContainerWriter&) { touched = true; });
    const char* const kLowerWrite = "Tavrin::CContainerWriterBinary::write";
    const char* const kWrite = "Tavrin::CContainerWriterBinary::Write";
    const struct {
        std::function<void(IContainerWriter&)> second;
        unsigned line;
        const char* function;
    } cases[] = {
        {[](IContainerWriter& w) { w.Write(7); }, 199, kLowerWrite},
        {[](IContainerWriter& w) { w.Write(std::string("x")); }, 199, kLowerWrite},
        {[](IContainerWriter& w) { w.Write(QvDateTime::FromFileTime(0)); }, 199, kLowerWrite},
        {[](IContainerWriter& w) { w.Write(1, "x"); }, 511, kWrite},
        {[&](IContainerWriter& w) { w.Write(element); }, 522, kWrite},
        {[&](IContainerWriter& w) { w.Write(inner); }, 539, kWrite},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        touched = false;
        CContainer root([&](IContainerWriter& w) {
            w.Write(1.5);
            ExpectThrowsAt<Tavrin::CException>([&] { c.second(w); }, kWriterFile, c.line,
                                               c.function);
            w.Write(2.5);  // the container goes on as if nothing had been offered
        });
        CList<double> back;
        Load(Document(root))->Read(back);
        EXPECT_FALSE(touched);
        EXPECT_EQ(back.items, (std::vector<double>{1.5, 2.5}));
    }
}

TEST(BinaryWriterFailures, ApplicationExceptionsPassUnchanged) {
    // Nothing reaches the stream before the root's Write has returned.
    QvStreamWriteBinaryBuffer stream;
    Tavrin::CWriterBinary writer(stream);
    CObject failing([](IDataWriter& w) {
        w.Write("a", 1);
        w.Write("n", CObject([](IDataWriter&) { throw std::bad_alloc(); }));
    });
    EXPECT_THROW(writer.Write(failing), std::bad_alloc);
    CContainer failingList([](IContainerWriter& w) {
        w.Write(CObject([](IDataWriter& d) { d.Write("x", 1); }));
        w.Write(CObject([](IDataWriter&) { throw 42; }));
    });
    EXPECT_THROW(writer.Write(failingList), int);
    EXPECT_EQ(stream.GetCount(), 0u);
    writer.Write(CObject());
    EXPECT_EQ(stream.GetCount(), 10u);
}

TEST(BinaryWriterFailures, FailedElementsAmongManyLeaveNoTrace) {
    // The document equals the one written without them. Enough elements to run the element
    // buffer through many growth steps, so that some failed element starts a new piece of it.
    for (uint64_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        auto list = [seed](bool withFailures) {
            return CContainer([=](IContainerWriter& w) {
                CRandom random(seed);
                for (int i = 0; i < 20000; ++i) {
                    const bool fail = random.Between(0, 1) == 0;
                    const std::string text = random.Letters(0, 7);
                    if (fail && !withFailures) continue;
                    try {
                        w.Write(CObject([&](IDataWriter& d) {
                            if (fail) throw i;
                            d.Write("x", i);
                            d.Write("s", text);
                        }));
                    } catch (int) {
                    }
                }
            });
        };
        EXPECT_TRUE(Document(list(true)) == Document(list(false)));
    }
}

TEST(BinaryReaderFailures, RaisingPlaces) {
    const struct {
        const char* what;
        Bytes doc;
        const char* file;
        unsigned line;
        const char* function;
    } cases[] = {
        {"version 1", Hex("01 00 00 00 10 00 00 00 00 00"), "core/basepool/qvstreamread.cpp", 41,
         "QvStreamRead::ReadAndCompareVersion"},
        {"root kind 12", Hex("00 00 00 00 0c 00 00 00 00 00"), kReaderFile, 305,
         "Tavrin::CReaderBinary::CReaderBinary"},
        {"section tag 18", Hex("00 00 00 00 10 00 00 00 00 01 12 00 00 00 00"), kReaderFile, 388,
         "Tavrin::CDataReader::Read"},
        {"element tag 18", Hex("00 00 00 00 11 00 00 00 00 12 01 00 00 00 00"), kReaderFile, 622,
         "Tavrin::CContainerReader::Read"},
        {"named blob of 8 bytes with 2 left",
         Hex("00 00 00 00 10 01 00 00 00 01 00 00 00 62 00 00 00 00 "
             "01 0f 01 00 00 00 00 00 00 00 08 00 00 00 aa bb"),
         kReaderFile, 476, "Tavrin::CDataReader::readBlobs"},
        // Identifiers that the name table does not hold.
        {"unknown value name",
         Hex("00 00 00 00 10 00 00 00 00 01 07 01 00 00 00 05 00 00 00 01 00 00 00"), kReaderFile,
         392, "Tavrin::CDataReader::Read"},
        {"unknown element class", Hex("00 00 00 00 11 00 00 00 00 10 01 00 00 00 01 03 00 00 00"),
         kReaderFile, 626, "Tavrin::CContainerReader::Read"},
        {"objects 1001 deep", Document(Chain(1001)), kReaderFile, 380, "Tavrin::CDataReader::Read"},
        {"containers 1001 deep", NestedContainers(1001), kReaderFile, 614,
         "Tavrin::CContainerReader::Read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectThrowsAt([&] { Load(c.doc); }, c.file, c.line, c.function);
    }
    EXPECT_TRUE(Throws<QvExceptionWrongFileVersion>([&] { Load(cases[0].doc); }));
    // The element tag of an empty container is not looked at.
    EXPECT_NO_THROW(Load(Hex("00 00 00 00 11 00 00 00 00 63 00 00 00 00")));

    // The root asked for as the wrong kind.
    CObject o;
    CContainer c;
    ExpectThrowsAt([&] { Load(Document(CObject()))->Read(c); }, kReaderFile, 346,
                   "Tavrin::CReaderBinary::Read");
    ExpectThrowsAt([&] { Load(Document(CContainer()))->Read(o); }, kReaderFile, 331,
                   "Tavrin::CReaderBinary::Read");
}

// ---- Damaged and hostile documents -----------------------------------------------------------

TEST(BinaryHostile, ClaimedCountsDoNotDecideAllocations) {
    LogCapture quiet;
    const char* const documents[] = {
        // A named blob of 0xFFFFFFFF bytes with 4 present.
        ("00 00 00 00 10 01 00 00 00 01 00 00 00 62 00 00 00 00 "
         "01 0f 01 00 00 00 00 00 00 00 ff ff ff ff 01 02 03 04"),
        // A blob element of 0xFFFFFFF0 bytes, 2 present (kept as what arrived).
        "00 00 00 00 11 00 00 00 00 0f 01 00 00 00 f0 ff ff ff 01 02",
        // 0xFFFFFFFF doubles, objects with their class list, containers, sections, names.
        "00 00 00 00 11 00 00 00 00 0b ff ff ff ff 00 00 00 00 00 00 f0 3f",
        "00 00 00 00 11 01 00 00 00 00 00 00 00 00 00 00 00 10 ff ff ff ff 00 00 00 00 00",
        "00 00 00 00 11 00 00 00 00 11 ff ff ff ff 00 00 00 00 00",
        "00 00 00 00 10 00 00 00 00 ff 00 ff ff ff ff",
        "00 00 00 00 10 ff ff ff ff 01 00 00 00 61 00 00 00 00",
        "00 00 00 00 11 00 00 00 00 0c ff ff ff ff ff ff ff ff 61",
    };
    for (const char* hex : documents) {
        const Bytes doc = Hex(hex);
        g_largest = 0;
        g_watching = true;
        QvStreamReadBinaryBuffer stream(doc.data(), doc.size());
        ReadAll(stream);
        g_watching = false;
        EXPECT_LT(g_largest.load(), size_t(1) << 20) << hex;
    }
}

}  // namespace
