// The Order workload through the JSON and XML formats: writing into a string stream and reading
// back, reported as MB/s of document text and orders per second.
#include <sstream>
#include <string>

#include <benchmark/benchmark.h>

#include <tavrin/creaderjson.h>
#include <tavrin/creaderxml.h>
#include <tavrin/cwriterjson.h>
#include <tavrin/cwriterxml.h>

#include "order_workload.h"

namespace {

using TavrinBench::Orders;

template <class TWriter>
void BM_Write(benchmark::State& state) {
    const Orders& orders = TavrinBench::SharedOrders(static_cast<unsigned>(state.range(0)));
    size_t bytes = 0;
    for (auto _ : state) {
        std::ostringstream stream;
        TWriter(stream).Write(orders);
        bytes = static_cast<size_t>(stream.tellp());
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * orders.items.size()));
    state.counters["doc_bytes"] = static_cast<double>(bytes);
}

template <class TWriter, class TReader>
void BM_Read(benchmark::State& state) {
    const Orders& orders = TavrinBench::SharedOrders(static_cast<unsigned>(state.range(0)));
    std::ostringstream stream;
    TWriter(stream).Write(orders);
    const std::string text = std::move(stream).str();
    {
        Orders check;
        TReader(text).Read(check);
        const size_t mismatches = TavrinBench::CountMismatches(orders, check);
        if (mismatches != 0) {
            state.SkipWithError(("orders read back differ: " + std::to_string(mismatches)).c_str());
            return;
        }
    }
    for (auto _ : state) {
        Orders read;
        TReader(text).Read(read);
        benchmark::DoNotOptimize(read.items.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * orders.items.size()));
    state.counters["doc_bytes"] = static_cast<double>(text.size());
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->Arg(10000)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
}

BENCHMARK_TEMPLATE(BM_Write, Tavrin::CWriterJson)->Name("BM_JsonWrite")->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Read, Tavrin::CWriterJson, Tavrin::CReaderJson)
    ->Name("BM_JsonRead")
    ->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Write, Tavrin::CWriterXml)->Name("BM_XmlWrite")->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Read, Tavrin::CWriterXml, Tavrin::CReaderXml)
    ->Name("BM_XmlRead")
    ->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
