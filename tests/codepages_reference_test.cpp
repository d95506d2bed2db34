// The code-page conversions against the reference dumps of Windows' own conversions (made under
// Wine by tools/codepages): every single byte, every lead and trail byte pair, every BMP
// character and a few beyond, code page by code page.
#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "core/platform/codepages.h"
#include "tools/codepages/referencedump.h"

namespace {

using Tavrin::CodePageDump::SCodePage;
using Tavrin::Platform::CodePageToWide;
using Tavrin::Platform::kConversionFailed;
using Tavrin::Platform::WideToCodePage;

// UTF-16 as the library's wide text: code points, an unpaired surrogate kept as it is (the
// units themselves where wchar_t has 16 bits).
std::wstring Wide(const std::u16string& units) {
    if constexpr (sizeof(wchar_t) == 2) return std::wstring(units.begin(), units.end());
    std::wstring wide;
    for (size_t i = 0; i < units.size(); ++i) {
        const char32_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            wide.push_back(
                static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00)));
            ++i;
        } else {
            wide.push_back(static_cast<wchar_t>(u));
        }
    }
    return wide;
}

std::wstring Decode(unsigned int codePage, const std::string& bytes) {
    const size_t n = CodePageToWide(codePage, bytes.data(), bytes.size(), nullptr, 0);
    if (n == kConversionFailed) return L"<failed>";
    std::wstring out(n, L'\0');
    if (CodePageToWide(codePage, bytes.data(), bytes.size(), out.data(), n) != n) {
        return L"<count differs>";
    }
    return out;
}

std::string Encode(unsigned int codePage, const std::wstring& wide) {
    const size_t n = WideToCodePage(codePage, wide.data(), wide.size(), nullptr, 0);
    if (n == kConversionFailed) return "<failed>";
    std::string out(n, '\0');
    if (WideToCodePage(codePage, wide.data(), wide.size(), out.data(), n) != n) {
        return "<count differs>";
    }
    return out;
}

// Bytes as two hexadecimal digits each, wide units as four.
template <class Char>
std::string Hex(const std::basic_string<Char>& text) {
    std::string s;
    char buf[12];
    for (const Char c : text) {
        std::snprintf(buf, sizeof buf, "%0*X ", sizeof(Char) == 1 ? 2 : 4,
                      static_cast<unsigned>(static_cast<std::make_unsigned_t<Char>>(c)));
        s += buf;
    }
    return s;
}

const std::vector<SCodePage>& Reference() {
    static const std::vector<SCodePage> dumps =
        Tavrin::CodePageDump::Read(TAVRIN_CODEPAGE_DUMP_DIR "/windows.bin");
    return dumps;
}

TEST(CodePageReference, EveryEntryOfEveryCodePageConvertsAsOnWindows) {
    const auto& reference = Reference();
    ASSERT_GT(reference.size(), 60u);
    std::printf("%-7s %9s %7s\n", "code pg", "compared", "differ");
    size_t totalCompared = 0;
    size_t totalDiffer = 0;
    for (const SCodePage& cp : reference) {
        size_t differ = 0;
        size_t shown = 0;
        auto report = [&](const std::string& what) {
            if (++differ <= 3 && ++shown) ADD_FAILURE() << cp.codePage << ": " << what;
        };
        for (const auto& e : cp.decode) {
            const std::wstring expected = Wide(e.units);
            const std::wstring actual = Decode(cp.codePage, e.bytes);
            if (actual != expected) {
                report(Hex(e.bytes) + "-> " + Hex(actual) + "instead of " + Hex(expected));
            }
        }
        for (const auto& e : cp.encode) {
            const std::wstring wide = Wide(e.units);
            const std::string actual = Encode(cp.codePage, wide);
            if (actual != e.bytes) {
                report(Hex(wide) + "-> " + Hex(actual) + "instead of " + Hex(e.bytes));
            }
        }
        const size_t compared = cp.decode.size() + cp.encode.size();
        std::printf("%-7u %9zu %7zu\n", cp.codePage, compared, differ);
        totalCompared += compared;
        totalDiffer += differ;
    }
    std::printf("%-7s %9zu %7zu\n", "all", totalCompared, totalDiffer);
    EXPECT_EQ(totalDiffer, 0u);
}

// A buffer one unit too small fails the conversion and is not written past (the sanitizers
// watch the vectors' ends), in every kind of converter: single-byte and double-byte tables,
// UTF-7.
TEST(CodePageReference, TooSmallBuffersFail) {
    auto toWide = [](unsigned int codePage, const std::string& bytes, size_t capacity) {
        std::vector<wchar_t> out(capacity);
        return CodePageToWide(codePage, bytes.data(), bytes.size(), out.data(), capacity);
    };
    auto toBytes = [](unsigned int codePage, const std::wstring& wide, size_t capacity) {
        std::vector<char> out(capacity);
        return WideToCodePage(codePage, wide.data(), wide.size(), out.data(), capacity);
    };
    EXPECT_EQ(toWide(1252, "abc", 2), kConversionFailed);
    EXPECT_EQ(toWide(932, "\x82\xA0\x82\xA0", 1), kConversionFailed);
    EXPECT_EQ(toWide(65000, "+AOkA6Q-", 1), kConversionFailed);
    EXPECT_EQ(toBytes(1252, L"a\U0001F600", 2), kConversionFailed);
    EXPECT_EQ(toBytes(932, L"a\u3042", 2), kConversionFailed);
    EXPECT_EQ(toBytes(65000, L"\u00E9", 4), kConversionFailed);
    EXPECT_EQ(toBytes(65000, L"\u00E9", 5), 5u);
    EXPECT_EQ(toBytes(932, L"a\u3042", 3), 3u);
}

}  // namespace
