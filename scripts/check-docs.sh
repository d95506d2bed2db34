#!/usr/bin/env bash
# Builds the API reference from the public headers and fails on any Doxygen warning (an
# undocumented public name included). Installs Doxygen first when it is missing.
# Output: build/docs/docs/html/index.html; the warnings in build/docs/docs/warnings.log.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh docs
dir=build/docs
# Only the headers matter here: no tests, examples or benchmarks to configure. Doxygen fails
# on warnings (FAIL_ON_WARNINGS) after listing all of them in its log, counted below.
cmake -S . -B "$dir" -G Ninja -DTAVRIN_BUILD_TESTS=OFF -DTAVRIN_BUILD_EXAMPLES=OFF \
      -DTAVRIN_BUILD_BENCH=OFF -DTAVRIN_DOCS_WERROR=ON >/dev/null
status=0
cmake --build "$dir" --target docs || status=$?
log="$dir/docs/warnings.log"
count=$(grep -cE '(warning|error):' "$log" 2>/dev/null || true)
echo "docs: ${count:-0} Doxygen warnings"
if [ "$status" -ne 0 ] || [ "${count:-0}" -ne 0 ]; then
  cat "$log" 2>/dev/null || true
  exit 1
fi
echo "docs: $dir/docs/html/index.html"
