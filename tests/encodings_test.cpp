#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/encodings.h>

namespace {

using Tavrin::Encodings::AppendFromUTF8;
using Tavrin::Encodings::AppendUTF8;
using Tavrin::Encodings::FromCodePage;
using Tavrin::Encodings::FromUTF8;
using Tavrin::Encodings::ToCodePage;
using Tavrin::Encodings::ToUTF8;

std::string Bytes(std::initializer_list<unsigned int> bytes) {
    std::string s;
    for (unsigned int b : bytes) s.push_back(static_cast<char>(b));
    return s;
}

std::wstring Wide(std::initializer_list<unsigned int> codePoints) {
    std::wstring s;
    for (unsigned int c : codePoints) s.push_back(static_cast<wchar_t>(c));
    return s;
}

// Decodes through every entry point, which must agree.
std::wstring Decode(const std::string& utf8) {
    std::wstring appended = L"<";
    AppendFromUTF8(appended, utf8);
    const std::wstring whole = FromUTF8(utf8.c_str());
    EXPECT_EQ(appended, L"<" + whole);
    EXPECT_EQ(FromCodePage(utf8.c_str(), 65001), whole);
    return whole;
}

// Encodes through every entry point, which must agree.
std::string Encode(const std::wstring& wide) {
    std::string appended = "<";
    AppendUTF8(appended, wide);
    const std::string whole = ToUTF8(wide.c_str());
    EXPECT_EQ(appended, "<" + whole);
    EXPECT_EQ(ToCodePage(wide.c_str(), 65001), whole);
    return whole;
}

TEST(Utf8, ExactBytesAtEverySequenceLengthBoundary) {
    struct SCase {
        unsigned int codePoint;
        std::string bytes;
    };
    const SCase cases[] = {
        {0x41, "A"},
        {0x7F, Bytes({0x7F})},
        {0x80, Bytes({0xC2, 0x80})},
        {0xE9, Bytes({0xC3, 0xA9})},
        {0x7FF, Bytes({0xDF, 0xBF})},
        {0x800, Bytes({0xE0, 0xA0, 0x80})},
        {0xD7FF, Bytes({0xED, 0x9F, 0xBF})},
        {0xE000, Bytes({0xEE, 0x80, 0x80})},
        {0xFFFF, Bytes({0xEF, 0xBF, 0xBF})},
        {0x10000, Bytes({0xF0, 0x90, 0x80, 0x80})},
        {0x1F600, Bytes({0xF0, 0x9F, 0x98, 0x80})},
        {0x10FFFF, Bytes({0xF4, 0x8F, 0xBF, 0xBF})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codePoint);
        EXPECT_EQ(Encode(Wide({c.codePoint})), c.bytes);
        EXPECT_EQ(Decode(c.bytes), Wide({c.codePoint}));
    }
}

TEST(Utf8, EveryScalarValueRoundTrips) {
    std::wstring all;
    for (unsigned int c = 1; c <= 0x10FFFF; ++c) {
        if (c < 0xD800 || c > 0xDFFF) all.push_back(static_cast<wchar_t>(c));
    }
    const std::string utf8 = Encode(all);
    const size_t expectedSize = 0x7F * 1 + (0x800 - 0x80) * 2 + (0x10000 - 0x800 - 0x800) * 3 +
                                (0x110000 - 0x10000) * 4;
    EXPECT_EQ(utf8.size(), expectedSize);
    EXPECT_TRUE(Decode(utf8) == all);
}

// Each maximal invalid subpart becomes one U+FFFD; the byte after it is read afresh.
TEST(Utf8, InvalidSequencesAreReplacedPerMaximalSubpart) {
    constexpr unsigned int R = 0xFFFD;
    struct SCase {
        std::string bytes;
        std::wstring expected;
    };
    const SCase cases[] = {
        {Bytes({0x80}), Wide({R})},                                   // lone trail byte
        {Bytes({0xBF, 0x80}), Wide({R, R})},                          // two trail bytes
        {Bytes({0xC0, 0x80}), Wide({R, R})},                          // overlong NUL
        {Bytes({0xC1, 0xBF}), Wide({R, R})},                          // overlong 7F
        {Bytes({0xC2}), Wide({R})},                                   // truncated at the end
        {Bytes({0xC2, 0x41}), Wide({R, 0x41})},                       // truncated by ASCII
        {Bytes({0xC2, 0xC3, 0xA9}), Wide({R, 0xE9})},                 // truncated by a lead
        {Bytes({0xE0, 0x80, 0x80}), Wide({R, R, R})},                 // overlong, three bytes
        {Bytes({0xE0, 0x9F, 0xBF}), Wide({R, R, R})},
        {Bytes({0xE0, 0xA0}), Wide({R})},                             // valid prefix, cut short
        {Bytes({0xE0, 0xA0, 0x41}), Wide({R, 0x41})},
        {Bytes({0xE1, 0x80}), Wide({R})},
        {Bytes({0xED, 0xA0, 0x80}), Wide({R, R, R})},                 // encoded high surrogate
        {Bytes({0xED, 0xBF, 0xBF}), Wide({R, R, R})},                 // encoded low surrogate
        {Bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}), Wide({R, R, R, R, R, R})},  // CESU pair
        {Bytes({0xF0, 0x80, 0x80, 0x80}), Wide({R, R, R, R})},        // overlong, four bytes
        {Bytes({0xF0, 0x8F, 0xBF, 0xBF}), Wide({R, R, R, R})},
        {Bytes({0xF0, 0x90, 0x80}), Wide({R})},                       // three of four
        {Bytes({0xF0, 0x90, 0x80, 0x41}), Wide({R, 0x41})},
        {Bytes({0xF0, 0x90}), Wide({R})},
        {Bytes({0xF4, 0x90, 0x80, 0x80}), Wide({R, R, R, R})},        // above U+10FFFF
        {Bytes({0xF5, 0x80, 0x80, 0x80}), Wide({R, R, R, R})},
        {Bytes({0xF8, 0x88, 0x80, 0x80, 0x80}), Wide({R, R, R, R, R})},  // old five-byte form
        {Bytes({0xFE, 0xFF}), Wide({R, R})},
        // The example of the Unicode standard's chapter on conversion: a, F1 80 80, E1 80,
        // C2, b, 80, c, 80 BF, d.
        {Bytes({0x61, 0xF1, 0x80, 0x80, 0xE1, 0x80, 0xC2, 0x62, 0x80, 0x63, 0x80, 0xBF, 0x64}),
         Wide({0x61, R, R, R, 0x62, R, 0x63, R, R, 0x64})},
    };
    for (const auto& c : cases) {
        // Around ASCII runs of every length, so that the bad bytes fall at every offset of the
        // block-wise ASCII scan and at the very end of the text.
        for (size_t before : {0, 1, 15, 16, 17, 31, 40}) {
            for (size_t after : {0, 1, 16, 33}) {
                SCOPED_TRACE(testing::Message() << "case " << (&c - cases) << " before "
                                                << before << " after " << after);
                const std::string text =
                    std::string(before, 'x') + c.bytes + std::string(after, 'y');
                const std::wstring expected =
                    std::wstring(before, L'x') + c.expected + std::wstring(after, L'y');
                ASSERT_EQ(Decode(text), expected);
            }
        }
    }
}

TEST(Utf8, SurrogatesAndOutOfRangeWideCharactersBecomeReplacement) {
    const std::string R = Bytes({0xEF, 0xBF, 0xBD});
    EXPECT_EQ(Encode(Wide({0xD800})), R);
    EXPECT_EQ(Encode(Wide({0xDFFF, 0x41})), R + "A");
    EXPECT_EQ(Encode(Wide({0xDC00, 0xD800})), R + R);     // reversed pair
    EXPECT_EQ(Encode(Wide({0xD800, 0xD800, 0xDC00})), R + Bytes({0xF0, 0x90, 0x80, 0x80}));
    EXPECT_EQ(Encode(Wide({0xD83D, 0xDE00})), Bytes({0xF0, 0x9F, 0x98, 0x80}));  // a pair joins
    EXPECT_EQ(Encode(Wide({0x110000})), R);
    EXPECT_EQ(Encode(std::wstring(1, static_cast<wchar_t>(-1))), R);
    // A pair at every offset, so that it straddles each block boundary of the scans.
    for (size_t before = 0; before < 40; ++before) {
        SCOPED_TRACE(before);
        const std::wstring text = std::wstring(before, L'a') + Wide({0xD83D, 0xDE00}) +
                                  std::wstring(before % 5, L'b') + Wide({0xDBFF, 0xDFFF}) +
                                  std::wstring(20, L'c');
        EXPECT_EQ(Encode(text), std::string(before, 'a') + Bytes({0xF0, 0x9F, 0x98, 0x80}) +
                                    std::string(before % 5, 'b') +
                                    Bytes({0xF4, 0x8F, 0xBF, 0xBF}) + std::string(20, 'c'));
    }
    // Among ASCII runs, where the block-wise scan must notice them.
    for (size_t before : {0, 7, 15, 16, 17, 40}) {
        SCOPED_TRACE(before);
        const std::wstring text = std::wstring(before, L'a') + Wide({0x110000}) + L"bc" +
                                  std::wstring(20, L'd') + Wide({0x80}) + L"xyz" +
                                  Wide({0xDE00}) + L"12345678" + Wide({0xD800}) + L"12345678";
        EXPECT_EQ(Encode(text), std::string(before, 'a') + R + "bc" + std::string(20, 'd') +
                                    Bytes({0xC2, 0x80}) + "xyz" + R + "12345678" + R +
                                    "12345678");
    }
}

TEST(Utf8, TextEndsAtTheFirstNulAndAppendKeepsWhatIsThere) {
    std::string narrow = "keep";
    AppendUTF8(narrow, std::wstring_view(L"ab\0cd", 5));
    EXPECT_EQ(narrow, "keepab");
    AppendUTF8(narrow, std::wstring_view());
    EXPECT_EQ(narrow, "keepab");

    std::wstring wide = L"keep";
    AppendFromUTF8(wide, std::string_view("\xC3\xA9\0z", 4));
    EXPECT_EQ(wide, L"keep\u00E9");
    AppendFromUTF8(wide, std::string_view("\0abc", 4));
    EXPECT_EQ(wide, L"keep\u00E9");

    // A long text cut by a NUL well inside the first block.
    const std::string longText = std::string(10, 'a') + '\0' + std::string(40, 'b');
    std::wstring cut;
    AppendFromUTF8(cut, longText);
    EXPECT_EQ(cut, std::wstring(10, L'a'));

    EXPECT_EQ(FromUTF8(nullptr), L"");
    EXPECT_EQ(ToUTF8(nullptr), "");
    EXPECT_EQ(FromUTF8(""), L"");
    EXPECT_EQ(ToUTF8(L""), "");
}

// The system's ANSI, OEM and thread code pages are UTF-8 here.
TEST(CodePages, SystemCodePagesAreUtf8) {
    for (unsigned int codePage : {0u, 1u, 3u, 65001u}) {
        SCOPED_TRACE(codePage);
        EXPECT_EQ(FromCodePage("\xC3\xA9\xE2\x82\xAC", codePage), L"\u00E9\u20AC");
        EXPECT_EQ(ToCodePage(L"\u00E9\u20AC", codePage), "\xC3\xA9\xE2\x82\xAC");
    }
    EXPECT_EQ(FromCodePage("\x8E", 2), L"\u00E9");  // the Mac code page is Mac Roman
}

struct SCodePageSample {
    unsigned int codePage;
    const wchar_t* text;     // text the code page can hold
    const wchar_t* probe;    // one character of it ...
    std::string probeBytes;  // ... and its bytes in that code page
};

const SCodePageSample kSamples[] = {
    {37, L"Hello, World 123", L"A", Bytes({0xC1})},
    {437, L"Caf\u00E9 \u00DCber \u00BD \u2591", L"\u00E9", Bytes({0x82})},
    {500, L"EBCDIC text", L"a", Bytes({0x81})},
    {737, L"\u0391\u03B2\u03B3", L"\u0391", Bytes({0x80})},
    {775, L"\u0104\u017E", L"\u0104", Bytes({0xB5})},
    {850, L"Caf\u00E9 \u00C0 \u00F8", L"\u00F8", Bytes({0x9B})},
    {852, L"\u017B\u00F3\u0142\u0107", L"\u0142", Bytes({0x88})},
    {855, L"\u0452\u0402", L"\u0452", Bytes({0x80})},
    {857, L"T\u00FCrk\u00E7e \u011F\u0131\u015F", L"\u0131", Bytes({0x8D})},
    {858, L"\u20AC \u00E9", L"\u20AC", Bytes({0xD5})},
    {860, L"Portugu\u00EAs \u00E3", L"\u00E3", Bytes({0x84})},
    {861, L"\u00DE\u00F0", L"\u00F0", Bytes({0x8C})},
    {862, L"\u05E9\u05DC\u05D5\u05DD", L"\u05D0", Bytes({0x80})},
    {863, L"Qu\u00E9bec", L"\u00C2", Bytes({0x84})},
    {864, L"\u0660\u0661", L"\u0660", Bytes({0xB0})},
    {865, L"\u00F8\u00C6", L"\u00F8", Bytes({0x9B})},
    {866, L"\u041F\u0440\u0438\u0432\u0435\u0442", L"\u041F", Bytes({0x8F})},
    {869, L"\u0391\u03C9", L"\u0391", Bytes({0xA4})},
    {870, L"\u017B\u00F3\u0142\u0107", L"A", Bytes({0xC1})},
    {874, L"\u0E2A\u0E27\u0E31\u0E2A\u0E14\u0E35", L"\u0E01", Bytes({0xA1})},
    {875, L"\u0391\u0392", L"\u0391", Bytes({0x41})},
    {932, L"\u65E5\u672C\u8A9E\u30C6\u30AD\u30B9\u30C8 \uFF71", L"\u3042", Bytes({0x82, 0xA0})},
    {936, L"\u4E2D\u6587\u6587\u672C", L"\u4E2D", Bytes({0xD6, 0xD0})},
    {949, L"\uD55C\uAD6D\uC5B4", L"\uD55C", Bytes({0xC7, 0xD1})},
    {950, L"\u4E2D\u6587\u7E41\u9AD4", L"\u4E2D", Bytes({0xA4, 0xA4})},
    {1026, L"ABC", L"A", Bytes({0xC1})},
    {1047, L"abc", L"a", Bytes({0x81})},
    {1140, L"\u20AC1", L"\u20AC", Bytes({0x9F})},
    {1141, L"Gr\u00FC\u00DFe \u20AC", L"\u20AC", Bytes({0x9F})},
    {1142, L"\u00C6\u00D8\u00C5 \u20AC", L"\u00C6", Bytes({0x7B})},
    {1143, L"\u00C4\u00D6\u00C5 \u20AC", L"\u00C4", Bytes({0x7B})},
    {1144, L"citt\u00E0 \u20AC", L"\u20AC", Bytes({0x9F})},
    {1145, L"Espa\u00F1a \u20AC", L"\u00D1", Bytes({0x7B})},
    {1146, L"\u00A3 \u20AC", L"\u00A3", Bytes({0x5B})},
    {1147, L"fran\u00E7ais \u20AC", L"\u00E0", Bytes({0x7C})},
    {1148, L"\u20AC 100", L"\u20AC", Bytes({0x9F})},
    {1149, L"\u00DEorn \u20AC", L"\u20AC", Bytes({0x9F})},
    {1250, L"\u017B\u00F3\u0142\u0107", L"\u0141", Bytes({0xA3})},
    {1251, L"\u041F\u0440\u0438\u0432\u0435\u0442", L"\u041F", Bytes({0xCF})},
    {1252, L"Caf\u00E9 \u20AC \u0152", L"\u20AC", Bytes({0x80})},
    {1253, L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC", L"\u03A9", Bytes({0xD9})},
    {1254, L"T\u00FCrk\u00E7e \u011F\u0131\u015F", L"\u011F", Bytes({0xF0})},
    {1255, L"\u05E9\u05DC\u05D5\u05DD", L"\u05D0", Bytes({0xE0})},
    {1256, L"\u0645\u0631\u062D\u0628\u0627", L"\u0627", Bytes({0xC7})},
    {1257, L"\u0104\u017Euolas", L"\u017E", Bytes({0xFE})},
    {1258, L"\u0110\u00E0\u01A1\u01B0", L"\u01B0", Bytes({0xFD})},
    {10000, L"Caf\u00E9", L"\u00E9", Bytes({0x8E})},
    {10006, L"\u0391\u03B2", L"\u0391", Bytes({0xB0})},
    {10007, L"\u041F\u0440", L"\u041F", Bytes({0x8F})},
    {10029, L"\u0104\u0105", L"\u0104", Bytes({0x84})},
    {10081, L"\u011E\u011F", L"\u011E", Bytes({0xDA})},
    {20127, L"Plain ASCII ~", L"~", Bytes({0x7E})},
    {20273, L"Gr\u00FC\u00DFe \u00C4\u00D6\u00DC", L"\u00E4", Bytes({0xC0})},
    {20277, L"\u00C6\u00D8\u00C5 bl\u00E5", L"\u00C6", Bytes({0x7B})},
    {20278, L"\u00C4\u00D6\u00C5 \u00E5", L"\u00C4", Bytes({0x7B})},
    {20280, L"citt\u00E0", L"A", Bytes({0xC1})},
    {20284, L"Espa\u00F1a", L"\u00D1", Bytes({0x7B})},
    {20285, L"\u00A3 5", L"\u00A3", Bytes({0x5B})},
    {20290, L"\uFF71\uFF72 ABC", L"\uFF71", Bytes({0x81})},
    {20297, L"fran\u00E7ais \u00E0 \u00E9", L"\u00E0", Bytes({0x7C})},
    {20420, L"\u0627\u0644", L"\u0627", Bytes({0x56})},
    {20424, L"\u05E9\u05DC\u05D5\u05DD", L"\u05D0", Bytes({0x41})},
    {20838, L"\u0E2A\u0E27\u0E31\u0E2A\u0E14\u0E35", L"\u0E01", Bytes({0x42})},
    {20866, L"\u041F\u0440\u0438\u0432\u0435\u0442", L"\u041F", Bytes({0xF0})},
    {20871, L"\u00DEorn", L"A", Bytes({0xC1})},
    {21025, L"\u0417\u0434\u0440\u0430\u0432\u043E", L"A", Bytes({0xC1})},
    {21866, L"\u0423\u043A\u0440\u0430\u0457\u043D\u0430", L"\u0457", Bytes({0xA7})},
    {28591, L"Caf\u00E9 \u00FF", L"\u00FF", Bytes({0xFF})},
    {28592, L"\u017B\u00F3\u0142\u0107", L"\u0141", Bytes({0xA3})},
    {28593, L"\u0126\u0109", L"\u0126", Bytes({0xA1})},
    {28594, L"\u0104\u0101", L"\u0101", Bytes({0xE0})},
    {28595, L"\u041F\u0440\u0438\u0432\u0435\u0442", L"\u041F", Bytes({0xBF})},
    {28596, L"\u0645\u0631\u062D\u0628\u0627", L"\u0627", Bytes({0xC7})},
    {28597, L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC", L"\u03A9", Bytes({0xD9})},
    {28598, L"\u05E9\u05DC\u05D5\u05DD", L"\u05D0", Bytes({0xE0})},
    {28599, L"T\u00FCrk\u00E7e \u011F\u0131\u015F", L"\u011F", Bytes({0xF0})},
    {28603, L"\u0104\u017Euolas", L"\u017E", Bytes({0xFE})},
    {28605, L"\u20AC \u0152 \u0161", L"\u20AC", Bytes({0xA4})},
    {38598, L"\u05E9\u05DC\u05D5\u05DD", L"\u05D0", Bytes({0xE0})},
    {50220, L"\u65E5\u672C\u8A9E and ASCII", L"\u3042", Bytes({0x1B, 0x24, 0x42, 0x24, 0x22, 0x1B, 0x28, 0x42})},
    {50225, L"\uD55C\uAD6D\uC5B4", L"\uD55C", Bytes({0x1B, 0x24, 0x29, 0x43, 0x0E, 0x47, 0x51, 0x0F})},
    {50227, L"\u4E2D\u6587", L"\u4E2D", Bytes({0x1B, 0x24, 0x29, 0x41, 0x0E, 0x56, 0x50, 0x0F})},
    {51932, L"\u65E5\u672C\u8A9E", L"\u3042", Bytes({0xA4, 0xA2})},
    {51949, L"\uD55C\uAD6D\uC5B4", L"\uD55C", Bytes({0xC7, 0xD1})},
    {52936, L"\u4E2D\u6587", L"\u4E2D", Bytes({0x7E, 0x7B, 0x56, 0x50, 0x7E, 0x7D})},
    {54936, L"\u4E2D\u6587 \U0001F600 \u00E9", L"\U0001F600", Bytes({0x94, 0x39, 0xFC, 0x36})},
    {65000, L"Hello, \u4E16\u754C \U0001F600 1+1", L"\u00E9", "+AOk-"},
};

TEST(CodePages, EachCodePageMapsAKnownCharacterAndRoundTripsText) {
    for (const auto& s : kSamples) {
        SCOPED_TRACE(s.codePage);
        EXPECT_EQ(ToCodePage(s.probe, s.codePage), s.probeBytes);
        EXPECT_EQ(FromCodePage(s.probeBytes.c_str(), s.codePage), s.probe);
        const std::string narrow = ToCodePage(s.text, s.codePage);
        EXPECT_FALSE(narrow.empty());
        EXPECT_EQ(narrow.find('?'), std::string::npos) << "a character of the sample was lost";
        EXPECT_EQ(FromCodePage(narrow.c_str(), s.codePage), s.text);
    }
}

TEST(CodePages, UnmappableCharactersBecomeQuestionMarks) {
    EXPECT_EQ(ToCodePage(L"a\u4E2Db", 1252), "a?b");
    EXPECT_EQ(ToCodePage(L"\u20AC", 437), "?");
    EXPECT_EQ(ToCodePage(L"caf\u00E9", 20127), "caf?");
    EXPECT_EQ(ToCodePage(L"x\U0001F600y", 1251), "x?y");  // one mark for one code point
    EXPECT_EQ(ToCodePage(L"\u0E01", 932), "?");
    EXPECT_EQ(ToCodePage(Wide({0x61, 0xD800, 0x62}).c_str(), 1252), "a?b");  // lone surrogate
}

// The mark is the code page's own "?" (0x6F in EBCDIC), written in the mode of stateful code
// pages, and no unmappable character is dropped, not even one Unicode calls ignorable.
TEST(CodePages, UnmappableCharactersBecomeTheCodePagesOwnQuestionMark) {
    EXPECT_EQ(ToCodePage(L"a\u4E2Db", 37), Bytes({0x81, 0x6F, 0x82}));
    EXPECT_EQ(ToCodePage(L"a\u4E2Db", 1047), Bytes({0x81, 0x6F, 0x82}));
    EXPECT_EQ(ToCodePage(L"\uFEFFa\u2060", 1252), "?a?");
    // ISO 2022 Japanese has no half-width Katakana: they are written full-width.
    EXPECT_EQ(ToCodePage(L"\uFF71", 50220), "\x1B$B%\"\x1B(B");
    for (const auto& s : kSamples) {
        if (s.codePage == 54936 || s.codePage == 65000) continue;  // these map every character
        SCOPED_TRACE(s.codePage);
        const std::wstring probe = s.probe;
        const std::wstring marked = probe + L"?" + probe + L"?";
        const std::string expected = ToCodePage(marked.c_str(), s.codePage);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(FromCodePage(expected.c_str(), s.codePage), marked);
        for (unsigned int unmappable : {0x0378u, 0xFEFFu, 0x2060u, 0xFE0Fu, 0xD800u}) {
            SCOPED_TRACE(unmappable);
            const std::wstring text = probe + Wide({unmappable}) + probe + L"\U0001F600";
            EXPECT_EQ(ToCodePage(text.c_str(), s.codePage), expected);
        }
    }
}

// HZ switches mode only where GB text starts and ends, and a text always ends in ASCII mode.
TEST(CodePages, HzWritesModeSwitchesOnlyWhereTheModeChanges) {
    EXPECT_EQ(ToCodePage(L"", 52936), "");
    EXPECT_EQ(ToCodePage(L"a", 52936), "a");
    EXPECT_EQ(ToCodePage(L"~", 52936), "~~");
    EXPECT_EQ(ToCodePage(L"a\u4E2D\u6587b", 52936), "a~{VPND~}b");
    EXPECT_EQ(ToCodePage(L"\u4E2D", 52936), "~{VP~}");
    EXPECT_EQ(ToCodePage(L"\u4E2D\u0E01\u4E2D", 52936), "~{VP~}?~{VP~}");
    EXPECT_EQ(ToCodePage(L"\u0E01", 52936), "?");
    EXPECT_EQ(FromCodePage("a~{VPND~}b~~", 52936), L"a\u4E2D\u6587b~");
}

TEST(CodePages, InvalidInputBecomesReplacementCharacter) {
    EXPECT_EQ(FromCodePage("a\x80z", 20127), L"a\uFFFDz");
    EXPECT_EQ(FromCodePage("\x82\xA0\x81", 932), L"\u3042\uFFFD");  // lead byte cut short
    EXPECT_EQ(FromCodePage("\xC7", 949), L"\uFFFD");
    // Stateful code pages start afresh on every call: a text left in the double-byte mode
    // does not change how the next one is read.
    EXPECT_EQ(FromCodePage("\x1B$B$\"", 50220), L"\u3042");
    EXPECT_EQ(FromCodePage("$\"", 50220), L"$\"");
    EXPECT_EQ(FromCodePage("+AOk", 65000), L"\u00E9");
    EXPECT_EQ(FromCodePage("AOk", 65000), L"AOk");
}

TEST(CodePages, UnknownAndUnicodeCodePagesGiveEmptyText) {
    for (unsigned int codePage : {1200u, 1201u, 12000u, 12001u, 5u, 99999u, 65002u}) {
        SCOPED_TRACE(codePage);
        EXPECT_EQ(FromCodePage("text", codePage), L"");
        EXPECT_EQ(ToCodePage(L"text", codePage), "");
    }
    EXPECT_EQ(FromCodePage(nullptr, 1252), L"");
    EXPECT_EQ(ToCodePage(nullptr, 1252), "");
    EXPECT_EQ(FromCodePage("", 1252), L"");
    EXPECT_EQ(ToCodePage(L"", 932), "");
}

TEST(CodePages, TextEndsAtADecodedNul) {
    EXPECT_EQ(FromCodePage("ab+AAA-cd", 65000), L"ab");
}

// Long texts cross the converters' internal chunks, with supplementary characters (two
// UTF-16 units inside the converter) at every offset.
TEST(CodePages, LongTextsWithSupplementaryCharactersRoundTrip) {
    for (unsigned int codePage : {54936u, 65000u, 65001u}) {
        for (size_t shift = 0; shift < 3; ++shift) {
            SCOPED_TRACE(testing::Message() << codePage << " shift " << shift);
            std::wstring text(shift, L'a');
            for (int i = 0; i < 3000; ++i) text += (i % 7 == 0) ? L"\u4E2D" : L"\U0001F600b";
            const std::string narrow = ToCodePage(text.c_str(), codePage);
            ASSERT_FALSE(narrow.empty());
            EXPECT_TRUE(FromCodePage(narrow.c_str(), codePage) == text);
        }
    }
}

TEST(CodePages, ThreadsConvertAtOnce) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int round = 0; round < 200; ++round) {
                const auto& s = kSamples[(static_cast<size_t>(t) * 7 + static_cast<size_t>(round)) %
                                         std::size(kSamples)];
                const std::string narrow = ToCodePage(s.text, s.codePage);
                if (FromCodePage(narrow.c_str(), s.codePage) != s.text) ++failures[static_cast<size_t>(t)];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
