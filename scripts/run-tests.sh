#!/usr/bin/env bash
# Builds the library and its tests and runs them. Argument: the preset (default: ci, an
# optimised build with warnings as errors; ci-asan runs under the sanitizers).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-ci}"
./scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" -j2
