#!/usr/bin/env bash
# Installs the Debian packages that are missing: `build` (the default) for
# the library, the simulator and the halvex tool; `test` for the whole test
# suite besides (sanitizers, 32-bit and Windows builds, fuzzing).
set -euo pipefail
build=(cmake g++ make libcli11-dev libpugixml-dev nlohmann-json3-dev libicu-dev)
test=(googletest g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  python3-gpxpy clang libclang-rt-14-dev g++-multilib
  qemu-user pkg-config man-db wine wine64)
case "${1:-build}" in
build) packages=("${build[@]}") ;;
test) packages=("${build[@]}" "${test[@]}") ;;
*)
  echo "usage: $0 [build|test]" >&2
  exit 2
  ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
