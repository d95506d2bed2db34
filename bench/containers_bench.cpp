// The keyed table against std::unordered_map (one million 32-bit keys, one million short
// strings; insert and lookup), and the in-memory write stream's throughput.
#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include <tavrin/qvmapex.h>
#include <tavrin/qvstreambuffer.h>

namespace {

constexpr size_t kCount = 1'000'000;

const std::vector<unsigned int>& IntKeys() {
    static const std::vector<unsigned int> keys = [] {
        std::mt19937 random(42);
        std::vector<unsigned int> k(kCount);
        for (auto& v : k) v = static_cast<unsigned int>(random());
        return k;
    }();
    return keys;
}

// 8 to 16 ASCII letters, as the names and short values of the benchmark documents.
const std::vector<std::string>& StringKeys() {
    static const std::vector<std::string> keys = [] {
        std::mt19937 random(7);
        std::vector<std::string> k(kCount);
        for (auto& s : k) {
            const size_t length = 8 + random() % 9;
            for (size_t i = 0; i < length; ++i) s.push_back(static_cast<char>('a' + random() % 26));
        }
        return k;
    }();
    return keys;
}

template <class Map>
void Fill(Map& map, const std::vector<unsigned int>& keys) {
    for (unsigned int k : keys) map[k] = k;
}

// ---- 32-bit keys -------------------------------------------------------------------------------

void BM_QvMapEx_UInt_Insert(benchmark::State& state) {
    const auto& keys = IntKeys();
    for (auto _ : state) {
        QvMapEx<unsigned int, unsigned int> map;
        for (unsigned int k : keys) map.GetOrAdd(k) = k;
        benchmark::DoNotOptimize(map.GetCount());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * keys.size()));
}
BENCHMARK(BM_QvMapEx_UInt_Insert)->Unit(benchmark::kMillisecond);

void BM_UnorderedMap_UInt_Insert(benchmark::State& state) {
    const auto& keys = IntKeys();
    for (auto _ : state) {
        std::unordered_map<unsigned int, unsigned int> map;
        Fill(map, keys);
        benchmark::DoNotOptimize(map.size());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * keys.size()));
}
BENCHMARK(BM_UnorderedMap_UInt_Insert)->Unit(benchmark::kMillisecond);

void BM_QvMapEx_UInt_Lookup(benchmark::State& state) {
    const auto& keys = IntKeys();
    QvMapEx<unsigned int, unsigned int> map;
    for (unsigned int k : keys) map.GetOrAdd(k) = k;
    for (auto _ : state) {
        uint64_t sum = 0;
        for (unsigned int k : keys) sum += map.Lookup(k)->value;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * keys.size()));
}
BENCHMARK(BM_QvMapEx_UInt_Lookup)->Unit(benchmark::kMillisecond);

void BM_UnorderedMap_UInt_Lookup(benchmark::State& state) {
    const auto& keys = IntKeys();
    std::unordered_map<unsigned int, unsigned int> map;
    Fill(map, keys);
    for (auto _ : state) {
        uint64_t sum = 0;
        for (unsigned int k : keys) sum += map.find(k)->second;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * keys.size()));
}
BENCHMARK(BM_UnorderedMap_UInt_Lookup)->Unit(benchmark::kMillisecond);

// ---- Short string keys ---------------------------------------------------------------------------

void BM_QvMapEx_String_Insert(benchmark::State& state) {
    const auto& keys = StringKeys();
    for (auto _ : state) {
        QvMapEx<std::string, unsigned int> map;
        unsigned int i = 0;
        for (const auto& k : keys) map.GetOrAdd(k) = i++;
        benchmark::DoNotOptimize(map.GetCount());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * keys.size()));
}
BENCHMARK(BM_QvMapEx_String_Insert)->Unit(benchmark::kMillisecond);

void BM_UnorderedMap_String_Insert(benchmark::State& state) {
    const auto& keys = StringKeys();
    for (auto _ : state) {
        std::unordered_map<std::string, unsigned int> map;
        unsigned int i = 0;
        for (const auto& k : keys) map[k] = i++;
        benchmark::DoNotOptimize(map.size());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * keys.size()));
}
BENCHMARK(BM_UnorderedMap_String_Insert)->Unit(benchmark::kMillisecond);

void BM_QvMapEx_String_Lookup(benchmark::State& state) {
    const auto& keys = StringKeys();
    QvMapEx<std::string, unsigned int> map;
    unsigned int i = 0;
    for (const auto& k : keys) map.GetOrAdd(k) = i++;
    for (auto _ : state) {
        uint64_t sum = 0;
        for (const auto& k : keys) sum += map.Lookup(k)->value;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * keys.size()));
}
BENCHMARK(BM_QvMapEx_String_Lookup)->Unit(benchmark::kMillisecond);

void BM_UnorderedMap_String_Lookup(benchmark::State& state) {
    const auto& keys = StringKeys();
    std::unordered_map<std::string, unsigned int> map;
    unsigned int i = 0;
    for (const auto& k : keys) map[k] = i++;
    for (auto _ : state) {
        uint64_t sum = 0;
        for (const auto& k : keys) sum += map.find(k)->second;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * keys.size()));
}
BENCHMARK(BM_UnorderedMap_String_Lookup)->Unit(benchmark::kMillisecond);

// Name tables: reference-counted string keys looked up by zero-terminated text.
void BM_QvMapEx_QvStringA_LookupByText(benchmark::State& state) {
    const auto& keys = StringKeys();
    QvMapEx<QvStringA, unsigned int> map;
    unsigned int i = 0;
    for (const auto& k : keys) map.GetOrAdd(k.c_str()) = i++;
    for (auto _ : state) {
        uint64_t sum = 0;
        for (const auto& k : keys) sum += map.Lookup(k.c_str())->value;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * keys.size()));
}
BENCHMARK(BM_QvMapEx_QvStringA_LookupByText)->Unit(benchmark::kMillisecond);

// ---- Write stream --------------------------------------------------------------------------------

// Typed writes through the interface, as the binary writer makes them: small numbers mostly.
void BM_StreamBuffer_TypedWrites(benchmark::State& state) {
    uint64_t bytes = 0;
    for (auto _ : state) {
        QvStreamWriteBinaryBuffer buffer;
        IStreamWrite& out = buffer;
        for (unsigned int i = 0; i < 100000; ++i) {
            out.WriteUInt8(static_cast<uint8_t>(i));
            out.WriteUInt32(i);
            out.WriteDouble(i * 0.5);
            out.WriteInt16(static_cast<int16_t>(i));
            out.WriteBool((i & 1) != 0);
        }
        bytes += buffer.GetCount();
        benchmark::DoNotOptimize(buffer.GetData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_StreamBuffer_TypedWrites)->Unit(benchmark::kMillisecond);

void BM_StreamBuffer_Strings(benchmark::State& state) {
    const auto& keys = StringKeys();
    const std::wstring wide = L"Gr\u00FC\u00DFe aus K\u00F6ln \u4E2D\u6587 \u20AC 12,50";
    uint64_t bytes = 0;
    for (auto _ : state) {
        QvStreamWriteBinaryBuffer buffer;
        IStreamWrite& out = buffer;
        for (size_t i = 0; i < 100000; ++i) {
            out.WriteStdString(keys[i]);
            out.WriteStdWString(wide);
        }
        bytes += buffer.GetCount();
        benchmark::DoNotOptimize(buffer.GetData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_StreamBuffer_Strings)->Unit(benchmark::kMillisecond);

// Large blocks: the copy itself, against which the per-value cost above compares.
void BM_StreamBuffer_Blocks(benchmark::State& state) {
    const std::vector<unsigned char> block(4096, 0x5A);
    uint64_t bytes = 0;
    for (auto _ : state) {
        QvStreamWriteBinaryBuffer buffer;
        for (int i = 0; i < 4096; ++i) buffer.WriteBytes(block.data(), block.size());
        bytes += buffer.GetCount();
        benchmark::DoNotOptimize(buffer.GetData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_StreamBuffer_Blocks)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
