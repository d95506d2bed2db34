// Binary streams: the bytes of every primitive, wide and narrow text, the buffer's growth, the
// version check, truncated input and the file streams.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "logcapture.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes BytesOf(const QvStreamWriteBinaryBuffer& buffer) {
    return Bytes(buffer.GetData(), buffer.GetData() + buffer.GetCount());
}

Bytes Written(const std::function<void(IStreamWrite&)>& write) {
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

// A caller's read stream that implements ReadBytes alone, so the typed reads of the base run.
class CByteSource : public QvStreamReadBinary {
public:
    explicit CByteSource(Bytes data) : m_data(std::move(data)) {}
    uint64_t ReadBytes(void* data, uint64_t count) override {
        const uint64_t take = std::min<uint64_t>(count, m_data.size() - m_position);
        std::copy_n(m_data.begin() + static_cast<std::ptrdiff_t>(m_position), take,
                    static_cast<unsigned char*>(data));
        m_position += take;
        return take;
    }

private:
    Bytes m_data;
    size_t m_position = 0;
};

std::wstring Repeat(wchar_t c, size_t n) { return std::wstring(n, c); }

// ---- Bytes of the primitives ----------------------------------------------------------------------

TEST(StreamWrite, PrimitiveBytes) {
    struct SCase {
        const char* name;
        std::function<void(IStreamWrite&)> write;
        Bytes bytes;
    };
    const std::vector<SCase> cases = {
        {"Long", [](IStreamWrite& s) { s.WriteLong(-2); }, {0xFE, 0xFF, 0xFF, 0xFF}},
        {"ULong", [](IStreamWrite& s) { s.WriteULong(0x01020304u); }, {4, 3, 2, 1}},
        {"Char", [](IStreamWrite& s) { s.WriteChar('\xE9'); }, {0xE9}},
        {"Double", [](IStreamWrite& s) { s.WriteDouble(1.0); }, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
        {"Float", [](IStreamWrite& s) { s.WriteFloat(-2.0f); }, {0, 0, 0, 0xC0}},
        {"Int64", [](IStreamWrite& s) { s.WriteInt64(-1); }, Bytes(8, 0xFF)},
        {"UInt64", [](IStreamWrite& s) { s.WriteUInt64(0x0102030405060708ull); },
         {8, 7, 6, 5, 4, 3, 2, 1}},
        {"Int32", [](IStreamWrite& s) { s.WriteInt32(INT32_MIN); }, {0, 0, 0, 0x80}},
        {"UInt32", [](IStreamWrite& s) { s.WriteUInt32(1); }, {1, 0, 0, 0}},
        {"Int16", [](IStreamWrite& s) { s.WriteInt16(-2); }, {0xFE, 0xFF}},
        {"UInt16", [](IStreamWrite& s) { s.WriteUInt16(0x1234); }, {0x34, 0x12}},
        {"Int8", [](IStreamWrite& s) { s.WriteInt8(-1); }, {0xFF}},
        {"UInt8", [](IStreamWrite& s) { s.WriteUInt8(0x80); }, {0x80}},
        {"BoolTrue", [](IStreamWrite& s) { s.WriteBool(true); }, {0x01}},
        {"BoolFalse", [](IStreamWrite& s) { s.WriteBool(false); }, {0x00}},
        {"Version", [](IStreamWrite& s) { s.WriteVersion(7); }, {7, 0, 0, 0}},
        {"EmptyNarrow", [](IStreamWrite& s) { s.WriteStdString(""); }, {0, 0, 0, 0}},
        {"Narrow", [](IStreamWrite& s) { s.WriteSzA("ab"); }, {2, 0, 0, 0, 'a', 'b'}},
        {"NarrowObject", [](IStreamWrite& s) { s.WriteStringA(QvStringA("xyz")); },
         {3, 0, 0, 0, 'x', 'y', 'z'}},
        // Only the part before an embedded zero is written.
        {"NarrowZero", [](IStreamWrite& s) { s.WriteStdString(std::string("ab\0cd", 5)); },
         {2, 0, 0, 0, 'a', 'b'}},
        {"EmptyWide", [](IStreamWrite& s) { s.WriteStdWString(L""); }, {0xFF, 0xFE, 0xFF, 0x00}},
        {"Wide", [](IStreamWrite& s) { s.WriteSzW(L"A\u00E9"); },
         {0xFF, 0xFE, 0xFF, 2, 'A', 0, 0xE9, 0}},
        {"WideZero", [](IStreamWrite& s) { s.WriteStdWString(std::wstring(L"A\0B", 3)); },
         {0xFF, 0xFE, 0xFF, 1, 'A', 0}},
        {"WideObject", [](IStreamWrite& s) { s.WriteStringW(QvStringW(L"Z")); },
         {0xFF, 0xFE, 0xFF, 1, 'Z', 0}},
        // Beyond U+FFFF: a surrogate pair, counted as two units.
        {"WideAstral", [](IStreamWrite& s) { s.WriteStdWString(L"\U0001F600"); },
         {0xFF, 0xFE, 0xFF, 2, 0x3D, 0xD8, 0x00, 0xDE}},
    };
    for (const SCase& c : cases) {
        EXPECT_EQ(Written(c.write), c.bytes) << c.name;
        // A caller's stream that implements WriteBytes alone gets the same bytes.
        CCollectingStream collecting;
        c.write(collecting);
        EXPECT_EQ(collecting.bytes, c.bytes) << c.name;
    }
}

// Text goes out as the typed writes of its prefix followed by one WriteBytes of the whole
// payload, however long; a stream that counts or frames WriteBytes calls relies on that.
TEST(StreamWrite, WriteBytesCallsPerOperation) {
    using Sizes = std::vector<uint64_t>;
    auto sizesOf = [](const std::function<void(IStreamWrite&)>& write) {
        CCollectingStream stream;
        write(stream);
        return stream.sizes;
    };
    EXPECT_EQ(sizesOf([](IStreamWrite& s) { s.WriteUInt64(1).WriteBool(true); }), (Sizes{8, 1}));
    EXPECT_EQ(sizesOf([](IStreamWrite& s) { s.WriteVersion(0); }), (Sizes{4}));
    EXPECT_EQ(sizesOf([](IStreamWrite& s) { s.WriteSzA(""); }), (Sizes{4, 0}));
    EXPECT_EQ(sizesOf([](IStreamWrite& s) { s.WriteStdString(std::string(5000, 'n')); }),
              (Sizes{4, 5000}));
    EXPECT_EQ(sizesOf([](IStreamWrite& s) { s.WriteStdWString(L""); }), (Sizes{1, 2, 1, 0}));
    EXPECT_EQ(sizesOf([](IStreamWrite& s) { s.WriteSzW(L"ab"); }), (Sizes{1, 2, 1, 4}));
    // 3000 units, one of them a pair: the prefix escapes to two bytes, the payload is one call.
    std::wstring longText(2999, L'w');
    longText.back() = L'\U0001F600';
    EXPECT_EQ(sizesOf([&](IStreamWrite& s) { s.WriteStdWString(longText); }),
              (Sizes{1, 2, 1, 2, 6000}));
    EXPECT_EQ(sizesOf([](IStreamWrite& s) { s.WriteStdWString(std::wstring(70000, L'x')); }),
              (Sizes{1, 2, 1, 2, 4, 140000}));
}

TEST(StreamWrite, WideLengthPrefixWidths) {
    struct SCase {
        size_t units;
        Bytes prefix;
    };
    const std::vector<SCase> cases = {
        {254, {0xFF, 0xFE, 0xFF, 0xFE}},
        {255, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x00}},
        {65533, {0xFF, 0xFE, 0xFF, 0xFF, 0xFD, 0xFF}},
        {65534, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {65535, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
    };
    for (const SCase& c : cases) {
        const std::wstring text = Repeat(L'\u0101', c.units);
        const Bytes bytes = Written([&](IStreamWrite& s) { s.WriteStdWString(text); });
        ASSERT_EQ(bytes.size(), c.prefix.size() + 2 * c.units) << c.units;
        EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(c.prefix.size())),
                  c.prefix)
            << c.units;
        EXPECT_EQ(bytes[c.prefix.size()], 0x01);
        EXPECT_EQ(bytes.back(), 0x01);

        QvStreamReadBinaryBuffer reader(bytes.data(), bytes.size());
        std::wstring back;
        reader.ReadStdWString(back);
        EXPECT_EQ(back, text);
        EXPECT_EQ(reader.GetRemaining(), 0u);
        CByteSource source(bytes);
        std::wstring viaBase;
        source.ReadStdWString(viaBase);
        EXPECT_EQ(viaBase, text);
    }
    // A length counted in units: 128 astral characters are 256 units, past the one-byte form.
    const Bytes astral = Written([](IStreamWrite& s) { s.WriteStdWString(Repeat(L'\U00010437', 128)); });
    EXPECT_EQ(Bytes(astral.begin(), astral.begin() + 6), (Bytes{0xFF, 0xFE, 0xFF, 0xFF, 0x00, 0x01}));
}

TEST(StreamWriteBuffer, CapacityDoubles) {
    QvStreamWriteBinaryBuffer buffer;
    EXPECT_EQ(buffer.GetCapacity(), 4096u);
    EXPECT_EQ(buffer.GetCount(), 0u);
    for (int i = 0; i < 4096; ++i) buffer.WriteUInt8(static_cast<uint8_t>(i));
    EXPECT_EQ(buffer.GetCapacity(), 4096u);
    buffer.WriteUInt8(1);
    EXPECT_EQ(buffer.GetCapacity(), 8192u);
    const Bytes block(4096, 0xAB);
    buffer.WriteBytes(block.data(), 4095);
    EXPECT_EQ(buffer.GetCount(), 8192u);
    EXPECT_EQ(buffer.GetCapacity(), 8192u);
    buffer.WriteBool(true);
    EXPECT_EQ(buffer.GetCapacity(), 16384u);

    // One large write lands on the capacity that byte-by-byte growth would reach.
    QvStreamWriteBinaryBuffer bulk;
    const Bytes large(40000, 0x11);
    bulk.WriteBytes(large.data(), large.size());
    EXPECT_EQ(bulk.GetCapacity(), 65536u);
    EXPECT_EQ(BytesOf(bulk), large);
    bulk.WriteBytes(nullptr, 0);
    EXPECT_EQ(bulk.GetCount(), 40000u);

    // Copying one buffer into another stream leaves the source as it was.
    QvStreamWriteBinaryBuffer target;
    target.WriteBytes(bulk.GetData(), bulk.GetCount());
    EXPECT_EQ(BytesOf(target), large);
    EXPECT_EQ(bulk.GetCount(), 40000u);
}

// ---- Reading ---------------------------------------------------------------------------------

// One value of every kind, written by WriteAll and read back by ReadAll.
struct SValues {
    int32_t l = 0;
    uint32_t ul = 0;
    char c = 0;
    double d = 0;
    float f = 0;
    int64_t i64 = 0;
    uint64_t u64 = 0;
    int32_t i32 = 0;
    uint32_t u32 = 0;
    int16_t i16 = 0;
    uint16_t u16 = 0;
    int8_t i8 = 0;
    uint8_t u8 = 0;
    bool b = false;
    std::string s;
    std::wstring w;
    QvStringA sa;
    QvStringW sw;
    bool operator==(const SValues&) const = default;
};

const SValues kAll{-5, 5, 'q', -0.25, 3.5f, INT64_MIN, UINT64_MAX, -7, 7, -300, 60000, -100, 200,
                   true, "n\xC3\xA4me", L"w\u00E9\U0001F600!", QvStringA("obj"),
                   QvStringW(L"\u4E2D")};

void WriteAll(IStreamWrite& s) {
    const SValues& v = kAll;
    s.WriteLong(v.l).WriteULong(v.ul).WriteChar(v.c).WriteDouble(v.d).WriteFloat(v.f);
    s.WriteInt64(v.i64).WriteUInt64(v.u64).WriteInt32(v.i32).WriteUInt32(v.u32);
    s.WriteInt16(v.i16).WriteUInt16(v.u16).WriteInt8(v.i8).WriteUInt8(v.u8).WriteBool(v.b);
    s.WriteStdString(v.s).WriteStdWString(v.w).WriteStringA(v.sa).WriteStringW(v.sw);
}

SValues ReadAll(QvStreamReadBinary& r) {
    SValues v;
    r.ReadLong(v.l);
    r.ReadULong(v.ul);
    r.ReadChar(v.c);
    r.ReadDouble(v.d);
    r.ReadFloat(v.f);
    r.ReadInt64(v.i64);
    r.ReadUInt64(v.u64);
    r.ReadInt32(v.i32);
    r.ReadUInt32(v.u32);
    r.ReadInt16(v.i16);
    r.ReadUInt16(v.u16);
    r.ReadInt8(v.i8);
    r.ReadUInt8(v.u8);
    r.ReadBool(v.b);
    r.ReadStdString(v.s);
    r.ReadStdWString(v.w);
    r.ReadStringA(v.sa);
    r.ReadStringW(v.sw);
    return v;
}

TEST(StreamRead, RoundTripThroughBothReaders) {
    const Bytes bytes = Written(WriteAll);
    QvStreamReadBinaryBuffer reader(bytes.data(), bytes.size());
    EXPECT_TRUE(ReadAll(reader) == kAll);
    EXPECT_EQ(reader.GetRemaining(), 0u);
    CByteSource source(bytes);
    EXPECT_TRUE(ReadAll(source) == kAll);
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
    struct SCase {
        Bytes bytes;
        std::wstring text;
    };
    const std::vector<SCase> cases = {
        {wide({0xD800, 0x0041}), L"\uFFFDA"},
        {wide({0x0041, 0xDC00}), L"A\uFFFD"},
        {wide({0xD83D}), L"\uFFFD"},
        {wide({0xD83D, 0xD83D, 0xDE00}), L"\uFFFD\U0001F600"},
        {wide({0xDBFF, 0xDFFF}), L"\U0010FFFF"},
    };
    for (const SCase& c : cases) {
        QvStreamReadBinaryBuffer reader(c.bytes.data(), c.bytes.size());
        std::wstring back;
        reader.ReadStdWString(back);
        EXPECT_EQ(back, c.text);
        CByteSource source(c.bytes);
        std::wstring viaBase;
        source.ReadStdWString(viaBase);
        EXPECT_EQ(viaBase, c.text);
    }

    // A long text read in pieces by the base reader: pairs that straddle a piece boundary stay
    // whole wherever they fall.
    std::wstring text;
    for (int i = 0; i < 30000; ++i) text += (i % 3 == 0) ? L'\U0001F600' : L'x';
    text.insert(text.begin(), L'y');  // shift the pairs against the piece size
    const Bytes bytes = Written([&](IStreamWrite& s) { s.WriteStdWString(text); });
    CByteSource source(bytes);
    std::wstring back;
    source.ReadStdWString(back);
    EXPECT_EQ(back, text);
}

TEST(StreamRead, ReadAndCompareVersion) {
    const Bytes zero{0, 0, 0, 0, 0xAA};
    QvStreamReadBinaryBuffer ok(zero.data(), zero.size());
    ok.ReadAndCompareVersion(0);
    EXPECT_EQ(ok.GetPosition(), 4u);

    const Bytes three{3, 0, 0, 0};
    QvStreamReadBinaryBuffer older(three.data(), three.size());
    older.ReadAndCompareVersion(5);  // an older version passes

    const Bytes one{1, 0, 0, 0, 0xAA};
    QvStreamReadBinaryBuffer newer(one.data(), one.size());
    LogCapture log;
    try {
        newer.ReadAndCompareVersion(0);
        FAIL() << "a newer version must throw";
    } catch (const QvExceptionWrongFileVersion& e) {
        EXPECT_EQ(e.GetCodeLine(), 41u);
        EXPECT_STREQ(e.GetFunctionName(), "QvStreamRead::ReadAndCompareVersion");
        const std::string file = e.GetFilename();
        EXPECT_EQ(file.substr(file.size() - 30), "core/basepool/qvstreamread.cpp");
    }
    ASSERT_EQ(log.Count(), 1u);
    EXPECT_EQ(log.Entries()[0].message, L"Wrong file version on stream");
    EXPECT_EQ(newer.GetPosition(), 4u);  // nothing beyond the version was consumed

    // The check runs over a caller's stream too.
    CByteSource source(Bytes{0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_THROW(source.ReadAndCompareVersion(0xFFFFFFFEu), QvExceptionWrongFileVersion);
}

// Every proper prefix of a complete encoding fails cleanly and leaves the destination alone.
TEST(StreamRead, TruncatedInputThrowsAndStoresNothing) {
    struct SCase {
        const char* name;
        std::function<void(IStreamWrite&)> write;
        std::function<bool(QvStreamReadBinary&)> readIsUntouched;
    };
    const std::vector<SCase> cases = {
        {"UInt32", [](IStreamWrite& s) { s.WriteUInt32(0x01020304); },
         [](QvStreamReadBinary& r) { uint32_t v = 9; try { r.ReadUInt32(v); } catch (const IException&) { return v == 9; } return false; }},
        {"Double", [](IStreamWrite& s) { s.WriteDouble(2.5); },
         [](QvStreamReadBinary& r) { double v = 9; try { r.ReadDouble(v); } catch (const IException&) { return v == 9; } return false; }},
        {"Int16", [](IStreamWrite& s) { s.WriteInt16(-1); },
         [](QvStreamReadBinary& r) { int16_t v = 9; try { r.ReadInt16(v); } catch (const IException&) { return v == 9; } return false; }},
        {"Bool", [](IStreamWrite& s) { s.WriteBool(true); },
         [](QvStreamReadBinary& r) { bool v = false; try { r.ReadBool(v); } catch (const IException&) { return !v; } return false; }},
        {"Narrow", [](IStreamWrite& s) { s.WriteStdString("hello"); },
         [](QvStreamReadBinary& r) { std::string v = "keep"; try { r.ReadStdString(v); } catch (const IException&) { return v == "keep"; } return false; }},
        {"Wide", [](IStreamWrite& s) { s.WriteStdWString(Repeat(L'\U0001F600', 200)); },
         [](QvStreamReadBinary& r) { std::wstring v = L"keep"; try { r.ReadStdWString(v); } catch (const IException&) { return v == L"keep"; } return false; }},
        {"NarrowObject", [](IStreamWrite& s) { s.WriteStringA(QvStringA("abc")); },
         [](QvStreamReadBinary& r) { QvStringA v("keep"); try { r.ReadStringA(v); } catch (const IException&) { return v.Str() == "keep"; } return false; }},
    };
    for (const SCase& c : cases) {
        const Bytes full = Written(c.write);
        for (size_t n = 0; n < full.size(); ++n) {
            QvStreamReadBinaryBuffer reader(full.data(), n);
            EXPECT_TRUE(c.readIsUntouched(reader)) << c.name << " prefix " << n;
            EXPECT_EQ(reader.GetPosition(), 0u) << c.name << " prefix " << n;
            CByteSource source(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)));
            EXPECT_TRUE(c.readIsUntouched(source)) << c.name << " prefix " << n;
        }
    }
}

TEST(StreamRead, MalformedAndHostileText) {
    // Narrow text where wide text is expected, and the two-byte escape the writer never uses.
    const Bytes narrow = Written([](IStreamWrite& s) { s.WriteStdString("abcd"); });
    const Bytes badEscape{0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF, 0, 0};
    for (const Bytes& bytes : {narrow, badEscape}) {
        QvStreamReadBinaryBuffer reader(bytes.data(), bytes.size());
        std::wstring v;
        EXPECT_THROW(reader.ReadStdWString(v), Tavrin::CException);
        CByteSource source(bytes);
        EXPECT_THROW(source.ReadStdWString(v), Tavrin::CException);
    }
    // Lengths far beyond the data: refused without reserving what the length claims.
    const Bytes hugeNarrow{0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b'};
    const Bytes hugeWide{0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                         0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x3F, 'a', 0};
    std::string s;
    std::wstring w;
    CByteSource narrowSource(hugeNarrow);
    EXPECT_THROW(narrowSource.ReadStdString(s), Tavrin::CException);
    CByteSource wideSource(hugeWide);
    EXPECT_THROW(wideSource.ReadStdWString(w), Tavrin::CException);
    QvStreamReadBinaryBuffer wideBuffer(hugeWide.data(), hugeWide.size());
    EXPECT_THROW(wideBuffer.ReadStdWString(w), Tavrin::CException);

    // ReadBytes past the end delivers what is left.
    const Bytes three{1, 2, 3};
    QvStreamReadBinaryBuffer reader(three.data(), three.size());
    unsigned char out[8] = {};
    EXPECT_EQ(reader.ReadBytes(out, 8), 3u);
    EXPECT_EQ(out[2], 3);
    EXPECT_EQ(reader.ReadBytes(out, 8), 0u);
}

TEST(StreamRead, TruncationNamesTheRaisingPlace) {
    const Bytes two{1, 2};
    QvStreamReadBinaryBuffer reader(two.data(), two.size());
    uint32_t v = 0;
    try {
        reader.ReadUInt32(v);
        FAIL();
    } catch (const Tavrin::CException& e) {
        const std::string file = e.GetFilename();
        EXPECT_EQ(file.substr(file.size() - 30), "core/basepool/qvstreamread.cpp");
        EXPECT_STREQ(e.GetFunctionName(), "QvStreamReadBinaryBuffer::ReadUInt32");
    }
}

// ---- Files -------------------------------------------------------------------------------------

class StreamFile : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("tavrin-streams-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    // The directory name is ASCII, so widening it byte by byte gives its wide form.
    std::wstring DirW() const {
        const std::string dir = m_dir.string();
        return std::wstring(dir.begin(), dir.end());
    }
    std::wstring PathOf(const std::wstring& name) const { return DirW() + L"/" + name; }

    // Reads a file named by its UTF-8 name inside the test directory.
    Bytes FileBytes(const std::u8string& name) const {
        std::ifstream in(m_dir / std::filesystem::path(name), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::filesystem::path m_dir;
};

TEST_F(StreamFile, RoundTripMatchesTheBufferBytes) {
    // The wide name reaches the system as UTF-8.
    const std::wstring path = PathOf(L"r\u00E9sum\u00E9-\u4E2D.bin");
    const std::u8string utf8Name = u8"r\u00E9sum\u00E9-\u4E2D.bin";
    const Bytes large(200000, 0x42);
    auto writeEverything = [&](QvStreamWriteBinary& s) {
        WriteAll(s);
        s.WriteBytes(large.data(), large.size());  // larger than the file stream's buffer
        for (int i = 0; i < 30000; ++i) s.WriteUInt32(static_cast<uint32_t>(i));
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
        EXPECT_THROW(file.WriteUInt8(1), Tavrin::CException);
    }
    EXPECT_EQ(FileBytes(utf8Name), BytesOf(expected));

    QvStreamReadBinaryFile reader(path);
    EXPECT_EQ(reader.GetSize(), expected.GetCount());
    EXPECT_TRUE(ReadAll(reader) == kAll);
    Bytes back(large.size());
    EXPECT_EQ(reader.ReadBytes(back.data(), back.size()), large.size());
    EXPECT_EQ(back, large);
    for (uint32_t i = 0; i < 30000; ++i) {
        uint32_t x = 0;
        reader.ReadUInt32(x);
        ASSERT_EQ(x, i);
    }
    EXPECT_TRUE(ReadAll(reader) == kAll);
    uint8_t past = 0;
    EXPECT_THROW(reader.ReadUInt8(past), Tavrin::CException);
}

TEST_F(StreamFile, DestructorFlushes) {
    const std::wstring path = PathOf(L"flushed.bin");
    {
        QvStreamWriteBinaryFile file(path);
        file.WriteUInt32(0xDEADBEEF);
        file.WriteStdString("x");
    }
    EXPECT_EQ(FileBytes(u8"flushed.bin"), (Bytes{0xEF, 0xBE, 0xAD, 0xDE, 1, 0, 0, 0, 'x'}));
}

TEST_F(StreamFile, OpenFailuresThrow) {
    auto expectOpenFails = [](auto&& open, const char* function) {
        try {
            open();
            ADD_FAILURE() << function << " did not throw";
        } catch (const Tavrin::CException& e) {
            EXPECT_STREQ(e.GetFunctionName(), function);
            const std::string file = e.GetFilename();
            EXPECT_EQ(file.substr(file.size() - 30), "core/basepool/qvstreamfile.cpp");
        }
    };
    const std::wstring missingDir = PathOf(L"no-such-dir/file.bin");
    const std::wstring directory = DirW();
    const char* writeCtor = "QvStreamWriteBinaryFile::QvStreamWriteBinaryFile";
    const char* readCtor = "QvStreamReadBinaryFile::QvStreamReadBinaryFile";
    expectOpenFails([&] { QvStreamWriteBinaryFile f(missingDir); }, writeCtor);
    expectOpenFails([&] { QvStreamWriteBinaryFile f(directory); }, writeCtor);
    expectOpenFails([&] { QvStreamWriteBinaryFile f(L""); }, writeCtor);
    expectOpenFails([&] { QvStreamReadBinaryFile f(missingDir); }, readCtor);
    expectOpenFails([&] { QvStreamReadBinaryFile f(directory); }, readCtor);
    expectOpenFails([&] { QvStreamReadBinaryFile f(PathOf(L"absent.bin")); }, readCtor);
    // A path with a value that is no code point cannot be named to the system.
    expectOpenFails([&] { QvStreamReadBinaryFile f(PathOf(std::wstring(1, wchar_t(0xD800)))); },
                    readCtor);
}

}  // namespace
