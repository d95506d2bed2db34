#!/usr/bin/env python3
"""Line and branch coverage of the library's sources after a run of the suite in the
"coverage" build, per source folder and per file (files under the threshold are listed).

    scripts/coverage.py [BUILD_DIR] [--threshold 85]

Reads the counters that the test run left beside the library's objects with gcov's JSON output.
A header compiled into several objects counts a line as run when any object ran it.
"""
import argparse
import collections
import gzip
import json
import os
import subprocess
import sys


def gcov_json(gcda, objdir):
    out = subprocess.run(["gcov", "--json-format", "--stdout", "--branch-probabilities", "-o", objdir, gcda],
                         capture_output=True, check=True, cwd=objdir).stdout
    if out[:2] == b"\x1f\x8b":
        out = gzip.decompress(out)
    for line in out.splitlines():
        if line.strip():
            yield json.loads(line)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build/coverage")
    parser.add_argument("--threshold", type=float, default=85.0)
    parser.add_argument("--uncovered", metavar="FILE", help="list the lines of FILE never run")
    args = parser.parse_args()
    root = os.path.realpath(os.path.join(os.path.dirname(__file__), ".."))
    objects = os.path.realpath(os.path.join(args.build, "CMakeFiles", "tavrin_core.dir"))

    lines = collections.defaultdict(dict)      # file -> line -> ran
    branches = collections.defaultdict(dict)   # file -> (line, index) -> taken
    for folder, _, names in os.walk(objects):
        for name in names:
            if not name.endswith(".gcda"):
                continue
            for doc in gcov_json(os.path.join(folder, name), folder):
                for f in doc.get("files", []):
                    path = os.path.realpath(os.path.join(root, f["file"]))
                    rel = os.path.relpath(path, root)
                    if not (rel.startswith("core/") or rel.startswith("include/")):
                        continue
                    for ln in f["lines"]:
                        no = ln["line_number"]
                        lines[rel][no] = lines[rel].get(no, False) or ln["count"] > 0
                        for i, br in enumerate(ln.get("branches", [])):
                            if br.get("throw"):
                                continue  # exception edges of every call are not branches of the code
                            key = (no, i)
                            branches[rel][key] = branches[rel].get(key, False) or br["count"] > 0
    if not lines:
        sys.exit("no coverage counters under " + objects + ": build the 'coverage' preset and run its tests")

    if args.uncovered:
        source = open(os.path.join(root, args.uncovered)).read().split("\n")
        for no in sorted(n for n, ran in lines.get(args.uncovered, {}).items() if not ran):
            print(f"{no:5}: {source[no - 1]}")
        return

    def pct(part, whole):
        return 100.0 * part / whole if whole else 100.0

    per_folder = collections.defaultdict(lambda: [0, 0, 0, 0])
    low = []
    for rel in sorted(lines):
        ran = sum(lines[rel].values()); total = len(lines[rel])
        taken = sum(branches[rel].values()); btotal = len(branches[rel])
        acc = per_folder[os.path.dirname(rel)]
        acc[0] += ran; acc[1] += total; acc[2] += taken; acc[3] += btotal
        if pct(ran, total) < args.threshold:
            low.append((rel, pct(ran, total), ran, total))
    print(f"{'folder':34} {'lines':>16} {'branches':>16}")
    all_ = [0, 0, 0, 0]
    for folder in sorted(per_folder):
        a = per_folder[folder]
        all_ = [x + y for x, y in zip(all_, a)]
        print(f"{folder:34} {pct(a[0], a[1]):6.1f}% {a[0]:>4}/{a[1]:<5} {pct(a[2], a[3]):6.1f}% {a[2]:>4}/{a[3]:<5}")
    print(f"{'all':34} {pct(all_[0], all_[1]):6.1f}% {all_[0]:>4}/{all_[1]:<5} {pct(all_[2], all_[3]):6.1f}% {all_[2]:>4}/{all_[3]:<5}")
    if low:
        print(f"\nfiles under {args.threshold:.0f}% of lines:")
        for rel, p, ran, total in low:
            print(f"  {rel:60} {p:6.1f}% ({ran}/{total})")


if __name__ == "__main__":
    main()
