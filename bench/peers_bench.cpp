// The Order workload side by side: this library's binary, JSON and XML formats against the
// cereal archives (binary, JSON, XML) and the Boost.Serialization archives (binary, text, XML),
// for 1,000, 10,000 and 100,000 orders.
//
// Every library writes the same values under the same names. The peers have no wide string and
// no date-time, so they carry the note as UTF-8 and the creation time as its 100-ns count; the
// payload is their binary data type (Base64 in their text formats). The peers work on plain
// structs converted from the workload objects before any timing starts.
//
// Names are "<format>/<write|read>/<library>/<N>"; the JSON table also holds Boost's text archive,
// its nearest text format. "binary/memcpy/memcpy/<N>" copies as many bytes as this library's
// binary document and is the physical limit for the binary rows.
//
// Reading is checked once per benchmark, outside the timed loop: every order must come back
// equal to what was written. A mismatch or an exception marks the benchmark as failed and the
// program exits with status 1.
#include <array>
#include <cstdint>
#include <cstring>
#include <exception>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <type_traits>
#include <vector>

#include <benchmark/benchmark.h>

#include <boost/archive/binary_iarchive.hpp>
#include <boost/archive/binary_oarchive.hpp>
#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>
#include <boost/archive/xml_iarchive.hpp>
#include <boost/archive/xml_oarchive.hpp>
#include <boost/serialization/binary_object.hpp>
#include <boost/serialization/nvp.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>

#include <cereal/archives/binary.hpp>
#include <cereal/archives/json.hpp>
#include <cereal/archives/xml.hpp>
#include <cereal/cereal.hpp>
#include <cereal/types/string.hpp>
#include <cereal/types/vector.hpp>

#include <tavrin/creaderbinary.h>
#include <tavrin/creaderjson.h>
#include <tavrin/creaderxml.h>
#include <tavrin/cwriterbinary.h>
#include <tavrin/cwriterjson.h>
#include <tavrin/cwriterxml.h>
#include <tavrin/encodings.h>
#include <tavrin/qvstreambuffer.h>

#include "order_workload.h"

// ---------------------------------------------------------------------------------------------
// The peers' view of the workload.

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

Order FromWorkload(const TavrinBench::Order& o) {
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

// cereal, found through argument-dependent lookup.

template <class A>
void serialize(A& ar, Address& a) {
    ar(cereal::make_nvp("street", a.street), cereal::make_nvp("city", a.city),
       cereal::make_nvp("zip", a.zip));
}

template <class A>
void serialize(A& ar, Line& l) {
    ar(cereal::make_nvp("sku", l.sku), cereal::make_nvp("price", l.price),
       cereal::make_nvp("count", l.count));
}

// Raw bytes in the binary archive, Base64 in the text archives (their own encoder).
template <class A>
void CerealPayload(A& ar, std::array<unsigned char, 32>& payload) {
    if constexpr (std::is_same_v<A, cereal::BinaryOutputArchive> ||
                  std::is_same_v<A, cereal::BinaryInputArchive>) {
        ar(cereal::make_nvp("payload", cereal::binary_data(payload.data(), payload.size())));
    } else if constexpr (A::is_saving::value) {
        ar.saveBinaryValue(payload.data(), payload.size(), "payload");
    } else {
        ar.loadBinaryValue(payload.data(), payload.size(), "payload");
    }
}

template <class A>
void serialize(A& ar, Order& o) {
    ar(cereal::make_nvp("id", o.id), cereal::make_nvp("customer", o.customer),
       cereal::make_nvp("note", o.note), cereal::make_nvp("amount", o.amount),
       cereal::make_nvp("quantity", o.quantity), cereal::make_nvp("flags", o.flags),
       cereal::make_nvp("active", o.active), cereal::make_nvp("created", o.created));
    CerealPayload(ar, o.payload);
    ar(cereal::make_nvp("shipTo", o.shipTo), cereal::make_nvp("lines", o.lines),
       cereal::make_nvp("tags", o.tags));
}

}  // namespace Peer

// Boost.Serialization, non-intrusive. These take a version argument, so cereal never sees them.
namespace boost::serialization {

template <class A>
void serialize(A& ar, Peer::Address& a, const unsigned int) {
    ar& make_nvp("street", a.street);
    ar& make_nvp("city", a.city);
    ar& make_nvp("zip", a.zip);
}

template <class A>
void serialize(A& ar, Peer::Line& l, const unsigned int) {
    ar& make_nvp("sku", l.sku);
    ar& make_nvp("price", l.price);
    ar& make_nvp("count", l.count);
}

template <class A>
void serialize(A& ar, Peer::Order& o, const unsigned int) {
    ar& make_nvp("id", o.id);
    ar& make_nvp("customer", o.customer);
    ar& make_nvp("note", o.note);
    ar& make_nvp("amount", o.amount);
    ar& make_nvp("quantity", o.quantity);
    ar& make_nvp("flags", o.flags);
    ar& make_nvp("active", o.active);
    ar& make_nvp("created", o.created);
    ar& make_nvp("payload", make_binary_object(o.payload.data(), o.payload.size()));
    ar& make_nvp("shipTo", o.shipTo);
    ar& make_nvp("lines", o.lines);
    ar& make_nvp("tags", o.tags);
}

}  // namespace boost::serialization

namespace {

// ---------------------------------------------------------------------------------------------
// The workload of one N, in both shapes, kept while the benchmarks of that N run.

struct SWorkload {
    unsigned count = 0;
    TavrinBench::Orders orders;
    Peer::Orders peer;
};

const SWorkload& Workload(unsigned count) {
    static SWorkload w;
    if (w.count != count) {
        w.orders = TavrinBench::MakeOrders(count);
        w.peer.clear();
        w.peer.reserve(count);
        for (const TavrinBench::Order& o : w.orders.items) w.peer.push_back(Peer::FromWorkload(o));
        w.count = count;
    }
    return w;
}

// A read-only stream buffer over bytes the caller keeps: the peers read from memory without a
// copy of the document per iteration, as this library's readers do.
class CMemoryBuffer : public std::streambuf {
public:
    CMemoryBuffer(const char* data, size_t size) {
        char* begin = const_cast<char*>(data);  // get area only; never written through
        setg(begin, begin, begin + size);
    }

protected:
    pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                     std::ios_base::openmode which) override {
        if (!(which & std::ios_base::in)) return pos_type(off_type(-1));
        char* base = eback();
        char* target = dir == std::ios_base::beg   ? base + off
                       : dir == std::ios_base::cur ? gptr() + off
                                                   : egptr() + off;
        if (target < base || target > egptr()) return pos_type(off_type(-1));
        setg(base, target, egptr());
        return pos_type(target - base);
    }
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override {
        return seekoff(off_type(pos), std::ios_base::beg, which);
    }
};

int g_failures = 0;

void Fail(benchmark::State& state, const std::string& what) {
    ++g_failures;
    state.SkipWithError(what.c_str());
}

void SetCounters(benchmark::State& state, size_t bytes, unsigned count) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    state.counters["bytes"] = static_cast<double>(bytes);
    state.counters["objects_per_s"] =
        benchmark::Counter(static_cast<double>(count) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

// ---------------------------------------------------------------------------------------------
// One library and format: how to write the document and how to read it back.

struct STavrinBinary {
    using Document = std::vector<unsigned char>;
    static size_t WriteOnce(const SWorkload& w) {
        QvStreamWriteBinaryBuffer buffer;
        Tavrin::CWriterBinary(buffer).Write(w.orders);
        benchmark::DoNotOptimize(buffer.GetData());
        return buffer.GetCount();
    }
    static Document Write(const SWorkload& w) {
        QvStreamWriteBinaryBuffer buffer;
        Tavrin::CWriterBinary(buffer).Write(w.orders);
        return Document(buffer.GetData(), buffer.GetData() + buffer.GetCount());
    }
    static TavrinBench::Orders Read(const Document& doc) {
        QvStreamReadBinaryBuffer stream(doc.data(), doc.size());
        TavrinBench::Orders read;
        Tavrin::CReaderBinary(stream).Read(read);
        return read;
    }
};

template <class Writer, class Reader>
struct STavrinText {
    using Document = std::string;
    static size_t WriteOnce(const SWorkload& w) {
        std::ostringstream stream;
        Writer(stream).Write(w.orders);
        return static_cast<size_t>(stream.tellp());
    }
    static Document Write(const SWorkload& w) {
        std::ostringstream stream;
        Writer(stream).Write(w.orders);
        return std::move(stream).str();
    }
    static TavrinBench::Orders Read(const Document& doc) {
        TavrinBench::Orders read;
        Reader(doc).Read(read);
        return read;
    }
};

using STavrinJson = STavrinText<Tavrin::CWriterJson, Tavrin::CReaderJson>;
using STavrinXml = STavrinText<Tavrin::CWriterXml, Tavrin::CReaderXml>;

template <class Out, class In>
struct SCereal {
    using Document = std::string;
    static void Serialize(std::ostream& stream, const Peer::Orders& orders) {
        if constexpr (std::is_same_v<Out, cereal::JSONOutputArchive>) {
            // One TAB per level, like this library's JSON; shortest round-trip numbers.
            using Options = cereal::JSONOutputArchive::Options;
            Out archive(stream, Options(324, Options::IndentChar::tab, 1));
            archive(cereal::make_nvp("orders", orders));
        } else {
            Out archive(stream);
            archive(cereal::make_nvp("orders", orders));
        }  // the text archives finish their document when they are destroyed
    }
    static size_t WriteOnce(const SWorkload& w) {
        std::ostringstream stream;
        Serialize(stream, w.peer);
        return static_cast<size_t>(stream.tellp());
    }
    static Document Write(const SWorkload& w) {
        std::ostringstream stream;
        Serialize(stream, w.peer);
        return std::move(stream).str();
    }
    static Peer::Orders Read(const Document& doc) {
        CMemoryBuffer buffer(doc.data(), doc.size());
        std::istream stream(&buffer);
        Peer::Orders read;
        {
            In archive(stream);
            archive(cereal::make_nvp("orders", read));
        }
        return read;
    }
};

template <class Out, class In>
struct SBoost {
    using Document = std::string;
    static void Serialize(std::ostream& stream, const Peer::Orders& orders) {
        Out archive(stream);
        archive << boost::serialization::make_nvp("orders", orders);
    }
    static size_t WriteOnce(const SWorkload& w) {
        std::ostringstream stream;
        Serialize(stream, w.peer);
        return static_cast<size_t>(stream.tellp());
    }
    static Document Write(const SWorkload& w) {
        std::ostringstream stream;
        Serialize(stream, w.peer);
        return std::move(stream).str();
    }
    static Peer::Orders Read(const Document& doc) {
        CMemoryBuffer buffer(doc.data(), doc.size());
        std::istream stream(&buffer);
        Peer::Orders read;
        {
            In archive(stream);
            archive >> boost::serialization::make_nvp("orders", read);
        }
        return read;
    }
};

// Orders read back that differ from what was written, a missing or extra one counting too.
size_t Mismatches(const SWorkload& w, const TavrinBench::Orders& read) {
    return TavrinBench::CountMismatches(w.orders, read);
}

size_t Mismatches(const SWorkload& w, const Peer::Orders& read) {
    size_t mismatches =
        w.peer.size() > read.size() ? w.peer.size() - read.size() : read.size() - w.peer.size();
    const size_t common = std::min(w.peer.size(), read.size());
    for (size_t i = 0; i < common; ++i) {
        if (!(w.peer[i] == read[i])) ++mismatches;
    }
    return mismatches;
}

template <class Lib>
void BM_Write(benchmark::State& state) {
    const unsigned count = static_cast<unsigned>(state.range(0));
    const SWorkload& w = Workload(count);
    size_t bytes = 0;
    try {
        for (auto _ : state) {
            bytes = Lib::WriteOnce(w);
            benchmark::DoNotOptimize(bytes);
        }
    } catch (const std::exception& e) {
        Fail(state, std::string("write threw: ") + e.what());
        return;
    } catch (...) {
        Fail(state, "write threw");
        return;
    }
    SetCounters(state, bytes, count);
}

template <class Lib>
void BM_Read(benchmark::State& state) {
    const unsigned count = static_cast<unsigned>(state.range(0));
    const SWorkload& w = Workload(count);
    typename Lib::Document doc;
    try {
        doc = Lib::Write(w);
        const size_t mismatches = Mismatches(w, Lib::Read(doc));
        if (mismatches != 0) {
            Fail(state, "orders read back differ: " + std::to_string(mismatches) + " of " +
                            std::to_string(count));
            return;
        }
        for (auto _ : state) {
            auto read = Lib::Read(doc);
            benchmark::DoNotOptimize(&read);
        }
    } catch (const std::exception& e) {
        Fail(state, std::string("read threw: ") + e.what());
        return;
    } catch (...) {
        Fail(state, "read threw");
        return;
    }
    SetCounters(state, doc.size(), count);
}

// The physical limit for the binary format: copying as many bytes as its document holds.
void BM_Memcpy(benchmark::State& state) {
    const unsigned count = static_cast<unsigned>(state.range(0));
    const std::vector<unsigned char> doc = STavrinBinary::Write(Workload(count));
    std::vector<unsigned char> target(doc.size());
    for (auto _ : state) {
        std::memcpy(target.data(), doc.data(), doc.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    SetCounters(state, doc.size(), count);
}

template <class Lib>
void Register(const std::string& format, const std::string& library, unsigned count) {
    benchmark::RegisterBenchmark((format + "/write/" + library).c_str(), BM_Write<Lib>)
        ->Arg(count)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((format + "/read/" + library).c_str(), BM_Read<Lib>)
        ->Arg(count)
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
    // Grouped by N, so each workload is made once.
    for (unsigned count : {1000u, 10000u, 100000u}) {
        Register<STavrinBinary>("binary", "tavrin", count);
        Register<SCereal<cereal::BinaryOutputArchive, cereal::BinaryInputArchive>>("binary",
                                                                                   "cereal", count);
        Register<SBoost<boost::archive::binary_oarchive, boost::archive::binary_iarchive>>(
            "binary", "boost", count);
        benchmark::RegisterBenchmark("binary/memcpy/memcpy", BM_Memcpy)
            ->Arg(count)
            ->Unit(benchmark::kMicrosecond);

        Register<STavrinJson>("json", "tavrin", count);
        Register<SCereal<cereal::JSONOutputArchive, cereal::JSONInputArchive>>("json", "cereal",
                                                                               count);
        Register<SBoost<boost::archive::text_oarchive, boost::archive::text_iarchive>>(
            "json", "boost_text", count);

        Register<STavrinXml>("xml", "tavrin", count);
        Register<SCereal<cereal::XMLOutputArchive, cereal::XMLInputArchive>>("xml", "cereal",
                                                                             count);
        Register<SBoost<boost::archive::xml_oarchive, boost::archive::xml_iarchive>>("xml", "boost",
                                                                                     count);
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_failures != 0) {
        std::cerr << "peers_bench: " << g_failures << " benchmark(s) failed their check\n";
        return 1;
    }
    return 0;
}
