// This library's rows: write and read of each format in memory, reads from a file, and the
// memcpy limit of the binary format.
//
// File reads: the document is written to a temporary file once per benchmark run; each
// iteration opens and reads it the way an application does, the binary document through
// QvStreamReadBinaryFile, the text documents through CTextFile. The file stays in the page
// cache, so these rows measure the cost of the file interface, not of the disk.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <utility>

#include <tavrin/creaderbinary.h>
#include <tavrin/creaderjson.h>
#include <tavrin/creaderxml.h>
#include <tavrin/ctextfile.h>
#include <tavrin/cwriterbinary.h>
#include <tavrin/cwriterjson.h>
#include <tavrin/cwriterxml.h>
#include <tavrin/qvstreambuffer.h>
#include <tavrin/qvstreamfile.h>

#include "common.h"

namespace PeersBench {
namespace {

struct STavrinBinary {
    using Document = std::vector<unsigned char>;
    static constexpr bool kHeapCounted = true;
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
    static TavrinBench::Orders ReadFile(const std::filesystem::path& path) {
        QvStreamReadBinaryFile stream(path.wstring());
        TavrinBench::Orders read;
        Tavrin::CReaderBinary(stream).Read(read);
        return read;
    }
};

template <class Writer, class Reader>
struct STavrinText {
    using Document = std::string;
    static constexpr bool kHeapCounted = true;
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
    static TavrinBench::Orders ReadFile(const std::filesystem::path& path) {
        // The file's bytes are let go before the text is read, so that the file and its text
        // are not held twice while the reader's tree and the orders grow.
        std::string text;
        {
            Tavrin::CTextFile file;
            file.Read(path.wstring());
            text = file.GetTextRaw();
        }
        TavrinBench::Orders read;
        Reader(std::move(text)).Read(read);  // the reader takes the text over
        return read;
    }
};

using STavrinJson = STavrinText<Tavrin::CWriterJson, Tavrin::CReaderJson>;
using STavrinXml = STavrinText<Tavrin::CWriterXml, Tavrin::CReaderXml>;

// A file of the temp directory with a name of its own, removed with this object.
class CTemporaryFile {
public:
    explicit CTemporaryFile(const char* stem) {
        std::random_device random;
        const std::string name = std::string("tavrin_peers_bench_") + stem + "_" +
                                 std::to_string(random()) + std::to_string(random());
        m_path = std::filesystem::temp_directory_path() / name;
    }
    ~CTemporaryFile() {
        std::error_code ignored;
        std::filesystem::remove(m_path, ignored);
    }
    CTemporaryFile(const CTemporaryFile&) = delete;
    CTemporaryFile& operator=(const CTemporaryFile&) = delete;

    template <class Document>
    void Store(const Document& doc) const {
        std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(doc.data()),
                  static_cast<std::streamsize>(doc.size()));
        out.close();
        if (!out) throw std::runtime_error("cannot write " + m_path.string());
    }
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

template <class Lib>
void BM_ReadFile(benchmark::State& state) {
    const unsigned count = static_cast<unsigned>(state.range(0));
    const SWorkload& w = Workload(count);
    size_t bytes = 0;
    int64_t peak = -1;
    try {
        CTemporaryFile file("readfile");
        {
            const typename Lib::Document doc = Lib::Write(w);
            bytes = doc.size();
            file.Store(doc);
        }
        if (!CheckRead(state, w, Lib::ReadFile(file.Path()))) return;
        Heap::Start();
        {
            auto read = Lib::ReadFile(file.Path());
            benchmark::DoNotOptimize(read);
        }
        peak = Heap::Stop();
        for (auto _ : state) {
            auto read = Lib::ReadFile(file.Path());
            benchmark::DoNotOptimize(read);
        }
    } catch (...) {
        Heap::Stop();
        Fail(state, "read from a file threw: " + CurrentExceptionText());
        return;
    }
    SetCounters(state, bytes, count, peak);
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
    SetCounters(state, doc.size(), count, -1);
}

// The floor of any reader that fills the workload's objects through the reading interface: the
// same objects built from values already in memory, in the order and the way the objects' Read
// functions build them (each order, line and tag made and then appended, the vectors growing
// as they go, since a container reader gives no count), without any document.
TavrinBench::Orders BuildObjects(const TavrinBench::Orders& source) {
    TavrinBench::Orders built;
    for (const TavrinBench::Order& s : source.items) {
        TavrinBench::Order o;
        o.id = s.id;
        o.customer = s.customer;
        o.note = s.note;
        o.amount = s.amount;
        o.quantity = s.quantity;
        o.flags = s.flags;
        o.active = s.active;
        o.created = s.created;
        std::memcpy(o.payload, s.payload, sizeof(o.payload));
        o.shipTo.street = s.shipTo.street;
        o.shipTo.city = s.shipTo.city;
        o.shipTo.zip = s.shipTo.zip;
        for (const TavrinBench::Line& l : s.lines.items) {
            TavrinBench::Line line;
            line.sku = l.sku;
            line.price = l.price;
            line.count = l.count;
            o.lines.items.push_back(std::move(line));
        }
        std::string tag;
        for (const std::string& t : s.tags.items) {
            tag = t;
            o.tags.items.push_back(tag);
        }
        built.items.push_back(std::move(o));
    }
    return built;
}

void BM_Objects(benchmark::State& state) {
    const unsigned count = static_cast<unsigned>(state.range(0));
    const SWorkload& w = Workload(count);
    if (Mismatches(w, BuildObjects(w.orders)) != 0) {
        Fail(state, "the objects built differ from the workload");
        return;
    }
    Heap::Start();
    {
        auto built = BuildObjects(w.orders);
        benchmark::DoNotOptimize(built);
    }
    const int64_t peak = Heap::Stop();
    for (auto _ : state) {
        auto built = BuildObjects(w.orders);
        benchmark::DoNotOptimize(built);
    }
    SetCounters(state, 0, count, peak);
}

template <class Lib>
void RegisterFormat(EFormat format, unsigned count) {
    RegisterWriteRead<Lib>(format, "tavrin", count);
    RegisterOne(format, "readfile", "tavrin", count, BM_ReadFile<Lib>);
    RegisterOne(format, "objects", "objects", count, BM_Objects);
}

}  // namespace

void RegisterTavrin(EFormat format, unsigned count) {
    switch (format) {
        case EFormat::Binary:
            RegisterFormat<STavrinBinary>(format, count);
            benchmark::RegisterBenchmark("binary/memcpy/memcpy", BM_Memcpy)
                ->Arg(count)
                ->Unit(benchmark::kMicrosecond);
            break;
        case EFormat::Json: RegisterFormat<STavrinJson>(format, count); break;
        case EFormat::Xml: RegisterFormat<STavrinXml>(format, count); break;
    }
}

}  // namespace PeersBench
