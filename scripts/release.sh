#!/usr/bin/env bash
# Builds a release of the committed tree (HEAD) into OUT_DIR (default
# ./release):
#   halvex32-VERSION-windows.zip   both DLLs, the header, the VBA module, the
#                                  C example, README-windows.txt, LICENSE and
#                                  SHA256SUMS
#   *.deb                          libhalvex32-1, libhalvex32-dev, halvex,
#                                  python3-halvex32, checked by lintian
# The builds stay in OUT_DIR/release-build. The same commit gives the same zip, byte
# for byte: everything is dated from the commit (SOURCE_DATE_EPOCH), the DLLs
# carry no link time stamp and no build path, and the zip's entries are
# sorted with fixed dates and modes.
#
#   scripts/release.sh [--windows|--debian] [OUT_DIR]
set -euo pipefail
usage="usage: release.sh [--windows|--debian] [OUT_DIR]"
top=$(cd "$(dirname "$0")/.." && pwd)
parts="windows debian"
out=
while [ $# -gt 0 ]; do
  case $1 in
    --windows) parts=windows ;;
    --debian) parts=debian ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "release.sh: unknown option $1; $usage" >&2; exit 2 ;;
    *) [ -z "$out" ] || { echo "release.sh: one OUT_DIR only; $usage" >&2; exit 2; }; out=$1 ;;
  esac
  shift
done
out=$(realpath -m "${out:-release}")

"$top/scripts/install-deps.sh" release
cd "$top"
version=$(sed -n 's/^project(halvex32 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
export SOURCE_DATE_EPOCH
if git rev-parse --git-dir >/dev/null 2>&1; then
  commit=$(git rev-parse --short HEAD)
  if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "release.sh: the working tree has changes that are not committed; the release is built from $commit without them" >&2
  fi
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
else
  # A tree without its history (an unpacked source archive): its files as
  # they are, dated by SOURCE_DATE_EPOCH when set, else by CMakeLists.txt.
  commit="a tree without git history"
  SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(stat -c %Y CMakeLists.txt)}
fi

# Only a folder this script made is ever emptied: OUT_DIR may be a folder
# of the user's own.
work=$out/release-build
if [ -e "$work" ] && [ ! -e "$work/.made-by-release.sh" ]; then
  echo "release.sh: $work exists and was not made by release.sh; not replaced" >&2
  exit 1
fi
rm -rf "$work"
mkdir -p "$work"
touch "$work/.made-by-release.sh"
# A clean tree: the commit's files and nothing else, under a name that does
# not depend on OUT_DIR (the DLLs see only that name).
src=$work/halvex32-$version
mkdir "$src"
if [ "$commit" = "a tree without git history" ]; then
  tar -c --exclude='./build*' --exclude='./release' --exclude="./${out#"$top"/}" --exclude='*/__pycache__' . | tar -x -C "$src"
else
  git archive HEAD | tar -x -C "$src"
fi
jobs=$(nproc)
echo "halvex32 $version from $commit, dated $(date -u -d "@$SOURCE_DATE_EPOCH" +%F)"

build_dll() { # toolchain file, folder
  cmake -S "$src" -B "$work/$2" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/$1" -DHALVEX_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
    "-DCMAKE_CXX_FLAGS=-ffile-prefix-map=$src=halvex32-$version" -DCMAKE_SHARED_LINKER_FLAGS=-s >/dev/null
  cmake --build "$work/$2" -j "$jobs" >/dev/null
}

windows() {
  echo "building halvex32.dll for x86 and x64"
  build_dll mingw-i686.cmake x86
  build_dll mingw-x86_64.cmake x64
  local stage=$work/zip
  mkdir -p "$stage"/{x86,x64,include,vba,c}
  cp "$work/x86/halvex32.dll" "$stage/x86/"
  cp "$work/x64/halvex32.dll" "$stage/x64/"
  cp "$src/include/halvex32.h" "$stage/include/"
  cp "$src/hosts/vba/halvex32.bas" "$stage/vba/"
  cp "$src/hosts/c/identify.c" "$stage/c/"
  cp "$src/hosts/windows/BUILD.txt" "$stage/c/"
  sed "s/@VERSION@/$version/g" "$src/hosts/windows/README-windows.txt" >"$stage/README-windows.txt"
  cp "$src/LICENSE" "$stage/"
  # Windows users open these in Notepad: CRLF line ends.
  for text in README-windows.txt LICENSE c/BUILD.txt; do sed -i 's/\r\{0,1\}$/\r/' "$stage/$text"; done
  (cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)
  local zip=$out/halvex32-$version-windows.zip
  rm -f "$zip"
  /usr/bin/python3 "$src/scripts/reproducible-zip.py" "$stage" "$zip"
  echo "$zip"
}

debian() {
  echo "building the Debian packages"
  (cd "$src" && dpkg-buildpackage -us -uc -b -j"$jobs" >"$work/dpkg-buildpackage.log" 2>&1) || {
    tail -n 40 "$work/dpkg-buildpackage.log" >&2
    echo "release.sh: dpkg-buildpackage failed; its whole log is $work/dpkg-buildpackage.log" >&2
    exit 1
  }
  # Every error and warning is fixed or overridden with its reason.
  lintian --fail-on error,warning "$work"/halvex32_*.changes
  rm -f "$out"/{libhalvex32-1,libhalvex32-dev,halvex,python3-halvex32}_*.deb
  # The debug symbols stay in the build folder: users install the four.
  find "$work" -maxdepth 1 -name '*.deb' ! -name '*-dbgsym_*' -exec cp {} "$out/" \;
  ls "$out"/*.deb
}

for part in $parts; do
  "$part"
done
