#!/usr/bin/env bash
# Runs every libFuzzer target with AddressSanitizer and UndefinedBehaviorSanitizer:
#   scripts/fuzz.sh [SECONDS]   each target for SECONDS (default 600), its
#                               corpus kept in .fuzz-corpus/ between runs
#   scripts/fuzz.sh --runs N    each target for N inputs from seed 1 (the
#                               test command's short run)
# Prints the inputs each target ran and any finding; exits non-zero on one.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/scripts/install-deps.sh" test
targets=(link_fuzz nmea_fuzz records_fuzz)
CXX=clang++ cmake -S . -B build-fuzz -DHALVEX_TESTS=OFF -DHALVEX_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]}" >/dev/null

if [ "${1:-}" = "--runs" ]; then
  limit=(-runs="${2:?--runs needs a number}" -seed=1)
  corpus=()
else
  limit=(-max_total_time="${1:-600}")
fi
findings="$top/build-fuzz/findings"
mkdir -p "$findings"
# The targets run side by side, one a core; their results come in order.
pids=()
for target in "${targets[@]}"; do
  if [ "${1:-}" != "--runs" ]; then
    mkdir -p ".fuzz-corpus/$target"
    corpus=(".fuzz-corpus/$target")
  fi
  build-fuzz/$target "${limit[@]}" -max_len=2048 -print_final_stats=1 -artifact_prefix="$findings/$target-" \
    "${corpus[@]}" >"$findings/$target.log" 2>&1 &
  pids+=($!)
done
failed=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  log="$findings/$target.log"
  if wait "${pids[$i]}"; then
    result="no finding"
  else
    result="FINDING: $(grep -m1 -E 'ERROR|runtime error' "$log" || echo "see $log"); input in $findings"
    failed=1
  fi
  runs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
  echo "$target: ${runs:-?} inputs, $result"
done
exit $failed
