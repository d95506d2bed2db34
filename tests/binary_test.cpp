// The binary writer and reader: exact document bytes, the order of names and entries (checked
// against the real keyed tables), round trips of every kind, the raising places, and damaged
// or hostile documents.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "logcapture.h"
#include "order_workload.h"

// ---- Allocation watch: the largest single allocation while a test looks -----------------------

namespace {
std::atomic<bool> g_watching{false};
std::atomic<size_t> g_largest{0};

void* CountedAllocate(size_t size) {
    if (g_watching.load(std::memory_order_relaxed)) {
        size_t seen = g_largest.load(std::memory_order_relaxed);
        while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
        }
    }
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(size_t size) { return CountedAllocate(size); }
void* operator new[](size_t size) { return CountedAllocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return CountedAllocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    try {
        return CountedAllocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

using Bytes = std::vector<unsigned char>;
using Tavrin::IContainerReader;
using Tavrin::IContainerWriter;
using Tavrin::IDataReader;
using Tavrin::IDataWriter;

// "00 0a ff" -> bytes
Bytes Hex(const char* text) {
    Bytes out;
    for (const char* p = text; *p;) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        unsigned value = 0;
        std::sscanf(p, "%2x", &value);
        out.push_back(static_cast<unsigned char>(value));
        p += 2;
    }
    return out;
}

// prefix followed by the number (built by appending: GCC 12 warns falsely on "k" + string)
std::string Key(const char* prefix, int number) {
    std::string key(prefix);
    key += std::to_string(number);
    return key;
}

std::string ToHex(const Bytes& bytes) {
    std::string s;
    char piece[4];
    for (unsigned char b : bytes) {
        std::snprintf(piece, sizeof piece, "%02x ", b);
        s += piece;
    }
    return s;
}

// An object or container whose behaviour is given by functions.
class CObject : public Tavrin::ISerializable {
public:
    std::string className = "T";
    std::function<void(IDataWriter&)> write;
    std::function<void(IDataReader&)> read;

    CObject() = default;
    explicit CObject(std::function<void(IDataWriter&)> w, std::string cls = "T")
        : className(std::move(cls)), write(std::move(w)) {}

    const char* GetClassName() const override { return className.c_str(); }
    void Write(IDataWriter& writer) const override {
        if (write) write(writer);
    }
    void Read(IDataReader& reader) override {
        if (read) read(reader);
    }
};

class CContainer : public Tavrin::ISerializableContainer {
public:
    std::string className = "L";
    std::function<void(IContainerWriter&)> write;
    std::function<void(IContainerReader&)> read;

    CContainer() = default;
    explicit CContainer(std::function<void(IContainerWriter&)> w, std::string cls = "L")
        : className(std::move(cls)), write(std::move(w)) {}

    const char* GetClassName() const override { return className.c_str(); }
    void Write(IContainerWriter& writer) const override {
        if (write) write(writer);
    }
    void Read(IContainerReader& reader) override {
        if (read) read(reader);
    }
};

template <class Root>
Bytes Document(const Root& root) {
    QvStreamWriteBinaryBuffer buffer;
    Tavrin::CWriterBinary writer(buffer);
    writer.Write(root);
    return Bytes(buffer.GetData(), buffer.GetData() + buffer.GetCount());
}

Bytes RichDocument();

std::unique_ptr<Tavrin::CReaderBinary> Load(const Bytes& bytes) {
    QvStreamReadBinaryBuffer stream(bytes.data(), bytes.size());
    return std::make_unique<Tavrin::CReaderBinary>(stream);
}

// Keeps exception log entries of many failing reads out of the test output.
class CQuietLog {
public:
    CQuietLog() : m_previous(Logging::SetSink(Logging::LogSink())) {}
    ~CQuietLog() { Logging::SetSink(std::move(m_previous)); }
    CQuietLog(const CQuietLog&) = delete;
    CQuietLog& operator=(const CQuietLog&) = delete;

private:
    Logging::LogSink m_previous;
};

template <class F>
void ExpectRaisedAt(F&& f, const char* file, unsigned line, const char* function) {
    try {
        f();
        ADD_FAILURE() << "nothing raised, expected " << function << " line " << line;
    } catch (const Tavrin::CException& e) {
        EXPECT_EQ(e.GetCodeLine(), line);
        EXPECT_STREQ(e.GetFunctionName(), function);
        const std::string name = e.GetFilename();
        EXPECT_TRUE(name.size() >= std::strlen(file) &&
                    name.compare(name.size() - std::strlen(file), std::string::npos, file) == 0)
            << name;
    }
}

constexpr const char* kWriterFile = "core/tavrin/src/cwriterbinary.cpp";
constexpr const char* kReaderFile = "core/tavrin/src/creaderbinary.cpp";

// ---- Document bytes --------------------------------------------------------------------------

TEST(BinaryLayout, SmallestDocuments) {
    EXPECT_EQ(ToHex(Document(CObject())), ToHex(Hex("00 00 00 00 10 00 00 00 00 00")));
    // ... which reads back as an object holding nothing.
    CObject empty;
    bool probed = false;
    empty.read = [&](IDataReader& r) {
        probed = true;
        EXPECT_EQ(r.GetNameCount(), 0u);
        int i = 5;
        std::string s = "keep";
        EXPECT_FALSE(r.Read("", i));
        EXPECT_FALSE(r.Read("a", s));
        EXPECT_EQ(r.Read("a").begin, nullptr);
        EXPECT_EQ(i, 5);
        EXPECT_EQ(s, "keep");
    };
    Load(Document(CObject()))->Read(empty);
    EXPECT_TRUE(probed);
    EXPECT_EQ(ToHex(Document(CContainer())),
              ToHex(Hex("00 00 00 00 11 00 00 00 00 00 00 00 00 00")));
    EXPECT_EQ(ToHex(Document(CObject([](IDataWriter& w) { w.Write("a", 1); }))),
              ToHex(Hex("00 00 00 00 10 01 00 00 00 01 00 00 00 61 00 00 00 00 "
                        "01 07 01 00 00 00 00 00 00 00 01 00 00 00")));
}

TEST(BinaryLayout, ContainerOfTwoObjectsOfOneClass) {
    CContainer root([](IContainerWriter& w) {
        w.Write(CObject([](IDataWriter& d) { d.Write("x", 1); }, "P"));
        w.Write(CObject([](IDataWriter& d) { d.Write("x", 2); }, "P"));
    });
    EXPECT_EQ(ToHex(Document(root)),
              ToHex(Hex("00 00 00 00 11 02 00 00 00 01 00 00 00 50 00 00 00 00 01 00 00 00 78 01 "
                        "00 00 00 10 02 00 00 00 01 00 00 00 00 00 00 00 00 01 07 01 00 00 00 01 "
                        "00 00 00 01 00 00 00 00 00 00 00 01 07 01 00 00 00 01 00 00 00 02 00 00 "
                        "00")));
}

TEST(BinaryLayout, NestedObjectAndContainerRecords) {
    // n gets 0, C gets 1; the table lists C (bucket 67) before n (bucket 110).
    CObject nested([](IDataWriter& w) { w.Write("n", CObject({}, "C")); });
    EXPECT_EQ(ToHex(Document(nested)),
              ToHex(Hex("00 00 00 00 10 02 00 00 00 01 00 00 00 43 01 00 00 00 01 00 00 00 6e 00 "
                        "00 00 00 01 10 01 00 00 00 00 00 00 00 01 00 00 00 00")));

    // A named container: its class name is in the table, its record carries none.
    CObject holder([](IDataWriter& w) {
        w.Write("k", CContainer([](IContainerWriter& c) { c.Write(true); }, "Q"));
    });
    EXPECT_EQ(ToHex(Document(holder)),
              ToHex(Hex("00 00 00 00 10 02 00 00 00 01 00 00 00 51 01 00 00 00 01 00 00 00 6b 00 "
                        "00 00 00 01 11 01 00 00 00 00 00 00 00 00 01 00 00 00 01")));
}

TEST(BinaryLayout, SectionsStandInTagOrderWithCharAfterDouble) {
    CObject o([](IDataWriter& w) {
        w.Write("s", std::string("hi"));
        w.Write("c", 'z');
        w.Write("d", 1.0);
        w.Write("b", false);
    });
    // Names: s 0, c 1, d 2, b 3; table order by bucket: b(98) c(99) d(100) s(115).
    EXPECT_EQ(ToHex(Document(o)),
              ToHex(Hex("00 00 00 00 10 04 00 00 00 "
                        "01 00 00 00 62 03 00 00 00 01 00 00 00 63 01 00 00 00 "
                        "01 00 00 00 64 02 00 00 00 01 00 00 00 73 00 00 00 00 "
                        "04 00 01 00 00 00 03 00 00 00 00 "
                        "0b 01 00 00 00 02 00 00 00 00 00 00 00 00 00 f0 3f "
                        "01 01 00 00 00 01 00 00 00 7a "
                        "0c 01 00 00 00 00 00 00 00 02 00 00 00 68 69")));
}

TEST(BinaryLayout, RepeatedNamesAndZeroBytes) {
    // The same name twice for one kind keeps the last value; another kind is another entry.
    CObject o([](IDataWriter& w) {
        w.Write("a", 1);
        w.Write("a", 2);
        w.Write("a", 2.0);
        w.Write("t", std::string("ab\0cd", 5));
    });
    EXPECT_EQ(ToHex(Document(o)),
              ToHex(Hex("00 00 00 00 10 02 00 00 00 01 00 00 00 61 00 00 00 00 01 00 00 00 74 01 "
                        "00 00 00 03 07 01 00 00 00 00 00 00 00 02 00 00 00 0b 01 00 00 00 00 00 "
                        "00 00 00 00 00 00 00 00 00 40 0c 01 00 00 00 01 00 00 00 02 00 00 00 61 "
                        "62")));

    // A nested object or container written again under its name replaces the first one; the
    // names that the first one asked for stay in the table. n 0, C 1, x 2, D 3, y 4, k 5, L 6,
    // M 7; the table lists them by bucket: C D L M k n x y.
    CObject replaced([](IDataWriter& w) {
        w.Write("n", CObject([](IDataWriter& d) { d.Write("x", 1); }, "C"));
        w.Write("n", CObject([](IDataWriter& d) { d.Write("y", 2); }, "D"));
        w.Write("k", CContainer([](IContainerWriter& c) { c.Write(1); }, "L"));
        w.Write("k", CContainer({}, "M"));
    });
    const Bytes doc = Document(replaced);
    EXPECT_EQ(ToHex(doc),
              ToHex(Hex("00 00 00 00 10 08 00 00 00 "
                        "01 00 00 00 43 01 00 00 00 01 00 00 00 44 03 00 00 00 "
                        "01 00 00 00 4c 06 00 00 00 01 00 00 00 4d 07 00 00 00 "
                        "01 00 00 00 6b 05 00 00 00 01 00 00 00 6e 00 00 00 00 "
                        "01 00 00 00 78 02 00 00 00 01 00 00 00 79 04 00 00 00 "
                        "02 10 01 00 00 00 00 00 00 00 03 00 00 00 01 07 01 00 00 00 04 00 00 00 "
                        "02 00 00 00 11 01 00 00 00 05 00 00 00 00 00 00 00 00")));
    CObject back;
    back.read = [](IDataReader& r) {
        EXPECT_EQ(r.GetNameCount(), 2u);
        int x = -1, y = -1, element = -1;
        CObject n;
        n.read = [&](IDataReader& d) {
            d.Read("x", x);
            d.Read("y", y);
        };
        EXPECT_TRUE(r.Read("n", n));
        CContainer k;
        bool seen = false;
        k.read = [&](IContainerReader& c) {
            seen = true;
            EXPECT_FALSE(c.Read(0, element));
        };
        EXPECT_TRUE(r.Read("k", k));
        EXPECT_TRUE(seen);
        EXPECT_EQ(x, -1);
        EXPECT_EQ(y, 2);
    };
    Load(doc)->Read(back);
}

TEST(BinaryLayout, ClassListOfObjectElements) {
    auto element = [](const char* cls) { return CObject({}, cls); };
    CContainer same([&](IContainerWriter& w) {
        for (int i = 0; i < 3; ++i) w.Write(element("A"));
    });
    EXPECT_EQ(ToHex(Document(same)),
              ToHex(Hex("00 00 00 00 11 01 00 00 00 01 00 00 00 41 00 00 00 00 "
                        "10 03 00 00 00 01 00 00 00 00 "  // tag, count, same class A
                        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00")));
    CContainer mixed([&](IContainerWriter& w) {
        w.Write(element("A"));
        w.Write(element("B"));
        w.Write(element("A"));
    });
    EXPECT_EQ(ToHex(Document(mixed)),
              ToHex(Hex("00 00 00 00 11 02 00 00 00 01 00 00 00 41 00 00 00 00 01 00 00 00 42 01 "
                        "00 00 00 10 03 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 "
                        "00 00 00 00 00 01 00 00 00 00 00 00 00 00 00")));
}

TEST(BinaryLayout, WideTextAsUtf16) {
    std::wstring text = L"a";
    text += static_cast<wchar_t>(0x1F600);  // beyond U+FFFF: a surrogate pair
    CContainer c([&](IContainerWriter& w) { w.Write(text); });
    EXPECT_EQ(ToHex(Document(c)),
              ToHex(Hex("00 00 00 00 11 00 00 00 00 0d 01 00 00 00 ff fe ff 03 61 00 3d d8 00 de")));
    // 255 units take the three-byte length.
    CContainer longer([](IContainerWriter& w) { w.Write(std::wstring(255, L'x')); });
    const Bytes doc = Document(longer);
    ASSERT_EQ(doc.size(), 14u + 6u + 510u);
    EXPECT_EQ(ToHex(Bytes(doc.begin() + 14, doc.begin() + 20)), ToHex(Hex("ff fe ff ff ff 00")));
}

TEST(BinaryLayout, SuccessiveWritesMakeIndependentDocuments) {
    QvStreamWriteBinaryBuffer buffer;
    Tavrin::CWriterBinary writer(buffer);
    writer.Write(CObject([](IDataWriter& w) { w.Write("a", 1); }));
    Tavrin::CWriterBinary copy(writer);
    copy.Write(CObject([](IDataWriter& w) {
        w.Write("b", 2);
        w.Write("a", 3);
    }));
    const Bytes first = Document(CObject([](IDataWriter& w) { w.Write("a", 1); }));
    ASSERT_GT(buffer.GetCount(), first.size());
    EXPECT_EQ(ToHex(Bytes(buffer.GetData(), buffer.GetData() + first.size())), ToHex(first));
    // The second starts again at identifier 0 (b).
    const Bytes second(buffer.GetData() + first.size(), buffer.GetData() + buffer.GetCount());
    EXPECT_EQ(ToHex(Bytes(second.begin(), second.begin() + 18)),
              ToHex(Hex("00 00 00 00 10 02 00 00 00 01 00 00 00 61 01 00 00 00")));

    // One stream holding both: each reader stops just behind its document.
    QvStreamReadBinaryBuffer stream(buffer.GetData(), buffer.GetCount());
    Tavrin::CReaderBinary one(stream);
    Tavrin::CReaderBinary two(stream);
    EXPECT_EQ(stream.GetRemaining(), 0u);
    int a = 0, b = 0;
    CObject probe;
    probe.read = [&](IDataReader& r) {
        r.Read("a", a);
        r.Read("b", b);
    };
    two.Read(probe);
    EXPECT_EQ(a, 3);
    EXPECT_EQ(b, 2);
}

// ---- Round trips -----------------------------------------------------------------------------

template <class T>
class CList : public Tavrin::ISerializableContainer {
public:
    std::vector<T> items;
    const char* GetClassName() const override { return "List"; }
    void Write(IContainerWriter& w) const override {
        for (const T& x : items) w.Write(x);
    }
    void Read(IContainerReader& r) override {
        for (unsigned int i = 0;; ++i) {
            T x{};
            if (!r.Read(i, x)) break;
            items.push_back(x);
        }
    }
};

struct SPoint : Tavrin::ISerializable {
    int x = 0;
    const char* GetClassName() const override { return "Point"; }
    void Write(IDataWriter& w) const override { w.Write("x", x); }
    void Read(IDataReader& r) override { r.Read("x", x); }
    bool operator==(const SPoint& o) const { return x == o.x; }
};

QvDateTime Date(unsigned short y, unsigned short mo, unsigned short d, unsigned short h,
                unsigned short mi, unsigned short s, unsigned short ms) {
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

bool SameDate(const Tavrin::IDateTime& a, const Tavrin::IDateTime& b) {
    return a.GetYear() == b.GetYear() && a.GetMonth() == b.GetMonth() && a.GetDay() == b.GetDay() &&
           a.GetHour() == b.GetHour() && a.GetMinute() == b.GetMinute() &&
           a.GetSecond() == b.GetSecond() && a.GetMilliseconds() == b.GetMilliseconds();
}

// One value of every kind, and the same name under three character kinds.
struct SAll : Tavrin::ISerializable {
    bool b = false;
    char c = 0;
    signed char sc = 0;
    unsigned char uc = 0;
    short i16 = 0;
    unsigned short u16 = 0;
    int i32 = 0;
    unsigned int u32 = 0;
    long long i64 = 0;
    unsigned long long u64 = 0;
    float f = 0;
    double d = 0;
    std::string s;
    std::wstring w;
    QvDateTime dt = Date(1601, 1, 1, 0, 0, 0, 0);
    Bytes blob;
    bool blobPresent = false;
    SPoint point;
    CList<int> ints;

    const char* GetClassName() const override { return "All"; }
    void Write(IDataWriter& wr) const override {
        wr.Write("b", b);
        wr.Write("ch", c);
        wr.Write("ch", sc);
        wr.Write("ch", uc);
        wr.Write("i16", i16);
        wr.Write("u16", u16);
        wr.Write("i32", i32);
        wr.Write("u32", u32);
        wr.Write("i64", i64);
        wr.Write("u64", u64);
        wr.Write("f", f);
        wr.Write("d", d);
        wr.Write("s", s);
        wr.Write("w", w);
        wr.Write("dt", dt);
        wr.Write("blob", blob.size(), blob.data());
        wr.Write("point", point);
        wr.Write("ints", ints);
    }
    void Read(IDataReader& r) override {
        r.Read("b", b);
        r.Read("ch", c);
        r.Read("ch", sc);
        r.Read("ch", uc);
        r.Read("i16", i16);
        r.Read("u16", u16);
        r.Read("i32", i32);
        r.Read("u32", u32);
        r.Read("i64", i64);
        r.Read("u64", u64);
        r.Read("f", f);
        r.Read("d", d);
        r.Read("s", s);
        r.Read("w", w);
        r.Read("dt", dt);
        const Tavrin::SBlobRange range = r.Read("blob");
        blobPresent = range.begin != nullptr;
        blob.assign(range.begin, range.end);
        r.Read("point", point);
        r.Read("ints", ints);
    }
};

TEST(BinaryRoundTrip, EveryKindInAnObject) {
    SAll in;
    in.b = true;
    in.c = 'A';
    in.sc = -5;
    in.uc = 200;
    in.i16 = -32768;
    in.u16 = 65535;
    in.i32 = -123456789;
    in.u32 = 4000000000u;
    in.i64 = -9000000000000000000ll;
    in.u64 = 18000000000000000000ull;
    in.f = 1.25f;
    in.d = -0.1;
    in.s = "caf\xC3\xA9";
    in.w = L"Stra\u00DFe \u4E2D";
    in.w += static_cast<wchar_t>(0x10348);
    in.dt = Date(2024, 2, 29, 23, 59, 58, 999);
    in.blob = {0, 1, 2, 255};
    in.point.x = 42;
    in.ints.items = {3, 1, 2};

    const Bytes doc = Document(in);
    auto reader = Load(doc);
    SAll out;
    reader->Read(out);
    EXPECT_EQ(out.b, in.b);
    EXPECT_EQ(out.c, 'A');
    EXPECT_EQ(out.sc, -5);
    EXPECT_EQ(out.uc, 200);
    EXPECT_EQ(out.i16, in.i16);
    EXPECT_EQ(out.u16, in.u16);
    EXPECT_EQ(out.i32, in.i32);
    EXPECT_EQ(out.u32, in.u32);
    EXPECT_EQ(out.i64, in.i64);
    EXPECT_EQ(out.u64, in.u64);
    EXPECT_EQ(out.f, in.f);
    EXPECT_EQ(out.d, in.d);
    EXPECT_EQ(out.s, in.s);
    EXPECT_EQ(out.w, in.w);
    EXPECT_TRUE(SameDate(out.dt, in.dt));
    EXPECT_EQ(out.blob, in.blob);
    EXPECT_EQ(out.point.x, 42);
    EXPECT_EQ(out.ints.items, in.ints.items);

    // Read may be called again; a zero-byte blob is present with equal ends.
    SAll empty;
    empty.blob.clear();
    auto reader2 = Load(Document(empty));
    SAll again;
    again.blob = {9};
    reader2->Read(again);
    EXPECT_TRUE(again.blobPresent);
    EXPECT_TRUE(again.blob.empty());
    SAll third;
    reader->Read(third);
    EXPECT_EQ(third.w, in.w);
}

TEST(BinaryRoundTrip, KindsAreKeptApart) {
    CObject o([](IDataWriter& w) {
        w.Write("a", 1);
        w.Write("a", 2.5);
        w.Write("z", true);
        w.Write("c", 'x');
        w.Write("sc", static_cast<signed char>(120));
    });
    auto reader = Load(Document(o));
    CObject probe;
    probe.read = [](IDataReader& r) {
        int i = 0;
        double d = 0;
        long long ll = 77;
        unsigned int u = 77;
        float f = 7;
        EXPECT_TRUE(r.Read("a", i));
        EXPECT_EQ(i, 1);
        EXPECT_TRUE(r.Read("a", d));
        EXPECT_EQ(d, 2.5);
        EXPECT_FALSE(r.Read("a", ll));
        EXPECT_FALSE(r.Read("a", u));
        EXPECT_FALSE(r.Read("a", f));
        EXPECT_EQ(ll, 77);
        EXPECT_EQ(u, 77u);
        EXPECT_FALSE(r.Read("A", i));  // letter case matters
        char c = 0;
        signed char sc = 0;
        unsigned char uc = 9;
        EXPECT_TRUE(r.Read("c", c));
        EXPECT_FALSE(r.Read("c", sc));
        EXPECT_FALSE(r.Read("c", uc));
        EXPECT_TRUE(r.Read("sc", sc));
        EXPECT_FALSE(r.Read("sc", c));
        EXPECT_EQ(c, 'x');
        EXPECT_EQ(sc, 120);
        EXPECT_EQ(uc, 9);
        const Tavrin::SBlobRange none = r.Read("missing");
        EXPECT_EQ(none.begin, nullptr);
        EXPECT_EQ(none.end, nullptr);

        // Names in section order: bool z, int a, double a, char c, signed char sc.
        ASSERT_EQ(r.GetNameCount(), 5u);
        EXPECT_STREQ(r.GetName(0), "z");
        EXPECT_STREQ(r.GetName(1), "sc");
        EXPECT_STREQ(r.GetName(2), "a");
        EXPECT_STREQ(r.GetName(3), "a");
        EXPECT_STREQ(r.GetName(4), "c");
    };
    reader->Read(probe);
}

TEST(BinaryRoundTrip, ContainersOfEveryKind) {
    CList<bool> bools;
    bools.items = {true, false, true};
    CList<char> chars;
    chars.items = {'a', '\0', 'z'};
    CList<signed char> schars;
    schars.items = {-128, 127};
    CList<unsigned char> uchars;
    uchars.items = {0, 255};
    CList<short> shorts;
    shorts.items = {-1, 2};
    CList<unsigned short> ushorts;
    ushorts.items = {65535};
    CList<int> ints;
    ints.items = {-7, 0, 7};
    CList<unsigned int> uints;
    uints.items = {0xFFFFFFFFu};
    CList<long long> llongs;
    llongs.items = {-1ll << 62};
    CList<unsigned long long> ullongs;
    ullongs.items = {~0ull};
    CList<float> floats;
    floats.items = {0.5f, -1e30f};
    CList<double> doubles;
    doubles.items = {1, 2, 3, 4, 5};
    CList<std::string> strings;
    strings.items = {"", "one", std::string(300, 'q')};
    CList<std::wstring> wides;
    wides.items = {L"", L"\u00E9t\u00E9", std::wstring(70000, L'w')};
    CList<QvDateTime> dates;
    dates.items = {Date(2020, 1, 1, 0, 0, 0, 1), Date(2030, 12, 31, 23, 59, 59, 0)};
    CList<SPoint> points;
    points.items.resize(3);
    points.items[2].x = 9;
    CList<CList<int>> nested;
    nested.items.resize(2);
    nested.items[1].items = {4, 5};

    auto roundTrip = [](const auto& list) {
        std::decay_t<decltype(list)> out;
        Load(Document(list))->Read(out);
        return out;
    };
    EXPECT_EQ(roundTrip(bools).items, bools.items);
    EXPECT_EQ(roundTrip(chars).items, chars.items);
    EXPECT_EQ(roundTrip(schars).items, schars.items);
    EXPECT_EQ(roundTrip(uchars).items, uchars.items);
    EXPECT_EQ(roundTrip(shorts).items, shorts.items);
    EXPECT_EQ(roundTrip(ushorts).items, ushorts.items);
    EXPECT_EQ(roundTrip(ints).items, ints.items);
    EXPECT_EQ(roundTrip(uints).items, uints.items);
    EXPECT_EQ(roundTrip(llongs).items, llongs.items);
    EXPECT_EQ(roundTrip(ullongs).items, ullongs.items);
    EXPECT_EQ(roundTrip(floats).items, floats.items);
    EXPECT_EQ(roundTrip(doubles).items, doubles.items);
    EXPECT_EQ(roundTrip(strings).items, strings.items);
    EXPECT_EQ(roundTrip(wides).items, wides.items);
    const auto dateOut = roundTrip(dates);
    ASSERT_EQ(dateOut.items.size(), 2u);
    EXPECT_TRUE(SameDate(dateOut.items[0], dates.items[0]));
    EXPECT_TRUE(SameDate(dateOut.items[1], dates.items[1]));
    EXPECT_EQ(roundTrip(points).items, points.items);
    const auto nestedOut = roundTrip(nested);
    ASSERT_EQ(nestedOut.items.size(), 2u);
    EXPECT_TRUE(nestedOut.items[0].items.empty());
    EXPECT_EQ(nestedOut.items[1].items, nested.items[1].items);

    // Only the element kind answers; past the end nothing does.
    auto reader = Load(Document(doubles));
    CContainer probe;
    probe.read = [](IContainerReader& r) {
        double d = 0;
        float f = 3;
        for (unsigned i = 0; i < 5; ++i) EXPECT_TRUE(r.Read(i, d));
        EXPECT_FALSE(r.Read(5, d));
        EXPECT_FALSE(r.Read(0, f));
        EXPECT_EQ(f, 3);
        EXPECT_EQ(r.Read(0).begin, nullptr);
    };
    reader->Read(probe);
}

TEST(BinaryRoundTrip, BlobElementsReadByIndex) {
    CContainer blobs([](IContainerWriter& w) {
        const unsigned char bytes[] = {1, 2, 3};
        w.Write(sizeof bytes, bytes);
        w.Write(0, nullptr);
    });
    auto reader = Load(Document(blobs));
    CContainer probe;
    probe.read = [](IContainerReader& r) {
        const Tavrin::SBlobRange first = r.Read(0u);
        ASSERT_NE(first.begin, nullptr);
        EXPECT_EQ(Bytes(first.begin, first.end), (Bytes{1, 2, 3}));
        const Tavrin::SBlobRange empty = r.Read(1u);
        EXPECT_NE(empty.begin, nullptr);
        EXPECT_EQ(empty.begin, empty.end);
        const Tavrin::SBlobRange past = r.Read(2u);
        EXPECT_EQ(past.begin, nullptr);
        EXPECT_EQ(past.end, nullptr);
    };
    reader->Read(probe);
}

// An object holding `depth - 1` more levels below it, each under the name "n".
struct SChain : Tavrin::ISerializable {
    int depth = 0;
    int found = 0;
    const char* GetClassName() const override { return "Chain"; }
    void Write(IDataWriter& w) const override {
        w.Write("level", depth);
        if (depth > 1) {
            SChain next;
            next.depth = depth - 1;
            w.Write("n", next);
        }
    }
    void Read(IDataReader& r) override {
        r.Read("level", found);
        SChain next;
        if (r.Read("n", next)) found += next.found;
    }
};

TEST(BinaryRoundTrip, DeepNestingUpToTheLimit) {
    for (int depth : {10, 1000}) {
        SChain chain;
        chain.depth = depth;
        SChain out;
        Load(Document(chain))->Read(out);
        EXPECT_EQ(out.found, depth * (depth + 1) / 2);
    }
    SChain tooDeep;
    tooDeep.depth = 1001;
    const Bytes doc = Document(tooDeep);
    ExpectRaisedAt([&] { Load(doc); }, kReaderFile, 380, "Tavrin::CDataReader::Read");

    // Containers nested 1001 deep, written by hand: each level one container element.
    Bytes nested = Hex("00 00 00 00 11 00 00 00 00");
    for (int i = 0; i < 1000; ++i) {
        const Bytes level = Hex("11 01 00 00 00");
        nested.insert(nested.end(), level.begin(), level.end());
    }
    nested.insert(nested.end(), {0, 0, 0, 0, 0});
    ExpectRaisedAt([&] { Load(nested); }, kReaderFile, 614, "Tavrin::CContainerReader::Read");
    nested.erase(nested.begin() + 9, nested.begin() + 14);  // 1000 levels
    EXPECT_NO_THROW(Load(nested));
}

TEST(BinaryRoundTrip, Orders) {
    const TavrinBench::Orders orders = TavrinBench::MakeOrders(300);
    const Bytes doc = Document(orders);
    TavrinBench::Orders back;
    Load(doc)->Read(back);
    ASSERT_EQ(back.items.size(), 300u);
    EXPECT_EQ(TavrinBench::CountMismatches(orders, back), 0u);
    // The same document again, byte for byte.
    EXPECT_EQ(doc, Document(orders));
}

// A read stream that implements only ReadBytes: the reader must rely on nothing else. It also
// notes calls of the read operations that the reader has no use for.
class CPlainStream : public QvStreamReadBinary {
public:
    explicit CPlainStream(const Bytes& bytes) : m_bytes(bytes) {}
    uint64_t ReadBytes(void* data, uint64_t count) override {
        const size_t take = static_cast<size_t>(std::min<uint64_t>(count, m_bytes.size() - m_at));
        if (take) std::memcpy(data, m_bytes.data() + m_at, take);
        m_at += take;
        return take + (count == claimOneMoreFor ? 1 : 0);
    }
    void ReadLong(int32_t& value) override {
        ++unexpectedCalls;
        QvStreamReadBinary::ReadLong(value);
    }
    void ReadULong(uint32_t& value) override {
        ++unexpectedCalls;
        QvStreamReadBinary::ReadULong(value);
    }
    void ReadStringW(QvStringW& value) override {
        ++unexpectedCalls;
        QvStreamReadBinary::ReadStringW(value);
    }

    int unexpectedCalls = 0;
    uint64_t claimOneMoreFor = 0;  // a count for which ReadBytes reports one byte more

private:
    const Bytes& m_bytes;
    size_t m_at = 0;
};

TEST(BinaryRoundTrip, AnyReadStream) {
    const TavrinBench::Orders orders = TavrinBench::MakeOrders(20);
    const Bytes doc = Document(orders);
    CPlainStream stream(doc);
    Tavrin::CReaderBinary reader(stream);
    TavrinBench::Orders back;
    reader.Read(back);
    ASSERT_EQ(back.items.size(), 20u);
    EXPECT_EQ(TavrinBench::CountMismatches(orders, back), 0u);

    const Bytes rich = RichDocument();
    CPlainStream richStream(rich);
    Tavrin::CReaderBinary richReader(richStream);
    EXPECT_EQ(stream.unexpectedCalls + richStream.unexpectedCalls, 0);

    // A named blob for which the stream reports more bytes than were asked for is refused as
    // one that reports fewer.
    const Bytes blob = Hex("00 00 00 00 10 01 00 00 00 01 00 00 00 62 00 00 00 00 "
                           "01 0f 01 00 00 00 00 00 00 00 03 00 00 00 aa bb cc");
    CPlainStream claiming(blob);
    claiming.claimOneMoreFor = 3;
    ExpectRaisedAt([&] { Tavrin::CReaderBinary r(claiming); }, kReaderFile, 476,
                   "Tavrin::CDataReader::readBlobs");
}

TEST(BinaryRoundTrip, ManyValuesInOneObject) {
    // Large objects are looked up through an index; the last value of a name still wins.
    CObject o([](IDataWriter& w) {
        for (int i = 0; i < 500; ++i) w.Write(Key("k", i).c_str(), i);
        w.Write("k7", 700);
        for (int i = 0; i < 50; ++i) w.Write(Key("k", i).c_str(), i * 0.5);
    });
    auto reader = Load(Document(o));
    CObject probe;
    probe.read = [](IDataReader& r) {
        EXPECT_EQ(r.GetNameCount(), 550u);
        int v = -1;
        double d = -1;
        for (int i = 0; i < 500; ++i) {
            ASSERT_TRUE(r.Read(Key("k", i).c_str(), v));
            EXPECT_EQ(v, i == 7 ? 700 : i);
        }
        EXPECT_TRUE(r.Read("k49", d));
        EXPECT_EQ(d, 24.5);
        EXPECT_FALSE(r.Read("k50", d));
        EXPECT_FALSE(r.Read("k500", v));
    };
    reader->Read(probe);
}

// ---- Order of names and entries, against a writer built the plain way --------------------------

// A writer that follows the document's definition step by step with the library's own keyed
// tables and buffer stream: one table per kind and object, the nested writers kept in them, the
// elements of a container encoded into a buffer as they arrive.
struct SRefValue {
    Bytes bytes;  // the encoded value (tags 0 to 15)
    unsigned int classId = 0;
    std::shared_ptr<class CRefDataWriter> object;
    std::shared_ptr<class CRefContainerWriter> container;
};

class CRefNames {
public:
    unsigned int Id(const char* text) {
        bool added = false;
        auto* a = m_table.GetOrAddAssociation(QvStringA(text), &added);
        if (added) a->value = m_table.GetCount() - 1;
        return a->value;
    }
    const QvMapEx<QvStringA, unsigned int>& Table() const { return m_table; }

private:
    QvMapEx<QvStringA, unsigned int> m_table;
};

template <class F>
Bytes Encoded(F&& write) {
    QvStreamWriteBinaryBuffer buffer;
    write(buffer);
    return Bytes(buffer.GetData(), buffer.GetData() + buffer.GetCount());
}

class CRefDataWriter : public IDataWriter {
public:
    explicit CRefDataWriter(CRefNames& names) : m_names(names) {}

    void Write(const char* n, size_t size, const void* data) override {
        Store(15, n, Encoded([&](QvStreamWriteBinary& s) {
                  s.WriteUInt32(static_cast<uint32_t>(size));
                  s.WriteBytes(data, size);
              }));
    }
    void Write(const char* n, const Tavrin::ISerializableContainer& value) override;
    void Write(const char* n, const Tavrin::ISerializable& value) override {
        const unsigned int id = m_names.Id(n);
        const unsigned int classId = m_names.Id(value.GetClassName());
        SRefValue& v = m_tables[16].GetOrAdd(id);
        v.classId = classId;
        v.object = std::make_shared<CRefDataWriter>(m_names);
        value.Write(*v.object);
    }
    void Write(const char* n, const Tavrin::IDateTime& value) override {
        Store(14, n, Encoded([&](QvStreamWriteBinary& s) { QvDateTime(value).WriteToStream(s); }));
    }
    void Write(const char* n, const std::wstring& value) override {
        Store(13, n, Encoded([&](QvStreamWriteBinary& s) { s.WriteStdWString(value); }));
    }
    void Write(const char* n, const std::string& value) override {
        Store(12, n, Encoded([&](QvStreamWriteBinary& s) { s.WriteStdString(value); }));
    }
    void Write(const char* n, char v) override {
        Store(1, n, Encoded([&](auto& s) { s.WriteChar(v); }));
    }
    void Write(const char* n, double v) override {
        Store(11, n, Encoded([&](auto& s) { s.WriteDouble(v); }));
    }
    void Write(const char* n, float v) override {
        Store(10, n, Encoded([&](auto& s) { s.WriteFloat(v); }));
    }
    void Write(const char* n, long long v) override {
        Store(9, n, Encoded([&](auto& s) { s.WriteInt64(v); }));
    }
    void Write(const char* n, unsigned long long v) override {
        Store(8, n, Encoded([&](auto& s) { s.WriteUInt64(v); }));
    }
    void Write(const char* n, int v) override {
        Store(7, n, Encoded([&](auto& s) { s.WriteInt32(v); }));
    }
    void Write(const char* n, unsigned int v) override {
        Store(6, n, Encoded([&](auto& s) { s.WriteUInt32(v); }));
    }
    void Write(const char* n, short v) override {
        Store(5, n, Encoded([&](auto& s) { s.WriteInt16(v); }));
    }
    void Write(const char* n, unsigned short v) override {
        Store(4, n, Encoded([&](auto& s) { s.WriteUInt16(v); }));
    }
    void Write(const char* n, signed char v) override {
        Store(3, n, Encoded([&](auto& s) { s.WriteInt8(v); }));
    }
    void Write(const char* n, unsigned char v) override {
        Store(2, n, Encoded([&](auto& s) { s.WriteUInt8(v); }));
    }
    void Write(const char* n, bool v) override {
        Store(0, n, Encoded([&](auto& s) { s.WriteBool(v); }));
    }

    void WriteRecord(QvStreamWriteBinary& s) const;

private:
    void Store(int tag, const char* n, Bytes bytes) {
        m_tables[tag].GetOrAdd(m_names.Id(n)).bytes = std::move(bytes);
    }

    CRefNames& m_names;
    QvMapEx<unsigned int, SRefValue> m_tables[18];
};

class CRefContainerWriter : public IContainerWriter {
public:
    explicit CRefContainerWriter(CRefNames& names) : m_names(names) {}

    void Write(size_t size, const void* data) override {
        Element(15).WriteUInt32(static_cast<uint32_t>(size));
        m_buffer.WriteBytes(data, size);
    }
    void Write(const Tavrin::ISerializableContainer& value) override {
        Element(17);
        CRefContainerWriter element(m_names);
        value.Write(element);
        element.WriteRecord(m_buffer);
    }
    void Write(const Tavrin::ISerializable& value) override {
        Element(16);
        const unsigned int classId = m_names.Id(value.GetClassName());
        m_classIds.push_back(classId);
        m_buffer.WriteUInt32(classId);
        CRefDataWriter element(m_names);
        value.Write(element);
        element.WriteRecord(m_buffer);
    }
    void Write(const Tavrin::IDateTime& value) override { QvDateTime(value).WriteToStream(Element(14)); }
    void Write(const std::wstring& value) override { Element(13).WriteStdWString(value); }
    void Write(const std::string& value) override { Element(12).WriteStdString(value); }
    void Write(char v) override { Element(1).WriteChar(v); }
    void Write(double v) override { Element(11).WriteDouble(v); }
    void Write(float v) override { Element(10).WriteFloat(v); }
    void Write(long long v) override { Element(9).WriteInt64(v); }
    void Write(unsigned long long v) override { Element(8).WriteUInt64(v); }
    void Write(int v) override { Element(7).WriteInt32(v); }
    void Write(unsigned int v) override { Element(6).WriteUInt32(v); }
    void Write(short v) override { Element(5).WriteInt16(v); }
    void Write(unsigned short v) override { Element(4).WriteUInt16(v); }
    void Write(signed char v) override { Element(3).WriteInt8(v); }
    void Write(unsigned char v) override { Element(2).WriteUInt8(v); }
    void Write(bool v) override { Element(0).WriteBool(v); }

    void WriteRecord(QvStreamWriteBinary& s) const {
        s.WriteUInt8(m_tag);
        s.WriteUInt32(m_count);
        if (m_count == 0) return;
        if (m_tag == 16) {
            bool same = true;
            for (unsigned int id : m_classIds) same = same && id == m_classIds[0];
            s.WriteBool(same);
            if (same) {
                s.WriteUInt32(m_classIds[0]);
            } else {
                for (unsigned int id : m_classIds) s.WriteUInt32(id);
            }
        }
        s.WriteBytes(m_buffer.GetData(), m_buffer.GetCount());
    }

private:
    // Counted before the element is encoded; the generated trees never fail.
    QvStreamWriteBinary& Element(uint8_t tag) {
        m_tag = tag;
        ++m_count;
        return m_buffer;
    }

    CRefNames& m_names;
    std::vector<unsigned int> m_classIds;
    uint8_t m_tag = 0;
    uint32_t m_count = 0;
    QvStreamWriteBinaryBuffer m_buffer;
};

void CRefDataWriter::Write(const char* n, const Tavrin::ISerializableContainer& value) {
    const unsigned int id = m_names.Id(n);
    m_names.Id(value.GetClassName());
    SRefValue& v = m_tables[17].GetOrAdd(id);
    v.container = std::make_shared<CRefContainerWriter>(m_names);
    value.Write(*v.container);
}

void CRefDataWriter::WriteRecord(QvStreamWriteBinary& s) const {
    static const int kOrder[] = {0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 1, 12, 13, 14, 15, 16, 17};
    uint8_t sections = 0;
    for (const auto& table : m_tables) sections += table.IsEmpty() ? 0 : 1;
    s.WriteUInt8(sections);
    for (int tag : kOrder) {
        const auto& table = m_tables[tag];
        if (table.IsEmpty()) continue;
        s.WriteUInt8(static_cast<uint8_t>(tag));
        s.WriteUInt32(table.GetCount());
        for (const auto& a : table) {
            s.WriteUInt32(a.key);
            if (tag == 16) {
                s.WriteUInt32(a.value.classId);
                a.value.object->WriteRecord(s);
            } else if (tag == 17) {
                a.value.container->WriteRecord(s);
            } else {
                s.WriteBytes(a.value.bytes.data(), a.value.bytes.size());
            }
        }
    }
}

template <class Root>
Bytes ReferenceTreeDocument(const Root& root) {
    CRefNames names;
    constexpr bool kObject = std::is_base_of_v<Tavrin::ISerializable, Root>;
    std::conditional_t<kObject, CRefDataWriter, CRefContainerWriter> writer(names);
    root.Write(writer);
    QvStreamWriteBinaryBuffer out;
    out.WriteVersion(0);
    out.WriteUInt8(kObject ? 16 : 17);
    out.WriteUInt32(names.Table().GetCount());
    for (const auto& a : names.Table()) {
        out.WriteStringA(a.key);
        out.WriteUInt32(a.value);
    }
    writer.WriteRecord(out);
    return Bytes(out.GetData(), out.GetData() + out.GetCount());
}

// A random tree of objects and containers, described as data so that it can be written to
// both writers.
struct STreeList;
struct STreeValue {
    std::string name;
    uint8_t tag = 0;
    uint64_t bits = 0;  // scalars
    std::string text;
    std::wstring wide;
    Bytes blob;
    QvDateTime date;
    std::string className;
    std::shared_ptr<struct STreeNode> object;
    std::shared_ptr<STreeList> list;
};
struct STreeNode {
    std::vector<STreeValue> values;
};
struct STreeList {
    uint8_t tag = 0;
    std::vector<STreeValue> elements;
};

class CTreeObject;
class CTreeContainer;

// Hands one value to a data writer (with its name) or a container writer.
template <class W, class... Name>
void EmitValue(W& w, const STreeValue& v, Name... name);

class CTreeObject : public Tavrin::ISerializable {
public:
    CTreeObject(const STreeNode& node, std::string className)
        : m_node(node), m_class(std::move(className)) {}
    const char* GetClassName() const override { return m_class.c_str(); }
    void Write(IDataWriter& w) const override {
        for (const STreeValue& v : m_node.values) EmitValue(w, v, v.name.c_str());
    }
    void Read(IDataReader&) override {}

private:
    const STreeNode& m_node;
    std::string m_class;
};

class CTreeContainer : public Tavrin::ISerializableContainer {
public:
    CTreeContainer(const STreeList& list, std::string className)
        : m_list(list), m_class(std::move(className)) {}
    const char* GetClassName() const override { return m_class.c_str(); }
    void Write(IContainerWriter& w) const override {
        for (const STreeValue& v : m_list.elements) EmitValue(w, v);
    }
    void Read(IContainerReader&) override {}

private:
    const STreeList& m_list;
    std::string m_class;
};

template <class T>
T Bits(const STreeValue& v) {
    T value;
    std::memcpy(&value, &v.bits, sizeof(T));
    return value;
}

template <class W, class... Name>
void EmitValue(W& w, const STreeValue& v, Name... name) {
    switch (v.tag) {
        case 0: w.Write(name..., (v.bits & 1) != 0); break;
        case 1: w.Write(name..., Bits<char>(v)); break;
        case 2: w.Write(name..., Bits<unsigned char>(v)); break;
        case 3: w.Write(name..., Bits<signed char>(v)); break;
        case 4: w.Write(name..., Bits<unsigned short>(v)); break;
        case 5: w.Write(name..., Bits<short>(v)); break;
        case 6: w.Write(name..., Bits<unsigned int>(v)); break;
        case 7: w.Write(name..., Bits<int>(v)); break;
        case 8: w.Write(name..., Bits<unsigned long long>(v)); break;
        case 9: w.Write(name..., Bits<long long>(v)); break;
        case 10: w.Write(name..., Bits<float>(v)); break;
        case 11: w.Write(name..., Bits<double>(v)); break;
        case 12: w.Write(name..., v.text); break;
        case 13: w.Write(name..., v.wide); break;
        case 14: w.Write(name..., static_cast<const Tavrin::IDateTime&>(v.date)); break;
        case 15: w.Write(name..., v.blob.size(), static_cast<const void*>(v.blob.data())); break;
        case 16:
            w.Write(name...,
                    static_cast<const Tavrin::ISerializable&>(CTreeObject(*v.object, v.className)));
            break;
        default:
            w.Write(name..., static_cast<const Tavrin::ISerializableContainer&>(
                                 CTreeContainer(*v.list, v.className)));
            break;
    }
}

class CTreeGenerator {
public:
    explicit CTreeGenerator(uint64_t seed) : m_random(seed) {
        for (int i = 0; i < 30; ++i) m_names.push_back(m_random.Letters(0, 4) + (i % 3 ? "" : "\xC3\xA9"));
    }

    std::shared_ptr<STreeNode> Node(int depth) {
        auto node = std::make_shared<STreeNode>();
        // Now and then an object large enough to make its tables and the name table grow.
        const bool large = m_random.Between(0, 9) == 0;
        const uint64_t count = large ? m_random.Between(100, 260) : m_random.Between(0, 12);
        for (uint64_t i = 0; i < count; ++i) {
            STreeValue v = Value(depth, large ? 7 : Tag(depth));
            v.name = large && i % 2 ? Key("big", static_cast<int>(m_random.Between(0, 400)))
                                    : m_names[m_random.Between(0, m_names.size() - 1)];
            node->values.push_back(std::move(v));
        }
        return node;
    }

    std::shared_ptr<STreeList> List(int depth) {
        auto list = std::make_shared<STreeList>();
        list->tag = Tag(depth);
        const uint64_t count = m_random.Between(0, 6);
        for (uint64_t i = 0; i < count; ++i) list->elements.push_back(Value(depth, list->tag));
        return list;
    }

private:
    uint8_t Tag(int depth) { return static_cast<uint8_t>(m_random.Between(0, depth < 3 ? 17 : 15)); }

    STreeValue Value(int depth, uint8_t tag) {
        static const char* const kClasses[] = {"A", "B", "Kl\xC3\xA4sse", ""};
        STreeValue v;
        v.tag = tag;
        v.bits = m_random.Next();
        if (tag == 10) v.bits &= ~(uint64_t(0xFF) << 23);  // no NaN
        if (tag == 11) v.bits &= ~(uint64_t(0x7FF) << 52);
        v.text = m_random.Letters(0, 8);
        if (m_random.Between(0, 5) == 0) v.text += std::string("\0tail", 5);
        v.wide = m_random.Note(0, 8);
        if (m_random.Between(0, 5) == 0) v.wide += static_cast<wchar_t>(0x1F600);
        v.blob.resize(m_random.Between(0, 9));
        for (unsigned char& b : v.blob) b = static_cast<unsigned char>(m_random.Next());
        v.date = Date(static_cast<unsigned short>(m_random.Between(1601, 2400)),
                      static_cast<unsigned short>(m_random.Between(1, 12)),
                      static_cast<unsigned short>(m_random.Between(1, 28)),
                      static_cast<unsigned short>(m_random.Between(0, 23)),
                      static_cast<unsigned short>(m_random.Between(0, 59)),
                      static_cast<unsigned short>(m_random.Between(0, 59)),
                      static_cast<unsigned short>(m_random.Between(0, 999)));
        v.className = kClasses[m_random.Between(0, 3)];
        if (tag == 16) v.object = Node(depth + 1);
        if (tag == 17) v.list = List(depth + 1);
        return v;
    }

    TavrinBench::CGenerator m_random;
    std::vector<std::string> m_names;
};

TEST(BinaryOrder, RandomTreesMatchThePlainWriter) {
    // Nested objects and containers of every kind, repeated and replaced names, names and
    // classes with bytes above 0x7F: the identifiers, the name table, every section and record
    // must come out as the plain writer makes them, and the reader must take the document.
    auto check = [](const auto& root) {
        const Bytes doc = Document(root);
        ASSERT_EQ(ToHex(doc), ToHex(ReferenceTreeDocument(root)));
        EXPECT_NO_THROW(Load(doc));
    };
    for (uint64_t seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE(seed);
        CTreeGenerator generator(seed);
        if (seed % 4 == 0) {
            check(CTreeContainer(*generator.List(1), "Root"));
        } else {
            check(CTreeObject(*generator.Node(1), "Root"));
        }
    }
}

// Flat objects of a few kinds, for many names of one kind.
struct SWrite {
    std::string name;
    char kind;  // 'i' int, 'd' double, 'c' char, 'b' bool
    int value;
};

CObject Replay(const std::vector<SWrite>& writes) {
    return CObject([writes](IDataWriter& w) {
        for (const SWrite& s : writes) {
            switch (s.kind) {
                case 'i': w.Write(s.name.c_str(), s.value); break;
                case 'd': w.Write(s.name.c_str(), s.value + 0.5); break;
                case 'c': w.Write(s.name.c_str(), static_cast<char>(s.value)); break;
                default: w.Write(s.name.c_str(), (s.value & 1) != 0); break;
            }
        }
    });
}

TEST(BinaryOrder, ManyNamesAndValuesOfOneKindFollowTheGrowingTables) {
    // 200 names and 200 ints: both tables grow twice (at 96 and 192 entries).
    std::vector<SWrite> writes;
    for (int i = 0; i < 200; ++i) writes.push_back({Key("v", i), 'i', i});
    EXPECT_EQ(ToHex(Document(Replay(writes))), ToHex(ReferenceTreeDocument(Replay(writes))));

    // Exactly 95 and 96 entries: the boundary of the first growth.
    for (int n : {95, 96, 97}) {
        std::vector<SWrite> w(writes.begin(), writes.begin() + n);
        EXPECT_EQ(ToHex(Document(Replay(w))), ToHex(ReferenceTreeDocument(Replay(w)))) << n;
    }
}

TEST(BinaryOrder, RandomObjectsMatchTheReference) {
    for (uint64_t seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(seed);
        TavrinBench::CGenerator random(seed);
        std::vector<std::string> pool;
        for (int i = 0; i < 300; ++i) pool.push_back(random.Letters(1, 6) + "\xE9");
        std::vector<SWrite> writes;
        const uint64_t count = random.Between(50, 900);
        for (uint64_t i = 0; i < count; ++i) {
            static const char kKinds[] = {'i', 'd', 'c', 'b'};
            writes.push_back({pool[random.Between(0, 299)], kKinds[random.Between(0, 3)],
                              static_cast<int>(random.Between(0, 100000))});
        }
        EXPECT_EQ(ToHex(Document(Replay(writes))), ToHex(ReferenceTreeDocument(Replay(writes))));
    }
}

// ---- Raising places and failures passing through ---------------------------------------------

TEST(BinaryWriterFailures, SecondElementKindIsRefusedBeforeAnythingHappens) {
    struct SCase {
        std::function<void(IContainerWriter&)> second;
        unsigned line;
        const char* function;
    };
    bool touched = false;
    CObject element([&](IDataWriter&) { touched = true; }, "E");
    CContainer inner;
    inner.write = [&](IContainerWriter&) { touched = true; };
    const std::vector<SCase> cases = {
        {[](IContainerWriter& w) { w.Write(7); }, 199, "Tavrin::CContainerWriterBinary::write"},
        {[](IContainerWriter& w) { w.Write(std::string("x")); }, 199,
         "Tavrin::CContainerWriterBinary::write"},
        {[](IContainerWriter& w) { w.Write(QvDateTime()); }, 199,
         "Tavrin::CContainerWriterBinary::write"},
        {[](IContainerWriter& w) { w.Write(size_t(1), "x"); }, 511,
         "Tavrin::CContainerWriterBinary::Write"},
        {[&](IContainerWriter& w) { w.Write(element); }, 522, "Tavrin::CContainerWriterBinary::Write"},
        {[&](IContainerWriter& w) { w.Write(inner); }, 539, "Tavrin::CContainerWriterBinary::Write"},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.line);
        touched = false;
        CContainer root([&](IContainerWriter& w) {
            w.Write(1.5);
            ExpectRaisedAt([&] { c.second(w); }, kWriterFile, c.line, c.function);
            w.Write(2.5);  // the container goes on as if nothing had been offered
        });
        EXPECT_FALSE(touched);
        CList<double> back;
        Load(Document(root))->Read(back);
        EXPECT_EQ(back.items, (std::vector<double>{1.5, 2.5}));
    }
}

class CRecordingStream : public QvStreamWriteBinary {
public:
    uint64_t bytes = 0;
    IStreamWrite& WriteBytes(const void*, uint64_t count) override {
        bytes += count;
        return *this;
    }
};

TEST(BinaryWriterFailures, ApplicationExceptionsPassUnchangedAndNothingIsWritten) {
    CRecordingStream stream;
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
    EXPECT_EQ(stream.bytes, 0u);
    writer.Write(CObject());
    EXPECT_EQ(stream.bytes, 10u);
}

TEST(BinaryWriterFailures, FailedElementsAmongManyLeaveNoTrace) {
    // Elements whose Write fails leave nothing behind. Enough of them to run the element buffer
    // through many growth steps, so that some failed element starts a new piece of it that must
    // be given back.
    for (uint64_t seed : {1u, 2u, 3u}) {
        TavrinBench::CGenerator random(seed);
        std::vector<int> kept;
        std::vector<std::string> texts;
        CContainer root([&](IContainerWriter& w) {
            for (int i = 0; i < 20000; ++i) {
                const bool fail = random.Between(0, 1) == 0;
                const std::string text = random.Letters(0, 7);
                try {
                    w.Write(CObject([&](IDataWriter& d) {
                        if (fail) throw i;
                        d.Write("x", i);
                        d.Write("s", text);
                    }));
                    kept.push_back(i);
                    texts.push_back(text);
                } catch (int) {
                }
            }
        });
        const Bytes doc = Document(root);
        size_t index = 0;
        CContainer back;
        back.read = [&](IContainerReader& r) {
            for (unsigned i = 0;; ++i) {
                int x = -1;
                std::string s;
                CObject element;
                element.read = [&](IDataReader& d) {
                    d.Read("x", x);
                    d.Read("s", s);
                };
                if (!r.Read(i, element)) break;
                ASSERT_LT(index, kept.size());
                EXPECT_EQ(x, kept[index]);
                EXPECT_EQ(s, texts[index]);
                ++index;
            }
        };
        Load(doc)->Read(back);
        EXPECT_EQ(index, kept.size());
    }
}

TEST(BinaryReaderFailures, RaisingPlaces) {
    CQuietLog quiet;
    // Version above 0.
    EXPECT_THROW(Load(Hex("01 00 00 00 10 00 00 00 00 00")), QvExceptionWrongFileVersion);
    // Root kind 12.
    ExpectRaisedAt([] { Load(Hex("00 00 00 00 0c 00 00 00 00 00")); }, kReaderFile, 305,
                   "Tavrin::CReaderBinary::CReaderBinary");
    // The root asked for as the wrong kind.
    auto objectRoot = Load(Hex("00 00 00 00 10 00 00 00 00 00"));
    CContainer c;
    ExpectRaisedAt([&] { objectRoot->Read(c); }, kReaderFile, 346, "Tavrin::CReaderBinary::Read");
    auto containerRoot = Load(Hex("00 00 00 00 11 00 00 00 00 00 00 00 00 00"));
    CObject o;
    ExpectRaisedAt([&] { containerRoot->Read(o); }, kReaderFile, 331, "Tavrin::CReaderBinary::Read");
    // Section tag 18.
    ExpectRaisedAt([] { Load(Hex("00 00 00 00 10 00 00 00 00 01 12 00 00 00 00")); }, kReaderFile,
                   388, "Tavrin::CDataReader::Read");
    // Element tag 18 with one element; with none it is not looked at.
    ExpectRaisedAt([] { Load(Hex("00 00 00 00 11 00 00 00 00 12 01 00 00 00 00")); }, kReaderFile,
                   622, "Tavrin::CContainerReader::Read");
    EXPECT_NO_THROW(Load(Hex("00 00 00 00 11 00 00 00 00 63 00 00 00 00")));
    // A named blob of 8 bytes with 2 left.
    ExpectRaisedAt(
        [] {
            Load(Hex("00 00 00 00 10 01 00 00 00 01 00 00 00 62 00 00 00 00 "
                     "01 0f 01 00 00 00 00 00 00 00 08 00 00 00 aa bb"));
        },
        kReaderFile, 476, "Tavrin::CDataReader::readBlobs");
    // An identifier that the name table does not hold.
    ExpectRaisedAt([] { Load(Hex("00 00 00 00 10 00 00 00 00 01 07 01 00 00 00 05 00 00 00 01 00 00 00")); },
                   kReaderFile, 392, "Tavrin::CDataReader::Read");
    ExpectRaisedAt([] { Load(Hex("00 00 00 00 11 00 00 00 00 10 01 00 00 00 01 03 00 00 00")); },
                   kReaderFile, 626, "Tavrin::CContainerReader::Read");
}

TEST(BinaryReaderFailures, ApplicationExceptionsPassThrough) {
    auto reader = Load(Document(CObject([](IDataWriter& w) { w.Write("n", CObject()); })));
    CObject o;
    o.read = [](IDataReader& r) {
        CObject inner;
        inner.read = [](IDataReader&) { throw std::bad_alloc(); };
        r.Read("n", inner);
    };
    EXPECT_THROW(reader->Read(o), std::bad_alloc);
}

// Reads everything a document holds, through every operation.
struct SProbe : Tavrin::ISerializable, Tavrin::ISerializableContainer {
    int depth = 0;
    const char* GetClassName() const override { return "Probe"; }
    void Write(IDataWriter&) const override {}
    void Write(IContainerWriter&) const override {}
    void Read(IDataReader& r) override {
        if (++depth > 50) return;
        for (unsigned i = 0; i < r.GetNameCount(); ++i) {
            const char* name = r.GetName(i);
            ASSERT_NE(name, nullptr);
            ReadAll(r, name);
        }
        --depth;
    }
    void Read(IContainerReader& r) override {
        if (++depth > 50) return;
        for (unsigned i = 0; i < 64; ++i) ReadAll(r, i);
        --depth;
    }
    template <class R, class K>
    void ReadAll(R& r, K key) {
        bool b;
        char c;
        signed char sc;
        unsigned char uc;
        short s;
        unsigned short us;
        int i;
        unsigned u;
        long long ll;
        unsigned long long ull;
        float f;
        double d;
        std::string str;
        std::wstring w;
        QvDateTime t;
        r.Read(key, b);
        r.Read(key, c);
        r.Read(key, sc);
        r.Read(key, uc);
        r.Read(key, s);
        r.Read(key, us);
        r.Read(key, i);
        r.Read(key, u);
        r.Read(key, ll);
        r.Read(key, ull);
        r.Read(key, f);
        r.Read(key, d);
        r.Read(key, str);
        r.Read(key, w);
        r.Read(key, t);
        const Tavrin::SBlobRange blob = r.Read(key);
        for (const unsigned char* p = blob.begin; p != blob.end; ++p) checksum += *p;
        r.Read(key, static_cast<Tavrin::ISerializable&>(*this));
        r.Read(key, static_cast<Tavrin::ISerializableContainer&>(*this));
    }
    unsigned checksum = 0;
};

// Reading a damaged document either raises an exception of the library or yields a reader.
void ReadDamaged(const Bytes& doc) {
    try {
        auto reader = Load(doc);
        SProbe probe;
        try {
            reader->Read(static_cast<Tavrin::ISerializable&>(probe));
        } catch (const Tavrin::CException&) {
        }
        try {
            reader->Read(static_cast<Tavrin::ISerializableContainer&>(probe));
        } catch (const Tavrin::CException&) {
        }
    } catch (const IException&) {
    }
}

Bytes RichDocument() {
    SAll all;
    all.s = "text";
    all.w = L"wide \u00E9";
    all.blob = {1, 2, 3, 4, 5};
    all.ints.items = {1, 2, 3};
    CObject root([&](IDataWriter& w) {
        w.Write("all", all);
        w.Write("list", CContainer([&](IContainerWriter& c) {
                    c.Write(all);
                    c.Write(CObject({}, "Other"));
                }));
        w.Write("blobs", CContainer([](IContainerWriter& c) {
                    c.Write(size_t(3), "abc");
                    c.Write(size_t(0), nullptr);
                }));
        w.Write("dates", CList<QvDateTime>());
    });
    return Document(root);
}

TEST(BinaryHostile, EveryCutOfADocumentFails) {
    CQuietLog quiet;
    // The Order document ends in texts, so every proper prefix lacks something.
    const Bytes orders = Document(TavrinBench::MakeOrders(3));
    for (size_t n = 0; n < orders.size(); ++n) {
        const Bytes cut(orders.begin(), orders.begin() + n);
        EXPECT_THROW(Load(cut), IException) << n;
    }
    const Bytes rich = RichDocument();
    for (size_t n = 0; n < rich.size(); ++n) ReadDamaged(Bytes(rich.begin(), rich.begin() + n));
}

TEST(BinaryHostile, FlippedBytesFailCleanlyOrRead) {
    CQuietLog quiet;
    for (const Bytes& doc : {RichDocument(), Document(TavrinBench::MakeOrders(2))}) {
        for (size_t i = 0; i < doc.size(); ++i) {
            for (unsigned char v : {0x00, 0xFF, 0x7F, 0x80, doc[i] ^ 0x01, doc[i] ^ 0x10}) {
                Bytes damaged = doc;
                damaged[i] = v;
                ReadDamaged(damaged);
            }
        }
    }
}

TEST(BinaryHostile, ClaimedCountsDoNotDecideAllocations) {
    CQuietLog quiet;
    const std::vector<Bytes> documents = {
        // A named blob of 0xFFFFFFFF bytes with 4 present.
        Hex("00 00 00 00 10 01 00 00 00 01 00 00 00 62 00 00 00 00 "
            "01 0f 01 00 00 00 00 00 00 00 ff ff ff ff 01 02 03 04"),
        // A blob element of 0xFFFFFFF0 bytes, 2 present (kept as what arrived).
        Hex("00 00 00 00 11 00 00 00 00 0f 01 00 00 00 f0 ff ff ff 01 02"),
        // 0xFFFFFFFF doubles, objects with their class list, containers, sections, names.
        Hex("00 00 00 00 11 00 00 00 00 0b ff ff ff ff 00 00 00 00 00 00 f0 3f"),
        Hex("00 00 00 00 11 01 00 00 00 00 00 00 00 00 00 00 00 10 ff ff ff ff 00 00 00 00 00"),
        Hex("00 00 00 00 11 00 00 00 00 11 ff ff ff ff 00 00 00 00 00"),
        Hex("00 00 00 00 10 00 00 00 00 ff 00 ff ff ff ff"),
        Hex("00 00 00 00 10 ff ff ff ff 01 00 00 00 61 00 00 00 00"),
        Hex("00 00 00 00 11 00 00 00 00 0c ff ff ff ff ff ff ff ff 61"),
    };
    for (const Bytes& doc : documents) {
        g_largest = 0;
        g_watching = true;
        ReadDamaged(doc);
        g_watching = false;
        EXPECT_LT(g_largest.load(), size_t(1) << 20) << ToHex(doc);
    }
}

}  // namespace
