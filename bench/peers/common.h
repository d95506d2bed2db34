// What every part of tavrin_peers_bench shares: the peers' plain structs, the workload of one N in
// both shapes, a small Base64 codec for the peers without one, the heap counter, and the
// benchmark templates that time, check and measure one library and format.
//
// A library and format is a struct with:
//   using Document;                            the written document (bytes or text)
//   static size_t WriteOnce(const SWorkload&); writes the document, returns its size
//   static Document Write(const SWorkload&);   writes the document and keeps it
//   static <Orders> Read(const Document&);     fills fresh orders from the document
//   static constexpr bool kHeapCounted;        every allocation goes through operator new
// <Orders> is TavrinBench::Orders or Peer::Orders; the check compares it with the workload.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include <tavrin/encodings.h>

#include "order_workload.h"

// ---------------------------------------------------------------------------------------------
// The peers' view of the workload. They have no wide string and no date-time: the note is UTF-8,
// the creation time its 100-ns count since 1601.

namespace Peer {

struct Address {
    std::string street;
    std::string city;
    int zip = 0;
    bool operator==(const Address&) const = default;
};

struct Line {
    std::string sku;
    float price = 0;
    int count = 0;
    bool operator==(const Line&) const = default;
};

struct Order {
    int id = 0;
    std::string customer;
    std::string note;  // UTF-8
    double amount = 0;
    unsigned short quantity = 0;
    unsigned char flags = 0;
    bool active = false;
    uint64_t created = 0;  // 100-ns units since 1601
    std::array<unsigned char, 32> payload{};
    Address shipTo;
    std::vector<Line> lines;
    std::vector<std::string> tags;
    bool operator==(const Order&) const = default;
};

using Orders = std::vector<Order>;

inline Order FromWorkload(const TavrinBench::Order& o) {
    Order p;
    p.id = o.id;
    p.customer = o.customer;
    p.note = Tavrin::Encodings::ToUTF8(o.note.c_str());
    p.amount = o.amount;
    p.quantity = o.quantity;
    p.flags = o.flags;
    p.active = o.active;
    p.created = o.created.ToFileTime();
    std::memcpy(p.payload.data(), o.payload, p.payload.size());
    p.shipTo = {o.shipTo.street, o.shipTo.city, o.shipTo.zip};
    for (const TavrinBench::Line& line : o.lines.items)
        p.lines.push_back({line.sku, line.price, line.count});
    p.tags = o.tags.items;
    return p;
}

// Element names of the XML peers: those of this library's XML document, so that the documents
// compare in size.
inline constexpr const char* kXmlRoot = "Bench-Orders";
inline constexpr const char* kXmlOrder = "Bench-Order";
inline constexpr const char* kXmlLine = "Bench-Line";
inline constexpr const char* kXmlTag = "elt";

// A peer's document that does not hold what the workload wrote.
class CBadDocument : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// `value` as T, or CBadDocument when T cannot hold it.
template <class T, class V>
T Narrow(V value, const char* name) {
    if (!std::in_range<T>(value)) throw CBadDocument(std::string(name) + ": out of range");
    return static_cast<T>(value);
}

}  // namespace Peer

namespace PeersBench {

// ---------------------------------------------------------------------------------------------
// Base64 (RFC 4648, with padding) for the text documents of peers without an encoder.

constexpr size_t Base64Size(size_t bytes) { return (bytes + 2) / 3 * 4; }

// Writes Base64Size(size) characters at `out`.
void Base64Encode(const unsigned char* data, size_t size, char* out) noexcept;

// Decodes `text` into exactly `size` bytes at `out`; false when the text is not Base64 of
// exactly that many bytes (`out` may then be partly written).
bool Base64Decode(std::string_view text, unsigned char* out, size_t size) noexcept;

// The 32-byte payload as Base64 text, and back (CBadDocument when the text is not that).
struct SPayloadText {
    static constexpr size_t kSize = Base64Size(32);
    std::array<char, kSize> text;
    explicit SPayloadText(const std::array<unsigned char, 32>& payload) {
        Base64Encode(payload.data(), payload.size(), text.data());
    }
    std::string_view View() const { return {text.data(), text.size()}; }
};

inline void DecodePayload(std::string_view text, std::array<unsigned char, 32>& payload) {
    if (!Base64Decode(text, payload.data(), payload.size()))
        throw Peer::CBadDocument("payload: not Base64 of 32 bytes");
}

// ---------------------------------------------------------------------------------------------
// Heap bytes, counted by the program's own operator new and delete (heap.cpp). Counting is off
// outside Start/Stop, so the timed loops pay one relaxed load per allocation.

namespace Heap {
// Starts counting from zero.
void Start() noexcept;
// Stops counting; returns the highest growth of heap bytes in use since Start.
int64_t Stop() noexcept;
}  // namespace Heap

// ---------------------------------------------------------------------------------------------
// The workload of one N, in both shapes, kept while the benchmarks of that N run.

struct SWorkload {
    unsigned count = 0;
    TavrinBench::Orders orders;
    Peer::Orders peer;
};

inline const SWorkload& Workload(unsigned count) {
    static SWorkload w;
    if (w.count != count) {
        w.orders.items.clear();
        w.peer.clear();
        w.orders = TavrinBench::MakeOrders(count);
        w.peer.reserve(count);
        for (const TavrinBench::Order& o : w.orders.items) w.peer.push_back(Peer::FromWorkload(o));
        w.count = count;
    }
    return w;
}

// Orders read back that differ from what was written, a missing or extra one counting too.
inline size_t Mismatches(const SWorkload& w, const TavrinBench::Orders& read) {
    return TavrinBench::CountMismatches(w.orders, read);
}

inline size_t Mismatches(const SWorkload& w, const Peer::Orders& read) {
    size_t mismatches =
        w.peer.size() > read.size() ? w.peer.size() - read.size() : read.size() - w.peer.size();
    const size_t common = std::min(w.peer.size(), read.size());
    for (size_t i = 0; i < common; ++i) {
        if (!(w.peer[i] == read[i])) ++mismatches;
    }
    return mismatches;
}

// ---------------------------------------------------------------------------------------------
// Timing, checking and counting.

// Benchmarks that failed their check; main's exit status.
inline int g_failures = 0;

inline void Fail(benchmark::State& state, const std::string& what) {
    ++g_failures;
    state.SkipWithError(what.c_str());
}

inline std::string CurrentExceptionText() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "an exception not derived from std::exception";
    }
}

// peak < 0: not measured.
inline void SetCounters(benchmark::State& state, size_t bytes, unsigned count, int64_t peak) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    state.counters["bytes"] = static_cast<double>(bytes);
    state.counters["objects_per_s"] =
        benchmark::Counter(static_cast<double>(count) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    if (peak >= 0) state.counters["peak_bytes"] = static_cast<double>(peak);
}

template <class Lib>
void BM_Write(benchmark::State& state) {
    const unsigned count = static_cast<unsigned>(state.range(0));
    const SWorkload& w = Workload(count);
    size_t bytes = 0;
    int64_t peak = -1;
    try {
        if constexpr (Lib::kHeapCounted) {
            Heap::Start();
            bytes = Lib::WriteOnce(w);
            peak = Heap::Stop();
        }
        for (auto _ : state) {
            bytes = Lib::WriteOnce(w);
            benchmark::DoNotOptimize(bytes);
        }
    } catch (...) {
        Heap::Stop();
        Fail(state, "write threw: " + CurrentExceptionText());
        return;
    }
    SetCounters(state, bytes, count, peak);
}

// Reads `doc` once outside the timed loop and checks every order; false (and the benchmark
// failed) when they differ.
template <class Orders>
bool CheckRead(benchmark::State& state, const SWorkload& w, const Orders& read) {
    const size_t mismatches = Mismatches(w, read);
    if (mismatches == 0) return true;
    Fail(state, "orders read back differ: " + std::to_string(mismatches) + " of " +
                    std::to_string(w.count));
    return false;
}

template <class Lib>
void BM_Read(benchmark::State& state) {
    const unsigned count = static_cast<unsigned>(state.range(0));
    const SWorkload& w = Workload(count);
    typename Lib::Document doc;
    int64_t peak = -1;
    try {
        doc = Lib::Write(w);
        if (!CheckRead(state, w, Lib::Read(doc))) return;
        if constexpr (Lib::kHeapCounted) {
            Heap::Start();
            {
                auto read = Lib::Read(doc);
                benchmark::DoNotOptimize(read);
            }
            peak = Heap::Stop();
        }
        for (auto _ : state) {
            auto read = Lib::Read(doc);
            benchmark::DoNotOptimize(read);
        }
    } catch (...) {
        Heap::Stop();
        Fail(state, "read threw: " + CurrentExceptionText());
        return;
    }
    SetCounters(state, doc.size(), count, peak);
}

// ---------------------------------------------------------------------------------------------
// Registration. Names are "<format>/<write|read|...>/<library>/<N>".

enum class EFormat { Binary, Json, Xml };

inline const char* FormatName(EFormat format) {
    switch (format) {
        case EFormat::Binary: return "binary";
        case EFormat::Json: return "json";
        case EFormat::Xml: return "xml";
    }
    return "?";
}

inline void RegisterOne(EFormat format, const char* op, const char* library, unsigned count,
                        void (*function)(benchmark::State&)) {
    const std::string name = std::string(FormatName(format)) + "/" + op + "/" + library;
    benchmark::RegisterBenchmark(name.c_str(), function)->Arg(count)->Unit(benchmark::kMillisecond);
}

template <class Lib>
void RegisterWriteRead(EFormat format, const char* library, unsigned count) {
    RegisterOne(format, "write", library, count, BM_Write<Lib>);
    RegisterOne(format, "read", library, count, BM_Read<Lib>);
}

// One function per library family: registers its rows of `format` for `count` orders (none
// when it has no such format).
void RegisterTavrin(EFormat format, unsigned count);     // tavrin.cpp (with memcpy, file reads)
void RegisterArchives(EFormat format, unsigned count);   // archives.cpp: cereal, Boost
void RegisterMsgpack(EFormat format, unsigned count);    // msgpack.cpp
void RegisterNlohmann(EFormat format, unsigned count);   // nlohmann.cpp: CBOR and JSON
void RegisterRapidJson(EFormat format, unsigned count);  // rapidjson.cpp
void RegisterPugixml(EFormat format, unsigned count);    // pugixml.cpp
void RegisterAnchors(EFormat format, unsigned count);    // anchors.cpp: simdjson, RapidXML

// RapidJSON's document of the peers' orders: also what simdjson reads.
std::string WriteRapidJson(const Peer::Orders& orders);

}  // namespace PeersBench
