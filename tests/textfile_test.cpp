#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "logcapture.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Tavrin::CTextFile;

// A fresh directory per test, removed afterwards.
class TextFile : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavrin_textfile_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    std::wstring WPath(const std::string& name) const {
        const std::string p = Path(name);
        return std::wstring(p.begin(), p.end());  // the temporary paths are ASCII
    }

    std::string m_dir;
};

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Runs `call`, which must throw Tavrin::CException raised in ctextfile.cpp at `line` in
// `function`, with exactly one log entry for it.
void ExpectThrowsAt(const std::function<void()>& call, unsigned line, const char* function) {
    LogCapture log;
    try {
        call();
        ADD_FAILURE() << "no exception, expected line " << line;
    } catch (const Tavrin::CException& e) {
        EXPECT_EQ(e.GetCodeLine(), line);
        EXPECT_STREQ(e.GetFunctionName(), function);
        const std::string file = e.GetFilename();
        const std::string tail = "core/tavrin/src/ctextfile.cpp";
        EXPECT_TRUE(file.size() >= tail.size() &&
                    file.compare(file.size() - tail.size(), tail.size(), tail) == 0)
            << file;
        EXPECT_EQ(log.Count(), 1u);
    }
}

constexpr const char* kRead = "Tavrin::CTextFile::Read";
constexpr const char* kWrite = "Tavrin::CTextFile::Write";
constexpr const char* kGuess = "Tavrin::CTextFile::GuessCodePage";

size_t OpenDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// A sysfs file reports a size of one page but delivers only a few bytes: a real file whose
// read comes up short. Empty when the system has none.
std::string ShortReadingFile() {
    for (const char* candidate :
         {"/sys/class/net/lo/mtu", "/sys/kernel/mm/transparent_hugepage/enabled",
          "/sys/devices/system/cpu/online"}) {
        struct stat info {};
        if (::stat(candidate, &info) != 0 || info.st_size <= 0) continue;
        std::ifstream in(candidate, std::ios::binary);
        const Bytes content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad() || content.empty()) continue;
        if (content.size() < static_cast<size_t>(info.st_size)) return candidate;
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// Bytes in and out

TEST_F(TextFile, ReadAndWriteKeepEveryByteMarksAndNulsIncluded) {
    const Bytes content = {0xEF, 0xBB, 0xBF, 'a', 0x00, 0xFF, 0x80, '\r', '\n', 'z'};
    WriteBytes(Path("in.txt"), content);

    CTextFile file;
    file.Read(WPath("in.txt"));
    EXPECT_EQ(file.GetTextRaw(), "\xEF\xBB\xBF" "a");  // cut at the first NUL
    file.Write(WPath("out.txt"));
    EXPECT_EQ(ReadBytes(Path("out.txt")), content);

    // The wide-pointer overloads and a longer existing file that must be replaced whole.
    WriteBytes(Path("longer.txt"), Bytes(100, 'x'));
    CTextFile again;
    again.Read(WPath("in.txt").c_str()).Write(WPath("longer.txt").c_str());
    EXPECT_EQ(ReadBytes(Path("longer.txt")), content);
}

TEST_F(TextFile, EmptyFileAndObjectWithoutText) {
    WriteBytes(Path("empty.txt"), {});
    CTextFile file;
    file.Read(WPath("empty.txt"));
    EXPECT_EQ(file.GetTextRaw(), "");
    EXPECT_EQ(file.GetText(1252), L"");
    WriteBytes(Path("out.txt"), BytesOf("previous content"));
    file.Write(WPath("out.txt"));
    EXPECT_TRUE(ReadBytes(Path("out.txt")).empty());

    const CTextFile nothing;
    EXPECT_EQ(nothing.GetTextRaw(), "");
    EXPECT_EQ(nothing.GetText(65001), L"");
    EXPECT_EQ(nothing.GuessCodePage(), 0u);
    EXPECT_EQ(nothing.GetText(), L"");
    nothing.Write(WPath("nothing.txt"));
    EXPECT_TRUE(std::filesystem::exists(Path("nothing.txt")));
    EXPECT_TRUE(ReadBytes(Path("nothing.txt")).empty());
}

TEST_F(TextFile, SetTextStoresExactlyTheTextBytes) {
    CTextFile file;
    file.SetText("abc").Write(WPath("abc.txt"));
    EXPECT_EQ(ReadBytes(Path("abc.txt")), BytesOf("abc"));
    EXPECT_EQ(file.GetTextRaw(), "abc");

    file.SetText(std::string("ab\0cd", 5)).Write(WPath("cut.txt"));
    EXPECT_EQ(ReadBytes(Path("cut.txt")), BytesOf("ab"));

    file.SetText(static_cast<const char*>(nullptr)).Write(WPath("null.txt"));
    EXPECT_TRUE(ReadBytes(Path("null.txt")).empty());

    // UTF-8 without a mark, a character outside the basic plane included, and back.
    const std::wstring wide = L"Gr\u00FC\u00DFe \U0001F600";
    file.SetText(wide, 65001).Write(WPath("utf8.txt"));
    EXPECT_EQ(ReadBytes(Path("utf8.txt")),
              (Bytes{'G', 'r', 0xC3, 0xBC, 0xC3, 0x9F, 'e', ' ', 0xF0, 0x9F, 0x98, 0x80}));
    EXPECT_EQ(file.GetText(65001), wide);

    // A mark in the wide text is converted like any other character, never added or dropped.
    file.SetText(std::wstring(L"\uFEFFx"), 65001);
    EXPECT_EQ(file.GetTextRaw(), "\xEF\xBB\xBFx");

    file.SetText(L"\u00E9t\u00E9", 1252);
    EXPECT_EQ(file.GetTextRaw(), "\xE9t\xE9");
    EXPECT_EQ(file.GetText(1252), L"\u00E9t\u00E9");

    // The UTF-16 code page has no narrow form: the text becomes empty.
    file.SetText(L"abc", 1200);
    EXPECT_EQ(file.GetTextRaw(), "");
}

// ---------------------------------------------------------------------------------------------
// Guessing

TEST_F(TextFile, SignaturesInTheirOrder) {
    struct SCase {
        Bytes bytes;  // file content, before the trailing NUL the object adds
        unsigned int expected;
    };
    const SCase cases[] = {
        {{0xFF, 0xFE, 0x00, 0x00, 'a'}, 12000},
        {{0xFF, 0xFE, 0x00}, 12000},  // the trailing NUL completes the UTF-32 mark
        {{0x00, 0x00, 0xFE, 0xFF, 0x00}, 12001},
        {{0x84, 0x31, 0x95, 0x33, 0xB0, 0xA1}, 54936},
        {{'+', '/', 'v', '8', '-'}, 65000},
        {{'+', '/', 'v'}, 65000},
        {{0xEF, 0xBB, 0xBF}, 65001},
        {{0xEF, 0xBB, 0xBF, 'h', 'i'}, 65001},
        {{0xFF, 0xFE, 'a', 0x00}, 1200},
        {{0xFF, 0xFE}, 1200},
        {{0xFE, 0xFF, 0x00, 'a'}, 1201},
    };
    for (const SCase& c : cases) {
        WriteBytes(Path("sig.bin"), c.bytes);
        CTextFile file;
        file.Read(WPath("sig.bin"));
        EXPECT_EQ(file.GuessCodePage(), c.expected) << "case of " << c.bytes.size() << " bytes";
    }
}

TEST_F(TextFile, GetTextConvertsTheMarkWithTheText) {
    WriteBytes(Path("bom8.txt"), {0xEF, 0xBB, 0xBF, 'h', 0xC3, 0xA9});
    CTextFile file;
    EXPECT_EQ(file.Read(WPath("bom8.txt")).GetText(), L"\uFEFFh\u00E9");

    // The GB 18030 and UTF-7 signatures are marks too, and stay in the text.
    file.SetText("\x84\x31\x95\x33\xB0\xA1");
    EXPECT_EQ(file.GetText(), L"\uFEFF\u554A");
    file.SetText("+/v8-abc");
    EXPECT_EQ(file.GetText(), L"\uFEFFabc");

    // UTF-16 and UTF-32 texts are recognised by their marks but have no narrow conversion.
    const Bytes wideMarks[] = {{0xFF, 0xFE, 'h', 0x00, 'i', 0x00},
                               {0xFE, 0xFF, 0x00, 'h', 0x00, 'i'},
                               {0xFF, 0xFE, 0x00, 0x00, 'h', 0x00, 0x00, 0x00},
                               {0x00, 0x00, 0xFE, 0xFF, 0x00, 0x00, 0x00, 'h'}};
    const unsigned int wideCodePages[] = {1200, 1201, 12000, 12001};
    for (size_t i = 0; i < std::size(wideMarks); ++i) {
        WriteBytes(Path("bom16.txt"), wideMarks[i]);
        file.Read(WPath("bom16.txt"));
        EXPECT_EQ(file.GuessCodePage(), wideCodePages[i]);
        EXPECT_EQ(file.GetText(), L"") << wideCodePages[i];
    }
}

TEST_F(TextFile, GuesserComesFirstAndSeesTheBytesWithTheirNul) {
    WriteBytes(Path("bom8.txt"), {0xEF, 0xBB, 0xBF, 0xE9});
    std::vector<Bytes> seen;
    unsigned int answer = 1252;
    CTextFile file([&](const Bytes& bytes) {
        seen.push_back(bytes);
        return answer;
    });
    file.Read(WPath("bom8.txt"));
    EXPECT_EQ(file.GuessCodePage(), 1252u);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], (Bytes{0xEF, 0xBB, 0xBF, 0xE9, 0x00}));
    EXPECT_EQ(file.GetText(), L"\u00EF\u00BB\u00BF\u00E9");

    answer = 0;  // no answer: the signature decides
    EXPECT_EQ(file.GuessCodePage(), 65001u);

    CTextFile empty([&](const Bytes& bytes) {
        seen.push_back(bytes);
        return 0u;
    });
    seen.clear();
    EXPECT_EQ(empty.GuessCodePage(), 0u);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].empty());
}

TEST_F(TextFile, DetectionNeverFailsOnArbitraryBytes) {
    const unsigned seed = 20240611;
    std::cout << "[ seed ] " << seed << "\n";
    std::mt19937 random(seed);
    for (int round = 0; round < 300; ++round) {
        std::string bytes(random() % 200, '\0');
        for (char& b : bytes) b = static_cast<char>(random() % 255 + 1);  // no NUL
        CTextFile file;
        file.SetText(bytes);
        const unsigned int guessed = file.GuessCodePage();
        const std::wstring text = file.GetText();
        if (guessed == 65001) {
            EXPECT_EQ(text, Tavrin::Encodings::FromCodePage(bytes.c_str(), 65001));
        }
    }
}

// The detector's verdicts on texts the test writes itself. What a statistical detector makes
// of a given sample is not a promise, so only marks and structurally certain encodings are
// asserted; the rest is reported.
TEST_F(TextFile, DetectionOverRealTexts) {
    const std::wstring english =
        L"The committee met on Tuesday to discuss the budget for the coming year. After a long "
        L"debate, the members agreed to fund the new library and to repair the old bridge over "
        L"the river before the winter.\n";
    const std::wstring french =
        L"Le c\u0153ur d\u00E9\u00E7u mais l'\u00E2me plut\u00F4t na\u00EFve, Lou\u00FFs "
        L"r\u00EAva de crapa\u00FCter en cano\u00EB au del\u00E0 des \u00EEles, pr\u00E8s du "
        L"m\u00E4lstr\u00F6m o\u00F9 br\u00FBlent les nov\u00E6. O\u00F9 est pass\u00E9 "
        L"l'\u00E9t\u00E9 ? \u00AB D\u00E9j\u00E0 \u00BB, r\u00E9pondit-elle.\n";
    const std::wstring german =
        L"Zw\u00F6lf Boxk\u00E4mpfer jagen Viktor quer \u00FCber den gro\u00DFen Sylter Deich. "
        L"Falsches \u00DCben von Xylophonmusik qu\u00E4lt jeden gr\u00F6\u00DFeren Zwerg.\n";
    const std::wstring japanese =
        L"\u65E5\u672C\u8A9E\u306E\u6587\u7AE0\u3092\u3053\u3053\u306B\u66F8\u304D\u307E\u3059"
        L"\u3002\u6771\u4EAC\u306F\u65E5\u672C\u306E\u9996\u90FD\u3067\u3059\u3002\u4ECA\u65E5"
        L"\u306F\u3068\u3066\u3082\u3044\u3044\u5929\u6C17\u3067\u3059\u306D\u3002\u660E\u65E5"
        L"\u3082\u6674\u308C\u308B\u3068\u3044\u3044\u3067\u3059\u306D\u3002\n";
    const std::wstring chinese =
        L"\u6211\u80FD\u541E\u4E0B\u73BB\u7483\u800C\u4E0D\u4F24\u8EAB\u4F53\u3002\u5317\u4EAC"
        L"\u662F\u4E2D\u56FD\u7684\u9996\u90FD\uFF0C\u4E0A\u6D77\u662F\u6700\u5927\u7684\u57CE"
        L"\u5E02\u3002\u4ECA\u5929\u5929\u6C14\u5F88\u597D\uFF0C\u6211\u4EEC\u53BB\u516C\u56ED"
        L"\u6563\u6B65\u5427\u3002\n";
    const std::wstring russian =
        L"\u0421\u044A\u0435\u0448\u044C \u0436\u0435 \u0435\u0449\u0451 \u044D\u0442\u0438"
        L"\u0445 \u043C\u044F\u0433\u043A\u0438\u0445 \u0444\u0440\u0430\u043D\u0446\u0443"
        L"\u0437\u0441\u043A\u0438\u0445 \u0431\u0443\u043B\u043E\u043A, \u0434\u0430 \u0432"
        L"\u044B\u043F\u0435\u0439 \u0447\u0430\u044E. \u041C\u043E\u0441\u043A\u0432\u0430 "
        L"\u0441\u0442\u043E\u043B\u0438\u0446\u0430 \u0420\u043E\u0441\u0441\u0438\u0438.\n";

    struct SSample {
        const char* name;
        std::string bytes;
        unsigned int codePage;
        bool certain;  // decided by a mark
        std::wstring text;  // what GetText gives when the guess is right
    };
    auto encode = [](const std::wstring& text, unsigned int codePage) {
        return Tavrin::Encodings::ToCodePage(text.c_str(), codePage);
    };
    std::string utf16le = "\xFF\xFE";
    for (wchar_t c : english) utf16le += std::string{static_cast<char>(c), '\0'};
    std::string utf16be = "\xFE\xFF";
    for (wchar_t c : english) utf16be += std::string{'\0', static_cast<char>(c)};

    const SSample samples[] = {
        {"English, ASCII", encode(english, 1252), 1252, false, english},
        {"French, Windows-1252", encode(french, 1252), 1252, false, french},
        {"German, Windows-1252", encode(german, 1252), 1252, false, german},
        {"Japanese, Shift-JIS", encode(japanese, 932), 932, false, japanese},
        {"Chinese, GB18030", encode(chinese, 54936), 54936, false, chinese},
        {"Russian, KOI8-R", encode(russian, 20866), 20866, false, russian},
        {"Russian, Windows-1251", encode(russian, 1251), 1251, false, russian},
        {"Japanese, UTF-8", encode(japanese, 65001), 65001, false, japanese},
        {"French, UTF-8", encode(french, 65001), 65001, false, french},
        {"Russian, UTF-8 with mark", "\xEF\xBB\xBF" + encode(russian, 65001), 65001, true,
         L"\uFEFF" + russian},
        {"English, UTF-16LE with mark", utf16le, 1200, true, L""},
        {"English, UTF-16BE with mark", utf16be, 1201, true, L""},
        // Escape sequences name this one for certain.
        {"Chinese, ISO-2022-CN", encode(chinese, 50227), 50227, true, chinese},
    };

    int right = 0, unsure = 0, wrong = 0;
    for (const SSample& s : samples) {
        ASSERT_FALSE(s.bytes.empty()) << s.name;
        WriteBytes(Path("sample.txt"), Bytes(s.bytes.begin(), s.bytes.end()));
        CTextFile file;
        const unsigned int guessed = file.Read(WPath("sample.txt")).GuessCodePage();
        (guessed == s.codePage ? right : guessed == 0 ? unsure : wrong)++;
        std::cout << "  " << s.name << ": expected " << s.codePage << ", guessed " << guessed
                  << "\n";
        if (s.certain) {
            EXPECT_EQ(guessed, s.codePage) << s.name;
        }
        if (guessed == s.codePage) {
            EXPECT_EQ(file.GetText(), s.text) << s.name;
        }
    }
    std::cout << "[ detector ] " << right << " of " << std::size(samples) << " named correctly, "
              << unsure << " not sure, " << wrong << " named wrongly\n";
    RecordProperty("detector_right", right);
}

// GetText() converts from whatever the detector names, so each code page it can name must
// convert; these are the ones that are easy to miss (EBCDIC Arabic and Hebrew, ISO-2022-CN).
TEST_F(TextFile, CodePagesTheDetectorNamesConvert) {
    using Tavrin::Encodings::FromCodePage;
    EXPECT_EQ(FromCodePage("\xC1\x42", 20420), L"A\u0651");
    EXPECT_EQ(FromCodePage("\xC1\x41", 20424), L"A\u05D0");
    EXPECT_EQ(FromCodePage("\x1B$)A\x0E\x30\x21\x0F", 50227), L"\u554A");
}

// ---------------------------------------------------------------------------------------------
// Apartments

TEST(TextFileApartment, MultithreadedApartmentRefusesDetection) {
    std::thread worker([] {
        ASSERT_EQ(Tavrin::Com::CoInitializeEx(nullptr, Tavrin::Com::COINIT_MULTITHREADED),
                  Tavrin::Com::S_OK);
        CTextFile plain;
        plain.SetText("no mark here, so the detector would be asked");
        ExpectThrowsAt([&] { plain.GuessCodePage(); }, 413, kGuess);
        ExpectThrowsAt([&] { plain.GetText(); }, 413, kGuess);
        CTextFile empty;
        ExpectThrowsAt([&] { empty.GuessCodePage(); }, 413, kGuess);

        // A mark or a guesser answers before the runtime is touched.
        CTextFile marked;
        marked.SetText("\xEF\xBB\xBFok");
        EXPECT_EQ(marked.GuessCodePage(), 65001u);
        CTextFile guessed([](const Bytes&) { return 1252u; });
        guessed.SetText("plain");
        EXPECT_EQ(guessed.GetText(), L"plain");

        Tavrin::Com::CoUninitialize();
        EXPECT_NO_THROW(plain.GuessCodePage());
    });
    worker.join();
}

TEST(TextFileApartment, GuessLeavesTheThreadsApartmentAsItFoundIt) {
    std::thread worker([] {
        CTextFile plain;
        plain.SetText("detector text");
        plain.GuessCodePage();
        // Had the guess left its initialisation behind, the thread would still be in the
        // single-threaded apartment and this would fail.
        EXPECT_EQ(Tavrin::Com::CoInitializeEx(nullptr, Tavrin::Com::COINIT_MULTITHREADED),
                  Tavrin::Com::S_OK);
        Tavrin::Com::CoUninitialize();

        // Inside a single-threaded apartment of the caller's: the guess joins it and leaves
        // the caller's one initialisation in place.
        ASSERT_EQ(Tavrin::Com::CoInitialize(nullptr), Tavrin::Com::S_OK);
        plain.GuessCodePage();
        EXPECT_EQ(Tavrin::Com::CoInitializeEx(nullptr, Tavrin::Com::COINIT_MULTITHREADED),
                  Tavrin::Com::RPC_E_CHANGED_MODE);
        Tavrin::Com::CoUninitialize();
        EXPECT_EQ(Tavrin::Com::CoInitializeEx(nullptr, Tavrin::Com::COINIT_MULTITHREADED),
                  Tavrin::Com::S_OK);
        Tavrin::Com::CoUninitialize();
    });
    worker.join();
}

TEST(TextFileApartment, InitialisationIsCountedPerThread) {
    namespace Com = Tavrin::Com;
    std::thread worker([] {
        EXPECT_EQ(Com::CoInitialize(nullptr), Com::S_OK);
        EXPECT_EQ(Com::CoInitialize(nullptr), Com::S_FALSE);
        std::thread other([] {  // another thread starts outside any apartment
            EXPECT_EQ(Com::CoInitializeEx(nullptr, Com::COINIT_MULTITHREADED), Com::S_OK);
            Com::CoUninitialize();
        });
        other.join();
        Com::CoUninitialize();
        EXPECT_EQ(Com::CoInitializeEx(nullptr, Com::COINIT_MULTITHREADED),
                  Com::RPC_E_CHANGED_MODE);  // one initialisation still stands
        Com::CoUninitialize();
        Com::CoUninitialize();  // one too many: ignored
        EXPECT_EQ(Com::CoInitializeEx(nullptr, Com::COINIT_MULTITHREADED), Com::S_OK);
        Com::CoUninitialize();
    });
    worker.join();
}

// ---------------------------------------------------------------------------------------------
// Copy and move

TEST_F(TextFile, CopiesShareNothingAndMovesEmptyTheSource) {
    int calls = 0;
    CTextFile original([&](const Bytes&) {
        ++calls;
        return 1251u;
    });
    original.SetText("\xC0\xE1");

    CTextFile copy(original);
    original.SetText("changed");
    EXPECT_EQ(copy.GetTextRaw(), "\xC0\xE1");
    EXPECT_EQ(copy.GetText(), L"\u0410\u0431");
    EXPECT_EQ(calls, 1);

    CTextFile assigned;
    assigned = copy;
    const CTextFile& alias = assigned;
    assigned = alias;  // self-assignment keeps the object
    EXPECT_EQ(assigned.GetTextRaw(), "\xC0\xE1");
    EXPECT_EQ(assigned.GuessCodePage(), 1251u);
    EXPECT_EQ(calls, 2);

    CTextFile moved(std::move(copy));
    EXPECT_EQ(moved.GetTextRaw(), "\xC0\xE1");
    EXPECT_EQ(moved.GuessCodePage(), 1251u);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(copy.GetTextRaw(), "");  // NOLINT(bugprone-use-after-move): the promised state
    copy.SetText("\xEF\xBB\xBF");
    EXPECT_EQ(copy.GuessCodePage(), 65001u);
    EXPECT_EQ(calls, 3);  // no guesser left behind

    CTextFile target;
    target.SetText("old");
    target = std::move(moved);
    EXPECT_EQ(target.GetTextRaw(), "\xC0\xE1");
    EXPECT_EQ(moved.GetTextRaw(), "");  // NOLINT(bugprone-use-after-move)
    moved.SetText("\xFE\xFF");
    EXPECT_EQ(moved.GuessCodePage(), 1201u);
    EXPECT_EQ(calls, 3);
    target.GuessCodePage();
    EXPECT_EQ(calls, 4);
}

// ---------------------------------------------------------------------------------------------
// Failures

TEST_F(TextFile, ReadFailuresRaiseAndDiscardTheOldText) {
    CTextFile file;
    file.SetText("old text");
    ExpectThrowsAt([&] { file.Read(WPath("missing.txt")); }, 82, kRead);
    EXPECT_EQ(file.GetTextRaw(), "");

    std::filesystem::create_directory(Path("dir"));
    ExpectThrowsAt([&] { file.Read(WPath("dir")); }, 82, kRead);
    ExpectThrowsAt([&] { file.Read(WPath("missing/inner.txt")); }, 82, kRead);
    ExpectThrowsAt([&] { file.Read(static_cast<const wchar_t*>(nullptr)); }, 82, kRead);
    ExpectThrowsAt([&] { file.Read(std::wstring()); }, 82, kRead);

    // 4 GiB and more do not fit the 32-bit size: refused, not read in part or allocated.
    {
        std::ofstream(Path("huge.bin")).put('x');
        std::filesystem::resize_file(Path("huge.bin"), (std::uintmax_t{1} << 32) + 3);
        file.SetText("old text");
        ExpectThrowsAt([&] { file.Read(WPath("huge.bin")); }, 101, kRead);
        EXPECT_EQ(file.GetTextRaw(), "");
    }

    const std::string shortFile = ShortReadingFile();
    if (shortFile.empty()) {
        std::cout << "  (no short-reading system file here; line 101 not exercised)\n";
    } else {
        file.SetText("old text");
        ExpectThrowsAt([&] { file.Read(std::wstring(shortFile.begin(), shortFile.end())); }, 101,
                       kRead);
    }
}

TEST_F(TextFile, WriteFailuresRaise) {
    CTextFile file;
    file.SetText("some bytes");
    std::filesystem::create_directory(Path("dir"));
    ExpectThrowsAt([&] { file.Write(WPath("dir")); }, 199, kWrite);
    ExpectThrowsAt([&] { file.Write(WPath("no/such/dir/file.txt")); }, 199, kWrite);
    ExpectThrowsAt([&] { file.Write(static_cast<const wchar_t*>(nullptr)); }, 199, kWrite);
    ExpectThrowsAt([&] { file.Write(L"/proc/no-such-entry"); }, 199, kWrite);
    if (std::filesystem::exists("/dev/full")) {
        ExpectThrowsAt([&] { file.Write(L"/dev/full"); }, 211, kWrite);
    }
    EXPECT_EQ(file.GetTextRaw(), "some bytes");  // Write leaves the object alone
}

TEST_F(TextFile, FailedOpeningsLeakNoDescriptors) {
    std::filesystem::create_directory(Path("dir"));
    WriteBytes(Path("ok.txt"), BytesOf("content"));
    const std::string shortFile = ShortReadingFile();
    CTextFile file;
    file.SetText("x");
    LogCapture quiet;
    const size_t before = OpenDescriptors();
    for (int i = 0; i < 300; ++i) {
        EXPECT_THROW(file.Read(WPath("missing.txt")), Tavrin::CException);
        EXPECT_THROW(file.Read(WPath("dir")), Tavrin::CException);
        if (!shortFile.empty()) {
            EXPECT_THROW(file.Read(std::wstring(shortFile.begin(), shortFile.end())),
                         Tavrin::CException);
        }
        EXPECT_THROW(file.Write(WPath("dir")), Tavrin::CException);
        if (std::filesystem::exists("/dev/full")) {
            EXPECT_THROW(file.Write(L"/dev/full"), Tavrin::CException);
        }
        file.Read(WPath("ok.txt")).Write(WPath("copy.txt"));
        EXPECT_THROW(file.Read(nullptr, 999, L"TEXT"), Tavrin::CException);
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

// ---------------------------------------------------------------------------------------------
// Module resources

TEST(TextFileResource, EmbeddedFileReadsBackByteForByte) {
    std::ifstream in(TAVRIN_TEST_DATA_DIR "/textfile_resource.txt", std::ios::binary);
    const std::string expected((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    ASSERT_FALSE(expected.empty());

    CTextFile file;
    EXPECT_EQ(file.Read(nullptr, 7, L"TEXT").GetTextRaw(), expected);
    EXPECT_EQ(file.GuessCodePage(), 65001u);
    EXPECT_EQ(file.GetText(), Tavrin::Encodings::FromCodePage(expected.c_str(), 65001));
    EXPECT_EQ(file.GetText().substr(0, 3), L"\uFEFFGr");

    // The executable's own handle, the type in another case, the integer type in both forms.
    EXPECT_EQ(file.Read(Tavrin::GetMainModule(), 7, std::wstring(L"text")).GetTextRaw(),
              expected);
    EXPECT_EQ(file.Read(nullptr, 9, L"#10").GetTextRaw(), expected);
    EXPECT_EQ(file.Read(nullptr, 9, reinterpret_cast<const wchar_t*>(std::uintptr_t{10}))
                  .GetTextRaw(),
              expected);
    static const int anchor = 0;
    EXPECT_EQ(Tavrin::GetModuleOf(&anchor), Tavrin::GetMainModule());
    EXPECT_NE(Tavrin::GetMainModule(), nullptr);
    EXPECT_NE(Tavrin::GetLibraryModule(), Tavrin::GetMainModule());
}

TEST(TextFileResource, EmptyResourceLeavesNoText) {
    std::vector<Bytes> seen;
    CTextFile file([&](const Bytes& bytes) {
        seen.push_back(bytes);
        return 0u;
    });
    file.SetText("old");
    file.Read(nullptr, 8, L"TEXT");
    EXPECT_EQ(file.GetTextRaw(), "");
    EXPECT_EQ(file.GetText(), L"");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].empty());  // no text at all, not even the NUL
}

TEST(TextFileResource, MissingOrUnlockableResourcesRaise) {
    CTextFile file;
    file.SetText("old");
    ExpectThrowsAt([&] { file.Read(nullptr, 6, L"TEXT"); }, 140, kRead);
    EXPECT_EQ(file.GetTextRaw(), "");
    ExpectThrowsAt([&] { file.Read(nullptr, 7, L"HTML"); }, 140, kRead);
    ExpectThrowsAt([&] { file.Read(nullptr, 0, L"TEXT"); }, 140, kRead);
    ExpectThrowsAt([&] { file.Read(nullptr, 7, static_cast<const wchar_t*>(nullptr)); }, 140,
                   kRead);
    ExpectThrowsAt([&] { file.Read(Tavrin::GetLibraryModule(), 7, L"TEXT"); }, 140, kRead);

    // A resource registered without its bytes is found, has a size, and cannot be locked.
    const HINSTANCE module = Tavrin::GetMainModule();
    ASSERT_TRUE(Tavrin::RegisterResource(module, 500, L"BROKEN", nullptr, 10));
    ExpectThrowsAt([&] { file.Read(nullptr, 500, L"broken"); }, 147, kRead);
    EXPECT_TRUE(Tavrin::UnregisterResource(module, 500, L"BROKEN", nullptr));
    ExpectThrowsAt([&] { file.Read(nullptr, 500, L"BROKEN"); }, 140, kRead);
}

TEST(TextFileResource, RuntimeRegistration) {
    static const char data[] = "registered at run time";
    const HINSTANCE module = Tavrin::GetLibraryModule();
    EXPECT_FALSE(Tavrin::RegisterResource(module, 65536, L"T", data, 3));
    EXPECT_FALSE(Tavrin::RegisterResource(module, 1, L"#0", data, 3));

    ASSERT_TRUE(Tavrin::RegisterResource(module, 1, L"Msg", data, sizeof(data) - 1));
    CTextFile file;
    EXPECT_EQ(file.Read(module, 1, L"MSG").GetTextRaw(), data);
    // Only the registration that still owns the key withdraws it.
    EXPECT_FALSE(Tavrin::UnregisterResource(module, 1, L"MSG", "other"));
    EXPECT_TRUE(Tavrin::UnregisterResource(module, 1, L"msg", data));
    ExpectThrowsAt([&] { file.Read(module, 1, L"MSG"); }, 140, kRead);
}

}  // namespace
