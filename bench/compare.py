#!/usr/bin/env python3
"""Runs tavrin_peers_bench and prints, per format and N, objects/s and MB/s of writing and
reading, the document size and the peak heap per document byte, then the ratio of Tavrin to
each peer, to the best peer of the format, to the limit anchors and to memcpy, and of reading
from a file to reading from memory. The six figures that count (write and read of binary, JSON
and XML against the best peer) close the output.

The row "Tavrin's objects alone (floor)" builds the workload's objects from values already in
memory, the way their Read functions build them, without any document: no reader that fills
those objects can be faster. Its ratio to the best peer's read is the most any Tavrin reader
could reach on this workload (the peers read into plain structs of their own).

All rows run in one process with the C library's allocator as it comes. At 100,000 orders and
more the figures then depend on page faults and on how the allocator's adaptive thresholds stand
after the rows before (see the README): --isolate runs each library, format and N in a process
of its own, --heap-only keeps every block in a heap that is never trimmed.

Rates are per CPU second (Google Benchmark's default), which holds up better than wall time on a
shared machine. MB = 10^6 bytes of document. A ratio above 1 means Tavrin is faster (or, for the
size, larger). Peak heap is the highest growth of heap bytes in use during one write or read;
"-" where a library allocates with malloc directly and the count would miss it.

    bench/compare.py                              # run the bench preset's program (N 1e3..1e5)
    bench/compare.py --n 10000 --repetitions 3 --chart docs/bench/peers-10000.png
    bench/compare.py --n 1000000                  # 1,000,000 orders (passes --with-million)
    bench/compare.py --from-json saved.json --markdown
"""

import argparse
import datetime
import json
import os
import subprocess
import sys

FORMATS = ("binary", "json", "xml")
# A trim threshold that the heap never reaches.
TRIM_NEVER = 1 << 62
TAVRIN = "tavrin"
LIMIT = "memcpy"
# The application's objects built without a document: the floor of any reader that fills them.
FLOOR = "objects"
# Reported beside the peers in ratios of their own, never the best peer.
ANCHORS = ("simdjson", "rapidxml")
# Shown in the table, in no ratio: Boost's text archive is not JSON.
SHOWN_ONLY = ("boost_text",)
# Binary peers that store the member names, as Tavrin's binary format does.
SELF_DESCRIBING = ("msgpack", "nlohmann_cbor")
LABELS = {
    "tavrin": "Tavrin",
    "cereal": "cereal",
    "boost": "Boost",
    "boost_text": "Boost text",
    "msgpack": "msgpack-c",
    "nlohmann_cbor": "nlohmann CBOR",
    "nlohmann": "nlohmann-json",
    "rapidjson": "RapidJSON",
    "pugixml": "pugixml",
    "simdjson": "simdjson",
    "rapidxml": "RapidXML",
    "memcpy": "memcpy",
    "objects": "objects alone",
}
FORMAT_LABELS = {"binary": "binary", "json": "JSON", "xml": "XML"}


def label(library):
    return LABELS.get(library, library)


def default_bench():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    return os.path.join(root, "build", "bench", "bench", "tavrin_peers_bench")


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown CPU"


def run(args):
    if not os.path.exists(args.bench):
        sys.exit("%s not found: cmake --preset bench && cmake --build build/bench "
                 "--target tavrin_peers_bench" % args.bench)
    # The CPU model goes into the results, so that a saved run still names its machine.
    model = cpu_model().replace(",", " ").replace("=", " ")
    command = [args.bench, "--benchmark_format=json", "--benchmark_context=cpu_model=" + model]
    chosen = list(args.library or [])
    if TAVRIN in chosen and FLOOR not in chosen:
        chosen.append(FLOOR)  # the floor of Tavrin's reads goes with its rows
    libraries = "/(%s)" % "|".join(chosen) if chosen else "/[^/]*"
    if args.n:
        pattern = "%s/(%s)$" % (libraries, "|".join(str(n) for n in args.n))
        if any(n >= 1000000 for n in args.n):
            command.append("--with-million")
    else:
        pattern = "%s/[0-9]+$" % libraries
    if args.min_time:
        command.append("--benchmark_min_time=%s" % args.min_time)
    if args.repetitions > 1:
        command += ["--benchmark_repetitions=%d" % args.repetitions,
                    "--benchmark_report_aggregates_only=true"]
    if not args.isolate:
        groups = [pattern]
    else:
        # One process per library, format and N: the C library's allocator adapts its
        # thresholds to the blocks a process has freed (when it maps memory afresh and when it
        # gives memory back), so in one process each row runs on what the rows before it left
        # behind.
        listed = subprocess.run(command[:1] + [a for a in command[1:] if a == "--with-million"] +
                                ["--benchmark_list_tests", "--benchmark_filter=" + pattern],
                                stdout=subprocess.PIPE, text=True, check=True).stdout.split()
        groups = []
        for name in listed:
            fmt, _, library, n = name.split("/")
            group = "^%s/[^/]*/%s/%s$" % (fmt, library, n)
            if group not in groups:
                groups.append(group)
    print("running: %s, %d process(es), the first with --benchmark_filter=%s" % (
        " ".join(command), len(groups), groups[0] if groups else pattern), file=sys.stderr)
    env = dict(os.environ)
    if args.heap_only:
        # Every block from the heap, and the heap never given back: after the first
        # iteration each library runs on memory it has used before. Left to itself the
        # allocator maps large blocks afresh and trims the heap, at thresholds it adapts to
        # what the process has freed so far; the page faults that follow then cost more than
        # the work on this machine, and depend on which rows ran before.
        env["GLIBC_TUNABLES"] = ":".join(filter(None, [
            env.get("GLIBC_TUNABLES", ""), "glibc.malloc.mmap_max=0",
            "glibc.malloc.trim_threshold=%d" % TRIM_NEVER]))
    data, status = {}, 0
    for group in groups:
        done = subprocess.run(command + ["--benchmark_filter=" + group], stdout=subprocess.PIPE,
                              text=True, env=env)
        try:
            part = json.loads(done.stdout)
        except json.JSONDecodeError:
            sys.exit("the benchmark printed no JSON for %s (exit status %d)" % (group, done.returncode))
        status = status or done.returncode
        if not data:
            data = part
        else:
            data.setdefault("benchmarks", []).extend(part.get("benchmarks", []))
    data.setdefault("context", {})["load_avg_end"] = list(os.getloadavg())
    data["context"]["processes"] = len(groups)
    data["context"]["malloc"] = "heap only, never trimmed" if args.heap_only else "default"
    if args.save:
        with open(args.save, "w") as out:
            json.dump(data, out, indent=1)
    return data, status


def collect(data):
    """{(format, n): {library: {op: row}}} and the errors. With repetitions, the median of each
    benchmark stands for it."""
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


def value(libraries, library, op, key):
    row = libraries.get(library, {}).get(op)
    return row.get(key) if row else None


def objects(libraries, library, op):
    return value(libraries, library, op, "objects_per_s")


def fmt_num(x, digits=0):
    if x is None:
        return "-"
    return "{:,.{}f}".format(x, digits)


def fmt_ratio(a, b):
    if a is None or b is None or b == 0:
        return "-"
    return "%.2fx" % (a / b)


def peak_per_byte(libraries, library, op):
    peak = value(libraries, library, op, "peak_bytes")
    size = value(libraries, library, op, "bytes")
    if peak is None or not size:
        return "-"
    return "%.1f" % (peak / size)


def peers_of(libraries):
    return sorted(l for l in libraries if l not in (TAVRIN, LIMIT, FLOOR) + ANCHORS + SHOWN_ONLY)


def best(libraries, candidates, op):
    known = {p: objects(libraries, p, op) for p in candidates if objects(libraries, p, op)}
    if not known:
        return None, None
    top = max(known, key=known.get)
    return top, known[top]


class Output:
    """Plain text (aligned columns) or Markdown."""

    def __init__(self, markdown):
        self.markdown = markdown

    def heading(self, text):
        print("\n%s %s\n" % ("###", text) if self.markdown else "\n== %s ==" % text)

    def table(self, header, rows):
        if self.markdown:
            print("| " + " | ".join(header) + " |")
            print("|" + "|".join("---" if i == 0 else "---:" for i in range(len(header))) + "|")
            for row in rows:
                print("| " + " | ".join(row) + " |")
            print()
            return
        widths = [max(len(r[i]) for r in [header] + rows) for i in range(len(header))]
        for row in [header] + rows:
            print("  ".join(c.ljust(w) if i == 0 else c.rjust(w)
                            for i, (c, w) in enumerate(zip(row, widths))))

    def line(self, text):
        print(("- " if self.markdown else "  ") + text)


def print_format(out, fmt, n, libraries):
    out.heading("%s, N = %s" % (FORMAT_LABELS.get(fmt, fmt), "{:,}".format(n)))
    header = ["library", "write obj/s", "write MB/s", "read obj/s", "read MB/s", "size bytes",
              "write peak/size", "read peak/size"]
    rows = []

    def add(library, name, ops=("write", "read")):
        w, r = ops
        mb = lambda op: value(libraries, library, op, "bytes_per_second")
        rows.append([name,
                     fmt_num(objects(libraries, library, w)) if w else "",
                     fmt_num(mb(w) / 1e6, 1) if w and mb(w) else ("-" if w else ""),
                     fmt_num(objects(libraries, library, r)) if r else "",
                     fmt_num(mb(r) / 1e6, 1) if r and mb(r) else ("-" if r else ""),
                     fmt_num(value(libraries, library, w or r, "bytes")),
                     peak_per_byte(libraries, library, w) if w else "",
                     peak_per_byte(libraries, library, r) if r else ""])

    if TAVRIN in libraries:
        add(TAVRIN, "Tavrin")
        if "readfile" in libraries[TAVRIN]:
            add(TAVRIN, "Tavrin, from a file", (None, "readfile"))
    peers = peers_of(libraries)
    for p in peers:
        add(p, label(p))
    for p in SHOWN_ONLY:
        if p in libraries:
            add(p, label(p) + " (no ratio)")
    for p in ANCHORS:
        if p in libraries:
            ops = tuple(op if op in libraries[p] else None for op in ("write", "read"))
            add(p, label(p) + " (anchor)", ops)
    if LIMIT in libraries:
        add(LIMIT, "memcpy (limit)", ("memcpy", None))
    if FLOOR in libraries:
        floor_peak = value(libraries, FLOOR, FLOOR, "peak_bytes")
        size = value(libraries, TAVRIN, "read", "bytes")
        rows.append(["Tavrin's objects alone (floor)", "", "",
                     fmt_num(objects(libraries, FLOOR, FLOOR)), "", "", "",
                     "%.1f" % (floor_peak / size) if floor_peak and size else "-"])
    out.table(header, rows)

    if TAVRIN not in libraries:
        return
    if not out.markdown:
        print()
    for op in ("write", "read"):
        mine = objects(libraries, TAVRIN, op)
        top, rate = best(libraries, peers, op)
        text = "Tavrin / best peer, %s: %s (%s)" % (op, fmt_ratio(mine, rate), label(top))
        if fmt == "binary":
            top, rate = best(libraries, [p for p in peers if p in SELF_DESCRIBING], op)
            if top:
                text += "; best that stores names: %s (%s)" % (fmt_ratio(mine, rate), label(top))
        out.line(text)
    size = value(libraries, TAVRIN, "write", "bytes")
    for p in peers:
        out.line("Tavrin / %s: write %s, read %s, size %s" % (
            label(p),
            fmt_ratio(objects(libraries, TAVRIN, "write"), objects(libraries, p, "write")),
            fmt_ratio(objects(libraries, TAVRIN, "read"), objects(libraries, p, "read")),
            fmt_ratio(size, value(libraries, p, "write", "bytes") or value(libraries, p, "read", "bytes"))))
    for p in ANCHORS:
        if p in libraries:
            parts = ["%s %s" % (op, fmt_ratio(objects(libraries, TAVRIN, op), objects(libraries, p, op)))
                     for op in ("write", "read") if op in libraries[p]]
            out.line("Tavrin / %s (anchor): %s" % (label(p), ", ".join(parts)))
    if LIMIT in libraries:
        copy = objects(libraries, LIMIT, "memcpy")
        out.line("Tavrin / memcpy of the same bytes: write %s, read %s" % (
            fmt_ratio(objects(libraries, TAVRIN, "write"), copy),
            fmt_ratio(objects(libraries, TAVRIN, "read"), copy)))
    if FLOOR in libraries:
        floor = objects(libraries, FLOOR, FLOOR)
        top, rate = best(libraries, peers, "read")
        out.line("Tavrin's objects alone (no document) / best peer read: %s (%s); "
                 "Tavrin read / objects alone: %s" % (
                     fmt_ratio(floor, rate), label(top), fmt_ratio(objects(libraries, TAVRIN, "read"), floor)))
    if "readfile" in libraries[TAVRIN]:
        out.line("Tavrin read from a file / from memory: %s" % fmt_ratio(
            objects(libraries, TAVRIN, "readfile"), objects(libraries, TAVRIN, "read")))


def print_summary(out, table):
    counts = sorted({n for (_, n) in table})
    header = ["N"] + ["%s %s" % (FORMAT_LABELS[f], op) for f in FORMATS for op in ("write", "read")]
    rows = []
    for n in counts:
        row = ["{:,}".format(n)]
        for fmt in FORMATS:
            libraries = table.get((fmt, n), {})
            for op in ("write", "read"):
                top, rate = best(libraries, peers_of(libraries), op)
                mine = objects(libraries, TAVRIN, op)
                row.append("%s (%s)" % (fmt_ratio(mine, rate), label(top)) if top and mine else "-")
        rows.append(row)
    out.heading("Tavrin / best peer (objects/s)")
    out.table(header, rows)


def machine(context):
    model = context.get("cpu_model") or cpu_model() + " (this machine)"
    date = (context.get("date") or "")[:10] or datetime.date.today().isoformat()
    load = context.get("load_avg") or []
    text = "%s, %s cores, %s" % (model, context.get("num_cpus", "?"), date)
    if context.get("processes", 1) > 1 or context.get("malloc", "default") != "default":
        text += "; %d processes, malloc %s" % (context["processes"], context.get("malloc", "default"))
    return text, ", ".join("%.2f" % x for x in load) or "-"


def repetitions(data):
    return max((row.get("repetitions", 1) for row in data.get("benchmarks", [])), default=1)


def chart(path, table, context, n, runs):
    try:
        import matplotlib
    except ImportError:
        sys.exit("--chart needs matplotlib (Debian: python3-matplotlib, scripts/install-deps.sh bench)")
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    counts = sorted({k[1] for k in table})
    if n is None:
        n = 10000 if 10000 in counts else counts[-1]
    if n not in counts:
        sys.exit("no results for N = %d to chart" % n)
    fig, axes = plt.subplots(1, len(FORMATS), figsize=(15, 5.5))
    for ax, fmt in zip(axes, FORMATS):
        libraries = table.get((fmt, n), {})
        order = ([TAVRIN] if TAVRIN in libraries else []) + peers_of(libraries) + \
            [p for p in SHOWN_ONLY + ANCHORS if p in libraries]
        xs = range(len(order))
        for k, (op, color) in enumerate((("write", "#4C72B0"), ("read", "#DD8452"))):
            heights = [(objects(libraries, lib, op) or 0) / 1e3 for lib in order]
            bars = ax.bar([x + (k - 0.5) * 0.38 for x in xs], heights, 0.38, label=op, color=color)
            for bar, lib in zip(bars, order):
                if lib in ANCHORS or lib in SHOWN_ONLY:
                    bar.set_hatch("//")
                    bar.set_alpha(0.6)
        names = [label(l) + ("\n(anchor)" if l in ANCHORS else "\n(not JSON)" if l in SHOWN_ONLY else "")
                 for l in order]
        ax.set_xticks(list(xs))
        ax.set_xticklabels(names, rotation=35, ha="right", fontsize=9)
        for tick, lib in zip(ax.get_xticklabels(), order):
            if lib == TAVRIN:
                tick.set_fontweight("bold")
        ax.set_title(FORMAT_LABELS[fmt])
        ax.set_ylabel("thousand objects per second")
        ax.grid(axis="y", alpha=0.3)
        ax.legend()
    text, load = machine(context)
    fig.suptitle("Order workload, N = %s: objects written and read per CPU second (higher is better%s)\n"
                 "%s; load average %s" % ("{:,}".format(n), ", median of %d runs" % runs if runs > 1 else "",
                                          text, load))
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    print("chart: %s" % path, file=sys.stderr)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bench", default=default_bench(), help="path of tavrin_peers_bench")
    parser.add_argument("--n", type=int, action="append",
                        help="only this N (repeatable); 1000000 runs the program with --with-million")
    parser.add_argument("--library", action="append",
                        help="only this library's rows (repeatable; as in the row names: tavrin, "
                             "msgpack, cereal, rapidjson, pugixml, ...); the large N of a few "
                             "libraries takes far less time than of all")
    parser.add_argument("--min-time", help="passed as --benchmark_min_time")
    parser.add_argument("--isolate", action="store_true",
                        help="one process per library, format and N instead of one for all rows "
                             "(no row then runs on the heap that other libraries' rows left)")
    parser.add_argument("--heap-only", action="store_true",
                        help="the C library's allocator takes every block from its heap and "
                             "never trims it (GLIBC_TUNABLES), so that after the first iteration "
                             "each library reuses its own memory: no page faults in the figures")
    parser.add_argument("--repetitions", type=int, default=1, help="report the median of this many runs")
    parser.add_argument("--save", help="also write the raw JSON here")
    parser.add_argument("--from-json", help="tabulate a saved run instead of running")
    parser.add_argument("--markdown", action="store_true", help="print the tables as Markdown")
    parser.add_argument("--chart", help="also draw objects/s per library into this PNG")
    parser.add_argument("--chart-n", type=int, help="N of the chart (default 10,000 or the largest)")
    args = parser.parse_args()

    if args.from_json:
        with open(args.from_json) as f:
            data, status = json.load(f), 0
    else:
        data, status = run(args)

    context = data.get("context", {})
    text, load = machine(context)
    end = context.get("load_avg_end")
    print(("**Machine:** " if args.markdown else "machine: ") + text + "; load average %s%s" % (
        load, " at the start, %s at the end" % ", ".join("%.2f" % x for x in end) if end else ""))
    table, errors = collect(data)
    out = Output(args.markdown)
    for fmt in FORMATS:
        for (f, n) in sorted(k for k in table if k[0] == fmt):
            print_format(out, f, n, table[(f, n)])
    if table:
        print_summary(out, table)
    if args.chart and table:
        chart(args.chart, table, context, args.chart_n, repetitions(data))

    if errors:
        print("\nFAILED checks or errors:", file=sys.stderr)
        for e in errors:
            print("  " + e, file=sys.stderr)
    if errors or status != 0:
        sys.exit(1)


if __name__ == "__main__":
    main()
