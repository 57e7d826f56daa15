#!/usr/bin/env bash
# The main job on a fresh Debian machine: installs what is missing, builds
# libhalvex32.so and shows what a host finds in it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/scripts/install-deps.sh"
cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc)" --target halvex32 halvex-exports
build/halvex-exports
