#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "support/files.h"
#include "support/raising.h"

namespace {

using Tavrin::CTextFile;
using TestSupport::Bytes;
namespace Com = Tavrin::Com;

constexpr const char* kRead = "Tavrin::CTextFile::Read";
constexpr const char* kWrite = "Tavrin::CTextFile::Write";
constexpr const char* kGuess = "Tavrin::CTextFile::GuessCodePage";

class TextFile : public TestSupport::CTempDirTest {};

// Expects `call` to raise the CException of ctextfile.cpp at `line` in `function`.
template <class F>
void ExpectThrowsAt(F&& call, unsigned line, const char* function,
                    CallSite where = CallSite::current()) {
    ::ExpectThrowsAt<Tavrin::CException>(call, "core/tavrin/src/ctextfile.cpp", line, function,
                                         where);
}

// ---- Bytes in and out ---------------------------------------------------------------------------

TEST_F(TextFile, ReadWriteAndSetTextKeepExactlyTheBytes) {
    const Bytes content = {0xEF, 0xBB, 0xBF, 'a', 0x00, 0xFF, 0x80, '\r', '\n', 'z'};
    PutFile("in.txt", content);
    PutFile("longer.txt", Bytes(100, 'x'));  // must be replaced whole
    CTextFile file;
    file.Read(WPath("in.txt")).Write(WPath("longer.txt"));
    EXPECT_EQ(file.GetTextRaw(), "\xEF\xBB\xBF\x61");  // cut at the first NUL
    EXPECT_EQ(FileBytes("longer.txt"), content);
    file.Read(WPath("in.txt").c_str()).Write(WPath("out.txt").c_str());
    EXPECT_EQ(FileBytes("out.txt"), content);

    // An empty file is one NUL; an object without any text writes an empty file too.
    PutFile("empty.txt", {});
    file.Read(WPath("empty.txt")).Write(WPath("out.txt"));
    EXPECT_EQ(file.GetTextRaw(), "");
    EXPECT_EQ(file.GetText(1252), L"");
    EXPECT_TRUE(FileBytes("out.txt").empty());
    const CTextFile nothing;
    EXPECT_EQ(nothing.GetTextRaw(), "");
    EXPECT_EQ(nothing.GuessCodePage(), 0u);
    EXPECT_EQ(nothing.GetText(), L"");
    nothing.Write(WPath("nothing.txt"));
    EXPECT_TRUE(FileBytes("nothing.txt").empty());

    // Narrow text goes in as it is, up to its first NUL; wide text is converted, a mark in it
    // like any other character, and none is ever added.
    const struct {
        std::function<void(CTextFile&)> set;
        std::string bytes;
    } texts[] = {
        {[](CTextFile& f) { f.SetText("abc"); }, "abc"},
        {[](CTextFile& f) { f.SetText(std::string("ab\0cd", 5)); }, "ab"},
        {[](CTextFile& f) { f.SetText(static_cast<const char*>(nullptr)); }, ""},
        {[](CTextFile& f) { f.SetText(L"Gr\u00FC\u00DFe \U0001F600", 65001); },
         "Gr\xC3\xBC\xC3\x9F\x65 \xF0\x9F\x98\x80"},
        {[](CTextFile& f) { f.SetText(std::wstring(L"\uFEFFx"), 65001); }, "\xEF\xBB\xBFx"},
        {[](CTextFile& f) { f.SetText(L"\u00E9t\u00E9", 1252); }, "\xE9t\xE9"},
        {[](CTextFile& f) { f.SetText(L"abc", 1200); }, ""},  // UTF-16 has no narrow form
    };
    for (const auto& text : texts) {
        text.set(file);
        file.Write(WPath("set.txt"));
        EXPECT_EQ(FileBytes("set.txt"), Bytes(text.bytes.begin(), text.bytes.end()));
        EXPECT_EQ(file.GetTextRaw(), text.bytes);
    }
    EXPECT_EQ(file.SetText(L"Gr\u00FC\u00DFe \U0001F600", 65001).GetText(65001),
              L"Gr\u00FC\u00DFe \U0001F600");
    EXPECT_EQ(file.SetText(L"\u00E9t\u00E9", 1252).GetText(1252), L"\u00E9t\u00E9");
}

// ---- Guessing -----------------------------------------------------------------------------------

// Marks decide in their order (the length counted includes the trailing NUL) and stay in the
// text that GetText gives; UTF-16 and UTF-32 have no narrow conversion, so their text is empty.
TEST_F(TextFile, SignaturesInTheirOrder) {
    const struct {
        Bytes bytes;
        unsigned int codePage;
        const wchar_t* text;  // null: not checked
    } cases[] = {
        {{0xFF, 0xFE, 0x00, 0x00, 'h', 0x00, 0x00, 0x00}, 12000, L""},
        {{0xFF, 0xFE, 0x00}, 12000, L""},  // the trailing NUL completes the UTF-32 mark
        {{0x00, 0x00, 0xFE, 0xFF, 0x00, 0x00, 0x00, 'h'}, 12001, L""},
        {{0x84, 0x31, 0x95, 0x33, 0xB0, 0xA1}, 54936, L"\uFEFF\u554A"},
        {{'+', '/', 'v', '8', '-', 'a', 'b', 'c'}, 65000, L"\uFEFFabc"},
        {{'+', '/', 'v'}, 65000, nullptr},
        {{0xEF, 0xBB, 0xBF}, 65001, L"\uFEFF"},
        {{0xEF, 0xBB, 0xBF, 'h', 0xC3, 0xA9}, 65001, L"\uFEFFh\u00E9"},
        {{0xFF, 0xFE, 'h', 0x00, 'i', 0x00}, 1200, L""},
        {{0xFF, 0xFE}, 1200, L""},
        {{0xFE, 0xFF, 0x00, 'h', 0x00, 'i'}, 1201, L""},
    };
    std::string lacking;  // code pages the system cannot convert (Wine has no GB18030)
    for (const auto& c : cases) {
        PutFile("sig.bin", c.bytes);
        CTextFile file;
        file.Read(WPath("sig.bin"));
        EXPECT_EQ(file.GuessCodePage(), c.codePage) << c.bytes.size() << " bytes";
        if (c.text != nullptr && *c.text != L'\0' &&
            Tavrin::Encodings::ToCodePage(L"a", c.codePage).empty()) {
            lacking += " " + std::to_string(c.codePage);
            continue;
        }
        EXPECT_TRUE(c.text == nullptr || file.GetText() == c.text) << c.codePage;
    }
    if (!lacking.empty()) {
        GTEST_SKIP() << "the system has no converter for code page" << lacking
                     << " (its mark was checked, and the other code pages)";
    }
}

TEST_F(TextFile, GuesserComesFirstAndSeesTheBytesWithTheirNul) {
    std::vector<Bytes> seen;
    unsigned int answer = 1252;
    CTextFile file([&](const Bytes& bytes) {
        seen.push_back(bytes);
        return answer;
    });
    EXPECT_EQ(file.GuessCodePage(), 1252u);
    file.SetText("\xEF\xBB\xBF\xE9");
    EXPECT_EQ(file.GetText(), L"\u00EF\u00BB\u00BF\u00E9");  // even over a UTF-8 mark
    answer = 0;                                              // no answer: the signature decides
    EXPECT_EQ(file.GuessCodePage(), 65001u);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_TRUE(seen[0].empty());  // no text at all, not even the NUL
    EXPECT_EQ(seen[1], (Bytes{0xEF, 0xBB, 0xBF, 0xE9, 0x00}));
    EXPECT_EQ(seen[2], seen[1]);
}

// ---- Apartments ---------------------------------------------------------------------------------

TEST(TextFileApartment, MultithreadedApartmentRefusesDetection) {
    std::thread([] {
        ASSERT_EQ(Com::CoInitializeEx(nullptr, Com::COINIT_MULTITHREADED), Com::S_OK);
        CTextFile plain, empty, marked, guessed([](const Bytes&) { return 1252u; });
        plain.SetText("no mark here, so the detector would be asked");
        ExpectThrowsAt([&] { plain.GuessCodePage(); }, 413, kGuess);
        ExpectThrowsAt([&] { plain.GetText(); }, 413, kGuess);
        ExpectThrowsAt([&] { empty.GuessCodePage(); }, 413, kGuess);
        // A mark or a guesser answers before the runtime is touched.
        EXPECT_EQ(marked.SetText("\xEF\xBB\xBFok").GuessCodePage(), 65001u);
        EXPECT_EQ(guessed.SetText("plain").GetText(), L"plain");
        Com::CoUninitialize();
        EXPECT_NO_THROW(plain.GuessCodePage());
    }).join();
}

// The guess balances its own initialisation and leaves a caller's in place; the runtime
// stand-in counts initialisations per thread.
TEST(TextFileApartment, GuessLeavesTheThreadsApartmentAsItFoundIt) {
    std::thread([] {
        CTextFile plain;
        plain.SetText("detector text");
        plain.GuessCodePage();
        // Had the guess left its initialisation behind, the thread would still be in the
        // single-threaded apartment and this would fail.
        EXPECT_EQ(Com::CoInitializeEx(nullptr, Com::COINIT_MULTITHREADED), Com::S_OK);
        Com::CoUninitialize();

        ASSERT_EQ(Com::CoInitialize(nullptr), Com::S_OK);
        EXPECT_EQ(Com::CoInitialize(nullptr), Com::S_FALSE);
        plain.GuessCodePage();
        std::thread([] {  // another thread starts outside any apartment
            EXPECT_EQ(Com::CoInitializeEx(nullptr, Com::COINIT_MULTITHREADED), Com::S_OK);
            Com::CoUninitialize();
        })
            .join();
        Com::CoUninitialize();
        EXPECT_EQ(Com::CoInitializeEx(nullptr, Com::COINIT_MULTITHREADED),
                  Com::RPC_E_CHANGED_MODE);  // one initialisation still stands
        Com::CoUninitialize();
        Com::CoUninitialize();  // one too many: ignored
        EXPECT_EQ(Com::CoInitializeEx(nullptr, Com::COINIT_MULTITHREADED), Com::S_OK);
        Com::CoUninitialize();
    }).join();
}

// ---- Copy and move ------------------------------------------------------------------------------

TEST(TextFileObject, CopiesShareNothingAndMovesEmptyTheSource) {
    int calls = 0;
    CTextFile original([&](const Bytes&) { return ++calls, 1251u; });
    original.SetText("\xC0\xE1");
    CTextFile copy(original);
    original.SetText("changed");
    EXPECT_EQ(copy.GetText(), L"\u0410\u0431");  // its own bytes, the guesser copied along
    EXPECT_EQ(calls, 1);

    CTextFile assigned;
    assigned = copy;
    const CTextFile& alias = assigned;
    assigned = alias;  // self-assignment keeps the object
    EXPECT_EQ(assigned.GetTextRaw(), "\xC0\xE1");
    EXPECT_EQ(assigned.GuessCodePage(), 1251u);
    EXPECT_EQ(calls, 2);

    CTextFile moved(std::move(copy));
    CTextFile target;
    target.SetText("old");
    target = std::move(moved);
    EXPECT_EQ(target.GetTextRaw(), "\xC0\xE1");
    EXPECT_EQ(target.GuessCodePage(), 1251u);
    EXPECT_EQ(calls, 3);
    // Both sources are left with no text and no guesser.
    for (CTextFile* source : {&copy, &moved}) {
        EXPECT_EQ(source->GetTextRaw(), "");  // NOLINT(bugprone-use-after-move)
        EXPECT_EQ(source->SetText("\xFE\xFF").GuessCodePage(), 1201u);
    }
    EXPECT_EQ(calls, 3);
}

// ---- Failures -----------------------------------------------------------------------------------

// A sysfs file reports a size of one page but delivers only a few bytes: a real file whose
// read comes up short. Empty when the system has none.
std::string ShortReadingFile() {
    for (const char* candidate : {"/sys/class/net/lo/mtu", "/sys/devices/system/cpu/online"}) {
        struct stat info {};
        if (::stat(candidate, &info) != 0 || info.st_size <= 0) continue;
        std::ifstream in(candidate, std::ios::binary);
        const Bytes content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.bad() && !content.empty() && content.size() < static_cast<size_t>(info.st_size))
            return candidate;
    }
    return {};
}

#if defined(_WIN32)
// The two kernel32 functions the count needs, declared here rather than through <windows.h>.
extern "C" __declspec(dllimport) void* __stdcall GetCurrentProcess();
extern "C" __declspec(dllimport) int __stdcall GetProcessHandleCount(void* process,
                                                                     unsigned long* count);
size_t OpenDescriptors() {
    unsigned long count = 0;
    EXPECT_NE(GetProcessHandleCount(GetCurrentProcess(), &count), 0);
    return count;
}
#else
size_t OpenDescriptors() {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<size_t>(std::distance(begin(fds), end(fds)));
}
#endif

// Every failure raises its own line, discards the old text (a failed open) and leaks no
// descriptor, however often it happens.
TEST_F(TextFile, ReadAndWriteFailures) {
    std::filesystem::create_directory(Path("dir"));
    // 4 GiB and more do not fit the 32-bit size: refused, not read in part or allocated.
    std::ofstream(Path("huge.bin")).put('x');
    std::filesystem::resize_file(Path("huge.bin"), (std::uintmax_t{1} << 32) + 3);
    struct SCase {
        std::wstring path;
        unsigned line;
    };
    std::vector<SCase> reads = {{WPath("missing.txt"), 82},
                                {WPath("dir"), 82},
                                {WPath("missing/inner.txt"), 82},
                                {L"", 82},
                                {WPath("huge.bin"), 101}};
    std::vector<SCase> writes = {
        {WPath("dir"), 199}, {WPath("no/such/dir/file.txt"), 199}, {L"/proc/no-such-entry", 199}};
    const std::string shortFile = ShortReadingFile();
    if (!shortFile.empty())
        reads.push_back({std::wstring(shortFile.begin(), shortFile.end()), 101});
    if (std::filesystem::exists("/dev/full")) writes.push_back({L"/dev/full", 211});
    if (shortFile.empty()) std::printf("  (no short-reading system file: 101 for 4 GiB only)\n");

    CTextFile file;
    for (const SCase& c : reads) {
        file.SetText("old text");
        ExpectThrowsAt([&] { file.Read(c.path); }, c.line, kRead);
        // A short read may leave a partly filled buffer; every other failure leaves no text.
        EXPECT_TRUE(c.path == std::wstring(shortFile.begin(), shortFile.end()) ||
                    file.GetTextRaw().empty())
            << c.line;
    }
    ExpectThrowsAt([&] { file.Read(static_cast<const wchar_t*>(nullptr)); }, 82, kRead);
    file.SetText("some bytes");
    for (const SCase& c : writes) ExpectThrowsAt([&] { file.Write(c.path); }, c.line, kWrite);
    ExpectThrowsAt([&] { file.Write(static_cast<const wchar_t*>(nullptr)); }, 199, kWrite);
    EXPECT_EQ(file.GetTextRaw(), "some bytes");  // Write leaves the object alone

    PutFile("ok.txt", {'o', 'k'});
    LogCapture quiet;
    const size_t before = OpenDescriptors();
    for (int i = 0; i < 50; ++i) {
        for (const SCase& c : reads) EXPECT_THROW(file.Read(c.path), Tavrin::CException);
        for (const SCase& c : writes) EXPECT_THROW(file.Write(c.path), Tavrin::CException);
        file.Read(WPath("ok.txt")).Write(WPath("copy.txt"));
        EXPECT_THROW(file.Read(nullptr, 999, L"TEXT"), Tavrin::CException);
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

// ---- Module resources ---------------------------------------------------------------------------

TEST(TextFileResource, EmbeddedResourcesReadBackByteForByte) {
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
    EXPECT_EQ(file.Read(Tavrin::GetMainModule(), 7, std::wstring(L"text")).GetTextRaw(), expected);
    EXPECT_EQ(file.Read(nullptr, 9, L"#10").GetTextRaw(), expected);
    const auto* integerType = reinterpret_cast<const wchar_t*>(std::uintptr_t{10});
    EXPECT_EQ(file.Read(nullptr, 9, integerType).GetTextRaw(), expected);
    static const int anchor = 0;
    EXPECT_EQ(Tavrin::GetModuleOf(&anchor), Tavrin::GetMainModule());
    EXPECT_NE(Tavrin::GetMainModule(), nullptr);
    EXPECT_NE(Tavrin::GetLibraryModule(), Tavrin::GetMainModule());

    // An empty resource leaves no text at all: the guesser sees no bytes, not even the NUL.
    std::vector<Bytes> seen;
    CTextFile empty([&](const Bytes& bytes) { return seen.push_back(bytes), 0u; });
    empty.SetText("old");
    EXPECT_EQ(empty.Read(nullptr, 8, L"TEXT").GetTextRaw(), "");
    EXPECT_EQ(empty.GetText(), L"");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].empty());
}

TEST(TextFileResource, MissingUnlockableAndWithdrawnResourcesRaise) {
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
    const HINSTANCE main = Tavrin::GetMainModule();
    ASSERT_TRUE(Tavrin::RegisterResource(main, 500, L"BROKEN", nullptr, 10));
    ExpectThrowsAt([&] { file.Read(nullptr, 500, L"broken"); }, 147, kRead);
    EXPECT_TRUE(Tavrin::UnregisterResource(main, 500, L"BROKEN", nullptr));
    ExpectThrowsAt([&] { file.Read(nullptr, 500, L"BROKEN"); }, 140, kRead);

    // Run-time registration: identifiers 1 to 65535 only; only the registration that still
    // owns the key withdraws it.
    static const char data[] = "registered at run time";
    const HINSTANCE library = Tavrin::GetLibraryModule();
    EXPECT_FALSE(Tavrin::RegisterResource(library, 65536, L"T", data, 3));
    EXPECT_FALSE(Tavrin::RegisterResource(library, 1, L"#0", data, 3));
    ASSERT_TRUE(Tavrin::RegisterResource(library, 1, L"Msg", data, sizeof(data) - 1));
    EXPECT_EQ(file.Read(library, 1, L"MSG").GetTextRaw(), data);
    EXPECT_FALSE(Tavrin::UnregisterResource(library, 1, L"MSG", "other"));
    EXPECT_TRUE(Tavrin::UnregisterResource(library, 1, L"msg", data));
    ExpectThrowsAt([&] { file.Read(library, 1, L"MSG"); }, 140, kRead);
}

}  // namespace
