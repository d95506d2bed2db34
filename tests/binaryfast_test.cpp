// The binary reader's two ways of taking bytes: straight from the memory that a stream offers,
// and through the stream's read operations. Both must give the same content, the same failures
// and the same stream position, for whole, cut and damaged documents. Also the pieces that the
// fast ways rest on: the memory access of the buffer stream, the writer's single growth of the
// output buffer, UTF-16 decoding and the date-time conversion.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "expectthrow.h"
#include "logcapture.h"
#include "order_workload.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Tavrin::IContainerReader;
using Tavrin::IContainerWriter;
using Tavrin::IDataReader;
using Tavrin::IDataWriter;

constexpr const char* kStreamFile = "core/basepool/qvstreamread.cpp";

// ---- Streams over the same bytes -------------------------------------------------------------

// Hides its memory: the reader then goes through the read operations only.
class CHiddenBuffer : public QvStreamReadBinaryBuffer {
public:
    using QvStreamReadBinaryBuffer::QvStreamReadBinaryBuffer;
    const unsigned char* GetContiguous(uint64_t& available) override {
        available = 0;
        return nullptr;
    }
};

// Offers its memory at most `window` bytes at a time, so that values straddle the pieces, and
// checks that no more is consumed than was offered.
class CWindowedBuffer : public QvStreamReadBinaryBuffer {
public:
    CWindowedBuffer(const void* data, size_t size, uint64_t window)
        : QvStreamReadBinaryBuffer(data, size), m_window(window) {}

    const unsigned char* GetContiguous(uint64_t& available) override {
        const unsigned char* p = QvStreamReadBinaryBuffer::GetContiguous(available);
        available = std::min(available, m_window);
        m_offered = available;
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

// ---- What a reader holds, as text --------------------------------------------------------------

// Everything a reader hands out, found by trying every kind under every listed name and at
// every index.
class CDump : public Tavrin::ISerializable, public Tavrin::ISerializableContainer {
public:
    explicit CDump(std::string& out, int depth = 0) : m_out(out), m_depth(depth) {}
    const char* GetClassName() const override { return "Dump"; }
    void Write(IDataWriter&) const override {}
    void Write(IContainerWriter&) const override {}

    void Read(IDataReader& r) override {
        m_out += "{";
        for (unsigned int i = 0; i < r.GetNameCount(); ++i) {
            const char* name = r.GetName(i);
            m_out += name;
            m_out += ":";
            Values(r, name);
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
        auto add = [&](bool found, const auto& text) {
            if (!found) return;
            any = true;
            m_out += text;
            m_out += ";";
        };
        auto number = [&](const char* kind, auto v) {
            const bool found = r.Read(key, v);
            if (found) add(true, std::string(kind) + std::to_string(v));
        };
        number("b", bool{});
        number("c", char{});
        number("sc", static_cast<signed char>(0));
        number("uc", static_cast<unsigned char>(0));
        number("s", short{});
        number("us", static_cast<unsigned short>(0));
        number("i", int{});
        number("u", 0u);
        number("ll", 0ll);
        number("ull", 0ull);
        number("f", 0.0f);
        number("d", 0.0);
        std::string s;
        if (r.Read(key, s)) add(true, "str" + std::to_string(s.size()) + "=" + s);
        std::wstring w;
        if (r.Read(key, w)) {
            std::string units = "wstr";
            for (wchar_t ch : w) units += std::to_string(static_cast<uint32_t>(ch)) + ",";
            add(true, units);
        }
        QvDateTime t = QvDateTime::FromFileTime(0);
        if (r.Read(key, t)) {
            add(true, "t" + std::to_string(t.GetYear()) + "-" + std::to_string(t.GetMonth()) + "-" +
                          std::to_string(t.GetDay()) + " " + std::to_string(t.GetHour()) + ":" +
                          std::to_string(t.GetMinute()) + ":" + std::to_string(t.GetSecond()) +
                          "." + std::to_string(t.GetMilliseconds()));
        }
        const Tavrin::SBlobRange blob = r.Read(key);
        if (blob.begin) add(true, "blob" + std::string(blob.begin, blob.end));
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

// The outcome of reading a document from a stream: the content, or where it failed; and how
// far the stream was consumed on success.
template <class Stream>
std::string Outcome(Stream& stream) {
    LogCapture quiet;
    std::string out;
    try {
        Tavrin::CReaderBinary reader(stream);
        CDump dump(out);
        try {
            reader.Read(static_cast<Tavrin::ISerializable&>(dump));
        } catch (const Tavrin::CException&) {
            reader.Read(static_cast<Tavrin::ISerializableContainer&>(dump));
        }
        out += " @" + std::to_string(stream.GetPosition());
    } catch (const IException& e) {
        out = std::string("threw ") + e.GetFilename() + ":" + std::to_string(e.GetCodeLine()) + ":" +
              e.GetFunctionName();
    }
    return out;
}

// Reads `doc` through the memory, through the read operations and through memory offered in
// small pieces (`windows`); all must agree.
void ExpectSameOutcomes(const Bytes& doc, const std::string& what,
                        std::initializer_list<uint64_t> windows = {1, 7}) {
    QvStreamReadBinaryBuffer fast(doc.data(), doc.size());
    CHiddenBuffer plain(doc.data(), doc.size());
    const std::string expected = Outcome(plain);
    EXPECT_EQ(Outcome(fast), expected) << what;
    for (uint64_t window : windows) {
        CWindowedBuffer windowed(doc.data(), doc.size(), window);
        EXPECT_EQ(Outcome(windowed), expected) << what << " window " << window;
        EXPECT_EQ(windowed.overreach, 0) << what;
    }
}

// ---- Documents -------------------------------------------------------------------------------

template <class Base, class Writer>
struct CWriteOnly : Base {
    std::function<void(Writer&)> write;
    explicit CWriteOnly(std::function<void(Writer&)> w) : write(std::move(w)) {}
    const char* GetClassName() const override { return "W"; }
    void Write(Writer& w) const override { write(w); }
    void Read(typename std::conditional_t<std::is_same_v<Writer, IDataWriter>, IDataReader,
                                          IContainerReader>&) override {}
};
using CObject = CWriteOnly<Tavrin::ISerializable, IDataWriter>;
using CContainer = CWriteOnly<Tavrin::ISerializableContainer, IContainerWriter>;

template <class Root>
Bytes Document(const Root& root) {
    QvStreamWriteBinaryBuffer buffer;
    Tavrin::CWriterBinary(buffer).Write(root);
    return Bytes(buffer.GetData(), buffer.GetData() + buffer.GetCount());
}

QvDateTime Date(uint64_t count) { return QvDateTime::FromFileTime(count); }

// Every kind, as named values and as container elements, with characters beyond U+FFFF and
// unpaired surrogates; `large` adds wide texts in the longer length forms of the wide prefix.
Bytes RichDocument(bool large) {
    const std::wstring wide = L"a\u00E9\u4E2D\U0001F600\xD800z\xDC00";
    const std::wstring wide300(300, L'\u20AC');
    const std::wstring wide70000(large ? 70000 : 0, L'q');
    const unsigned char blob[5] = {0, 1, 2, 0xFE, 0xFF};
    CObject root([&](IDataWriter& w) {
        w.Write("b", true);
        w.Write("c", 'x');
        w.Write("sc", static_cast<signed char>(-5));
        w.Write("uc", static_cast<unsigned char>(200));
        w.Write("s", static_cast<short>(-300));
        w.Write("us", static_cast<unsigned short>(60000));
        w.Write("i", -70000);
        w.Write("u", 4000000000u);
        w.Write("ll", -5000000000ll);
        w.Write("ull", 18000000000000000000ull);
        w.Write("f", 1.5f);
        w.Write("d", -2.25);
        w.Write("str", std::string("text"));
        w.Write("empty", std::string());
        w.Write("w", wide);
        if (large) w.Write("w300", wide300);
        if (large) w.Write("w70000", wide70000);
        w.Write("t", Date(133000000000000000ull));
        w.Write("blob", sizeof blob, blob);
        w.Write("none", size_t(0), nullptr);
        w.Write("i", 7);  // the last value of a name and kind wins
        w.Write("obj", CObject([](IDataWriter& c) { c.Write("x", 1); }));
        w.Write("bools", CContainer([](IContainerWriter& c) {
                    c.Write(true);
                    c.Write(false);
                }));
        w.Write("shorts", CContainer([](IContainerWriter& c) {
                    for (short k = -2; k < 3; ++k) c.Write(k);
                }));
        w.Write("doubles", CContainer([](IContainerWriter& c) {
                    c.Write(0.5);
                    c.Write(1e300);
                }));
        w.Write("texts", CContainer([&](IContainerWriter& c) {
                    c.Write(std::string("one"));
                    c.Write(std::string());
                }));
        w.Write("wides", CContainer([&](IContainerWriter& c) {
                    c.Write(wide);
                    if (large) c.Write(wide300);
                }));
        w.Write("dates", CContainer([](IContainerWriter& c) {
                    c.Write(Date(0));
                    c.Write(Date(125000000000001234ull));
                }));
        w.Write("blobs", CContainer([&](IContainerWriter& c) {
                    c.Write(sizeof blob, blob);
                    c.Write(size_t(0), nullptr);
                }));
        w.Write("objects", CContainer([](IContainerWriter& c) {
                    c.Write(CObject([](IDataWriter& o) { o.Write("k", 1.0); }));
                    c.Write(CObject([](IDataWriter&) {}));
                }));
        w.Write("nested", CContainer([](IContainerWriter& c) {
                    c.Write(CContainer([](IContainerWriter& n) { n.Write(1); }));
                    c.Write(CContainer([](IContainerWriter&) {}));
                }));
    });
    return Document(root);
}

// ---- Tests -----------------------------------------------------------------------------------

TEST(BinaryFastPath, WholeDocumentsReadTheSameEveryWay) {
    ExpectSameOutcomes(RichDocument(true), "rich");
    ExpectSameOutcomes(Document(TavrinBench::MakeOrders(30)), "orders");

    // The content itself is right, not only the same both ways.
    const TavrinBench::Orders orders = TavrinBench::MakeOrders(40);
    const Bytes doc = Document(orders);
    for (uint64_t window : {uint64_t(3), uint64_t(1) << 40}) {
        CWindowedBuffer stream(doc.data(), doc.size(), window);
        TavrinBench::Orders back;
        Tavrin::CReaderBinary(stream).Read(back);
        EXPECT_EQ(TavrinBench::CountMismatches(orders, back), 0u) << window;
        EXPECT_EQ(stream.GetPosition(), doc.size());
    }
}

TEST(BinaryFastPath, CutAndDamagedDocumentsFailTheSameEveryWay) {
    for (const Bytes& doc : {RichDocument(false), Document(TavrinBench::MakeOrders(2))}) {
        for (size_t n = 0; n < doc.size(); ++n) {
            ExpectSameOutcomes(Bytes(doc.begin(), doc.begin() + n), "cut at " + std::to_string(n));
        }
    }
    const Bytes large = RichDocument(true);  // cuts inside the long texts
    for (size_t n = 0; n < large.size(); n += 4999) {
        ExpectSameOutcomes(Bytes(large.begin(), large.begin() + n), "large cut at " + std::to_string(n));
    }
    const Bytes orders = Document(TavrinBench::MakeOrders(2));
    for (size_t i = 0; i < orders.size(); ++i) {
        for (unsigned char v : {0x00, 0xFF, 0x80}) {
            Bytes damaged = orders;
            damaged[i] = v;
            ExpectSameOutcomes(damaged, "byte " + std::to_string(i) + " = " + std::to_string(v), {5});
        }
    }
}

TEST(BinaryFastPath, HandMadeValuesOutsideTheWritersHabits) {
    // Raw documents: a date-time with ticks below the millisecond and one with version 1, a
    // wide text with a two-byte length below 255, a bool stored as 2, a wide text whose mark
    // is wrong, and an identifier the name table lacks.
    const std::vector<std::pair<const char*, Bytes>> docs = {
        {"sub-millisecond date",
         {0, 0, 0, 0, 0x10, 1, 0, 0, 0, 1, 0, 0, 0, 't', 0, 0, 0, 0, 1, 14, 1, 0, 0, 0, 0, 0, 0, 0,
          0, 0, 0, 0, 0x39, 0x30, 0, 0, 0, 0, 0, 0}},
        {"date version 1",
         {0, 0, 0, 0, 0x10, 1, 0, 0, 0, 1, 0, 0, 0, 't', 0, 0, 0, 0, 1, 14, 1, 0, 0, 0, 0, 0, 0, 0,
          1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"long form of a short wide text",
         {0, 0, 0, 0, 0x10, 1, 0, 0, 0, 1, 0, 0, 0, 'w', 0, 0, 0, 0, 1, 13, 1, 0, 0, 0, 0, 0, 0, 0,
          0xFF, 0xFE, 0xFF, 0xFF, 2, 0, 'h', 0, 'i', 0}},
        {"bool 2", {0, 0, 0, 0, 0x11, 0, 0, 0, 0, 0, 3, 0, 0, 0, 2, 0, 1}},
        {"wrong wide mark",
         {0, 0, 0, 0, 0x10, 1, 0, 0, 0, 1, 0, 0, 0, 'w', 0, 0, 0, 0, 1, 13, 1, 0, 0, 0, 0, 0, 0, 0,
          0xFF, 0xFE, 0xFE, 1, 'h', 0}},
        {"unknown identifier", {0, 0, 0, 0, 0x10, 0, 0, 0, 0, 1, 7, 1, 0, 0, 0, 9, 0, 0, 0, 1, 0, 0, 0}},
    };
    for (const auto& [what, doc] : docs) ExpectSameOutcomes(doc, what);

    // The sub-millisecond ticks are dropped, as the seven fields cannot hold them.
    QvStreamReadBinaryBuffer stream(docs[0].second.data(), docs[0].second.size());
    EXPECT_EQ(Outcome(stream), "{t:t1601-1-1 0:0:0.1;} @40");
}

TEST(BinaryFastPath, DocumentsBackToBackLeaveTheStreamBehindEach) {
    const Bytes first = RichDocument(true);
    const Bytes second = Document(TavrinBench::MakeOrders(3));
    Bytes both = first;
    both.insert(both.end(), second.begin(), second.end());
    QvStreamReadBinaryBuffer stream(both.data(), both.size());
    Tavrin::CReaderBinary one(stream);
    EXPECT_EQ(stream.GetPosition(), first.size());
    Tavrin::CReaderBinary two(stream);
    EXPECT_EQ(stream.GetPosition(), both.size());
    TavrinBench::Orders orders;
    two.Read(orders);
    EXPECT_EQ(TavrinBench::CountMismatches(TavrinBench::MakeOrders(3), orders), 0u);
}

TEST(BinaryFastPath, MemoryAccessOfTheStreams) {
    const unsigned char bytes[6] = {1, 2, 3, 4, 5, 6};
    QvStreamReadBinaryBuffer buffer(bytes, sizeof bytes);
    uint64_t available = 0;
    EXPECT_EQ(buffer.GetContiguous(available), bytes);
    EXPECT_EQ(available, 6u);
    buffer.Consume(2);
    uint16_t value = 0;
    buffer.ReadUInt16(value);
    EXPECT_EQ(value, 0x0403);
    EXPECT_EQ(buffer.GetContiguous(available), bytes + 4);
    EXPECT_EQ(available, 2u);
    ExpectThrowsAt<Tavrin::CException>([&] { buffer.Consume(3); }, kStreamFile, 160,
                                       "QvStreamReadBinaryBuffer::Consume");
    EXPECT_EQ(buffer.GetPosition(), 4u);  // nothing consumed by the refused call
    buffer.Consume(2);
    EXPECT_EQ(buffer.GetRemaining(), 0u);

    QvStreamReadBinaryBuffer none(nullptr, 10);
    EXPECT_EQ(none.GetContiguous(available), nullptr);
    EXPECT_EQ(available, 0u);

    // A stream without memory: none offered, and consuming what was not offered is refused.
    CHiddenBuffer hidden(bytes, sizeof bytes);
    EXPECT_EQ(hidden.QvStreamReadBinary::GetContiguous(available), nullptr);
    hidden.QvStreamReadBinary::Consume(0);
    ExpectThrowsAt<Tavrin::CException>([&] { hidden.QvStreamReadBinary::Consume(1); }, kStreamFile,
                                       150, "QvStreamReadBinary::Consume");
}

TEST(BinaryFastPath, WideTextDecodingMatchesTheGeneralDecoder) {
    // Random units, surrogates and lone halves included, read by the buffer's own decoder
    // and by the general one of QvStreamReadBinary (over a stream without memory).
    uint64_t seed = 0x5EED0001;  // fixed
    auto next = [&seed] {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(seed >> 33);
    };
    for (int round = 0; round < 400; ++round) {
        const size_t units = round < 200 ? next() % 40 : next() % 600;
        Bytes doc = {0xFF, 0xFE, 0xFF};
        if (units < 0xFF) {
            doc.push_back(static_cast<unsigned char>(units));
        } else {
            doc.insert(doc.end(), {0xFF, static_cast<unsigned char>(units), static_cast<unsigned char>(units >> 8)});
        }
        for (size_t k = 0; k < units; ++k) {
            static constexpr uint16_t kPicks[] = {0x61, 0xE9, 0x4E2D, 0xD83D, 0xDE00, 0xDBFF, 0xDC00, 0xFFFF};
            const uint16_t u = round % 3 == 0 ? static_cast<uint16_t>(next()) : kPicks[next() % 8];
            doc.push_back(static_cast<unsigned char>(u));
            doc.push_back(static_cast<unsigned char>(u >> 8));
        }
        QvStreamReadBinaryBuffer fast(doc.data(), doc.size());
        CHiddenBuffer general(doc.data(), doc.size());
        std::wstring a, b;
        fast.ReadStdWString(a);
        general.QvStreamReadBinary::ReadStdWString(b);
        ASSERT_EQ(a, b) << "round " << round;
        EXPECT_EQ(fast.GetRemaining(), 0u);
    }
}

TEST(BinaryFastPath, WriterGrowsAFreshBufferOnceToTheSameCapacity) {
    // The capacity a document leaves in the library's buffer is the one that appending its
    // bytes one at a time gives, whatever the buffer held before.
    for (unsigned count : {0u, 1u, 7u, 60u, 2000u}) {
        const TavrinBench::Orders orders = TavrinBench::MakeOrders(count);
        const size_t size = Document(orders).size();
        // Also documents that end exactly on a capacity, and one byte past it.
        const size_t onEdge = std::bit_ceil(size + 4096) - size;
        for (size_t before : {size_t(0), size_t(5000), size_t(4090), onEdge, onEdge + 1}) {
            QvStreamWriteBinaryBuffer written;
            const Bytes filler(before, 0xAB);
            written.WriteBytes(filler.data(), filler.size());
            Tavrin::CWriterBinary(written).Write(orders);

            QvStreamWriteBinaryBuffer byteByByte;
            for (size_t k = 0; k < written.GetCount(); ++k) byteByByte.WriteBytes(written.GetData() + k, 1);
            EXPECT_EQ(written.GetCapacity(), byteByByte.GetCapacity()) << count << " after " << before;
            EXPECT_EQ(Bytes(written.GetData() + before, written.GetData() + written.GetCount()),
                      Document(orders));
        }
    }
}

TEST(BinaryFastPath, BufferReserve) {
    QvStreamWriteBinaryBuffer buffer;
    buffer.Reserve(4096);
    EXPECT_EQ(buffer.GetCapacity(), 4096u);
    buffer.Reserve(4097);
    EXPECT_EQ(buffer.GetCapacity(), 8192u);
    EXPECT_EQ(buffer.GetCount(), 0u);
    buffer.Reserve(40000);
    EXPECT_EQ(buffer.GetCapacity(), 65536u);
    const unsigned char byte = 1;
    buffer.WriteBytes(&byte, 1);
    EXPECT_THROW(buffer.Reserve(0xFFFFFFFFull), std::length_error);
    EXPECT_EQ(buffer.GetCapacity(), 65536u);
    EXPECT_EQ(buffer.GetCount(), 1u);
}

TEST(BinaryFastPath, DateTimeFieldsFromCounts) {
    // Counts and their fields, the day of the week included; 1601-01-01 was a Monday.
    struct SCase {
        uint64_t count;
        unsigned short year, month, day, dayOfWeek, hour, minute, second, ms;
    };
    const SCase cases[] = {
        {0, 1601, 1, 1, 1, 0, 0, 0, 0},
        {9999, 1601, 1, 1, 1, 0, 0, 0, 0},
        {125911584000000000ull, 2000, 1, 1, 6, 0, 0, 0, 0},
        {125962560000000000ull, 2000, 2, 29, 2, 0, 0, 0, 0},
        {133536798967890000ull, 2024, 2, 29, 4, 11, 31, 36, 789},
        {159423840000000000ull, 2106, 3, 13, 6, 8, 0, 0, 0},
        {UINT64_MAX, 60056, 5, 28, 0, 5, 36, 10, 955},
    };
    for (const SCase& c : cases) {
        const QvDateTime t = QvDateTime::FromFileTime(c.count);
        EXPECT_EQ(t.GetYear(), c.year) << c.count;
        EXPECT_EQ(t.GetMonth(), c.month) << c.count;
        EXPECT_EQ(t.GetDay(), c.day) << c.count;
        EXPECT_EQ(t.GetDayOfWeek(), c.dayOfWeek) << c.count;
        EXPECT_EQ(t.GetHour(), c.hour) << c.count;
        EXPECT_EQ(t.GetMinute(), c.minute) << c.count;
        EXPECT_EQ(t.GetSecond(), c.second) << c.count;
        EXPECT_EQ(t.GetMilliseconds(), c.ms) << c.count;
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
