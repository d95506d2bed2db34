// Throughput of Base64, of the UTF-8 conversions over 1 MB of ASCII and of mixed text, and of
// code pages 1252 and 932 over 1 MB of text.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <tavrin/base64.h>
#include <tavrin/encodings.h>

namespace {

constexpr size_t kSize = 1 << 20;

std::vector<unsigned char> RandomBytes() {
    std::mt19937 random(42);
    std::vector<unsigned char> bytes(kSize);
    for (auto& b : bytes) b = static_cast<unsigned char>(random());
    return bytes;
}

// About one character in five outside ASCII, as in the notes of the benchmark workload.
std::wstring MixedText() {
    std::mt19937 random(42);
    const wchar_t others[] = {0xE9, 0xDF, 0x4E2D, 0x20AC, 0x1F600};
    std::wstring text;
    while (text.size() < kSize / 2) {
        if (random() % 5 == 0) {
            text.push_back(others[random() % std::size(others)]);
        } else {
            text.push_back(static_cast<wchar_t>('a' + random() % 26));
        }
    }
    return text;
}

std::wstring AsciiText() {
    std::mt19937 random(42);
    std::wstring text(kSize, L' ');
    for (auto& c : text) c = static_cast<wchar_t>(' ' + random() % 95);
    return text;
}

void Base64Encode(benchmark::State& state) {
    const auto bytes = RandomBytes();
    const bool lineBreaks = state.range(0) != 0;
    for (auto _ : state) {
        std::string text = Tavrin::Base64::Encode(bytes.data(), bytes.size(), lineBreaks);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(Base64Encode)->Arg(0)->Arg(1);

void Base64Decode(benchmark::State& state) {
    const auto bytes = RandomBytes();
    const std::string text =
        Tavrin::Base64::Encode(bytes.data(), bytes.size(), state.range(0) != 0);
    std::vector<unsigned char> out(bytes.size());
    for (auto _ : state) {
        const size_t size = Tavrin::Base64::GetDecodedSize(text.c_str());
        benchmark::DoNotOptimize(Tavrin::Base64::Decode(text.c_str(), out.data(), size));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(Base64Decode)->Arg(0)->Arg(1);

// Figures count the UTF-8 bytes on both directions.
void ToUtf8(benchmark::State& state, const std::wstring& text) {
    const size_t utf8Size = Tavrin::Encodings::ToUTF8(text.c_str()).size();
    for (auto _ : state) {
        std::string utf8 = Tavrin::Encodings::ToUTF8(text.c_str());
        benchmark::DoNotOptimize(utf8.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * utf8Size));
}

void AppendUtf8(benchmark::State& state, const std::wstring& text) {
    const size_t utf8Size = Tavrin::Encodings::ToUTF8(text.c_str()).size();
    std::string utf8;
    for (auto _ : state) {
        utf8.clear();
        Tavrin::Encodings::AppendUTF8(utf8, text);
        benchmark::DoNotOptimize(utf8.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * utf8Size));
}

void FromUtf8(benchmark::State& state, const std::wstring& text) {
    const std::string utf8 = Tavrin::Encodings::ToUTF8(text.c_str());
    for (auto _ : state) {
        std::wstring wide = Tavrin::Encodings::FromUTF8(utf8.c_str());
        benchmark::DoNotOptimize(wide.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * utf8.size()));
}

void AppendFromUtf8(benchmark::State& state, const std::wstring& text) {
    const std::string utf8 = Tavrin::Encodings::ToUTF8(text.c_str());
    std::wstring wide;
    for (auto _ : state) {
        wide.clear();
        Tavrin::Encodings::AppendFromUTF8(wide, utf8);
        benchmark::DoNotOptimize(wide.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * utf8.size()));
}

// Many short values, as the text formats convert them one at a time.
void AppendUtf8ShortValues(benchmark::State& state) {
    const std::wstring text = MixedText();
    std::vector<std::wstring_view> values;
    for (size_t i = 0; i + 20 <= text.size(); i += 20) values.emplace_back(text.data() + i, 20);
    std::string utf8;
    size_t bytes = 0;
    for (auto _ : state) {
        utf8.clear();
        for (const auto value : values) Tavrin::Encodings::AppendUTF8(utf8, value);
        bytes += utf8.size();
        benchmark::DoNotOptimize(utf8.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(AppendUtf8ShortValues);

// About 1 MB of text in a code page: Western European text for 1252 (one letter in five
// accented or a sign), Japanese for 932 (kana and kanji with some ASCII).
std::wstring CodePageText(unsigned int codePage) {
    static constexpr wchar_t kWestern[] = {0xE9, 0xE8, 0xDF, 0xFC, 0x20AC, 0x152, 0xC0, 0xF1};
    static constexpr wchar_t kJapanese[] = {0x3042, 0x306E, 0x30C6, 0x30AD, 0x65E5,
                                            0x672C, 0x8A9E, 0x6587, 0x3002, 0xFF71};
    std::mt19937 random(42);
    std::wstring text;
    const size_t units = codePage == 932 ? kSize * 2 / 3 : kSize;
    while (text.size() < units) {
        const auto r = random();
        if (codePage == 932) {
            text.push_back(r % 4 == 0 ? static_cast<wchar_t>('a' + r / 4 % 26)
                                      : kJapanese[r / 4 % std::size(kJapanese)]);
        } else {
            text.push_back(r % 5 == 0 ? kWestern[r / 5 % std::size(kWestern)]
                                      : static_cast<wchar_t>('a' + r / 5 % 26));
        }
    }
    return text;
}

// Figures count the bytes of the code page's text in both directions.
void ToCodePage(benchmark::State& state, unsigned int codePage) {
    const std::wstring text = CodePageText(codePage);
    const size_t size = Tavrin::Encodings::ToCodePage(text.c_str(), codePage).size();
    for (auto _ : state) {
        std::string narrow = Tavrin::Encodings::ToCodePage(text.c_str(), codePage);
        benchmark::DoNotOptimize(narrow.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void FromCodePage(benchmark::State& state, unsigned int codePage) {
    const std::wstring text = CodePageText(codePage);
    const std::string narrow = Tavrin::Encodings::ToCodePage(text.c_str(), codePage);
    for (auto _ : state) {
        std::wstring wide = Tavrin::Encodings::FromCodePage(narrow.c_str(), codePage);
        benchmark::DoNotOptimize(wide.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * narrow.size()));
}

BENCHMARK_CAPTURE(ToCodePage, cp1252, 1252u);
BENCHMARK_CAPTURE(ToCodePage, cp932, 932u);
BENCHMARK_CAPTURE(FromCodePage, cp1252, 1252u);
BENCHMARK_CAPTURE(FromCodePage, cp932, 932u);

const std::wstring g_ascii = AsciiText();
const std::wstring g_mixed = MixedText();

BENCHMARK_CAPTURE(ToUtf8, ascii, g_ascii);
BENCHMARK_CAPTURE(ToUtf8, mixed, g_mixed);
BENCHMARK_CAPTURE(AppendUtf8, ascii, g_ascii);
BENCHMARK_CAPTURE(AppendUtf8, mixed, g_mixed);
BENCHMARK_CAPTURE(FromUtf8, ascii, g_ascii);
BENCHMARK_CAPTURE(FromUtf8, mixed, g_mixed);
BENCHMARK_CAPTURE(AppendFromUtf8, ascii, g_ascii);
BENCHMARK_CAPTURE(AppendFromUtf8, mixed, g_mixed);

}  // namespace

BENCHMARK_MAIN();
