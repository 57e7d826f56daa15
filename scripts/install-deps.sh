#!/usr/bin/env bash
# Installs the Debian packages that are missing: `build` (the default) for
# the library, the simulator and the halvex tool; `test` for the whole test
# suite besides (sanitizers, 32-bit and Windows builds, fuzzing, the real
# serial drivers under qemu, the releases, the patched Wine); `hw` for the real serial drivers
# alone; `release` for scripts/release.sh (both DLLs and the Debian packages).
set -euo pipefail
build=(cmake g++ make libcli11-dev libpugixml-dev nlohmann-json3-dev libicu-dev)
release=(g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  git debhelper dh-python python3 lintian)
test=(googletest python3-gpxpy python3-pytest clang libclang-rt-14-dev g++-multilib
  qemu-user pkg-config man-db wine wine64 dpkg-dev flex bison autoconf libunwind-dev)
hw=(qemu-system-x86 busybox-static cpio libusbredirparser-dev pkg-config)
case "${1:-build}" in
build) packages=("${build[@]}") ;;
test) packages=("${build[@]}" "${release[@]}" "${test[@]}" "${hw[@]}") ;;
hw) packages=("${hw[@]}") ;;
release) packages=("${build[@]}" "${release[@]}") ;;
*)
  echo "usage: $0 [build|test|hw|release]" >&2
  exit 2
  ;;
esac
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
install_missing() { # packages...
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    # A mirror caught syncing one index fails the update, not the install.
    $sudo apt-get update -qq || echo "apt-get update reported errors; installing from the indexes there are"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}
install_missing "${packages[@]}"

# 32-bit Wine runs the 32-bit Windows tests, where the kernel runs 32-bit
# code at all (some have no IA-32 emulation); it comes with the i386
# architecture.
if [ "${1:-build}" = test ] && "$(dirname "$0")/runs-32bit.sh"; then
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  install_missing wine32:i386 || echo "32-bit Wine could not be installed: the 32-bit Windows tests are built, not run"
fi
