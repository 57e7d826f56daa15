#!/usr/bin/env bash
# The whole test suite on a fresh Debian machine: installs what is missing,
# then builds and runs the tests natively (and on real serial drivers under
# qemu), under ThreadSanitizer, as 32-bit code (where the host records have
# their exact layouts), under
# AddressSanitizer with UndefinedBehaviorSanitizer; runs the fuzz targets
# briefly; installs a build and builds a C host against it; cross-compiles
# halvex32.dll for both word sizes, checks their export tables, builds the C
# host for Windows and runs the Windows tests under Wine.
set -euo pipefail
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1"
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/scripts/install-deps.sh" test

jobs=$(nproc)
build_suite() { # name, extra cmake arguments...
  local dir=$1
  shift
  echo "== $dir ($(date +%T))"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVEX_TESTS=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}
run_suite() { # name, extra cmake arguments...
  build_suite "$@"
  (cd "$1" && ctest --output-on-failure -j "$jobs" --timeout 300)
}

run_suite build
scripts/check-install.sh build
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
# compiles a quarter faster than -O2.
sanitized=(-DHALVEX_TOOL=OFF "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g -DNDEBUG")
run_suite build-tsan "${sanitized[@]}" -DCMAKE_CXX_FLAGS="-fsanitize=thread -g" \
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
run_suite build-asan "${sanitized[@]}" -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -g" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined"

echo "== build-fuzz ($(date +%T))"
scripts/fuzz.sh --runs 200000

# Both Windows DLLs: 32-bit, and 64-bit for today's Office. The example C
# host builds against each as it does for Linux. The 64-bit build carries the
# Windows tests, which run under wine64 on every machine; the 32-bit tests
# (std::thread: the -posix compilers, in a build of their own) are always
# built, which catches calling-convention mistakes, and run where 32-bit Wine
# can.
echo "== build-mingw ($(date +%T))"
cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DHALVEX_TESTS=OFF >/dev/null
cmake --build build-mingw -j "$jobs"
scripts/check-dll-exports.sh build-mingw
i686-w64-mingw32-gcc -std=c11 -Wall -Werror -Iinclude hosts/c/identify.c build-mingw/halvex32.dll -loleaut32 \
  -Wl,--enable-stdcall-fixup -o build-mingw/identify.exe
echo "== build-mingw64 ($(date +%T))"
cmake -S . -B build-mingw64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DHALVEX_TESTS=ON >/dev/null
cmake --build build-mingw64 -j "$jobs"
scripts/check-dll-exports.sh build-mingw64
x86_64-w64-mingw32-gcc-posix -std=c11 -Wall -Werror -Iinclude hosts/c/identify.c build-mingw64/halvex32.dll \
  -loleaut32 -o build-mingw64/identify.exe
echo "== build-mingw-tests ($(date +%T))"
cmake -S . -B build-mingw-tests -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DHALVEX_MINGW_POSIX=ON \
  -DHALVEX_TESTS=ON >/dev/null
cmake --build build-mingw-tests -j "$jobs" --target unit_tests engine_tests
echo "== wine ($(date +%T))"
scripts/wine-test.sh build-mingw64 build-mingw-tests build-mingw build/halvex-sim
# What VBA hosts copy declares what the DLLs export.
python3 scripts/check-vba.py
echo "all tests passed ($(date +%T))"
