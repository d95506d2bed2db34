#!/usr/bin/env bash
# Regenerates core/platform/codepagefixes.inc from tests/data/codepages.tar.xz: builds makefixes
# against the system's ICU (the one the library is built with) and runs it.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
tar -C "$work" -xJf "$root/tests/data/codepages.tar.xz"
g++ -std=c++20 -O2 -Wall -Wextra -I"$root" -o "$work/makefixes" \
  "$root/tools/codepages/makefixes.cpp" "$root/core/platform/codepagetable.cpp" \
  $(pkg-config --cflags --libs icu-uc)
"$work/makefixes" "$work/codepages/windows.bin" "$work/codepages/version.txt" \
  "$root/core/platform/codepagefixes.inc"
