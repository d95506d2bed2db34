#!/usr/bin/env python3
"""Runs tavrin_peers_bench and prints, per format and N, objects/s and MB/s of writing and
reading, the document size, and the ratio of Tavrin to each peer and to the best peer.

Rates are per CPU second (Google Benchmark's default), which holds up better than wall time on a
shared machine. MB = 10^6 bytes of document. A ratio above 1 means Tavrin is faster (or, for the
size, larger).

    bench/compare.py                                  # run the default build's program
    bench/compare.py --bench build-x/bench/tavrin_peers_bench --n 10000 --repetitions 3
    bench/compare.py --from-json saved.json           # tabulate an earlier run
"""

import argparse
import json
import os
import subprocess
import sys

FORMATS = ("binary", "json", "xml")
TAVRIN = "tavrin"
LIMIT = "memcpy"
LABELS = {
    "tavrin": "Tavrin",
    "cereal": "cereal",
    "boost": "Boost",
    "boost_text": "Boost text",
    "memcpy": "memcpy (limit)",
}


def default_bench():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    return os.path.join(root, "build-peers", "bench", "tavrin_peers_bench")


def run(args):
    command = [args.bench, "--benchmark_format=json"]
    if args.n:
        command.append("--benchmark_filter=/(%s)$" % "|".join(str(n) for n in args.n))
    if args.min_time:
        command.append("--benchmark_min_time=%s" % args.min_time)
    if args.repetitions > 1:
        command += ["--benchmark_repetitions=%d" % args.repetitions,
                    "--benchmark_report_aggregates_only=true"]
    print("running: " + " ".join(command), file=sys.stderr)
    done = subprocess.run(command, stdout=subprocess.PIPE, text=True)
    if args.save:
        with open(args.save, "w") as out:
            out.write(done.stdout)
    try:
        data = json.loads(done.stdout)
    except json.JSONDecodeError:
        sys.exit("the benchmark printed no JSON (exit status %d)" % done.returncode)
    return data, done.returncode


def collect(data):
    """{(format, n): {library: {"write": row, "read": row, "memcpy": row}}} and the errors.
    With repetitions, the median of each benchmark stands for it."""
    table = {}
    errors = []
    for row in data.get("benchmarks", []):
        if row.get("run_type") == "aggregate" and row.get("aggregate_name") != "median":
            continue
        name = row.get("run_name", row["name"])
        parts = name.split("/")
        if len(parts) != 4:
            continue
        fmt, op, library, n = parts[0], parts[1], parts[2], int(parts[3])
        if row.get("error_occurred"):
            errors.append("%s: %s" % (name, row.get("error_message", "failed")))
            continue
        table.setdefault((fmt, n), {}).setdefault(library, {})[op] = row
    return table, errors


def rate(row, key):
    return row.get(key) if row else None


def fmt_num(value, digits=0):
    if value is None:
        return "-"
    if digits == 0:
        return "{:,.0f}".format(value)
    return "{:,.{}f}".format(value, digits)


def fmt_ratio(a, b):
    if a is None or b is None or b == 0:
        return "-"
    return "%.2fx" % (a / b)


def print_table(fmt, n, libraries):
    print("\n== %s, N = %s ==" % (fmt, "{:,}".format(n)))
    header = ("library", "write obj/s", "write MB/s", "read obj/s", "read MB/s", "size bytes")
    widths = (16, 13, 11, 13, 11, 13)
    print("  ".join(h.ljust(w) if i == 0 else h.rjust(w) for i, (h, w) in enumerate(zip(header, widths))))
    order = [TAVRIN] + sorted(l for l in libraries if l not in (TAVRIN, LIMIT)) + [LIMIT]
    for library in order:
        if library not in libraries:
            continue
        ops = libraries[library]
        if library == LIMIT:
            copy = ops.get("memcpy")
            cells = (LABELS[LIMIT], fmt_num(rate(copy, "objects_per_s")),
                     fmt_num((rate(copy, "bytes_per_second") or 0) / 1e6, 1), "", "",
                     fmt_num(rate(copy, "bytes")))
        else:
            w, r = ops.get("write"), ops.get("read")
            size = rate(w, "bytes") or rate(r, "bytes")
            cells = (LABELS.get(library, library),
                     fmt_num(rate(w, "objects_per_s")), fmt_num(rate(w, "bytes_per_second") and rate(w, "bytes_per_second") / 1e6, 1),
                     fmt_num(rate(r, "objects_per_s")), fmt_num(rate(r, "bytes_per_second") and rate(r, "bytes_per_second") / 1e6, 1),
                     fmt_num(size))
        print("  ".join(c.ljust(w) if i == 0 else c.rjust(w) for i, (c, w) in enumerate(zip(cells, widths))))

    tavrin = libraries.get(TAVRIN)
    peers = [l for l in libraries if l not in (TAVRIN, LIMIT)]
    if not tavrin or not peers:
        return
    print("  Tavrin / peer (objects/s; size: Tavrin bytes / peer bytes):")
    for op in ("write", "read"):
        mine = rate(tavrin.get(op), "objects_per_s")
        values = {p: rate(libraries[p].get(op), "objects_per_s") for p in peers}
        known = {p: v for p, v in values.items() if v}
        best = max(known, key=known.get) if known else None
        line = "    %-5s  vs best (%s) %s" % (op, LABELS.get(best, best), fmt_ratio(mine, known.get(best)))
        line += "".join("   vs %s %s" % (LABELS.get(p, p), fmt_ratio(mine, values[p])) for p in sorted(peers))
        print(line)
    mine_size = rate(tavrin.get("write"), "bytes")
    print("    size " + "".join("   vs %s %s" % (LABELS.get(p, p), fmt_ratio(mine_size, rate(libraries[p].get("write"), "bytes")))
                              for p in sorted(peers)))
    if LIMIT in libraries:
        copy = rate(libraries[LIMIT].get("memcpy"), "objects_per_s")
        print("    memcpy of the same bytes: %s Tavrin write, %s Tavrin read" % (
            fmt_ratio(copy, rate(tavrin.get("write"), "objects_per_s")),
            fmt_ratio(copy, rate(tavrin.get("read"), "objects_per_s"))))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bench", default=default_bench(), help="path of tavrin_peers_bench")
    parser.add_argument("--n", type=int, action="append", help="only this N (repeatable)")
    parser.add_argument("--min-time", help="passed as --benchmark_min_time")
    parser.add_argument("--repetitions", type=int, default=1, help="report the median of this many runs")
    parser.add_argument("--save", help="also write the raw JSON here")
    parser.add_argument("--from-json", help="tabulate a saved run instead of running")
    args = parser.parse_args()

    if args.from_json:
        with open(args.from_json) as f:
            data, status = json.load(f), 0
    else:
        data, status = run(args)

    context = data.get("context", {})
    print("host: %s CPUs at %s MHz, load average %s" % (
        context.get("num_cpus"), context.get("mhz_per_cpu"),
        ", ".join("%.2f" % x for x in context.get("load_avg", [])) or "-"))
    table, errors = collect(data)
    for fmt in FORMATS:
        for (f, n) in sorted(k for k in table if k[0] == fmt):
            print_table(f, n, table[(f, n)])
    if any(k[0] == "json" for k in table):
        print("\n(The JSON table's Boost row is its text archive: Boost has no JSON archive.)")

    if errors:
        print("\nFAILED checks or errors:", file=sys.stderr)
        for e in errors:
            print("  " + e, file=sys.stderr)
    if errors or status != 0:
        sys.exit(1)


if __name__ == "__main__":
    main()
