// The Order workload through the binary format: writing into a memory buffer and reading back,
// reported as MB/s of document and orders per second, beside a memcpy of the same size, and
// the peak heap held while writing and reading, against the document size.
//
// Peak memory is measured by counting every operator new / delete of the process (usable
// block sizes from malloc_usable_size) from the start of a measured call to its end.
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <tavrin/creaderbinary.h>
#include <tavrin/cwriterbinary.h>
#include <tavrin/qvstreambuffer.h>

#include "order_workload.h"

namespace {

// Counting is switched on only around the measured calls, so that the timed loops run with
// the plain allocator. Blocks freed while counting that were allocated before it started
// would make the figure too low: each measured call frees only what it allocated.
std::atomic<bool> g_counting{false};
std::atomic<int64_t> g_heapNow{0};
std::atomic<int64_t> g_heapPeak{0};

void* CountedNew(size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    if (g_counting.load(std::memory_order_relaxed)) {
        const int64_t block = static_cast<int64_t>(malloc_usable_size(p));
        const int64_t now = g_heapNow.fetch_add(block) + block;
        int64_t peak = g_heapPeak.load(std::memory_order_relaxed);
        while (now > peak && !g_heapPeak.compare_exchange_weak(peak, now)) {}
    }
    return p;
}

void CountedDelete(void* p) noexcept {
    if (!p) return;
    if (g_counting.load(std::memory_order_relaxed)) {
        g_heapNow.fetch_sub(static_cast<int64_t>(malloc_usable_size(p)));
    }
    std::free(p);
}

}  // namespace

void* operator new(size_t size) { return CountedNew(size); }
void* operator new[](size_t size) { return CountedNew(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return CountedNew(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    try {
        return CountedNew(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { CountedDelete(p); }
void operator delete[](void* p) noexcept { CountedDelete(p); }
void operator delete(void* p, size_t) noexcept { CountedDelete(p); }
void operator delete[](void* p, size_t) noexcept { CountedDelete(p); }

namespace {

using TavrinBench::Orders;

std::vector<unsigned char> WriteBinary(const Orders& orders) {
    QvStreamWriteBinaryBuffer buffer;
    Tavrin::CWriterBinary(buffer).Write(orders);
    return std::vector<unsigned char>(buffer.GetData(), buffer.GetData() + buffer.GetCount());
}

// A stream that keeps nothing: what writing holds without the output itself.
class CDiscardStream : public QvStreamWriteBinary {
public:
    IStreamWrite& WriteBytes(const void*, uint64_t) override { return *this; }
};

// Peak heap growth while `f` runs.
template <class F>
int64_t PeakDuring(F&& f) {
    g_heapNow.store(0);
    g_heapPeak.store(0);
    g_counting.store(true);
    f();
    g_counting.store(false);
    return g_heapPeak.load();
}

void BM_BinaryWrite(benchmark::State& state) {
    const Orders& orders = TavrinBench::SharedOrders(static_cast<unsigned>(state.range(0)));
    size_t bytes = 0;
    for (auto _ : state) {
        QvStreamWriteBinaryBuffer buffer;
        Tavrin::CWriterBinary(buffer).Write(orders);
        bytes = buffer.GetCount();
        benchmark::DoNotOptimize(buffer.GetData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * orders.items.size()));
    state.counters["doc_bytes"] = static_cast<double>(bytes);

    // Memory: the writer alone (output discarded), and writer plus the output buffer.
    const int64_t writer = PeakDuring([&] {
        CDiscardStream discard;
        Tavrin::CWriterBinary(discard).Write(orders);
    });
    const int64_t withOutput = PeakDuring([&] {
        QvStreamWriteBinaryBuffer buffer;
        Tavrin::CWriterBinary(buffer).Write(orders);
    });
    state.counters["writer_peak_x_doc"] = static_cast<double>(writer) / static_cast<double>(bytes);
    state.counters["with_output_peak_x_doc"] =
        static_cast<double>(withOutput) / static_cast<double>(bytes);
}

// The same into one output buffer kept from document to document: the writer's own cost.
void BM_BinaryWriteReusedOutput(benchmark::State& state) {
    const Orders& orders = TavrinBench::SharedOrders(static_cast<unsigned>(state.range(0)));
    QvStreamWriteBinaryBuffer buffer;
    size_t bytes = 0;
    for (auto _ : state) {
        buffer.Clear();
        Tavrin::CWriterBinary(buffer).Write(orders);
        bytes = buffer.GetCount();
        benchmark::DoNotOptimize(buffer.GetData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * orders.items.size()));
}

void BM_BinaryRead(benchmark::State& state) {
    const Orders& orders = TavrinBench::SharedOrders(static_cast<unsigned>(state.range(0)));
    const std::vector<unsigned char> doc = WriteBinary(orders);
    {
        Orders check;
        QvStreamReadBinaryBuffer stream(doc.data(), doc.size());
        Tavrin::CReaderBinary(stream).Read(check);
        const size_t mismatches = TavrinBench::CountMismatches(orders, check);
        if (mismatches != 0) {
            state.SkipWithError(("orders read back differ: " + std::to_string(mismatches)).c_str());
            return;
        }
    }
    for (auto _ : state) {
        QvStreamReadBinaryBuffer stream(doc.data(), doc.size());
        Tavrin::CReaderBinary reader(stream);
        Orders read;
        reader.Read(read);
        benchmark::DoNotOptimize(read.items.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * orders.items.size()));
    state.counters["doc_bytes"] = static_cast<double>(doc.size());

    // Memory held by the decoded document alone (the reader, before any object is filled).
    const int64_t decoded = PeakDuring([&] {
        QvStreamReadBinaryBuffer stream(doc.data(), doc.size());
        Tavrin::CReaderBinary reader(stream);
    });
    state.counters["reader_peak_x_doc"] =
        static_cast<double>(decoded) / static_cast<double>(doc.size());
}

// Decoding only: the reader's constructor, without filling application objects.
void BM_BinaryDecode(benchmark::State& state) {
    const Orders& orders = TavrinBench::SharedOrders(static_cast<unsigned>(state.range(0)));
    const std::vector<unsigned char> doc = WriteBinary(orders);
    for (auto _ : state) {
        QvStreamReadBinaryBuffer stream(doc.data(), doc.size());
        Tavrin::CReaderBinary reader(stream);
        benchmark::DoNotOptimize(&reader);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * orders.items.size()));
}

// Filling application objects from a decoded document: the reader's lookups plus the cost of
// the application's own objects (strings, vectors, date-times).
void BM_BinaryFill(benchmark::State& state) {
    const Orders& orders = TavrinBench::SharedOrders(static_cast<unsigned>(state.range(0)));
    const std::vector<unsigned char> doc = WriteBinary(orders);
    QvStreamReadBinaryBuffer stream(doc.data(), doc.size());
    const Tavrin::CReaderBinary reader(stream);
    for (auto _ : state) {
        Orders read;
        reader.Read(read);
        benchmark::DoNotOptimize(read.items.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * orders.items.size()));
}

// The physical limit: copying the same number of bytes.
void BM_BinaryMemcpy(benchmark::State& state) {
    const Orders& orders = TavrinBench::SharedOrders(static_cast<unsigned>(state.range(0)));
    const std::vector<unsigned char> doc = WriteBinary(orders);
    std::vector<unsigned char> target(doc.size());
    for (auto _ : state) {
        std::memcpy(target.data(), doc.data(), doc.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * orders.items.size()));
}

BENCHMARK(BM_BinaryWrite)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BinaryWriteReusedOutput)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BinaryRead)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BinaryDecode)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BinaryFill)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BinaryMemcpy)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
