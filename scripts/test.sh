#!/usr/bin/env bash
# The whole test suite on a fresh Debian machine: installs what is missing,
# then builds and runs the tests natively (and on real serial drivers under
# qemu), under ThreadSanitizer, as 32-bit code (where the host records have
# their exact layouts), under
# AddressSanitizer with UndefinedBehaviorSanitizer; runs the fuzz targets
# briefly; installs a build and builds a C host against it; builds the
# release (scripts/release.sh: the Windows zip with both DLLs, the Debian
# packages) and checks it as users meet it; runs the Windows tests under Wine
# with the release's DLLs.
set -euo pipefail
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1"
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/scripts/install-deps.sh" test

jobs=$(nproc)
# The tests mostly wait on a simulated receiver's time-outs (a suite's tests
# use a fifth of the processors' time they take), so three run per core.
test_jobs=$((jobs * 3))
build_suite() { # name, extra cmake arguments...
  local dir=$1
  shift
  echo "== $dir ($(date +%T))"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVEX_TESTS=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}
run_suite() { # name, extra cmake arguments...
  build_suite "$@"
  (cd "$1" && ctest --output-on-failure -j "$test_jobs" --timeout 300)
}

build_suite build
# The release builds while the native tests run: they mostly wait on the
# simulated receiver, and the two together take the time of the longer.
echo "== release, beside the native tests ($(date +%T))"
scripts/release.sh build-release >build-release.log 2>&1 &
release=$!
# So does the patched Wine the Windows tests need at the end (about 3
# minutes the first time, then cached).
nice -n 10 scripts/wine-serial.sh >wine-serial.log 2>&1 &
wine_serial=$!
trap 'kill "$release" "$wine_serial" 2>/dev/null || true' EXIT
(cd build && ctest --output-on-failure -j "$test_jobs" --timeout 300)
scripts/check-install.sh build
# What follows measures time (Ctrl-C in Python, the qemu guest): the release
# is done first.
wait "$release" || { cat build-release.log; echo "scripts/release.sh failed" >&2; exit 1; }
cat build-release.log
echo "== check-release ($(date +%T))"
scripts/check-release.sh build-release
# The Python package, against the simulator, on the library just built.
echo "== python ($(date +%T))"
HALVEX32_LIBRARY="$PWD/build/libhalvex32.so.1" HALVEX_SIM="$PWD/build/halvex-sim" PYTHONPATH="$PWD/python" \
  /usr/bin/python3 -m pytest -q -p no:cacheprovider python/tests
# The native build again on the kernel's own serial drivers, in a qemu guest.
echo "== hw ($(date +%T))"
scripts/hw-test.sh build
# The sanitizer builds leave out the tool, which the native suite runs as a
# user does: its own code is host code, and building it twice more would
# cost minutes. They are optimised at -O1, as the sanitizers advise, which
# compiles a quarter faster than -O2, and carry line tables alone (-g1): a
# report still names file and line, and the build takes a fifth less.
sanitized=(-DHALVEX_TOOL=OFF "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")
run_suite build-tsan "${sanitized[@]}" -DCMAKE_CXX_FLAGS="-fsanitize=thread -g1" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread
# The 32-bit unit tests: record layouts, arithmetic, codecs, the platform
# layer. Some kernels cannot run 32-bit code (no IA-32 emulation); there they
# run under qemu's user-mode emulator, which keeps x87 arithmetic, without the
# serial tests that need a kernel's pseudo-terminals. The end-to-end tests
# exercise no 32-bit arithmetic of their own and run in the other builds, so
# every machine runs the same 32-bit stage in about the same time.
# The build lists no tests by running them (PRE_TEST): where the kernel
# cannot run the binary, listing them would fail the build.
m32=(-DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32 -DCMAKE_EXE_LINKER_FLAGS=-m32 -DCMAKE_SHARED_LINKER_FLAGS=-m32
  -DHALVEX_TOOL=OFF -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST)
echo "== build-m32 ($(date +%T))"
cmake -S . -B build-m32 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVEX_TESTS=ON "${m32[@]}" >/dev/null
cmake --build build-m32 -j "$jobs" --target unit_tests
if scripts/runs-32bit.sh; then
  build-m32/tests/unit_tests --gtest_brief=1
else
  echo "this kernel cannot run 32-bit code: the 32-bit unit tests run under qemu-i386"
  qemu-i386 -L / build-m32/tests/unit_tests --gtest_filter='-Serial.*' --gtest_brief=1
fi
run_suite build-asan "${sanitized[@]}" -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -g1" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined"

echo "== build-fuzz ($(date +%T))"
scripts/fuzz.sh --runs 200000

# The Windows tests: 64-bit, for today's Office, under wine64 on every
# machine; 32-bit (std::thread: the -posix compilers, in a build of their
# own) always built, which catches calling-convention mistakes, and run
# where 32-bit Wine can. Both DLLs of the release (checked above: exports,
# version, the C host built against each) are loaded by the tests too.
echo "== build-mingw64 ($(date +%T))"
cmake -S . -B build-mingw64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DHALVEX_TESTS=ON >/dev/null
cmake --build build-mingw64 -j "$jobs" --target unit_tests engine_tests com_tests serial_probe
echo "== build-mingw-tests ($(date +%T))"
cmake -S . -B build-mingw-tests -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DHALVEX_MINGW_POSIX=ON \
  -DHALVEX_TESTS=ON >/dev/null
cmake --build build-mingw-tests -j "$jobs" --target unit_tests engine_tests
echo "== wine ($(date +%T))"
wait "$wine_serial" || { cat wine-serial.log; echo "scripts/wine-serial.sh failed" >&2; exit 1; }
cat wine-serial.log
HALVEX_SERIAL_WINE=$(tail -n 1 wine-serial.log) \
  scripts/wine-test.sh build-mingw64 build-mingw-tests build-release/unpacked build/halvex-sim
echo "all tests passed ($(date +%T))"
