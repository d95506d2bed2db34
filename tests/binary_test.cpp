// The binary writer and reader: exact document bytes, the order of names and entries against a
// plain writer over random trees, what the reader answers to, the raising places, the reader's
// ways of taking bytes (memory, read operations, memory in pieces, ReadBytes alone) and damaged
// or hostile documents.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "support/bytes.h"
#include "support/files.h"
#include "support/formats.h"
#include "support/objects.h"
#include "support/raising.h"
#include "support/streams.h"

// ---- Allocation watch: the largest single allocation while a test looks -----------------------

namespace {
std::atomic<bool> g_watching{false};
std::atomic<size_t> g_largest{0};

void* Counted(size_t size) noexcept {
    for (size_t seen = g_largest; g_watching && size > seen;) {
        if (g_largest.compare_exchange_weak(seen, size)) break;
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

namespace {

using namespace TestSupport;
using namespace std::string_literals;
using Tavrin::IContainerReader;
using Tavrin::IContainerWriter;
using Tavrin::IDataReader;
using Tavrin::IDataWriter;
using Tavrin::ISerializable;
using Tavrin::ISerializableContainer;

constexpr const char* kWriterFile = "core/tavrin/src/cwriterbinary.cpp";
constexpr const char* kReaderFile = "core/tavrin/src/creaderbinary.cpp";
constexpr auto Document = [](const auto& root) { return SBinaryFormat::Write(root); };

// prefix followed by the number (built by appending: GCC 12 warns falsely on "k" + string)
std::string Key(const char* prefix, int number) {
    std::string key(prefix);
    return key += std::to_string(number);
}

std::unique_ptr<Tavrin::CReaderBinary> Load(const Bytes& bytes) {
    QvStreamReadBinaryBuffer stream(bytes.data(), bytes.size());
    return std::make_unique<Tavrin::CReaderBinary>(stream);
}

// Reads the document's root (a CObject or a CContainer) through `read`, which must be called.
template <class Root>
void ReadRoot(const Bytes& doc, const std::function<void(typename Root::Reader&)>& read) {
    Root root;
    root.read = read;
    Load(doc)->Read(root);
    EXPECT_EQ(root.reads, 1);
}

QvDateTime Date(uint64_t count) { return QvDateTime::FromFileTime(count); }

// A document holding every kind, named and as elements, with texts beyond U+FFFF and unpaired
// surrogates; `large` adds wide texts in the longer length forms.
Bytes RichDocument(bool large) {
    const std::wstring wide = L"a\u00E9\u4E2D\U0001F600\xD800z\xDC00";
    const std::wstring wide300(300, L'\u20AC'), wide70000(large ? 70000 : 0, L'q');
    const unsigned char blob[5] = {0, 1, 2, 0xFE, 0xFF};
    using C = IContainerWriter;
    return Document(CObject([&](IDataWriter& w) {
        w.Write("b", true), w.Write("c", 'x'), w.Write("sc", static_cast<signed char>(-5));
        w.Write("uc", static_cast<unsigned char>(200)), w.Write("s", static_cast<short>(-300));
        w.Write("us", static_cast<unsigned short>(60000)), w.Write("i", -70000);
        w.Write("u", 4000000000u), w.Write("ll", -5000000000ll);
        w.Write("ull", 18000000000000000000ull), w.Write("f", 1.5f), w.Write("d", -2.25);
        w.Write("str", std::string("text")), w.Write("empty", std::string()), w.Write("w", wide);
        if (large) w.Write("w300", wide300), w.Write("w70000", wide70000);
        w.Write("t", Date(133000000000000000ull)), w.Write("blob", sizeof blob, blob);
        w.Write("none", size_t(0), nullptr);
        w.Write("i", 7);  // the last value of a name and kind wins
        w.Write("obj", CObject([](IDataWriter& c) { c.Write("x", 1); }));
        w.Write("bools", CContainer([](C& c) { c.Write(true), c.Write(false); }));
        w.Write("shorts", CContainer([](C& c) {
                    for (short k = -2; k < 3; ++k) c.Write(k);
                }));
        w.Write("doubles", CContainer([](C& c) { c.Write(0.5), c.Write(1e300); }));
        w.Write("texts", CContainer([](C& c) { c.Write(std::string("one")), c.Write(""s); }));
        w.Write("wides", CContainer([&](C& c) {
                    c.Write(wide);
                    if (large) c.Write(wide300);
                }));
        w.Write("dates",
                CContainer([](C& c) { c.Write(Date(0)), c.Write(Date(125000000000001234ull)); }));
        w.Write("blobs", CContainer([&](C& c) { c.Write(5, blob), c.Write(0, nullptr); }));
        w.Write("objects", CContainer([](C& c) {
                    c.Write(CObject([](IDataWriter& o) { o.Write("k", 1.0); }));
                    c.Write(CObject([](IDataWriter&) {}));
                }));
        w.Write("nested", CContainer([](C& c) {
                    c.Write(CContainer([](C& n) { n.Write(1); }));
                    c.Write(CContainer([](C&) {}));
                }));
    }));
}
// ---- Document bytes --------------------------------------------------------------------------

TEST(BinaryLayout, DocumentBytes) {
    auto element = [](const char* cls) { return CObject({}, cls); };
    const std::wstring wide = L"a\U0001F600";  // beyond U+FFFF: a surrogate pair
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
    // Characters beyond U+10FFFF (also a negative wchar_t) are carried as U+FFFD; only a 32-bit
    // wchar_t holds them.
    if constexpr (sizeof(wchar_t) == 4) {
        const Bytes beyond = Document(CObject([](IDataWriter& w) {
            w.Write("w",
                    std::wstring{L'b', static_cast<wchar_t>(0x110000), static_cast<wchar_t>(-1)});
        }));
        EXPECT_EQ(ToHex(beyond),
                  ToHex(Hex("00 00 00 00 10 01 00 00 00 01 00 00 00 77 00 00 00 00 01 0d 01 00 "
                            "00 00 00 00 00 00 ff fe ff 03 62 00 fd ff fd ff")));
    }

    // 255 units take the three-byte length.
    const Bytes longer =
        Document(CContainer([](IContainerWriter& w) { w.Write(std::wstring(255, L'x')); }));
    ASSERT_EQ(longer.size(), 14u + 6u + 510u);
    EXPECT_EQ(ToHex(Bytes(longer.begin() + 14, longer.begin() + 20)), "ff fe ff ff ff 00 ");
}

// Narrow text stops at its first zero byte wherever it stands, named and as an element.
TEST(BinaryLayout, NarrowTextStopsAtItsFirstZeroByte) {
    auto doc = [](const std::string& text) {
        return Document(CObject([&](IDataWriter& w) {
            w.Write("t", text);
            w.Write("c", CContainer([&](IContainerWriter& c) { c.Write(text); }));
        }));
    };
    for (size_t n = 1; n <= 40; ++n) {
        for (size_t zero = 0; zero <= n; ++zero) {
            std::string text(n, 'x');
            if (zero < n) text[zero] = '\0';
            EXPECT_TRUE(doc(text) == doc(text.substr(0, zero))) << n << ' ' << zero;
        }
    }
}

TEST(BinaryLayout, SuccessiveWritesMakeIndependentDocuments) {
    const CObject first([](IDataWriter& w) { w.Write("a", 1); });
    const CObject second([](IDataWriter& w) { w.Write("b", 2), w.Write("a", 3); });
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
    CObject probe;
    probe.read = [](IDataReader& r) {
        EXPECT_EQ(ReadAs<int>(r, "a"), 3);
        EXPECT_EQ(ReadAs<int>(r, "b"), 2);
    };
    two.Read(probe);
    EXPECT_EQ(probe.reads, 1);
}

// ---- What the reader answers to ----------------------------------------------------------------

TEST(BinaryReader, ValuesAnswerOnlyToTheirKindNameAndIndex) {
    CObject o([](IDataWriter& w) {
        w.Write("a", 1), w.Write("a", 2.5), w.Write("z", true), w.Write("c", 'x');
        w.Write("sc", static_cast<signed char>(120)), w.Write("b", 0, nullptr);
    });
    ReadRoot<CObject>(Document(o), [](IDataReader& r) {
        // Names in section order: bool z, signed char sc, int a, double a, char c, blob b.
        std::string names;
        for (unsigned i = 0; i < r.GetNameCount(); ++i) (names += r.GetName(i)) += ' ';
        EXPECT_EQ(names, "z sc a a c b ");
        int i = 0;
        double d = 0;
        char c = 0;
        signed char sc = 0;
        EXPECT_TRUE(r.Read("a", i) && r.Read("a", d) && r.Read("c", c) && r.Read("sc", sc));
        EXPECT_TRUE(i == 1 && d == 2.5 && sc == 120 && c == 'x');
        // Another kind or another letter case finds nothing and leaves the target alone.
        long long ll = 77;
        unsigned u = 77;
        float f = 7;
        unsigned char uc = 9;
        EXPECT_FALSE(r.Read("a", ll) || r.Read("a", u) || r.Read("a", f) || r.Read("A", i) ||
                     r.Read("c", sc) || r.Read("c", uc) || r.Read("sc", c));
        EXPECT_TRUE(ll == 77 && u == 77 && f == 7 && uc == 9 && i == 1);
        const Tavrin::SBlobRange blob = r.Read("b");  // a zero-byte blob is there, ends equal
        EXPECT_TRUE(blob.begin != nullptr && blob.begin == blob.end);
    });
    // Elements: only the element kind answers; a zero-byte blob element is there too.
    ReadRoot<CContainer>(Document(CList<double>({1, 2})), [](IContainerReader& r) {
        float f = 3;
        EXPECT_TRUE(ReadAs<double>(r, 1u) == 2 && !r.Read(0, f) && f == 3 && !r.Read(0).begin);
    });
    CContainer blobs([](IContainerWriter& w) { w.Write(3, "\1\2\3"), w.Write(0, nullptr); });
    ReadRoot<CContainer>(Document(blobs), [](IContainerReader& r) {
        const Tavrin::SBlobRange first = r.Read(0u), empty = r.Read(1u);
        EXPECT_EQ(Bytes(first.begin, first.end), (Bytes{1, 2, 3}));
        EXPECT_TRUE(empty.begin != nullptr && empty.begin == empty.end);
    });
    // Long texts; wide ones in the longer length forms: 300 units, and the seven-byte length.
    const CList<std::wstring> wides({std::wstring(300, L'q'), std::wstring(70000, L'w')});
    const CList<std::string> narrow({std::string(300, 'q')});
    CList<std::wstring> widesBack;
    CList<std::string> narrowBack;
    Load(Document(wides))->Read(widesBack);
    Load(Document(narrow))->Read(narrowBack);
    EXPECT_TRUE(widesBack == wides && narrowBack == narrow);
}

TEST(BinaryReader, ManyValuesInOneObject) {
    // Large objects are looked up through an index; the last value of a name still wins.
    CObject o([](IDataWriter& w) {
        for (int i = 0; i < 500; ++i) w.Write(Key("k", i).c_str(), i);
        w.Write("k7", 700);
        for (int i = 0; i < 50; ++i) w.Write(Key("k", i).c_str(), i * 0.5);
    });
    ReadRoot<CObject>(Document(o), [](IDataReader& r) {
        EXPECT_EQ(r.GetNameCount(), 550u);
        for (int i = 0; i < 500; ++i) {
            EXPECT_EQ(ReadAs<int>(r, Key("k", i).c_str()), i == 7 ? 700 : i);
        }
        EXPECT_EQ(ReadAs<double>(r, "k49"), 24.5);
        double d = -1;
        int v = -1;
        EXPECT_FALSE(r.Read("k50", d) || r.Read("k500", v));
    });
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

TEST(BinaryWriterFailures, ApplicationExceptionsPassUnchangedAndLeaveNoTrace) {
    // Nothing reaches the stream before the root's Write has returned.
    QvStreamWriteBinaryBuffer stream;
    Tavrin::CWriterBinary writer(stream);
    EXPECT_THROW(writer.Write(CObject([](IDataWriter& w) {
        w.Write("a", 1);
        w.Write("n", CObject([](IDataWriter&) { throw std::bad_alloc(); }));
    })),
                 std::bad_alloc);
    EXPECT_THROW(writer.Write(CContainer([](IContainerWriter& w) {
        w.Write(CObject([](IDataWriter& d) { d.Write("x", 1); }));
        w.Write(CObject([](IDataWriter&) { throw 42; }));
    })),
                 int);
    EXPECT_EQ(stream.GetCount(), 0u);
    writer.Write(CObject());
    EXPECT_EQ(stream.GetCount(), 10u);

    // Elements that failed among many: the document equals the one written without them.
    // Enough elements to run the element buffer through many growth steps, so that some failed
    // element starts a new piece of it.
    for (uint64_t seed : {1u, 2u, 3u}) {
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
                            d.Write("x", i), d.Write("s", text);
                        }));
                    } catch (int) {}
                }
            });
        };
        EXPECT_TRUE(Document(list(true)) == Document(list(false))) << seed;
    }
    // A failed element of another class leaves the others one class (B is a name already).
    auto oneClass = [](bool withFailure) {
        return CContainer([=](IContainerWriter& w) {
            const CObject a([](IDataWriter& d) { d.Write("B", 1); }, "A");
            w.Write(a);
            if (withFailure) {
                try {
                    w.Write(CObject([](IDataWriter&) { throw 1; }, "B"));
                } catch (int) {}
            }
            w.Write(a);
        });
    };
    EXPECT_TRUE(Document(oneClass(true)) == Document(oneClass(false)));
}

// An object holding `depth - 1` more levels below it, each under the name "n".
CObject Chain(int depth) {
    return CObject([depth](IDataWriter& w) {
        w.Write("level", depth);
        if (depth > 1) w.Write("n", Chain(depth - 1));
    });
}

// A container root with containers `levels` deep, the innermost one empty.
Bytes NestedContainers(int levels) {
    Bytes doc = Hex("00 00 00 00 11 00 00 00 00");
    for (int i = 1; i < levels; ++i) doc.insert(doc.end(), {0x11, 1, 0, 0, 0});
    doc.insert(doc.end(), {0, 0, 0, 0, 0});
    return doc;
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
    // One level less is accepted; the element tag of an empty container is not looked at.
    int sum = 0;
    std::function<void(IDataReader&)> descend = [&](IDataReader& r) {
        sum += ReadAs<int>(r, "level");
        CObject next;
        next.read = descend;
        r.Read("n", next);
    };
    ReadRoot<CObject>(Document(Chain(1000)), descend);
    EXPECT_EQ(sum, 1000 * 1001 / 2);
    EXPECT_NO_THROW(Load(NestedContainers(1000)));
    EXPECT_NO_THROW(Load(Hex("00 00 00 00 11 00 00 00 00 63 00 00 00 00")));

    // The root asked for as the wrong kind.
    CObject o;
    CContainer c;
    ExpectThrowsAt([&] { Load(Document(CObject()))->Read(c); }, kReaderFile, 346,
                   "Tavrin::CReaderBinary::Read");
    ExpectThrowsAt([&] { Load(Document(CContainer()))->Read(o); }, kReaderFile, 331,
                   "Tavrin::CReaderBinary::Read");
}

// ---- The reader's ways of taking bytes ---------------------------------------------------------
// Straight from the memory a stream offers, through the stream's read operations, and through
// memory offered in small pieces: all give the same content, failures and stream position.

// Offers its memory at most `window` bytes at a time, so that values straddle the pieces, and
// counts consumptions beyond what was offered.
class CWindowedBuffer : public QvStreamReadBinaryBuffer {
public:
    CWindowedBuffer(const Bytes& doc, uint64_t window)
        : QvStreamReadBinaryBuffer(doc.data(), doc.size()), m_window(window) {}
    const unsigned char* GetContiguous(uint64_t& available) override {
        const unsigned char* p = QvStreamReadBinaryBuffer::GetContiguous(available);
        m_offered = available = std::min(available, m_window);
        return p;
    }
    void Consume(uint64_t count) override {
        overreach += count > m_offered;
        m_offered -= std::min(count, m_offered);
        QvStreamReadBinaryBuffer::Consume(count);
    }
    int overreach = 0;

private:
    uint64_t m_window;
    uint64_t m_offered = 0;
};

// "y-m-d weekday h:m:s.ms"
std::string Fields(const QvDateTime& t) {
    auto n = [](unsigned v) { return std::to_string(v); };
    return n(t.GetYear()) + "-" + n(t.GetMonth()) + "-" + n(t.GetDay()) + " " +
           n(t.GetDayOfWeek()) + " " + n(t.GetHour()) + ":" + n(t.GetMinute()) + ":" +
           n(t.GetSecond()) + "." + n(t.GetMilliseconds());
}

// Everything a reader hands out, found by trying every kind under every name and index.
class CDump : public Tavrin::ISerializable, public Tavrin::ISerializableContainer {
public:
    explicit CDump(std::string& out, int depth = 0) : m_out(out), m_depth(depth) {}
    const char* GetClassName() const override { return "Dump"; }
    void Write(IDataWriter&) const override {}
    void Write(IContainerWriter&) const override {}
    void Read(IDataReader& r) override {
        m_out += "{";
        for (unsigned int i = 0; i < r.GetNameCount(); ++i) {
            (m_out += r.GetName(i)) += ":";
            Values(r, r.GetName(i));
        }
        m_out += "}";
    }
    void Read(IContainerReader& r) override {
        m_out += "[";
        for (unsigned int i = 0; i < 100000 && Values(r, i); ++i) {}
        m_out += "]";
    }

private:
    template <class R, class K>
    bool Values(R& r, K key) {
        bool any = false;
        auto add = [&](const std::string& text) { any = true, (m_out += text) += ";"; };
        auto number = [&](const char* kind, auto v) {
            if (r.Read(key, v)) add(kind + std::to_string(v));
        };
        number("b", bool{}), number("c", char{}), number("sc", static_cast<signed char>(0));
        number("uc", static_cast<unsigned char>(0)), number("s", short{});
        number("us", static_cast<unsigned short>(0)), number("i", int{}), number("u", 0u);
        number("ll", 0ll), number("ull", 0ull), number("f", 0.0f), number("d", 0.0);
        std::string s;
        if (r.Read(key, s)) add("str" + std::to_string(s.size()) + "=" + s);
        std::wstring w;
        if (r.Read(key, w)) {
            std::string units = "wstr";
            for (wchar_t ch : w) units += std::to_string(static_cast<uint32_t>(ch)) + ",";
            add(units);
        }
        QvDateTime t = Date(0);
        if (r.Read(key, t)) add("t" + Fields(t));
        const Tavrin::SBlobRange blob = r.Read(key);
        if (blob.begin) add("blob" + std::string(blob.begin, blob.end));
        if (m_depth < 40) {
            CDump child(m_out, m_depth + 1);
            any |= r.Read(key, static_cast<Tavrin::ISerializable&>(child));
            any |= r.Read(key, static_cast<Tavrin::ISerializableContainer&>(child));
        }
        return any;
    }

    std::string& m_out;
    int m_depth;
};

// Everything a reader makes of `stream` as text, with the stream position at the end; or the
// raising place of the library exception it threw.
std::string ReadAll(QvStreamReadBinaryBuffer& stream) {
    LogCapture quiet;
    std::string out;
    try {
        Tavrin::CReaderBinary reader(stream);
        CDump dump(out);
        try {
            reader.Read(static_cast<Tavrin::ISerializable&>(dump));
        } catch (const Tavrin::CException&) {  // the root is a container
            reader.Read(static_cast<Tavrin::ISerializableContainer&>(dump));
        }
        out += " @" + std::to_string(stream.GetPosition());
    } catch (const IException& e) {
        out = "threw "s + e.GetFilename() + ":" + std::to_string(e.GetCodeLine()) + ":" +
              e.GetFunctionName();
    }
    return out;
}

// Reads `doc` through the memory, through the read operations and through memory offered in
// small pieces (`windows`); all must agree. Returns the outcome.
std::string ExpectSameOutcomes(const Bytes& doc, const std::string& what,
                               std::initializer_list<uint64_t> windows = {1, 7}) {
    QvStreamReadBinaryBuffer fast(doc.data(), doc.size());
    CHiddenBuffer plain(doc.data(), doc.size());
    const std::string expected = ReadAll(plain);
    EXPECT_EQ(ReadAll(fast), expected) << what;
    for (uint64_t window : windows) {
        CWindowedBuffer windowed(doc, window);
        EXPECT_EQ(ReadAll(windowed), expected) << what << " window " << window;
        EXPECT_EQ(windowed.overreach, 0) << what;
    }
    return expected;
}

TEST(BinaryReadPaths, WholeDocumentsReadTheSameEveryWay) {
    ExpectSameOutcomes(RichDocument(true), "rich");
    ExpectSameOutcomes(Document(Samples(30)), "samples");
    // The content itself is right, not only the same every way; also through a caller's stream
    // that implements ReadBytes alone, which the reader asks for nothing it has no use for.
    const CList<SKinds> orders = Samples(300);
    const Bytes doc = Document(orders), rich = RichDocument(true);
    EXPECT_EQ(doc, Document(orders));  // the same document again, byte for byte
    for (uint64_t window : {uint64_t(3), uint64_t(1) << 40}) {
        CWindowedBuffer stream(doc, window);
        CList<SKinds> back;
        Tavrin::CReaderBinary(stream).Read(back);
        EXPECT_TRUE(back == orders) << window;
        EXPECT_EQ(stream.GetPosition(), doc.size());
    }
    CByteSource source(doc), richSource(rich);
    CList<SKinds> back;
    Tavrin::CReaderBinary(source).Read(back);
    Tavrin::CReaderBinary{richSource};
    EXPECT_TRUE(back == orders);
    EXPECT_EQ(source.unexpectedCalls + richSource.unexpectedCalls, 0);

    // A named blob for which the stream reports more bytes than asked for is refused like one
    // that reports fewer.
    CByteSource claiming(
        Hex("00 00 00 00 10 01 00 00 00 01 00 00 00 62 00 00 00 00 "
            "01 0f 01 00 00 00 00 00 00 00 03 00 00 00 aa bb cc"));
    claiming.claimOneMoreFor = 3;
    ExpectThrowsAt([&] { Tavrin::CReaderBinary r(claiming); }, kReaderFile, 476,
                   "Tavrin::CDataReader::readBlobs");
}

class BinaryFile : public TestSupport::CTempDirTest {};

// A file is read from the memory its stream offers; cut files fail in the read that a cut
// buffer fails in (named for the base class: the file stream has no typed reads of its own).
TEST_F(BinaryFile, DocumentsReadFromFilesAsFromBuffers) {
    const CList<SKinds> orders = Samples(300);
    const Bytes doc = Document(orders);
    ASSERT_GT(doc.size(), 70000u);  // past the file stream's own buffer
    for (size_t size : {doc.size(), doc.size() - 1, size_t{70000}, size_t{3}}) {
        {
            QvStreamWriteBinaryFile file(WPath(L"doc.bin"));
            file.WriteBytes(doc.data(), size);
        }
        QvStreamReadBinaryFile stream(WPath(L"doc.bin"));
        if (size == doc.size()) {
            CList<SKinds> back;
            Tavrin::CReaderBinary(stream).Read(back);
            EXPECT_TRUE(back == orders);
            continue;
        }
        QvStreamReadBinaryBuffer buffer(doc.data(), size);
        LogCapture quiet;
        std::string fromFile, fromBuffer;
        try {
            Tavrin::CReaderBinary{stream};
        } catch (const IException& e) {
            fromFile = std::string(e.GetFunctionName()).substr(18);  // past "QvStreamReadBinary"
        }
        try {
            Tavrin::CReaderBinary{buffer};
        } catch (const IException& e) {
            fromBuffer = std::string(e.GetFunctionName()).substr(24);  // ...Buffer
        }
        EXPECT_FALSE(fromFile.empty()) << size;
        EXPECT_EQ(fromFile, fromBuffer) << size;
    }
}

// These loops catch a path that answers differently; reads beyond the document show only under
// the sanitizers (the ci-asan preset runs them there).
TEST(BinaryReadPaths, CutAndDamagedDocumentsFailTheSameEveryWay) {
    for (const Bytes& doc : {RichDocument(false), Document(Samples(2))}) {
        for (size_t n = 0; n < doc.size(); ++n) {  // every proper prefix lacks something
            const std::string what = "cut at " + std::to_string(n);
            const Bytes cut(doc.begin(), doc.begin() + static_cast<std::ptrdiff_t>(n));
            EXPECT_EQ(ExpectSameOutcomes(cut, what).rfind("threw", 0), 0u) << what;
        }
        for (size_t i = 0; i < doc.size(); ++i) {
            for (int v : {0x00, 0xFF, 0x7F, 0x80, doc[i] ^ 0x01, doc[i] ^ 0x10}) {
                Bytes damaged = doc;
                damaged[i] = static_cast<unsigned char>(v);
                ExpectSameOutcomes(damaged, "byte " + std::to_string(i), {5});
            }
        }
    }
    const Bytes large = RichDocument(true);  // cuts inside the long texts
    for (size_t n = 0; n < large.size(); n += 4999) {
        ExpectSameOutcomes(Bytes(large.begin(), large.begin() + static_cast<std::ptrdiff_t>(n)),
                           "cut " + std::to_string(n));
    }
}

TEST(BinaryReadPaths, HandMadeValuesOutsideTheWritersHabits) {
    // An object with one name, then `rest`.
    auto named = [](const char* rest) {
        return Hex(("00 00 00 00 10 01 00 00 00 01 00 00 00 "s + rest).c_str());
    };
    const std::pair<const char*, Bytes> docs[] = {
        {"sub-millisecond date",
         named("74 00 00 00 00 01 0e 01 00 00 00 00 00 00 00 00 00 00 00 39 30 00 00 00 00 00 00")},
        {"date version 1",
         named("74 00 00 00 00 01 0e 01 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00")},
        {"long form of a short wide text",
         named("77 00 00 00 00 01 0d 01 00 00 00 00 00 00 00 ff fe ff ff 02 00 68 00 69 00")},
        {"wrong wide mark",
         named("77 00 00 00 00 01 0d 01 00 00 00 00 00 00 00 ff fe fe 01 68 00")},
        {"bool 2", Hex("00 00 00 00 11 00 00 00 00 00 03 00 00 00 02 00 01")},
        {"unknown identifier",
         Hex("00 00 00 00 10 00 00 00 00 01 07 01 00 00 00 09 00 00 00 01 00 00 00")},
    };
    for (const auto& [what, doc] : docs) ExpectSameOutcomes(doc, what);
    // The sub-millisecond ticks are dropped, as the seven fields cannot hold them.
    QvStreamReadBinaryBuffer stream(docs[0].second.data(), docs[0].second.size());
    EXPECT_EQ(ReadAll(stream), "{t:t1601-1-1 1 0:0:0.1;} @40");
}

TEST(BinaryReadPaths, ValuesFoundInAnySectionOrder) {
    // Names "a" (0) and "b" (1), then the root object's sections.
    auto object = [](const std::string& sections) {
        const std::string names =
            "00 00 00 00 10 02 00 00 00 01 00 00 00 61 00 00 00 00 "
            "01 00 00 00 62 01 00 00 00 ";
        return Hex((names + sections).c_str());
    };
    const std::pair<Bytes, std::string> docs[] = {
        // One section per kind, against section order: int a = 3, then bool b.
        {object("02 07 01 00 00 00 00 00 00 00 03 00 00 00 00 01 00 00 00 01 00 00 00 01"),
         "{a:i3;b:b1;}"},
        // int a = 1 and b = 2, double a = 0.5, int a = 9: a kind in two sections.
        {object("03 07 02 00 00 00 00 00 00 00 01 00 00 00 01 00 00 00 02 00 00 00 "
                "0b 01 00 00 00 00 00 00 00 00 00 00 00 00 00 e0 3f "
                "07 01 00 00 00 00 00 00 00 09 00 00 00"),
         "{a:i9;d0.500000;b:i2;a:i9;d0.500000;a:i9;d0.500000;}"},
    };
    for (const auto& [doc, values] : docs) {
        EXPECT_EQ(ExpectSameOutcomes(doc, values), values + " @" + std::to_string(doc.size()));
    }
    // As written, with the section of several entries before others.
    const Bytes written = Document(CObject([](IDataWriter& w) {
        w.Write("z", true), w.Write("a", 1), w.Write("b", 2), w.Write("d", 0.5);
        w.Write("t", std::string("x"));
    }));
    ReadRoot<CObject>(written, [](IDataReader& r) {
        EXPECT_TRUE(ReadAs<bool>(r, "z") && ReadAs<int>(r, "a") == 1 && ReadAs<int>(r, "b") == 2);
        EXPECT_TRUE(ReadAs<double>(r, "d") == 0.5 && ReadAs<std::string>(r, "t") == "x");
        int i = 0;
        double d = 0;
        EXPECT_FALSE(r.Read("d", i) || r.Read("t", i) || r.Read("a", d) || r.Read("x", d));
    });
}

TEST(BinaryWriter, GrowsTheBufferOnceToTheByteByByteCapacity) {
    // Whatever the buffer held before, including documents ending on a capacity or one past it.
    for (unsigned count : {0u, 1u, 7u, 60u, 2000u}) {
        const CList<SKinds> orders = Samples(count);
        const Bytes alone = Document(orders);
        const size_t onEdge = std::bit_ceil(alone.size() + 4096) - alone.size();
        for (size_t before : {size_t(0), size_t(5000), size_t(4090), onEdge, onEdge + 1}) {
            QvStreamWriteBinaryBuffer written, byteByByte;
            const Bytes filler(before, 0xAB);
            written.WriteBytes(filler.data(), filler.size());
            Tavrin::CWriterBinary(written).Write(orders);
            const unsigned char* data = written.GetData();
            for (size_t k = 0; k < written.GetCount(); ++k) byteByByte.WriteBytes(data + k, 1);
            EXPECT_EQ(written.GetCapacity(), byteByByte.GetCapacity()) << count << " + " << before;
            EXPECT_EQ(Bytes(data + before, data + written.GetCount()), alone);
        }
    }
}

TEST(BinaryWriter, DocumentsOfMegabytesReadBackWhole) {
    // Past 8 MB the writer's element chunks, and past 4 MB the buffer, take large pages.
    CList<SKinds> orders = Samples(700);
    for (SKinds& k : orders.items) k.blob.resize(16000, static_cast<unsigned char>(k.inner.id));
    QvStreamWriteBinaryBuffer written;
    Tavrin::CWriterBinary(written).Write(orders);
    ASSERT_GT(written.GetCount(), 11000000u);
    EXPECT_EQ(written.GetCapacity(), std::bit_ceil(written.GetCount()));
    const Bytes doc(written.GetData(), written.GetData() + written.GetCount());
    CList<SKinds> back;
    Load(doc)->Read(back);
    EXPECT_TRUE(back == orders);
}

// ---- Order of names and entries, against a plain writer --------------------------------------

// A tree of values described as data: it writes itself through the writer, and the plain writer
// below encodes the same tree.
struct STree : Tavrin::ISerializable, Tavrin::ISerializableContainer {
    std::string name;  // of a value of an object
    uint8_t tag = 0;
    uint64_t bits = 0;      // tags 0 to 11, little-endian
    std::string text;       // tags 12 and 15 (the blob's bytes)
    std::wstring wide;      // tag 13
    uint64_t fileTime = 0;  // whole milliseconds, so that a date's fields hold it exactly
    std::string className;
    std::vector<STree> children;  // values of an object, elements of a container

    const char* GetClassName() const override { return className.c_str(); }
    void Write(IDataWriter& w) const override {
        for (const STree& v : children) v.Emit(w, v.name.c_str());
    }
    void Write(IContainerWriter& w) const override {
        for (const STree& v : children) v.Emit(w);
    }
    void Read(IDataReader&) override {}
    void Read(IContainerReader&) override {}

private:
    // The number types in tag order.
    using Numbers = std::tuple<bool, char, unsigned char, signed char, unsigned short, short,
                               unsigned int, int, unsigned long long, long long, float, double>;

    // Hands this value to a data writer (with its name) or to a container writer.
    template <class W, class... N>
    void Emit(W& w, N... named) const {
        switch (tag) {
            case 12: return w.Write(named..., text);
            case 13: return w.Write(named..., wide);
            case 14: return w.Write(named..., QvDateTime::FromFileTime(fileTime));
            case 15: return w.Write(named..., text.size(), static_cast<const void*>(text.data()));
            case 16: return w.Write(named..., static_cast<const ISerializable&>(*this));
            case 17: return w.Write(named..., static_cast<const ISerializableContainer&>(*this));
        }
        [&]<size_t... I>(std::index_sequence<I...>) {
            auto number = [&](auto typed) {
                std::memcpy(&typed, &bits, sizeof typed);
                w.Write(named..., typed);
            };
            ((tag == I ? number(std::tuple_element_t<I, Numbers>{}) : void()), ...);
        }
        (std::make_index_sequence<12>());
    }
};

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

// Random trees: nested objects and containers of every kind, repeated and replaced names, names
// and classes with bytes above 0x7F, now and then an object large enough to make its tables and
// the name table grow.
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
            const bool large = m_random.Between(0, 9) == 0;
            uint64_t n = large ? m_random.Between(100, 600) : m_random.Between(0, 12);
            for (; n > 0; --n) {
                static const uint8_t kFlat[] = {7, 11, 1, 0};
                STree& child = v.children.emplace_back(
                    Value(large ? kFlat[m_random.Between(0, 3)] : Tag(level), level + 1));
                child.name = large && n % 2 ? Key("big", int(m_random.Between(0, 400)))
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

// The writer's document equals the plain writer's byte for byte, and loads.
void ExpectAsPlainWriter(const STree& root) {
    const Bytes doc = root.tag == 16 ? Document(static_cast<const ISerializable&>(root))
                                     : Document(static_cast<const ISerializableContainer&>(root));
    ASSERT_EQ(ToHex(doc), ToHex(CPlainWriter().Document(root)));
    EXPECT_NO_THROW(Load(doc));
}

TEST(BinaryOrder, TreesMatchThePlainWriter) {
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

// A pooled object writer repeats the kinds and names of the object it wrote before; elements
// that repeat, shorten, extend or leave that sequence (a kind, a name one letter shorter or
// longer, a nested class, a repeated name, a large object left halfway, the last value) follow
// one another here, with values of every kind before and after the point where they leave it.
TEST(BinaryOrder, ElementsLeavingTheLastOnesPatternMatchThePlainWriter) {
    auto value = [](std::string name, uint8_t tag, uint64_t bits) {
        STree v;
        v.name = std::move(name);
        v.tag = tag;
        v.bits = bits;
        v.text = "t" + std::to_string(bits);
        v.className = "C";
        return v;
    };
    STree base;
    base.tag = 16;
    base.className = "E";
    base.children = {value("ab", 7, 1),   value("c", 11, 2),  value("", 2, 3),
                     value("s", 12, 4),   value("n", 16, 5),  value("d", 7, 6),
                     value("w", 13, 7),   value("t", 14, 8),  value("b", 15, 9),
                     value("s2", 12, 10), value("k", 17, 11), value("r", 12, 12)};
    base.children[4].children = {value("x", 7, 9)};
    base.children[6].wide = L"w\u00E9\U0001F600";  // beyond the basic plane
    base.children[7].fileTime = 131000000000000000;
    base.children[10].children = {value("", 12, 13), value("", 12, 14)};
    std::vector<STree> variants(9, base);
    variants[1].children.resize(3);
    variants[2].children.push_back(value("e", 1, 7));
    variants[3].children[1].tag = 10;
    variants[4].children[0].name = "a";
    variants[5].children[0].name = "abc";
    variants[6].children[4].className = "D";
    variants[7].children.insert(variants[7].children.begin() + 2, value("ab", 7, 8));
    for (int i = 0; i < 40; ++i) variants[8].children.push_back(value(Key("v", i), 7, i));
    STree large = variants[8];
    large.children[26].name = "w";
    large.children.push_back(value("v3", 7, 10));
    variants.push_back(large);
    variants.push_back(base);  // leaves it at the last value
    variants.back().children.back().name = "q";
    variants.push_back(base);  // after the wide text
    variants.back().children[7].tag = 7;
    variants.push_back(base);  // with a wide text of the basic plane
    variants.back().children[6].wide = L"w\u00E9";
    STree root;
    root.tag = 17;
    for (const STree& first : variants) {
        for (const STree& second : variants) {
            root.children.push_back(first);
            root.children.push_back(second);
        }
    }
    ExpectAsPlainWriter(root);
}

// ---- Hostile documents -----------------------------------------------------------------------

TEST(BinaryHostile, ClaimedCountsDoNotDecideAllocations) {
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
        QvStreamReadBinaryBuffer stream(doc.data(), doc.size());
        g_largest = 0;
        g_watching = true;
        ReadAll(stream);
        g_watching = false;
        EXPECT_LT(g_largest.load(), size_t(1) << 20) << hex;
    }
}

}  // namespace
