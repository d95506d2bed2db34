// Throughput of Base64 and of the UTF-8 conversions over 1 MB of ASCII and of mixed text.
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
    const std::string text = Tavrin::Base64::Encode(bytes.data(), bytes.size(), state.range(0) != 0);
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
