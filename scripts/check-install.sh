#!/usr/bin/env bash
# Installs a build into a temporary prefix and builds the example C host
# against it both ways a host would (pkg-config, and CMake's
# find_package(halvex32)); each build then identifies the simulated
# receiver and downloads its waypoints.
#   scripts/check-install.sh BUILD-DIR
set -euo pipefail
build=${1:?usage: $0 BUILD-DIR}
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'kill "${simulator:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null

export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
# shellcheck disable=SC2046
gcc -std=c11 -Wall -Werror "$top/hosts/c/identify.c" -o "$work/identify-pc" $(pkg-config --cflags --libs halvex32) \
  -Wl,-rpath,"$work/prefix/lib"
cmake -S "$top/hosts/c" -B "$work/host" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/host" >/dev/null

"$work/prefix/bin/halvex-sim" >"$work/port" &
simulator=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(head -n 1 "$work/port")
for host in "$work/identify-pc" "$work/host/identify"; do
  out=$("$host" "$port") && echo "$out" | grep -q "^product 4242" || {
    echo "$host against the installed library: $out" >&2
    exit 1
  }
done
# The Python package from the installed files alone.
package=$(dirname "$(find "$work/prefix" -path '*/halvex32/__init__.py' | head -n 1)")
PYTHONPATH=$(dirname "$package") HALVEX32_LIBRARY="$work/prefix/lib/libhalvex32.so.1" /usr/bin/python3 -c \
  "import halvex32, sys; rx = halvex32.open(sys.argv[1]); assert rx.identify(timeout=20).id == 4242" "$port"
# The tool's manual page renders without a warning, and its completion
# registers with bash.
page="$work/prefix/share/man/man1/halvex.1"
warnings=$(man --warnings -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "man -l $page: $warnings" >&2; exit 1; }
bash -c "source '$work/prefix/share/bash-completion/completions/halvex' && complete -p halvex" >/dev/null
echo "installed library: a C host built with pkg-config and with find_package(halvex32) both identify and download;" \
  "the Python package identifies; the manual page renders and the completion registers"
