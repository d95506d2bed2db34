#!/usr/bin/env bash
# Builds the "coverage" preset (GCC, gcov counters), runs the whole suite and prints line and
# branch coverage of the library per source folder (scripts/coverage.py).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset coverage >/dev/null
cmake --build --preset coverage
find build/coverage -name '*.gcda' -delete
ctest --preset coverage -j2 >/dev/null || { ctest --preset coverage --rerun-failed; exit 1; }
python3 scripts/coverage.py build/coverage "$@"
