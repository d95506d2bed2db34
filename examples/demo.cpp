// Demonstration of the library on a realistic object graph: N orders, each with an address,
// order lines and tags, written to a file and read back into fresh objects, one section per
// document format.
//
//   tavrin_demo [order count] [directory]
//
// Each section prints what it did (objects, bytes, time) and checks every value read back.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <tavrin/tavrin.h>

#include "order_workload.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

void PrintException(const IException& e) {
    std::printf("    exception from %s:%u in %s (thread %u)\n", e.GetFilename(), e.GetCodeLine(),
                e.GetFunctionName(), e.GetThreadID());
}

// The binary format: a file written through QvStreamWriteBinaryFile, read through
// QvStreamReadBinaryFile. Returns true when everything read back equals what was written.
bool DemoBinary(const TavrinBench::Orders& orders, const std::filesystem::path& directory) {
    const std::filesystem::path file = directory / "orders.bin";
    std::printf("binary document: %s\n", file.string().c_str());

    Clock::time_point start = Clock::now();
    uint64_t bytes = 0;
    {
        QvStreamWriteBinaryFile stream(file.wstring());
        Tavrin::CWriterBinary(stream).Write(orders);
        stream.Close();
        bytes = stream.GetCount();
    }
    const double writeMs = Milliseconds(start);
    std::printf("  wrote %zu orders, %llu bytes in %.1f ms (%.0f orders/s, %.1f MB/s)\n",
                orders.items.size(), static_cast<unsigned long long>(bytes), writeMs,
                orders.items.size() / (writeMs / 1000.0), bytes / (writeMs / 1000.0) / 1e6);

    start = Clock::now();
    TavrinBench::Orders back;
    {
        QvStreamReadBinaryFile stream(file.wstring());
        const Tavrin::CReaderBinary reader(stream);
        reader.Read(back);
    }
    const double readMs = Milliseconds(start);
    const size_t mismatches = TavrinBench::CountMismatches(orders, back);
    std::printf("  read %zu orders back in %.1f ms (%.0f orders/s); %zu differ\n",
                back.items.size(), readMs, back.items.size() / (readMs / 1000.0), mismatches);

    // What a reader says when asked for the wrong kind of root.
    try {
        QvStreamReadBinaryFile stream(file.wstring());
        const Tavrin::CReaderBinary reader(stream);
        TavrinBench::Order notARoot;
        reader.Read(notARoot);
        std::printf("  reading the root as one order: no exception (unexpected)\n");
        return false;
    } catch (const IException& e) {
        std::printf("  reading the root container as one order is refused:\n");
        PrintException(e);
    }

    // A document cut short fails cleanly.
    try {
        const std::vector<unsigned char> cut = [&] {
            QvStreamWriteBinaryBuffer buffer;
            Tavrin::CWriterBinary(buffer).Write(orders.items.front());
            return std::vector<unsigned char>(buffer.GetData(),
                                              buffer.GetData() + buffer.GetCount() / 2);
        }();
        QvStreamReadBinaryBuffer stream(cut.data(), cut.size());
        const Tavrin::CReaderBinary reader(stream);
        std::printf("  half a document read without complaint (unexpected)\n");
        return false;
    } catch (const IException& e) {
        std::printf("  half a document is refused:\n");
        PrintException(e);
    }
    return mismatches == 0 && back.items.size() == orders.items.size();
}

// The text formats: the document is written into a string stream, saved and loaded again with
// CTextFile (which also guesses the file's code page), and read back from the loaded text.
template <class TWriter, class TReader>
bool DemoText(const char* extension, const TavrinBench::Orders& orders,
              const std::filesystem::path& directory) {
    const std::filesystem::path file = directory / (std::string("orders.") + extension);
    std::printf("%s document: %s\n", extension, file.string().c_str());

    Clock::time_point start = Clock::now();
    std::ostringstream stream;
    TWriter(stream).Write(orders);
    Tavrin::CTextFile saved;
    saved.SetText(stream.str());
    saved.Write(file.wstring());
    const double writeMs = Milliseconds(start);
    const size_t bytes = static_cast<size_t>(stream.tellp());
    std::printf("  wrote %zu orders, %zu bytes in %.1f ms (%.0f orders/s, %.1f MB/s)\n",
                orders.items.size(), bytes, writeMs, orders.items.size() / (writeMs / 1000.0),
                bytes / (writeMs / 1000.0) / 1e6);

    start = Clock::now();
    Tavrin::CTextFile loaded;
    loaded.Read(file.wstring());
    const std::string text = loaded.GetTextRaw();
    TavrinBench::Orders back;
    TReader(text).Read(back);
    const double readMs = Milliseconds(start);
    const size_t mismatches = TavrinBench::CountMismatches(orders, back);
    std::printf("  read %zu orders back in %.1f ms (%.0f orders/s); %zu differ\n",
                back.items.size(), readMs, back.items.size() / (readMs / 1000.0), mismatches);
    std::printf("  the file's code page, as guessed: %u\n", loaded.GuessCodePage());

    // A document cut short: the JSON reader refuses it, the XML reader reads nothing from it.
    const std::string cut = text.substr(0, text.size() / 2);
    try {
        TavrinBench::Orders partial;
        TReader(cut).Read(partial);
        std::printf("  half the document reads as %zu orders, without an exception\n",
                    partial.items.size());
    } catch (const IException& e) {
        std::printf("  half the document is refused:\n");
        PrintException(e);
    }
    return mismatches == 0 && back.items.size() == orders.items.size();
}

bool DemoJson(const TavrinBench::Orders& orders, const std::filesystem::path& directory) {
    return DemoText<Tavrin::CWriterJson, Tavrin::CReaderJson>("json", orders, directory);
}

bool DemoXml(const TavrinBench::Orders& orders, const std::filesystem::path& directory) {
    return DemoText<Tavrin::CWriterXml, Tavrin::CReaderXml>("xml", orders, directory);
}

struct SSection {
    const char* name;
    bool (*run)(const TavrinBench::Orders&, const std::filesystem::path&);
};

// One entry per document format.
const SSection kSections[] = {
    {"binary", DemoBinary},
    {"json", DemoJson},
    {"xml", DemoXml},
};

}  // namespace

int main(int argc, char** argv) {
    const unsigned count =
        argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 10000;
    const std::filesystem::path directory =
        argc > 2 ? std::filesystem::path(argv[2])
                 : std::filesystem::temp_directory_path() / "tavrin_demo";

    // Exceptions are logged as they are raised; the demo prints them itself.
    Logging::SetSink(Logging::LogSink());

    int failures = 0;
    try {
        std::filesystem::create_directories(directory);
        const Clock::time_point start = Clock::now();
        const TavrinBench::Orders orders = TavrinBench::MakeOrders(count);
        std::printf("generated %u orders in %.1f ms\n\n", count, Milliseconds(start));
        for (const SSection& section : kSections) {
            const bool ok = section.run(orders, directory);
            std::printf("%s: %s\n\n", section.name, ok ? "ok" : "FAILED");
            if (!ok) ++failures;
        }
    } catch (const IException& e) {
        std::printf("failed:\n");
        PrintException(e);
        return 1;
    } catch (const std::exception& e) {
        std::printf("failed: %s\n", e.what());
        return 1;
    }
    return failures == 0 ? 0 : 1;
}
