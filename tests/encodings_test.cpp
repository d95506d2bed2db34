// Code-page conversion: UTF-8 bytes and replacement rules, the code pages' own mappings, the
// question mark for unmappable characters, stateful code pages and threads.
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/ctextfile.h>
#include <tavrin/encodings.h>

#include "../core/platform/codepagedetect.h"
#include "../core/platform/systemcodepages.h"

namespace {

using Tavrin::Encodings::AppendFromUTF8;
using Tavrin::Encodings::AppendUTF8;
using Tavrin::Encodings::FromCodePage;
using Tavrin::Encodings::FromUTF8;
using Tavrin::Encodings::ToCodePage;
using Tavrin::Encodings::ToUTF8;

// The code pages a test found the system unable to convert. Every code page the tests name
// converts on Linux; on Windows the system's own converters decide (Wine has none for the
// EBCDIC, ISO 2022, EUC, HZ and GB18030 code pages, among others), and a test leaves those out
// and ends as skipped, naming them.
class CMissingCodePages {
public:
    bool Lacks([[maybe_unused]] unsigned int codePage) {
#if defined(_WIN32)
        if (ToCodePage(L"a", codePage).empty()) {
            m_missing.insert(codePage);
            return true;
        }
#endif
        return false;
    }
    bool Empty() const { return m_missing.empty(); }
    std::string Names() const {
        std::string names;
        for (unsigned int c : m_missing) names += (names.empty() ? "" : " ") + std::to_string(c);
        return names;
    }

private:
    std::set<unsigned int> m_missing;
};

#define TAVRIN_SKIP_IF_MISSING(missing)                                                \
    if (!(missing).Empty())                                                            \
    GTEST_SKIP() << "the system has no converter for code pages " << (missing).Names() \
                 << " (the others were checked)"

constexpr unsigned int R = 0xFFFD;
const std::string kReplacement = "\xEF\xBF\xBD";

// Wide text of the given values. Where wchar_t has 16 bits (Windows), a code point above U+FFFF
// becomes its surrogate pair, as wide text holds it there.
std::wstring Wide(std::initializer_list<unsigned int> codePoints) {
    std::wstring s;
    for (unsigned int c : codePoints) {
        if (sizeof(wchar_t) == 2 && c > 0xFFFF && c <= 0x10FFFF) {
            s.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
            s.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
        } else {
            s.push_back(static_cast<wchar_t>(c));
        }
    }
    return s;
}

// A wide character that is no Unicode scalar value: above U+10FFFF where wchar_t has 32 bits, a
// lone low surrogate where it has 16.
const std::wstring kNoScalar = sizeof(wchar_t) == 4 ? Wide({0x110000}) : Wide({0xDFFF});

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
    const std::pair<unsigned int, std::string> cases[] = {
        {0x41, "A"},
        {0x7F, "\x7F"},
        {0x80, "\xC2\x80"},
        {0xE9, "\xC3\xA9"},
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {0xD7FF, "\xED\x9F\xBF"},
        {0xE000, "\xEE\x80\x80"},
        {0xFFFF, "\xEF\xBF\xBF"},
        {0x10000, "\xF0\x90\x80\x80"},
        {0x1F600, "\xF0\x9F\x98\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
    };
    for (const auto& [codePoint, bytes] : cases) {
        EXPECT_EQ(Encode(Wide({codePoint})), bytes) << codePoint;
        EXPECT_EQ(Decode(bytes), Wide({codePoint})) << codePoint;
    }
    // Every scalar value, in one text.
    std::wstring all;
    for (unsigned int c = 1; c <= 0x10FFFF; ++c) {
        if (c < 0xD800 || c > 0xDFFF) all += Wide({c});
    }
    const std::string utf8 = Encode(all);
    EXPECT_EQ(utf8.size(), 0x7Fu + (0x800 - 0x80) * 2 + (0x10000 - 0x800 - 0x800) * 3 +
                               (0x110000 - 0x10000) * 4);
    EXPECT_TRUE(Decode(utf8) == all);
}

// Each maximal invalid subpart becomes one U+FFFD; the byte after it is read afresh.
TEST(Utf8, InvalidSequencesAreReplacedPerMaximalSubpart) {
    const std::pair<std::string, std::wstring> cases[] = {
        // Lone and surplus trail bytes; overlong forms; leads cut short at the end, by ASCII and
        // by another lead.
        {"\x80", Wide({R})},
        {"\xBF\x80", Wide({R, R})},
        {"\xC0\x80", Wide({R, R})},
        {"\xC1\xBF", Wide({R, R})},
        {"\xC2", Wide({R})},
        {"\xC2\x41", Wide({R, 'A'})},
        {"\xC2\xC3\xA9", Wide({R, 0xE9})},
        {"\xE0\x80\x80", Wide({R, R, R})},
        {"\xE0\x9F\xBF", Wide({R, R, R})},
        {"\xE0\xA0", Wide({R})},
        {"\xE0\xA0\x41", Wide({R, 'A'})},
        {"\xE1\x80", Wide({R})},
        // Encoded surrogates, alone and as a pair.
        {"\xED\xA0\x80", Wide({R, R, R})},
        {"\xED\xBF\xBF", Wide({R, R, R})},
        {"\xED\xA0\xBD\xED\xB8\x80", Wide({R, R, R, R, R, R})},
        // Four-byte forms: overlong, cut short, above U+10FFFF; the old five-byte form.
        {"\xF0\x80\x80\x80", Wide({R, R, R, R})},
        {"\xF0\x8F\xBF\xBF", Wide({R, R, R, R})},
        {"\xF0\x90\x80", Wide({R})},
        {"\xF0\x90\x80\x41", Wide({R, 'A'})},
        {"\xF0\x90", Wide({R})},
        {"\xF4\x90\x80\x80", Wide({R, R, R, R})},
        {"\xF5\x80\x80\x80", Wide({R, R, R, R})},
        {"\xF8\x88\x80\x80\x80", Wide({R, R, R, R, R})},
        {"\xFE\xFF", Wide({R, R})},
        // The example of the Unicode standard's chapter on conversion: a, F1 80 80, E1 80,
        // C2, b, 80, c, 80 BF, d.
        {"a\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
         Wide({'a', R, R, R, 'b', R, 'c', R, R, 'd'})},
    };
    for (const auto& [bytes, expected] : cases) {
        // Around ASCII runs of every length, so that the bad bytes fall at every offset of the
        // block-wise ASCII scan and at the very end of the text.
        for (size_t before : {0, 1, 15, 16, 17, 31, 40}) {
            for (size_t after : {0, 1, 16, 33}) {
                ASSERT_EQ(Decode(std::string(before, 'x') + bytes + std::string(after, 'y')),
                          std::wstring(before, L'x') + expected + std::wstring(after, L'y'))
                    << testing::PrintToString(bytes) << " " << before << " " << after;
            }
        }
    }
}

TEST(Utf8, SurrogatesAndOutOfRangeWideCharactersBecomeReplacement) {
    const std::string& r = kReplacement;
    EXPECT_EQ(Encode(Wide({0xD800})), r);
    EXPECT_EQ(Encode(Wide({0xDFFF, 0x41})), r + "A");
    EXPECT_EQ(Encode(Wide({0xDC00, 0xD800})), r + r);  // reversed pair
    EXPECT_EQ(Encode(Wide({0xD800, 0xD800, 0xDC00})), r + "\xF0\x90\x80\x80");
    EXPECT_EQ(Encode(kNoScalar), r);
    if constexpr (sizeof(wchar_t) == 4) {
        EXPECT_EQ(Encode(std::wstring(1, static_cast<wchar_t>(-1))), r);
    }
    // Pairs at every offset, straddling each block boundary of the scans, and bad values among
    // ASCII runs, where the block-wise scan must notice them.
    for (size_t before = 0; before < 40; ++before) {
        const std::wstring text = std::wstring(before, L'a') + Wide({0xD83D, 0xDE00}) +
                                  std::wstring(before % 5, L'b') + Wide({0xDBFF, 0xDFFF}) +
                                  std::wstring(20, L'c') + kNoScalar + L"bc" + Wide({0x80}) +
                                  L"xyz" + Wide({0xDE00}) + L"12345678" + Wide({0xD800}) + L"1";
        EXPECT_EQ(Encode(text), std::string(before, 'a') + "\xF0\x9F\x98\x80" +
                                    std::string(before % 5, 'b') + "\xF4\x8F\xBF\xBF" +
                                    std::string(20, 'c') + r + "bc\xC2\x80xyz" + r + "12345678" +
                                    r + "1")
            << before;
    }
}

TEST(Utf8, TextEndsAtTheFirstNulAndAppendKeepsWhatIsThere) {
    std::string narrow = "keep";
    AppendUTF8(narrow, std::wstring_view(L"ab\0cd", 5));
    AppendUTF8(narrow, std::wstring_view());
    EXPECT_EQ(narrow, "keepab");
    std::wstring wide = L"keep";
    AppendFromUTF8(wide, std::string_view("\xC3\xA9\0z", 4));
    AppendFromUTF8(wide, std::string_view("\0abc", 4));
    AppendFromUTF8(wide, std::string(10, 'a') + '\0' + std::string(40, 'b'));  // inside a block
    EXPECT_EQ(wide, L"keep\u00E9" + std::wstring(10, L'a'));
    EXPECT_EQ(FromUTF8(nullptr), L"");
    EXPECT_EQ(ToUTF8(nullptr), "");
    EXPECT_EQ(FromUTF8(""), L"");
    EXPECT_EQ(ToUTF8(L""), "");
}

#if defined(_WIN32)
// The system's ANSI (0), OEM (1) and thread (3) code pages are those the system names.
TEST(CodePages, SystemCodePagesAreTheSystems) {
    using Tavrin::Platform::ResolveSystemCodePage;
    const unsigned int ansi = ResolveSystemCodePage(0);
    const unsigned int oem = ResolveSystemCodePage(1);
    EXPECT_TRUE(ansi != 0 && oem != 1) << ansi << " " << oem;
    const char* bytes = "\xC3\xA9\xE2\x82\xAC";
    EXPECT_EQ(FromCodePage(bytes, 0), FromCodePage(bytes, ansi));
    EXPECT_EQ(FromCodePage(bytes, 1), FromCodePage(bytes, oem));
    EXPECT_EQ(FromCodePage(bytes, 3), FromCodePage(bytes, ansi));  // unless the thread changed it
    EXPECT_EQ(ToCodePage(L"\u00E9\u20AC", 0), ToCodePage(L"\u00E9\u20AC", ansi));
    EXPECT_EQ(ResolveSystemCodePage(1252), 1252u);
}
#else
// The system's ANSI, OEM and thread code pages are UTF-8 here.
TEST(CodePages, SystemCodePagesAreUtf8) {
    for (unsigned int codePage : {0u, 1u, 3u, 65001u}) {
        EXPECT_EQ(FromCodePage("\xC3\xA9\xE2\x82\xAC", codePage), L"\u00E9\u20AC") << codePage;
        EXPECT_EQ(ToCodePage(L"\u00E9\u20AC", codePage), "\xC3\xA9\xE2\x82\xAC") << codePage;
    }
    EXPECT_EQ(FromCodePage("\x8E", 2), L"\u00E9");  // the Mac code page is Mac Roman
}
#endif

struct SCodePageSample {
    unsigned int codePage;
    const wchar_t* text;     // text the code page can hold
    const wchar_t* probe;    // one character of it ...
    std::string probeBytes;  // ... and its bytes in that code page
};

const SCodePageSample kSamples[] = {
    {37, L"Hello, World 123", L"A", "\xC1"},
    {437, L"Caf\u00E9 \u00DCber \u00BD \u2591", L"\u00E9", "\x82"},
    {500, L"EBCDIC text", L"a", "\x81"},
    {737, L"\u0391\u03B2\u03B3", L"\u0391", "\x80"},
    {775, L"\u0104\u017E", L"\u0104", "\xB5"},
    {850, L"Caf\u00E9 \u00C0 \u00F8", L"\u00F8", "\x9B"},
    {852, L"\u017B\u00F3\u0142\u0107", L"\u0142", "\x88"},
    {855, L"\u0452\u0402", L"\u0452", "\x80"},
    {857, L"T\u00FCrk\u00E7e \u011F\u0131\u015F", L"\u0131", "\x8D"},
    {858, L"\u20AC \u00E9", L"\u20AC", "\xD5"},
    {860, L"Portugu\u00EAs \u00E3", L"\u00E3", "\x84"},
    {861, L"\u00DE\u00F0", L"\u00F0", "\x8C"},
    {862, L"\u05E9\u05DC\u05D5\u05DD", L"\u05D0", "\x80"},
    {863, L"Qu\u00E9bec", L"\u00C2", "\x84"},
    {864, L"\u0660\u0661", L"\u0660", "\xB0"},
    {865, L"\u00F8\u00C6", L"\u00F8", "\x9B"},
    {866, L"\u041F\u0440\u0438\u0432\u0435\u0442", L"\u041F", "\x8F"},
    {869, L"\u0391\u03C9", L"\u0391", "\xA4"},
    {870, L"\u017B\u00F3\u0142\u0107", L"A", "\xC1"},
    {874, L"\u0E2A\u0E27\u0E31\u0E2A\u0E14\u0E35", L"\u0E01", "\xA1"},
    {875, L"\u0391\u0392", L"\u0391", "A"},
    {932, L"\u65E5\u672C\u8A9E\u30C6\u30AD\u30B9\u30C8 \uFF71", L"\u3042", "\x82\xA0"},
    {936, L"\u4E2D\u6587\u6587\u672C", L"\u4E2D", "\xD6\xD0"},
    {949, L"\uD55C\uAD6D\uC5B4", L"\uD55C", "\xC7\xD1"},
    {950, L"\u4E2D\u6587\u7E41\u9AD4", L"\u4E2D", "\xA4\xA4"},
    {1026, L"ABC", L"A", "\xC1"},
    {1047, L"abc", L"a", "\x81"},
    {1140, L"\u20AC1", L"\u20AC", "\x9F"},
    {1141, L"Gr\u00FC\u00DFe \u20AC", L"\u20AC", "\x9F"},
    {1142, L"\u00C6\u00D8\u00C5 \u20AC", L"\u00C6", "{"},
    {1143, L"\u00C4\u00D6\u00C5 \u20AC", L"\u00C4", "{"},
    {1144, L"citt\u00E0 \u20AC", L"\u20AC", "\x9F"},
    {1145, L"Espa\u00F1a \u20AC", L"\u00D1", "{"},
    {1146, L"\u00A3 \u20AC", L"\u00A3", "["},
    {1147, L"fran\u00E7ais \u20AC", L"\u00E0", "|"},
    {1148, L"\u20AC 100", L"\u20AC", "\x9F"},
    {1149, L"\u00DEorn \u20AC", L"\u20AC", "\x9F"},
    {1250, L"\u017B\u00F3\u0142\u0107", L"\u0141", "\xA3"},
    {1251, L"\u041F\u0440\u0438\u0432\u0435\u0442", L"\u041F", "\xCF"},
    {1252, L"Caf\u00E9 \u20AC \u0152", L"\u20AC", "\x80"},
    {1253, L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC", L"\u03A9", "\xD9"},
    {1254, L"T\u00FCrk\u00E7e \u011F\u0131\u015F", L"\u011F", "\xF0"},
    {1255, L"\u05E9\u05DC\u05D5\u05DD", L"\u05D0", "\xE0"},
    {1256, L"\u0645\u0631\u062D\u0628\u0627", L"\u0627", "\xC7"},
    {1257, L"\u0104\u017Euolas", L"\u017E", "\xFE"},
    {1258, L"\u0110\u00E0\u01A1\u01B0", L"\u01B0", "\xFD"},
    {10000, L"Caf\u00E9", L"\u00E9", "\x8E"},
    {10006, L"\u0391\u03B2", L"\u0391", "\xB0"},
    {10007, L"\u041F\u0440", L"\u041F", "\x8F"},
    {10029, L"\u0104\u0105", L"\u0104", "\x84"},
    {10081, L"\u011E\u011F", L"\u011E", "\xDA"},
    {20127, L"Plain ASCII ~", L"~", "~"},
    {20273, L"Gr\u00FC\u00DFe \u00C4\u00D6\u00DC", L"\u00E4", "\xC0"},
    {20277, L"\u00C6\u00D8\u00C5 bl\u00E5", L"\u00C6", "{"},
    {20278, L"\u00C4\u00D6\u00C5 \u00E5", L"\u00C4", "{"},
    {20280, L"citt\u00E0", L"A", "\xC1"},
    {20284, L"Espa\u00F1a", L"\u00D1", "{"},
    {20285, L"\u00A3 5", L"\u00A3", "["},
    {20290, L"\uFF71\uFF72 ABC", L"\uFF71", "\x81"},
    {20297, L"fran\u00E7ais \u00E0 \u00E9", L"\u00E0", "|"},
    {20420, L"\u0627\u0644", L"\u0627", "V"},
    {20424, L"\u05E9\u05DC\u05D5\u05DD", L"\u05D0", "A"},
    {20838, L"\u0E2A\u0E27\u0E31\u0E2A\u0E14\u0E35", L"\u0E01", "B"},
    {20866, L"\u041F\u0440\u0438\u0432\u0435\u0442", L"\u041F", "\xF0"},
    {20871, L"\u00DEorn", L"A", "\xC1"},
    {21025, L"\u0417\u0434\u0440\u0430\u0432\u043E", L"A", "\xC1"},
    {21866, L"\u0423\u043A\u0440\u0430\u0457\u043D\u0430", L"\u0457", "\xA7"},
    {28591, L"Caf\u00E9 \u00FF", L"\u00FF", "\xFF"},
    {28592, L"\u017B\u00F3\u0142\u0107", L"\u0141", "\xA3"},
    {28593, L"\u0126\u0109", L"\u0126", "\xA1"},
    {28594, L"\u0104\u0101", L"\u0101", "\xE0"},
    {28595, L"\u041F\u0440\u0438\u0432\u0435\u0442", L"\u041F", "\xBF"},
    {28596, L"\u0645\u0631\u062D\u0628\u0627", L"\u0627", "\xC7"},
    {28597, L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC", L"\u03A9", "\xD9"},
    {28598, L"\u05E9\u05DC\u05D5\u05DD", L"\u05D0", "\xE0"},
    {28599, L"T\u00FCrk\u00E7e \u011F\u0131\u015F", L"\u011F", "\xF0"},
    {28603, L"\u0104\u017Euolas", L"\u017E", "\xFE"},
    {28605, L"\u20AC \u0152 \u0161", L"\u20AC", "\xA4"},
    {38598, L"\u05E9\u05DC\u05D5\u05DD", L"\u05D0", "\xE0"},
    {50220, L"\u65E5\u672C\u8A9E and ASCII", L"\u3042", "\x1B$B$\"\x1B(B"},
    {50225, L"\uD55C\uAD6D\uC5B4", L"\uD55C", "\x1B$)C\x0EGQ\x0F"},
    {50227, L"\u4E2D\u6587", L"\u4E2D", "\x1B$)A\x0EVP\x0F"},
    {51932, L"\u65E5\u672C\u8A9E", L"\u3042", "\xA4\xA2"},
    {51949, L"\uD55C\uAD6D\uC5B4", L"\uD55C", "\xC7\xD1"},
    {52936, L"\u4E2D\u6587", L"\u4E2D", "~{VP~}"},
    {54936, L"\u4E2D\u6587 \U0001F600 \u00E9", L"\U0001F600", "\x94\x39\xFC\x36"},
    {65000, L"Hello, \u4E16\u754C \U0001F600 1+1", L"\u00E9", "+AOk-"},
};

TEST(CodePages, EachCodePageMapsAKnownCharacterAndRoundTripsText) {
    CMissingCodePages missing;
    for (const auto& s : kSamples) {
        if (missing.Lacks(s.codePage)) continue;
        SCOPED_TRACE(s.codePage);
        EXPECT_EQ(ToCodePage(s.probe, s.codePage), s.probeBytes);
        EXPECT_EQ(FromCodePage(s.probeBytes.c_str(), s.codePage), s.probe);
        const std::string narrow = ToCodePage(s.text, s.codePage);
        EXPECT_FALSE(narrow.empty());
        EXPECT_EQ(narrow.find('?'), std::string::npos) << "a character of the sample was lost";
        EXPECT_EQ(FromCodePage(narrow.c_str(), s.codePage), s.text);
    }
    TAVRIN_SKIP_IF_MISSING(missing);
}

// Without an exact or best-fit mapping a character becomes the code page's own "?" (0x6F in
// EBCDIC), written in the mode of stateful code pages, one per UTF-16 unit (two for a character
// beyond U+FFFF), and no unmappable character is dropped, not even one Unicode calls ignorable.
TEST(CodePages, UnmappableCharactersBecomeTheCodePagesOwnQuestionMark) {
    EXPECT_EQ(ToCodePage(L"a\u4E2Db", 1252), "a?b");
    EXPECT_EQ(ToCodePage(L"\u20AC", 437), "?");
    EXPECT_EQ(ToCodePage(L"caf\u00E9\u0100", 20127), "cafeA");  // best fit
    EXPECT_EQ(ToCodePage(L"\u2211", 437), "\xE4");
    EXPECT_EQ(ToCodePage(L"x\U0001F600y", 1251), "x??y");
    EXPECT_EQ(ToCodePage(L"\u0E01", 932), "?");
    EXPECT_EQ(ToCodePage(Wide({0x61, 0xD800, 0x62}).c_str(), 1252), "a?b");  // lone surrogate
    CMissingCodePages missing;
    for (unsigned int ebcdic : {37u, 1047u}) {
        if (!missing.Lacks(ebcdic)) {
            EXPECT_EQ(ToCodePage(L"a\u4E2Db", ebcdic), "\x81\x6F\x82");
        }
    }
    EXPECT_EQ(ToCodePage(L"\uFEFFa\u2060", 1252), "?a?");
    // ISO 2022 Japanese has no half-width Katakana: they are written full-width.
    if (!missing.Lacks(50220)) {
        EXPECT_EQ(ToCodePage(L"\uFF71", 50220), "\x1B$B%\"\x1B(B");
    }
    for (const auto& s : kSamples) {
        if (s.codePage == 54936 || s.codePage == 65000) continue;  // these map every character
        if (missing.Lacks(s.codePage)) continue;
        SCOPED_TRACE(s.codePage);
        const std::wstring probe = s.probe;
        const std::wstring marked = probe + L"?" + probe + L"??";
        const std::string expected = ToCodePage(marked.c_str(), s.codePage);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(FromCodePage(expected.c_str(), s.codePage), marked);
        for (unsigned int unmappable : {0x0378u, 0xFEFFu, 0x2060u, 0xFE0Fu, 0xD800u}) {
            const std::wstring text = probe + Wide({unmappable}) + probe + L"\U0001F600";
            EXPECT_EQ(ToCodePage(text.c_str(), s.codePage), expected) << unmappable;
        }
    }
    TAVRIN_SKIP_IF_MISSING(missing);
}

// HZ switches mode only where GB text starts and ends, and a text always ends in ASCII mode.
TEST(CodePages, HzWritesModeSwitchesOnlyWhereTheModeChanges) {
    CMissingCodePages missing;
    if (missing.Lacks(52936)) TAVRIN_SKIP_IF_MISSING(missing);
    EXPECT_EQ(ToCodePage(L"", 52936), "");
    EXPECT_EQ(ToCodePage(L"a", 52936), "a");
    EXPECT_EQ(ToCodePage(L"~", 52936), "~~");
    EXPECT_EQ(ToCodePage(L"a\u4E2D\u6587b", 52936), "a~{VPND~}b");
    EXPECT_EQ(ToCodePage(L"\u4E2D", 52936), "~{VP~}");
    EXPECT_EQ(ToCodePage(L"\u4E2D\u0E01\u4E2D", 52936), "~{VP~}?~{VP~}");
    EXPECT_EQ(ToCodePage(L"\u0E01", 52936), "?");
    EXPECT_EQ(FromCodePage("a~{VPND~}b~~", 52936), L"a\u4E2D\u6587b~");
}

// A lead byte without a trail byte, or with an invalid one, is one default character.
TEST(CodePages, InvalidInputBecomesTheDefaultCharacter) {
    EXPECT_EQ(FromCodePage("a\xC1z", 20127), L"aAz");  // the top bit is cleared
    EXPECT_EQ(FromCodePage("\x82\xA0\x81", 932), L"\u3042\u30FB");
    EXPECT_EQ(FromCodePage("\x81\x20z", 932), L"\u30FBz");
    EXPECT_EQ(FromCodePage("\xC7", 949), L"?");
    // Stateful code pages start afresh on every call: a text left in the double-byte mode
    // does not change how the next one is read.
    CMissingCodePages missing;
    if (!missing.Lacks(50220)) {
        EXPECT_EQ(FromCodePage("\x1B$B$\"", 50220), L"\u3042");
        EXPECT_EQ(FromCodePage("$\"", 50220), L"$\"");
    }
    EXPECT_EQ(FromCodePage("+AOk", 65000), L"\u00E9");
    EXPECT_EQ(FromCodePage("AOk", 65000), L"AOk");
    EXPECT_EQ(FromCodePage("ab+AAA-cd", 65000), L"ab");  // the text ends at a decoded NUL
    TAVRIN_SKIP_IF_MISSING(missing);
}

TEST(CodePages, UnknownAndUnicodeCodePagesGiveEmptyText) {
    for (unsigned int codePage : {1200u, 1201u, 12000u, 12001u, 5u, 99999u, 65002u}) {
        EXPECT_EQ(FromCodePage("text", codePage), L"") << codePage;
        EXPECT_EQ(ToCodePage(L"text", codePage), "") << codePage;
    }
    EXPECT_EQ(FromCodePage(nullptr, 1252), L"");
    EXPECT_EQ(ToCodePage(nullptr, 1252), "");
    EXPECT_EQ(FromCodePage("", 1252), L"");
    EXPECT_EQ(ToCodePage(L"", 932), "");
}

// Long texts cross the converters' internal chunks, with supplementary characters (two
// UTF-16 units inside the converter) at every offset.
TEST(CodePages, LongTextsWithSupplementaryCharactersRoundTrip) {
    CMissingCodePages missing;
    for (unsigned int codePage : {54936u, 65000u, 65001u}) {
        if (missing.Lacks(codePage)) continue;
        for (size_t shift = 0; shift < 3; ++shift) {
            std::wstring text(shift, L'a');
            for (int i = 0; i < 3000; ++i) text += (i % 7 == 0) ? L"\u4E2D" : L"\U0001F600b";
            const std::string narrow = ToCodePage(text.c_str(), codePage);
            ASSERT_FALSE(narrow.empty()) << codePage;
            EXPECT_TRUE(FromCodePage(narrow.c_str(), codePage) == text) << codePage << " " << shift;
        }
    }
    TAVRIN_SKIP_IF_MISSING(missing);
}

TEST(CodePages, ThreadsConvertAtOnce) {
    CMissingCodePages missing;
    std::vector<SCodePageSample> samples;
    for (const auto& s : kSamples) {
        if (!missing.Lacks(s.codePage)) samples.push_back(s);
    }
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (size_t t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures, &samples] {
            for (size_t round = 0; round < 200; ++round) {
                const auto& s = samples[(t * 7 + round) % samples.size()];
                const std::string narrow = ToCodePage(s.text, s.codePage);
                if (FromCodePage(narrow.c_str(), s.codePage) != s.text) ++failures[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
    TAVRIN_SKIP_IF_MISSING(missing);
}

// ---- Code-page guessing ------------------------------------------------------------------------

// Why the platform's code-page detector cannot be asked, or null when it can: Wine's
// multi-language component answers E_NOTIMPL to DetectInputCodepage.
const char* DetectorMissing() {
    namespace P = Tavrin::Platform;
    namespace Com = Tavrin::Com;
    if (!Com::Succeeded(Com::CoInitialize(nullptr))) return "the component runtime cannot start";
    const char* why = nullptr;
    {
        P::CComPtr<P::IMultiLanguage2> detector;
        if (!Com::Succeeded(P::CoCreateInstance(P::CLSID_CMultiLanguage, nullptr,
                                                P::CLSCTX_INPROC_SERVER, P::IID_IMultiLanguage2,
                                                detector.Out()))) {
            why = "the system has no multi-language component";
        } else {
            P::DetectEncodingInfo record{};
            std::int32_t size = 5, count = 1;
            constexpr auto kNotImplemented = static_cast<Com::HRESULT>(0x80004001u);
            if (detector->DetectInputCodepage(0, 0, "text.", &size, &record, &count) ==
                kNotImplemented) {
                why =
                    "the system's multi-language component does not implement "
                    "DetectInputCodepage (E_NOTIMPL, as under Wine)";
            }
        }
    }
    Com::CoUninitialize();
    return why;
}

// Without a guesser or a mark the detector decides. What it makes of a statistical sample is
// not promised; texts whose structure names their encoding are. Arbitrary bytes never fail.
// (Here rather than with the other text-file tests, which reach the library as a DLL, because
// it asks the platform's detector first whether it works at all.)
TEST(TextFileGuess, DetectorAnswersWhenNothingElseDoes) {
    if (const char* why = DetectorMissing()) GTEST_SKIP() << why;
    const std::wstring japanese =
        L"\u65E5\u672C\u8A9E\u306E\u6587\u7AE0\u3092\u3053\u3053\u306B\u66F8\u304D\u307E\u3059"
        L"\u3002\u6771\u4EAC\u306F\u65E5\u672C\u306E\u9996\u90FD\u3067\u3059\u3002\n";
    const std::wstring chinese =
        L"\u6211\u80FD\u541E\u4E0B\u73BB\u7483\u800C\u4E0D\u4F24\u8EAB\u4F53\u3002\u5317\u4EAC"
        L"\u662F\u4E2D\u56FD\u7684\u9996\u90FD\uFF0C\u4E0A\u6D77\u662F\u6700\u5927\u7684\u57CE\n";
    for (const auto& [text, codePage] : {std::pair{japanese, 65001u}, std::pair{chinese, 50227u}}) {
        const std::string bytes = Tavrin::Encodings::ToCodePage(text.c_str(), codePage);
        ASSERT_FALSE(bytes.empty());
        Tavrin::CTextFile file;
        EXPECT_EQ(file.SetText(bytes).GuessCodePage(), codePage);
        EXPECT_EQ(file.GetText(), text);
    }

    const unsigned seed = 20240611;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    for (int round = 0; round < 300; ++round) {
        std::string bytes(random() % 200, '\0');
        for (char& b : bytes) b = static_cast<char>(random() % 255 + 1);  // no NUL
        Tavrin::CTextFile file;
        const std::wstring text = file.SetText(bytes).GetText();
        if (file.GuessCodePage() == 65001) {
            EXPECT_EQ(text, Tavrin::Encodings::FromCodePage(bytes.c_str(), 65001));
        }
    }
}

}  // namespace
