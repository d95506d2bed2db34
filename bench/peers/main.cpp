// tavrin_peers_bench: the Order workload (bench/order_workload.h) written and read by this
// library's binary, JSON and XML formats and by the libraries a user would pick instead, for
// 1,000, 10,000 and 100,000 orders, and 1,000,000 with --with-million.
//
// Every library writes the same values under the same names (see common.h for the peers' view
// of them); each row is checked once outside the timed loop: every order read back must equal
// what was written, else the row fails and the program exits with status 1. Rows are named
// "<format>/<operation>/<library>/<N>":
//   write, read      in memory, every library
//   readfile         this library, from a file (tavrin.cpp)
//   memcpy           as many bytes as this library's binary document: the limit of that format
// simdjson (JSON read) and RapidXML (XML write and read) are limit anchors, not peers
// (anchors.cpp); Boost's text archive sits in the JSON table as Boost's nearest text format.
// Counters: bytes (document size), objects_per_s, and peak_bytes (the highest growth of heap
// bytes in use during one extra, untimed write or read) where all of a library's allocations
// are seen (heap.cpp). bench/compare.py runs the program and tabulates the ratios.
#include <cstring>
#include <iostream>

#include "common.h"

int main(int argc, char** argv) {
    using namespace PeersBench;

    bool withMillion = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--with-million") == 0) {
            withMillion = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;

    std::vector<unsigned> counts = {1000, 10000, 100000};
    if (withMillion) counts.push_back(1000000);
    // Grouped by N, so that each workload is made once.
    for (unsigned count : counts) {
        for (EFormat format : {EFormat::Binary, EFormat::Json, EFormat::Xml}) {
            RegisterTavrin(format, count);
            RegisterArchives(format, count);
            RegisterMsgpack(format, count);
            RegisterNlohmann(format, count);
            RegisterRapidJson(format, count);
            RegisterPugixml(format, count);
            RegisterAnchors(format, count);
        }
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_failures != 0) {
        std::cerr << "tavrin_peers_bench: " << g_failures << " benchmark(s) failed their check\n";
        return 1;
    }
    return 0;
}
