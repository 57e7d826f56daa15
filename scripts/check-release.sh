#!/usr/bin/env bash
# Checks a release as its users meet it (scripts/release.sh OUT_DIR first):
#  - the zip: exactly the files it should hold, SHA256SUMS, both DLLs'
#    export tables and version resources, the VBA module against the
#    exports, and the C example built by the command its BUILD.txt gives;
#    then the zip built again from the same commit, byte for byte the same;
#  - the Debian packages: installed with apt-get, then the tool's version,
#    its manual pages and completion, a C host built with pkg-config and with
#    find_package(halvex32), and `import halvex32`, all from the installed
#    files alone; removed again on the way out.
# The zip is left unpacked in OUT_DIR/unpacked for the Windows tests.
#   scripts/check-release.sh OUT_DIR
set -euo pipefail
rel=$(realpath "${1:?usage: check-release.sh OUT_DIR}")
top=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(halvex32 VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
zip=$rel/halvex32-$version-windows.zip
fail() { echo "check-release: $*" >&2; exit 1; }

# The files that must spell the version out agree with project().
changelog=$(dpkg-parsechangelog -l "$top/debian/changelog" -S Version)
python=$(sed -n 's/^version = "\(.*\)"$/\1/p' "$top/python/pyproject.toml")
[ "$changelog" = "$version" ] || fail "debian/changelog says $changelog, CMakeLists.txt $version"
[ "$python" = "$version" ] || fail "python/pyproject.toml says $python, CMakeLists.txt $version"

# ---- The Windows zip ----
expected="LICENSE
README-windows.txt
SHA256SUMS
c/BUILD.txt
c/identify.c
include/halvex32.h
vba/halvex32.bas
x64/halvex32.dll
x86/halvex32.dll"
listing=$(/usr/bin/python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip")
[ "$listing" = "$expected" ] || fail "$zip holds, in this order:"$'\n'"$listing"
unpacked=$rel/unpacked
rm -rf "$unpacked"
mkdir "$unpacked"
unzip -q "$zip" -d "$unpacked"
(cd "$unpacked" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the zip's files"
[ "$(wc -l <"$unpacked/SHA256SUMS")" -eq 8 ] || fail "SHA256SUMS does not cover the other 8 files"
"$top/scripts/check-dll-exports.sh" "$rel/release-build/x86" "$unpacked/x86/halvex32.dll"
"$top/scripts/check-dll-exports.sh" "$rel/release-build/x64" "$unpacked/x64/halvex32.dll"
for word in x86 x64; do
  /usr/bin/python3 "$top/scripts/dll-version.py" --expect "$version" "$unpacked/$word/halvex32.dll" |
    sed -n "s/^FileDescription: /$word\/halvex32.dll: /p"
done
/usr/bin/python3 "$top/scripts/check-vba.py" "$unpacked/vba/halvex32.bas"
# The C example, built as its BUILD.txt says, from the zip's own folder.
while read -r word command; do
  (cd "$unpacked/c" && eval "$command -Wall -Werror") || fail "the $word build command of c/BUILD.txt failed"
  mv "$unpacked/c/identify.exe" "$unpacked/$([ "$word" = 64-bit: ] && echo x64 || echo x86)/identify.exe"
done < <(tr -d '\r' <"$unpacked/c/BUILD.txt" | grep -E '^(64|32)-bit: ')
echo "zip: 9 files, SHA256SUMS good, both DLLs' exports and versions good, the C example builds for both"

again=$rel/again
"$top/scripts/release.sh" --windows "$again" >/dev/null
cmp "$zip" "$again/halvex32-$version-windows.zip" || fail "two builds of the same commit gave different zips"
rm -rf "$again"
echo "zip: built twice from the same commit, byte for byte the same ($(stat -c %s "$zip") bytes)"

# ---- The Debian packages ----
mapfile -t debs < <(ls "$rel"/{libhalvex32-1,libhalvex32-dev,halvex,python3-halvex32}_*.deb)
[ ${#debs[@]} -eq 4 ] || fail "expected 4 packages in $rel, found ${#debs[@]}"
packages=(libhalvex32-1 libhalvex32-dev halvex python3-halvex32)
work=$(mktemp -d)
remove() {
  kill "${simulator:-}" 2>/dev/null || true
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap remove EXIT
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${debs[@]}" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install failed"; }
cd "$work"
# Nothing of the build tree: the system's paths only.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
unset LD_LIBRARY_PATH PYTHONPATH HALVEX32_LIBRARY HALVEX_SIM PKG_CONFIG_PATH
for tool in halvex halvex-sim; do
  [ "$(command -v $tool)" = "/usr/bin/$tool" ] || fail "$tool is not installed in /usr/bin"
  $tool --version | grep -q "$version" || fail "$tool --version: $($tool --version 2>&1)"
  man -w $tool >/dev/null || fail "man -w $tool finds no page"
done
[ "$(pkg-config --modversion halvex32)" = "$version" ] || fail "pkg-config says version $(pkg-config --modversion halvex32)"
bash -c "source /usr/share/bash-completion/completions/halvex && complete -p halvex" >/dev/null
# shellcheck disable=SC2046
gcc -std=c11 -Wall -Werror "$top/hosts/c/identify.c" -o identify-pc $(pkg-config --cflags --libs halvex32)
cmake -S "$top/hosts/c" -B host >/dev/null && cmake --build host >/dev/null
halvex-sim >port &
simulator=$!
for _ in $(seq 50); do [ -s port ] && break; sleep 0.1; done
for host in ./identify-pc host/identify; do
  out=$("$host" "$(head -n 1 port)") && grep -q "^product 4242" <<<"$out" || fail "$host against the installed library: $out"
done
/usr/bin/python3 -c 'import halvex32, sys; assert halvex32.__file__.startswith("/usr/lib/python3/dist-packages/"), halvex32.__file__
with halvex32.open(sys.argv[1]) as rx: assert rx.identify(timeout=20).id == 4242' "$(head -n 1 port)"
echo "packages: ${packages[*]} install; halvex $version, its pages and completion; C hosts built with pkg-config" \
  "and find_package(halvex32) and the Python package identify the simulator from the installed files"
