// The binary reader's two ways of taking bytes: straight from the memory a stream offers, and
// through the stream's read operations. Both must give the same content, failures and stream
// position. Also what the fast ways rest on: the writer's single growth of its output buffer and
// the date-time fields (the streams' memory access and UTF-16 decoding: streams_test.cpp).
#include <algorithm>
#include <bit>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "support/bytes.h"
#include "support/formats.h"
#include "support/objects.h"
#include "support/raising.h"
#include "support/streams.h"

namespace BinaryTest {
TestSupport::Bytes RichDocument(bool large);
std::string ReadAll(QvStreamReadBinaryBuffer& stream);
}  // namespace BinaryTest

namespace {

using namespace TestSupport;
using BinaryTest::ReadAll;
using BinaryTest::RichDocument;

template <class Root>
Bytes Document(const Root& root) {
    return SBinaryFormat::Write(root);
}
using namespace std::string_literals;
using Tavrin::IContainerReader;
using Tavrin::IContainerWriter;
using Tavrin::IDataReader;
using Tavrin::IDataWriter;

// Offers its memory at most `window` bytes at a time, so that values straddle the pieces, and
// counts consumptions beyond what was offered.
class CWindowedBuffer : public QvStreamReadBinaryBuffer {
public:
    CWindowedBuffer(const void* data, size_t size, uint64_t window)
        : QvStreamReadBinaryBuffer(data, size), m_window(window) {}
    const unsigned char* GetContiguous(uint64_t& available) override {
        const unsigned char* p = QvStreamReadBinaryBuffer::GetContiguous(available);
        m_offered = available = std::min(available, m_window);
        return p;
    }
    void Consume(uint64_t count) override {
        if (count > m_offered) ++overreach;
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
        for (unsigned int i = 0; i < 100000 && Values(r, i); ++i) {
        }
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
        QvDateTime t = QvDateTime::FromFileTime(0);
        if (r.Read(key, t)) add("t" + Fields(t));
        const Tavrin::SBlobRange blob = r.Read(key);
        if (blob.begin) add("blob" + std::string(blob.begin, blob.end));
        if (m_depth < 40) {
            CDump child(m_out, m_depth + 1);
            if (r.Read(key, static_cast<Tavrin::ISerializable&>(child))) any = true;
            if (r.Read(key, static_cast<Tavrin::ISerializableContainer&>(child))) any = true;
        }
        return any;
    }

    std::string& m_out;
    int m_depth;
};

// Reads `doc` through the memory, through the read operations and through memory offered in
// small pieces (`windows`); all must agree. Returns the outcome.
std::string ExpectSameOutcomes(const Bytes& doc, const std::string& what,
                               std::initializer_list<uint64_t> windows = {1, 7}) {
    QvStreamReadBinaryBuffer fast(doc.data(), doc.size());
    CHiddenBuffer plain(doc.data(), doc.size());
    const std::string expected = ReadAll(plain);
    EXPECT_EQ(ReadAll(fast), expected) << what;
    for (uint64_t window : windows) {
        CWindowedBuffer windowed(doc.data(), doc.size(), window);
        EXPECT_EQ(ReadAll(windowed), expected) << what << " window " << window;
        EXPECT_EQ(windowed.overreach, 0) << what;
    }
    return expected;
}

QvDateTime Date(uint64_t count) { return QvDateTime::FromFileTime(count); }

}  // namespace

std::string BinaryTest::ReadAll(QvStreamReadBinaryBuffer& stream) {
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
        out = std::string("threw ") + e.GetFilename() + ":" + std::to_string(e.GetCodeLine()) +
              ":" + e.GetFunctionName();
    }
    return out;
}

TestSupport::Bytes BinaryTest::RichDocument(bool large) {
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
        w.Write("dates", CContainer([](C& c) {
                    c.Write(Date(0)), c.Write(Date(125000000000001234ull));
                }));
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

namespace {

TEST(BinaryFastPath, WholeDocumentsReadTheSameEveryWay) {
    ExpectSameOutcomes(RichDocument(true), "rich");
    ExpectSameOutcomes(Document(Samples(30)), "samples");
    // The content itself is right, not only the same both ways.
    const CList<SKinds> orders = Samples(40);
    const Bytes doc = Document(orders);
    for (uint64_t window : {uint64_t(3), uint64_t(1) << 40}) {
        CWindowedBuffer stream(doc.data(), doc.size(), window);
        CList<SKinds> back;
        Tavrin::CReaderBinary(stream).Read(back);
        EXPECT_TRUE(back == orders) << window;
        EXPECT_EQ(stream.GetPosition(), doc.size());
    }
}

TEST(BinaryFastPath, CutAndDamagedDocumentsFailTheSameEveryWay) {
    const Bytes rich = RichDocument(false), orders = Document(Samples(2));
    for (const Bytes& doc : {rich, orders}) {
        for (size_t n = 0; n < doc.size(); ++n) {  // every proper prefix lacks something
            const std::string what = "cut at " + std::to_string(n);
            const Bytes cut(doc.begin(), doc.begin() + n);
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
        ExpectSameOutcomes(Bytes(large.begin(), large.begin() + n), "cut " + std::to_string(n));
    }
}

TEST(BinaryFastPath, HandMadeValuesOutsideTheWritersHabits) {
    // An object with one name, then `rest`.
    auto named = [](const char* rest) {
        return Hex((std::string("00 00 00 00 10 01 00 00 00 01 00 00 00 ") + rest).c_str());
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

TEST(BinaryFastPath, WriterGrowsTheBufferOnceToTheByteByByteCapacity) {
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
    QvStreamWriteBinaryBuffer buffer;
    for (auto [ask, capacity] : {std::pair{4096u, 4096u}, {4097u, 8192u}, {40000u, 65536u}}) {
        buffer.Reserve(ask);
        EXPECT_EQ(buffer.GetCapacity(), capacity);
    }
    EXPECT_EQ(buffer.GetCount(), 0u);
    const unsigned char byte = 1;
    buffer.WriteBytes(&byte, 1);
    EXPECT_THROW(buffer.Reserve(0xFFFFFFFFull), std::length_error);
    EXPECT_EQ(buffer.GetCapacity(), 65536u);
    EXPECT_EQ(buffer.GetCount(), 1u);
}

TEST(BinaryFastPath, DateTimeFieldsFromCounts) {
    // 1601-01-01 was a Monday (1).
    const std::pair<uint64_t, const char*> cases[] = {
        {0, "1601-1-1 1 0:0:0.0"},
        {9999, "1601-1-1 1 0:0:0.0"},
        {125911584000000000ull, "2000-1-1 6 0:0:0.0"},
        {125962560000000000ull, "2000-2-29 2 0:0:0.0"},
        {133536798967890000ull, "2024-2-29 4 11:31:36.789"},
        {159423840000000000ull, "2106-3-13 6 8:0:0.0"},
        {UINT64_MAX, "60056-5-28 0 5:36:10.955"},
    };
    for (const auto& [count, fields] : cases) {
        EXPECT_EQ(Fields(QvDateTime::FromFileTime(count)), fields) << count;
    }
    // Fields back to the count (a separate calendar computation) over the whole range.
    uint64_t seed = 0xDA7E;  // fixed
    for (int k = 0; k < 200000; ++k) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        const uint64_t count = k < 100000 ? seed : seed % 400000000000000000ull;
        EXPECT_EQ(QvDateTime::FromFileTime(count).ToFileTime(), count - count % 10000) << count;
    }
}

}  // namespace
