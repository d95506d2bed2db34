// The Order workload through the JSON format: writing into a string stream and reading back,
// reported as MB/s of document text and orders per second.
#include <cstdio>
#include <sstream>
#include <string>

#include <benchmark/benchmark.h>

#include <tavrin/creaderjson.h>
#include <tavrin/cwriterjson.h>

#include "order_workload.h"

namespace {

using TavrinBench::Orders;

const Orders& Workload(unsigned count) {
    static unsigned cachedCount = 0;
    static Orders orders;
    if (cachedCount != count) {
        orders = TavrinBench::MakeOrders(count);
        cachedCount = count;
    }
    return orders;
}

std::string WriteJson(const Orders& orders) {
    std::ostringstream stream;
    Tavrin::CWriterJson(stream).Write(orders);
    return std::move(stream).str();
}

void BM_JsonWrite(benchmark::State& state) {
    const Orders& orders = Workload(static_cast<unsigned>(state.range(0)));
    size_t bytes = 0;
    for (auto _ : state) {
        std::ostringstream stream;
        Tavrin::CWriterJson(stream).Write(orders);
        bytes = static_cast<size_t>(stream.tellp());
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * orders.items.size()));
    state.counters["doc_bytes"] = static_cast<double>(bytes);
}

void BM_JsonRead(benchmark::State& state) {
    const Orders& orders = Workload(static_cast<unsigned>(state.range(0)));
    const std::string text = WriteJson(orders);
    {
        Orders check;
        Tavrin::CReaderJson(text).Read(check);
        const size_t mismatches = TavrinBench::CountMismatches(orders, check);
        if (mismatches != 0) {
            state.SkipWithError(("orders read back differ: " + std::to_string(mismatches)).c_str());
            return;
        }
    }
    for (auto _ : state) {
        Orders read;
        Tavrin::CReaderJson(text).Read(read);
        benchmark::DoNotOptimize(read.items.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * orders.items.size()));
    state.counters["doc_bytes"] = static_cast<double>(text.size());
}

BENCHMARK(BM_JsonWrite)->Arg(10000)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JsonRead)->Arg(10000)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
