#!/usr/bin/env bash
# The Windows tests under Wine: the suite's x86-64 Windows tests under wine64,
# the i686 ones too where this machine runs 32-bit Windows programs (a kernel
# with IA-32 emulation and 32-bit Wine installed), and a COM port mapped to
# the simulator's pseudo-terminal opened by the C host. Wine cannot carry the
# serial receive path (no EV_RXFLAG, no overlapped read time-outs, no modem
# status on a pseudo-terminal), so the port check asks only that the open
# ends cleanly: a refused port or an open one, never a hang or a crash.
#
#   wine-test.sh BUILD64 BUILD32 SHIPPED SIMULATOR
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

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
simulator_pid=
finish() {
  [ -n "$simulator_pid" ] && kill "$simulator_pid" 2>/dev/null
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT

# Runs a Windows program with a time limit; its output, kept in a file, is
# shown afterwards. The program's exit status, 124 when it hung.
run() { # name, program, arguments...
  local name=$1
  shift
  local status=0
  timeout 300 wine "$@" >"$work/$name.out" 2>&1 </dev/null || status=$?
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

# COM5 is the simulator's pseudo-terminal, as Wine maps ports to devices.
"$simulator" --link "$work/receiver" >"$work/simulator.out" 2>&1 &
simulator_pid=$!
for _ in $(seq 100); do
  [ -e "$work/receiver" ] && break
  sleep 0.1
done
ln -s "$work/receiver" "$WINEPREFIX/dosdevices/com5"
status=0
run com5 "$shipped/x64/identify.exe" COM5 || status=$?
case $status in
  0) echo "COM5: the C host opened the port and identified the receiver" ;;
  3) echo "COM5: the C host's open was refused cleanly" ;;
  4) echo "COM5: the port opened; the receiver's answer did not reach the host (Wine's serial layer), and the host ended cleanly" ;;
  124) echo "COM5: the C host hung" >&2; exit 1 ;;
  *) echo "COM5: the C host ended with status $status" >&2; exit 1 ;;
esac
