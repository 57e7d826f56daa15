#!/usr/bin/env bash
# Performance figures of this build on this machine:
#   - NMEA mode: sentences a second and CPU per sentence, a C host against
#     halvex-sim talking unpaced in another process over a pseudo-terminal;
#   - stop-and-wait: time and CPU per packet of a 2000-waypoint upload to an
#     unpaced receiver;
#   - the CPU an open, idle port costs over 10 s;
#   - 200 waypoints and a 1000-point track at 9600 baud, both ways, against
#     the wire-time model (bytes on the wire x 10 / 9600);
#   - reading a GPX file of 100,000 track points: read and checked whole
#     before the port is opened, then refused as more than one transfer
#     carries, so no port is needed.
# Not part of the test command.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/scripts/install-deps.sh" build
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DHALVEX_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" --target halvex32 halvex halvex-sim >/dev/null
b=build-bench
work=$(mktemp -d)
sims=()
trap 'for s in "${sims[@]}"; do kill "$s" 2>/dev/null || true; done; rm -rf "$work"' EXIT
gcc -std=c11 -O2 -Iinclude scripts/bench/bench-host.c -o "$work/bench-host" -L"$b" -lhalvex32 -Wl,-rpath,"$top/$b"

start_sim() { # options...: starts halvex-sim, sets sim (pid) and port
  "$b/halvex-sim" "$@" >"$work/port" 2>>"$work/sim.err" & # appended: the file is emptied before each report
  sim=$!
  sims+=("$sim")
  for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
  port=$(head -n 1 "$work/port")
}
line_bytes() { # the bytes the simulator's line has carried so far, both ways
  : >"$work/sim.err"
  kill -USR1 "$sim"
  for _ in $(seq 50); do [ -s "$work/sim.err" ] && break; sleep 0.05; done
  awk '/^bytes received/ { gsub(",", ""); print $3 + $5 }' "$work/sim.err"
}
seconds() { /usr/bin/time -f %e -o "$work/time" "$@" >/dev/null && cat "$work/time"; }
gpx() { # waypoints track-points: a GPX file of that many of each
  python3 - "$1" "$2" <<'PY'
import sys
w, t = int(sys.argv[1]), int(sys.argv[2])
print('<gpx version="1.1" creator="bench" xmlns="http://www.topografix.com/GPX/1/1">')
for i in range(w):
    print(f'<wpt lat="{45 + i * 1e-3:.6f}" lon="{7 + i * 1e-3:.6f}"><name>W{i:05d}</name><cmt>BENCH {i}</cmt></wpt>')
print('<trk><trkseg>')
for i in range(t):
    s = 1733011200 + 5 * i
    print(f'<trkpt lat="{51 + i * 1e-5:.6f}" lon="{-0.3 + i * 1e-5:.6f}"><time>'
          + __import__('time').strftime('%Y-%m-%dT%H:%M:%SZ', __import__('time').gmtime(s)) + '</time></trkpt>')
print('</trkseg></trk></gpx>')
PY
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(uname -sr)"

start_sim --nmea --nmea-rate 0
echo "NMEA mode, unpaced:     $("$work/bench-host" nmea "$port" 5)"
kill "$sim"

start_sim
echo "idle open port:         $("$work/bench-host" idle "$port" 10)"
gpx 2000 0 >"$work/w2000.gpx"
/usr/bin/time -f "%e %U %S" -o "$work/time" "$b/halvex" --port "$port" waypoints put "$work/w2000.gpx"
read -r elapsed user sys <"$work/time"
awk -v e="$elapsed" -v u="$user" -v s="$sys" 'BEGIN {
  printf "stop-and-wait upload:   2000 waypoints in %.2f s: %.0f us and %.0f us CPU per packet (2002 packets, the tool included)\n",
    e, e * 1e6 / 2002, (u + s) * 1e6 / 2002 }'
kill "$sim"

gpx 200 1000 >"$work/paced.gpx"
start_sim --pace-baud 9600
"$b/halvex" --port "$port" identify >/dev/null # identified before the figures start
for step in "waypoints put" "waypoints get" "tracks put" "tracks get"; do
  before=$(line_bytes)
  # shellcheck disable=SC2086
  if [ "${step#* }" = put ]; then args=($step "$work/paced.gpx"); else args=($step -o "$work/out.gpx"); fi
  took=$(seconds "$b/halvex" --port "$port" "${args[@]}")
  after=$(line_bytes)
  awk -v step="$step" -v t="$took" -v n="$((after - before))" 'BEGIN {
    model = n * 10 / 9600
    printf "9600 baud, %-15s %6d bytes on the wire, %6.2f s measured, %6.2f s modelled, ratio %.3f\n",
      step ":", n, t, model, t / model }'
done

gpx 0 100000 >"$work/t100k.gpx"
/usr/bin/time -f "%e %U %S" -o "$work/time" "$b/halvex" --port "$work/no-such-port" tracks put "$work/t100k.gpx" \
  2>/dev/null || true
read -r elapsed user sys < <(tail -n 1 "$work/time") # after time's line on the exit status
awk -v e="$elapsed" -v u="$user" -v s="$sys" -v bytes="$(stat -c %s "$work/t100k.gpx")" 'BEGIN {
  printf "GPX reading:            100000 track points (%.1f MB) in %.2f s, %.2f s CPU\n", bytes / 1e6, e, u + s }'
