#!/usr/bin/env bash
# A long seeded soak over a faulty line: ROUNDS rounds (default 20), each of
# waypoints, routes and tracks down, up and down again against the simulator
# with random shares of lost and damaged frames (up to 10% of the host's
# frames dropped, 5% of the receiver's corrupted). One line per transfer
# kind and round; exits non-zero on any record that arrived wrong.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
rounds=${1:-20}
"$top/scripts/install-deps.sh" test
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVEX_TESTS=ON >/dev/null
cmake --build build -j "$(nproc)" --target e2e_tests >/dev/null
HALVEX_SOAK_ROUNDS=$rounds build/tests/e2e_tests --gtest_also_run_disabled_tests \
  --gtest_filter='Soak.DISABLED_Rounds' --gtest_brief=1 | grep -E '^(round|[0-9]+ rounds)|Failure'
