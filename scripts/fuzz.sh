#!/usr/bin/env bash
# Runs the libFuzzer targets (preset "fuzz", Clang) for a while each and fails on any finding.
#   scripts/fuzz.sh [SECONDS] [TARGET...]     default: 60 seconds, every target
# Each target starts from its kept seeds and past failures (tests/fuzz/corpus, regressions) and
# grows a working corpus in build/fuzz/corpus. A failing input is left in build/fuzz/findings;
# keep it in tests/fuzz/regressions/<target>/ once fixed, so the ordinary suite replays it.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(binary json xml xmlnode base64 codepages text roundtrip)

./scripts/install-deps.sh clang
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

status=0
for target in "${targets[@]}"; do
  work="build/fuzz/corpus/$target"
  findings="build/fuzz/findings/$target"
  mkdir -p "$work" "$findings" "tests/fuzz/regressions/$target"
  options=(-max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -max_len=65536
           -print_final_stats=1 -artifact_prefix="$findings/")
  case "$target" in
    json) options+=(-dict=tests/fuzz/json.dict) ;;
    xml|xmlnode) options+=(-dict=tests/fuzz/xml.dict) ;;
  esac
  log="build/fuzz/$target.log"
  if ! "build/fuzz/tests/fuzz/fuzz_$target" "${options[@]}" "$work" \
       "tests/fuzz/corpus/$target" "tests/fuzz/regressions/$target" >"$log" 2>&1; then
    echo "fuzz_$target: FAILED, see $log and $findings"
    tail -40 "$log"
    status=1
    continue
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo '?')
  echo "fuzz_$target: ${seconds}s, $runs executions, coverage $cov edges, corpus $(ls "$work" | wc -l) inputs"
done
exit $status
