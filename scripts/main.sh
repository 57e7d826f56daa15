#!/usr/bin/env bash
# The main job on a fresh Debian machine: installs what is missing, builds
# the library, the simulator and the halvex tool, and runs `halvex demo`
# against the built-in simulator. Arguments go to `halvex demo`.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/scripts/install-deps.sh"
cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc)" --target halvex halvex-sim
exec build/halvex demo "$@"
