#!/usr/bin/env bash
# The main job on a fresh Debian machine: installs what building needs, builds
# the library, the simulator and the halvex tool, and runs `halvex demo`
# against the built-in simulator. Arguments go to `halvex demo`.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/scripts/install-deps.sh" build
cmake -S . -B build -DHALVEX_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)" --target halvex halvex-sim
exec build/halvex demo "$@"
