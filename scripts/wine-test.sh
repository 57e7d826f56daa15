#!/usr/bin/env bash
# The Windows tests under Wine. Under the system's wine64: the suite's x86-64
# unit and engine tests (they need no serial port), and the loading tests
# with the release's DLLs; the i686 ones too where this machine runs 32-bit
# Windows programs (a kernel with IA-32 emulation and 32-bit Wine installed).
# The system's Wine cannot carry the serial receive path (no EV_RXFLAG, no
# COMMTIMEOUTS reads, no modem status on a pseudo-terminal, waits that
# CancelIoEx does not end), so the receive path runs under a private Wine
# with a patched ntdll (scripts/wine-serial.sh): the end-to-end tests through
# COM ports joined to halvex-sim, and the C host identifying the receiver on
# COM5. A probe of the four gaps runs under both Wines: it must find them in
# the system's and none in the private one.
#
#   wine-test.sh BUILD64 BUILD32 SHIPPED SIMULATOR
#
# HALVEX_SERIAL_WINE names another Wine loader to take for the patched one
# (to try a change to the patch by hand).
#
# BUILD32 holds the 32-bit tests (built with the -posix compilers, as
# std::thread needs); SHIPPED the release zip unpacked (scripts/release.sh,
# then scripts/check-release.sh, which builds the C host into x64/ and x86/):
# the loading tests load its DLLs, and the C host runs with the 64-bit one.
#
# Wine's background services keep any pipe open, so its output goes to files,
# and the prefix's wineserver is ended on the way out.
set -euo pipefail
usage="usage: wine-test.sh BUILD64 BUILD32 SHIPPED SIMULATOR"
build64=${1:?$usage}
build32=${2:?$usage}
shipped=${3:?$usage}
simulator=${4:?$usage}

here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
peers=()
finish() {
  [ ${#peers[@]} -gt 0 ] && kill "${peers[@]}" 2>/dev/null
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT

# Runs a Windows program with a time limit under $loader (the system's Wine
# unless set); its output, kept in a file, is shown afterwards. The
# program's exit status, 124 when it hung.
loader=wine
run() { # name, program, arguments...
  local name=$1
  shift
  local status=0
  timeout 300 "$loader" "$@" >"$work/$name.out" 2>&1 </dev/null || status=$?
  cat "$work/$name.out"
  return $status
}

echo "creating the Wine prefix"
wineboot --init >"$work/wineboot.out" 2>&1 </dev/null || { cat "$work/wineboot.out"; exit 1; }

count() { # a test program's output: how many passed
  tr -d '\r' <"$work/$1.out" | sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p'

}
for suite in unit_tests engine_tests; do
  run "x64-$suite" "$build64/tests/$suite.exe" --gtest_brief=1
  echo "x86-64 Windows, $suite: $(count "x64-$suite") tests passed under wine64"
done
# The loading tests again, with the DLL of the release beside them.
shipped_library() { # word size: x64 or x86; its tests' folder
  mkdir "$work/shipped-$1"
  cp "$2/tests/engine_tests.exe" "$shipped/$1/halvex32.dll" "$work/shipped-$1/"
  run "shipped-$1" "$work/shipped-$1/engine_tests.exe" --gtest_brief=1 --gtest_filter='Library.*'
  echo "the $1 DLL of the release: $(count "shipped-$1") loading tests passed under Wine"
}
shipped_library x64 "$build64"

# 32-bit Windows programs run where a probe of one prints what it should.
probe=$work/probe32.exe
printf '#include <stdio.h>\nint main(void) { puts("32-bit"); return 0; }\n' >"$work/probe.c"
i686-w64-mingw32-gcc "$work/probe.c" -o "$probe"
if run probe32 "$probe" >/dev/null 2>&1 && grep -q 32-bit "$work/probe32.out"; then
  for suite in unit_tests engine_tests; do
    run "x86-$suite" "$build32/tests/$suite.exe" --gtest_brief=1
    echo "32-bit Windows, $suite: $(count "x86-$suite") tests passed under Wine"
  done
  shipped_library x86 "$build32"
else
  echo "no 32-bit Wine here: the 32-bit Windows tests are built, not run"
fi

# Joins COMn to a new pseudo-terminal: the far end is the given program,
# started with --link and the terminal's path last.
join_port() { # n, program, arguments...
  local n=$1 link=$work/line$1
  shift
  "$@" "$link" >"$work/peer$n.log" 2>&1 &
  peers+=($!)
  for _ in $(seq 100); do
    [ -e "$link" ] && break
    sleep 0.1
  done
  ln -sfn "$link" "$WINEPREFIX/dosdevices/com$n"
}
probe() { # which Wine, for the messages
  local status=0
  run "probe-$1" "$build64/tests/serial_probe.exe" COM6 >/dev/null || status=$?
  tr -d '\r' <"$work/probe-$1.out" | sed "s/^/  /"
  return $status
}
join_port 6 "$here/../tests/wine/echo_peer.py"

echo "the serial layer of the system's Wine:"
if probe system; then
  echo "the probe found none of the serial layer's gaps in the system's Wine: it no longer tells them apart" >&2
  exit 1
fi
wineserver -k 2>/dev/null || true

loader=${HALVEX_SERIAL_WINE:-$("$here/wine-serial.sh" | tail -n1)}
export WINELOADER=$loader
echo "the serial layer of the patched Wine ($loader):"
probe patched || { echo "the patched Wine's serial layer has gaps" >&2; exit 1; }

# The end-to-end tests, each on a COM port of its own with the simulator it names.
"$loader" "$build64/tests/com_tests.exe" --lines 2>/dev/null </dev/null | tr -d '\r' >"$work/lines"
while read -r n options; do
  # shellcheck disable=SC2086 # the options are words
  join_port "$n" "$simulator" $options --link
done <"$work/lines"
run com "$build64/tests/com_tests.exe" --gtest_brief=1
echo "x86-64 Windows, the receive path: $(count com) end-to-end tests passed through COM ports under the patched Wine"

# COM5: the C host of the release, as a user runs it.
join_port 5 "$simulator" --link
run com5 "$shipped/x64/identify.exe" COM5 || { echo "COM5: the C host did not identify the receiver" >&2; exit 1; }
echo "COM5: the C host identified the receiver under the patched Wine"
