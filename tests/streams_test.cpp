// Binary streams: the bytes of every primitive, wide and narrow text, the buffer's growth, the
// version check, truncated and hostile input, and the file streams.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "support/files.h"
#include "support/raising.h"
#include "support/streams.h"

namespace {

using TestSupport::Bytes;
using TestSupport::CByteSource;
using TestSupport::CHiddenBuffer;
using Write = std::function<void(IStreamWrite&)>;
using R = QvStreamReadBinary;
using Tavrin::CException;

Bytes BytesOf(const QvStreamWriteBinaryBuffer& buffer) {
    return Bytes(buffer.GetData(), buffer.GetData() + buffer.GetCount());
}

Bytes Written(const Write& write) {
    QvStreamWriteBinaryBuffer buffer;
    write(buffer);
    return BytesOf(buffer);
}

// A caller's write stream that implements WriteBytes alone.
class CCollectingStream : public QvStreamWriteBinary {
public:
    IStreamWrite& WriteBytes(const void* data, uint64_t count) override {
        const auto* p = static_cast<const unsigned char*>(data);
        bytes.insert(bytes.end(), p, p + count);
        sizes.push_back(count);
        return *this;
    }
    Bytes bytes;
    std::vector<uint64_t> sizes;  // one per WriteBytes call
};

// Runs `read` over `bytes` through the buffer reader and through a caller's stream.
template <class F>
void ForBothReaders(const Bytes& bytes, F&& read) {
    QvStreamReadBinaryBuffer buffer(bytes.data(), bytes.size());
    read(static_cast<R&>(buffer));
    CByteSource source(bytes);
    read(static_cast<R&>(source));
}

void ExpectAtEnd(R& r) {
    unsigned char rest = 0;
    EXPECT_EQ(r.ReadBytes(&rest, 1), 0u);
}

// Both readers read `text` and consume the bytes exactly.
void ExpectWideText(const Bytes& bytes, const std::wstring& text,
                    CallSite where = CallSite::current()) {
    const testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "");
    ForBothReaders(bytes, [&](R& r) {
        std::wstring back;
        r.ReadStdWString(back);
        EXPECT_EQ(back, text);
        ExpectAtEnd(r);
    });
}

template <class M, class T>
T Read(R& r, void (M::*read)(T&)) {
    T value{};
    (r.*read)(value);
    return value;
}

// Every write operation; kAllBytes is what it writes and kAllSizes its WriteBytes calls.
void WriteAll(IStreamWrite& s) {
    s.WriteLong(-2).WriteULong(0x01020304u).WriteChar('\xE9').WriteDouble(1.0).WriteFloat(-2.0f);
    s.WriteInt64(INT64_MIN).WriteUInt64(0x0102030405060708ull).WriteInt32(INT32_MIN);
    s.WriteUInt32(1).WriteInt16(-300).WriteUInt16(0x1234).WriteInt8(-1).WriteUInt8(0x80);
    s.WriteBool(true).WriteBool(false).WriteVersion(7);
    // Text ends at an embedded zero; a wide length counts UTF-16 units.
    s.WriteStdString("").WriteSzA("ab").WriteStringA(QvStringA("xyz"));
    s.WriteStdString(std::string("n\xC3\xA4\0cd", 6));
    s.WriteStdWString(L"").WriteSzW(L"A\u00E9").WriteStringW(QvStringW(L"Z"));
    s.WriteStdWString(std::wstring(L"\U0001F600\0B", 3));
}

const Bytes kAllBytes = {
    0xFE, 0xFF, 0xFF, 0xFF, 4,    3,    2,    1,    0xE9, 0,    0,    0,    0,    0,    0,    0xF0,
    0x3F, 0,    0,    0,    0xC0,  //
    0,    0,    0,    0,    0,    0,    0,    0x80, 8,    7,    6,    5,    4,    3,    2,    1,
    0,    0,    0,    0x80,                                                                       //
    1,    0,    0,    0,    0xD4, 0xFE, 0x34, 0x12, 0xFF, 0x80, 1,    0,    7,    0,    0,    0,  //
    0,    0,    0,    0,    2,    0,    0,    0,    'a',  'b',  3,    0,    0,    0,    'x',  'y',
    'z',  3,    0,    0,    0,    'n',  0xC3, 0xA4, 0xFF, 0xFE, 0xFF, 0,    0xFF, 0xFE, 0xFF, 2,
    'A',  0,    0xE9, 0,    0xFF, 0xFE, 0xFF, 1,    'Z',  0,    0xFF, 0xFE, 0xFF, 2,    0x3D, 0xD8,
    0x00, 0xDE};

// Text goes out as the typed writes of its prefix and one WriteBytes of the whole payload.
const std::vector<uint64_t> kAllSizes = {4, 4, 1, 8, 4, 8, 8, 4, 4, 2, 2, 1, 1, 1,
                                         1, 4, 4, 0, 4, 2, 4, 3, 4, 3, 1, 2, 1, 0,
                                         1, 2, 1, 4, 1, 2, 1, 2, 1, 2, 1, 4};

// Reads back what WriteAll wrote.
void ExpectAll(R& r) {
    EXPECT_EQ(Read(r, &R::ReadLong), -2);
    EXPECT_EQ(Read(r, &R::ReadULong), 0x01020304u);
    EXPECT_EQ(Read(r, &R::ReadChar), '\xE9');
    EXPECT_EQ(Read(r, &R::ReadDouble), 1.0);
    EXPECT_EQ(Read(r, &R::ReadFloat), -2.0f);
    EXPECT_EQ(Read(r, &R::ReadInt64), INT64_MIN);
    EXPECT_EQ(Read(r, &R::ReadUInt64), 0x0102030405060708ull);
    EXPECT_EQ(Read(r, &R::ReadInt32), INT32_MIN);
    EXPECT_EQ(Read(r, &R::ReadUInt32), 1u);
    EXPECT_EQ(Read(r, &R::ReadInt16), -300);
    EXPECT_EQ(Read(r, &R::ReadUInt16), 0x1234);
    EXPECT_EQ(Read(r, &R::ReadInt8), -1);
    EXPECT_EQ(Read(r, &R::ReadUInt8), 0x80);
    EXPECT_TRUE(Read(r, &R::ReadBool));
    EXPECT_FALSE(Read(r, &R::ReadBool));
    EXPECT_EQ(Read(r, &R::ReadUInt32), 7u);
    EXPECT_EQ(Read(r, &R::ReadStdString), "");
    EXPECT_EQ(Read(r, &R::ReadStdString), "ab");
    EXPECT_TRUE(Read(r, &R::ReadStringA) == QvStringA("xyz"));
    EXPECT_EQ(Read(r, &R::ReadStdString), "n\xC3\xA4");
    EXPECT_EQ(Read(r, &R::ReadStdWString), L"");
    EXPECT_EQ(Read(r, &R::ReadStdWString), L"A\u00E9");
    EXPECT_TRUE(Read(r, &R::ReadStringW) == QvStringW(L"Z"));
    EXPECT_EQ(Read(r, &R::ReadStdWString), L"\U0001F600");
}

TEST(Stream, EveryPrimitiveWritesItsBytesAndReadsBack) {
    EXPECT_EQ(Written(WriteAll), kAllBytes);
    // A caller's stream that implements WriteBytes alone gets the same bytes.
    CCollectingStream collecting;
    WriteAll(collecting);
    EXPECT_EQ(collecting.bytes, kAllBytes);
    EXPECT_EQ(collecting.sizes, kAllSizes);
    ForBothReaders(kAllBytes, [](R& r) {
        ExpectAll(r);
        ExpectAtEnd(r);
    });
}

TEST(StreamWrite, WideLengthPrefixWidths) {
    const std::pair<size_t, Bytes> cases[] = {
        {254, {0xFF, 0xFE, 0xFF, 0xFE}},
        {255, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x00}},
        {65533, {0xFF, 0xFE, 0xFF, 0xFF, 0xFD, 0xFF}},
        {65534, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {65535, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
    };
    for (const auto& [units, prefix] : cases) {
        const std::wstring text(units, L'\u0101');
        const Bytes bytes = Written([&](IStreamWrite& s) { s.WriteStdWString(text); });
        ASSERT_EQ(bytes.size(), prefix.size() + 2 * units) << units;
        EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), bytes.begin())) << units;
        ExpectWideText(bytes, text);
        CCollectingStream collecting;
        collecting.WriteStdWString(text);
        EXPECT_EQ(collecting.sizes.back(), 2 * units);  // the payload in one call
    }
}

TEST(StreamWriteBuffer, CapacityDoublesAndReserveRoundsUp) {
    // The 4097th byte doubles 4096, the 8193rd doubles 8192, and one large write lands where
    // byte-by-byte growth would.
    const Bytes block(40000, 0xAB);
    QvStreamWriteBinaryBuffer buffer;
    std::vector<unsigned int> capacities{buffer.GetCapacity()};
    for (unsigned int size : {4096u, 1u, 4095u, 0u, 1u, 40000u}) {
        buffer.WriteBytes(block.data(), size);
        capacities.push_back(buffer.GetCapacity());
    }
    EXPECT_EQ(capacities, (std::vector<unsigned int>{4096, 4096, 8192, 8192, 8192, 16384, 65536}));
    EXPECT_EQ(buffer.GetCount(), 48193u);
    // Reserve rounds up to a power of two; beyond 32 bits it refuses and changes nothing.
    QvStreamWriteBinaryBuffer reserved;
    for (auto [ask, capacity] : {std::pair{4096u, 4096u}, {4097u, 8192u}, {40000u, 65536u}}) {
        reserved.Reserve(ask);
        EXPECT_EQ(reserved.GetCapacity(), capacity);
    }
    reserved.WriteBytes(block.data(), 1);
    EXPECT_THROW(reserved.Reserve(0xFFFFFFFFull), std::length_error);
    EXPECT_EQ(reserved.GetCapacity(), 65536u);
    EXPECT_EQ(reserved.GetCount(), 1u);
    // Megabytes: the same capacities, also when the bytes come from the buffer itself.
    Bytes large(5u << 20);
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<unsigned char>(i * 7 + i / 251);
    QvStreamWriteBinaryBuffer big;
    big.WriteBytes(large.data(), large.size());
    EXPECT_EQ(big.GetCapacity(), 8u << 20);
    big.WriteBytes(big.GetData() + 1, 4u << 20);
    EXPECT_EQ(big.GetCapacity(), 16u << 20);
    ASSERT_EQ(big.GetCount(), 9u << 20);
    EXPECT_TRUE(std::equal(large.begin(), large.end(), big.GetData()));
    EXPECT_TRUE(
        std::equal(large.begin() + 1, large.begin() + 1 + (4 << 20), big.GetData() + (5 << 20)));
}

TEST(StreamRead, UnpairedSurrogatesBecomeReplacementCharacters) {
    auto wide = [](std::initializer_list<uint16_t> units) {
        Bytes b{0xFF, 0xFE, 0xFF, static_cast<unsigned char>(units.size())};
        for (uint16_t u : units) {
            b.push_back(static_cast<unsigned char>(u & 0xFF));
            b.push_back(static_cast<unsigned char>(u >> 8));
        }
        return b;
    };
    ExpectWideText(wide({0xD800, 0x0041}), L"\uFFFDA");
    ExpectWideText(wide({0x0041, 0xDC00}), L"A\uFFFD");
    ExpectWideText(wide({0xD83D}), L"\uFFFD");
    ExpectWideText(wide({0xD83D, 0xD83D, 0xDE00}), L"\uFFFD\U0001F600");
    ExpectWideText(wide({0xDBFF, 0xDFFF}), L"\U0010FFFF");

    // A long text that the base reader takes in pieces: pairs straddling a piece boundary
    // stay whole wherever they fall.
    std::wstring text = L"y";
    for (int i = 0; i < 30000; ++i) text += (i % 3 == 0) ? L"\U0001F600" : L"x";
    ExpectWideText(Written([&](IStreamWrite& s) { s.WriteStdWString(text); }), text);
}

TEST(StreamRead, ReadAndCompareVersion) {
    const Bytes bytes{0, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 0xAA};
    QvStreamReadBinaryBuffer reader(bytes.data(), bytes.size());
    reader.ReadAndCompareVersion(0);
    reader.ReadAndCompareVersion(5);  // an older version passes
    const SThrown t = ExpectThrowsAt<QvExceptionWrongFileVersion>(
        [&] { reader.ReadAndCompareVersion(0); }, "core/basepool/qvstreamread.cpp", 41,
        "QvStreamRead::ReadAndCompareVersion");
    EXPECT_EQ(t.entries.at(0).message, L"Wrong file version on stream");
    EXPECT_EQ(reader.GetPosition(), 12u);  // nothing beyond the version was consumed

    // The comparison is unsigned, and it runs over a caller's stream too.
    CByteSource source(Bytes{0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_TRUE(Throws<QvExceptionWrongFileVersion>([&] { source.ReadAndCompareVersion(~1u); }));
}

// Every proper prefix of the encoding of `write` fails to read through `read`, in both readers,
// and leaves the destination as it was.
template <class M, class T>
void ExpectEveryPrefixFails(const Write& write, const std::type_identity_t<T>& keep,
                            void (M::*read)(T&), CallSite where = CallSite::current()) {
    const testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "");
    const Bytes full = Written(write);
    for (size_t n = 0; n < full.size(); ++n) {
        ForBothReaders(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)),
                       [&](R& r) {
                           T value = keep;
                           EXPECT_TRUE(Throws([&] { (r.*read)(value); })) << n;
                           EXPECT_TRUE(value == keep) << n;
                           if (auto* buffer = dynamic_cast<QvStreamReadBinaryBuffer*>(&r)) {
                               EXPECT_EQ(buffer->GetPosition(), 0u) << n;
                           }
                       });
    }
}

TEST(StreamRead, TruncatedInputThrowsAndStoresNothing) {
    ExpectEveryPrefixFails([](IStreamWrite& s) { s.WriteUInt32(0x01020304); }, 9, &R::ReadUInt32);
    ExpectEveryPrefixFails([](IStreamWrite& s) { s.WriteDouble(2.5); }, 9.0, &R::ReadDouble);
    ExpectEveryPrefixFails([](IStreamWrite& s) { s.WriteBool(true); }, false, &R::ReadBool);
    ExpectEveryPrefixFails([](IStreamWrite& s) { s.WriteStdString("hello"); }, "keep",
                           &R::ReadStdString);
    ExpectEveryPrefixFails(
        [](IStreamWrite& s) {
            std::wstring faces;
            for (int i = 0; i < 200; ++i) faces += L"\U0001F600";
            s.WriteStdWString(faces);
        },
        L"keep", &R::ReadStdWString);
    ExpectEveryPrefixFails([](IStreamWrite& s) { s.WriteStringA(QvStringA("abc")); },
                           QvStringA("keep"), &R::ReadStringA);
}

TEST(StreamRead, MalformedAndHostileText) {
    // Narrow text where wide text is expected; the two-byte escape the writer never uses;
    // lengths far beyond the data, refused without reserving what they claim.
    const Bytes narrow = Written([](IStreamWrite& s) { s.WriteStdString("abcd"); });
    const Bytes badEscape{0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF, 0, 0};
    const Bytes hugeWide{0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                         0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x3F, 'a',  0};
    for (const Bytes& bytes : {narrow, badEscape, hugeWide}) {
        ForBothReaders(bytes, [](R& r) {
            EXPECT_TRUE(Throws<CException>([&] { Read(r, &R::ReadStdWString); }));
        });
    }
    ForBothReaders(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b'}, [](R& r) {
        EXPECT_TRUE(Throws<CException>([&] { Read(r, &R::ReadStdString); }));
    });

    // ReadBytes past the end delivers what is left; a typed read there names its raising place.
    const Bytes three{1, 2, 3};
    QvStreamReadBinaryBuffer reader(three.data(), three.size());
    unsigned char out[8] = {};
    EXPECT_EQ(reader.ReadBytes(out, 8), 3u);
    EXPECT_EQ(out[2], 3);
    EXPECT_EQ(reader.ReadBytes(out, 8), 0u);
    ExpectThrowsAt<CException>([&] { Read(reader, &R::ReadUInt32); },
                               "core/basepool/qvstreamread.cpp", 0,
                               "QvStreamReadBinaryBuffer::ReadUInt32");
}

TEST(StreamRead, MemoryAccessOfTheBuffer) {
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
    const char* const kStreamFile = "core/basepool/qvstreamread.cpp";
    ExpectThrowsAt<Tavrin::CException>([&] { buffer.Consume(3); }, kStreamFile, 160,
                                       "QvStreamReadBinaryBuffer::Consume");
    EXPECT_EQ(buffer.GetPosition(), 4u);  // nothing consumed by the refused call
    buffer.Consume(2);
    EXPECT_EQ(buffer.GetRemaining(), 0u);
    QvStreamReadBinaryBuffer none(nullptr, 10);
    EXPECT_EQ(none.GetContiguous(available), nullptr);
    EXPECT_EQ(available, 0u);
    // A stream without memory offers none, and consuming what was not offered is refused.
    CHiddenBuffer hidden(bytes, sizeof bytes);
    EXPECT_EQ(hidden.QvStreamReadBinary::GetContiguous(available), nullptr);
    hidden.QvStreamReadBinary::Consume(0);
    ExpectThrowsAt<Tavrin::CException>([&] { hidden.QvStreamReadBinary::Consume(1); }, kStreamFile,
                                       150, "QvStreamReadBinary::Consume");
}

TEST(StreamRead, BufferWideTextDecodingMatchesTheGeneralDecoder) {
    // Random units, lone surrogate halves included, read by the buffer's own decoder and by
    // the general one of QvStreamReadBinary.
    uint64_t seed = 0x5EED0001;  // fixed
    auto next = [&seed] {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(seed >> 33);
    };
    const uint16_t kPicks[] = {0x61, 0xE9, 0x4E2D, 0xD83D, 0xDE00, 0xDBFF, 0xDC00, 0xFFFF};
    for (int round = 0; round < 400; ++round) {
        const size_t units = next() % (round < 200 ? 40 : 600);
        Bytes doc = {0xFF, 0xFE, 0xFF};
        auto add16 = [&doc](size_t u) {
            doc.push_back(static_cast<unsigned char>(u));
            doc.push_back(static_cast<unsigned char>(u >> 8));
        };
        if (units < 0xFF) {
            doc.push_back(static_cast<unsigned char>(units));
        } else {
            doc.push_back(0xFF), add16(units);
        }
        for (size_t k = 0; k < units; ++k) {
            add16(round % 3 == 0 ? next() & 0xFFFF : kPicks[next() % 8]);
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

class StreamFile : public TestSupport::CTempDirTest {};

TEST_F(StreamFile, RoundTripMatchesTheBufferBytes) {
    // The wide name reaches the system as UTF-8.
    const std::wstring path = WPath(L"r\u00E9sum\u00E9-\u4E2D.bin");
    const Bytes large(200000, 0x42);  // larger than the file stream's buffer
    auto writeEverything = [&](QvStreamWriteBinary& s) {
        WriteAll(s);
        s.WriteBytes(large.data(), large.size());
        for (uint32_t i = 0; i < 30000; ++i) s.WriteUInt32(i);
        WriteAll(s);
    };
    QvStreamWriteBinaryBuffer expected;
    writeEverything(expected);
    {
        QvStreamWriteBinaryFile file(path);
        writeEverything(file);
        EXPECT_EQ(file.GetCount(), expected.GetCount());
        file.Close();
        file.Close();  // closing twice does nothing
        EXPECT_TRUE(Throws<CException>([&] { file.WriteUInt8(1); }));
    }
    EXPECT_EQ(FileBytes("r\xC3\xA9sum\xC3\xA9-\xE4\xB8\xAD.bin"), BytesOf(expected));

    QvStreamReadBinaryFile reader(path);
    EXPECT_EQ(reader.GetSize(), expected.GetCount());
    ExpectAll(reader);
    Bytes back(large.size());
    EXPECT_EQ(reader.ReadBytes(back.data(), back.size()), large.size());
    EXPECT_EQ(back, large);
    for (uint32_t i = 0; i < 30000; ++i) ASSERT_EQ(Read(reader, &R::ReadUInt32), i);
    ExpectAll(reader);
    EXPECT_TRUE(Throws<CException>([&] { Read(reader, &R::ReadUInt8); }));

    // The destructor flushes what Close was not called for.
    QvStreamWriteBinaryFile(WPath(L"flushed.bin")).WriteUInt32(0xDEADBEEF).WriteSzA("x");
    EXPECT_EQ(FileBytes("flushed.bin"), (Bytes{0xEF, 0xBE, 0xAD, 0xDE, 1, 0, 0, 0, 'x'}));
}

TEST_F(StreamFile, MemoryAccessOffersTheRestOfTheFileInOnePiece) {
    Bytes bytes(150000);  // more than the stream's own buffer
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 7 + i / 251);
    {
        QvStreamWriteBinaryFile file(WPath(L"memory.bin"));
        file.WriteBytes(bytes.data(), bytes.size());
    }
    QvStreamReadBinaryFile reader(WPath(L"memory.bin"));
    EXPECT_EQ(Read(reader, &R::ReadUInt32),
              0x15'0E'07'00u);  // buffered before the memory is asked for
    uint64_t available = 0;
    const unsigned char* p = reader.GetContiguous(available);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(available, bytes.size() - 4);
    EXPECT_TRUE(std::equal(p, p + available, bytes.begin() + 4));
    reader.Consume(100000);
    unsigned char next[3] = {};
    EXPECT_EQ(reader.ReadBytes(next, 3), 3u);  // reads go on where the consumed bytes end
    EXPECT_TRUE(std::equal(next, next + 3, bytes.begin() + 100004));
    p = reader.GetContiguous(available);
    EXPECT_EQ(available, bytes.size() - 100007);
    EXPECT_EQ(p[0], bytes[100007]);
    ExpectThrowsAt<CException>([&] { reader.Consume(available + 1); },
                               "core/basepool/qvstreamread.cpp", 160,
                               "QvStreamReadBinaryFile::Consume");
    reader.Consume(available);
    EXPECT_EQ(reader.ReadBytes(next, 3), 0u);
    reader.GetContiguous(available);
    EXPECT_EQ(available, 0u);
}

TEST_F(StreamFile, OpenFailuresThrow) {
    const char* file = "core/basepool/qvstreamfile.cpp";
    const char* writeCtor = "QvStreamWriteBinaryFile::QvStreamWriteBinaryFile";
    const char* readCtor = "QvStreamReadBinaryFile::QvStreamReadBinaryFile";
    // A missing directory, a directory, an empty path; a value that is no code point cannot be
    // named to the system.
    for (const std::wstring& path : {WPath(L"none/file.bin"), WPath(L""), std::wstring()}) {
        ExpectThrowsAt([&] { QvStreamWriteBinaryFile f(path); }, file, 0, writeCtor);
        ExpectThrowsAt([&] { QvStreamReadBinaryFile f(path); }, file, 0, readCtor);
    }
    ExpectThrowsAt([&] { QvStreamReadBinaryFile f(WPath(L"absent.bin")); }, file, 0, readCtor);
    ExpectThrowsAt([&] { QvStreamReadBinaryFile f(WPath(std::wstring(1, wchar_t(0xD800)))); }, file,
                   0, readCtor);
}

}  // namespace
