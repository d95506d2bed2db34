#!/usr/bin/env bash
# Formatting and static analysis, as CI runs them:
#  - every C++ file the repository tracks is formatted as .clang-format says;
#  - clang-tidy (.clang-tidy) finds nothing in the library's sources.
#   scripts/check-analysis.sh [format|tidy]   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh clang analysis >/dev/null

what="${1:-all}"
status=0
if [ "$what" = all ] || [ "$what" = format ]; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
  if ! clang-format --dry-run -Werror "${files[@]}" 2>/tmp/tavrin-format.log; then
    echo "clang-format: $(grep -c 'error:' /tmp/tavrin-format.log) places differ from .clang-format:"
    grep 'error:' /tmp/tavrin-format.log | cut -d: -f1 | sort | uniq -c
    echo "fix with: clang-format -i \$(git ls-files '*.cpp' '*.h')"
    status=1
  else
    echo "clang-format: ${#files[@]} files formatted"
  fi
fi
if [ "$what" = all ] || [ "$what" = tidy ]; then
  # The compile commands of a Clang build (configuring is enough).
  cmake --preset ci-clang >/dev/null
  mapfile -t sources < <(git ls-files 'core/*.cpp')
  if ! run-clang-tidy -p build/ci-clang -j "$(nproc)" -quiet "${sources[@]/#/$PWD/}" \
       >/tmp/tavrin-tidy.log 2>&1; then
    findings=$(grep -cE '(warning|error): ' /tmp/tavrin-tidy.log || true)
    echo "clang-tidy: $findings findings"
    grep -E '(warning|error): ' /tmp/tavrin-tidy.log | sed 's/\x1b\[[0-9;]*m//g' | sort -u
    status=1
  else
    echo "clang-tidy: ${#sources[@]} sources, 0 findings"
  fi
fi
exit $status
