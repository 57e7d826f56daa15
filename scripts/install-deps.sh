#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if missing.
set -euo pipefail
packages=(cmake g++ make googletest g++-mingw-w64-i686 binutils-mingw-w64-i686 libcli11-dev libpugixml-dev nlohmann-json3-dev python3-gpxpy clang libclang-rt-14-dev g++-multilib)
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
