#!/usr/bin/env bash
# A private 64-bit Wine whose serial layer carries the library's receive path
# (the event character, modem status on a pseudo-terminal, COMMTIMEOUTS
# reads, cancelled waits): the system's Wine with one library replaced, its
# ntdll.so built from the distribution's own source of exactly the installed
# version with scripts/wine/ntdll-serial.patch applied. The system's Wine is
# not touched; when apt has no source entry for the installed Wine's suite,
# one is added (/etc/apt/sources.list.d/halvex32-wine-src.sources).
#
#   wine-serial.sh        prints the private loader's path as its last line
#
# Only the built ntdll.so is kept, in $HALVEX_CACHE (default
# /var/cache/halvex32), keyed by the Wine version and the patch's hash; the
# source and objects (about 490 MB) are deleted. The private tree is a copy of
# the wine64 loader (it finds ntdll.so from its own real path before it looks
# at WINEDLLPATH, so a link would find the system's), links to everything else
# of the system's Wine, and the patched ntdll.so in its place.
#
# 64-bit only: a 32-bit ntdll would need the i386 Wine, which machines without
# 32-bit support cannot run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
patch=$here/wine/ntdll-serial.patch
multiarch=x86_64-linux-gnu
system_dlls=/usr/lib/$multiarch/wine
system_bin=/usr/lib/wine

version=$(dpkg-query -W -f='${Version}' wine64 2>/dev/null) || {
  echo "wine-serial.sh: wine64 is not installed (scripts/install-deps.sh test)" >&2
  exit 1
}
cache=${HALVEX_CACHE:-/var/cache/halvex32}
mkdir -p "$cache" 2>/dev/null || cache=${XDG_CACHE_HOME:-$HOME/.cache}/halvex32
key=$(sha256sum "$patch" | cut -c1-16)
dir=$cache/wine-serial-${version//[^A-Za-z0-9.+-]/_}-$key
library=$dir/ntdll.so

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

# A deb-src entry for the suite the installed Wine came from, when apt has none.
add_source_entry() {
  apt-get source --print-uris -qq "wine=$version" >/dev/null 2>&1 && return
  local suite
  suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
  echo "adding a deb-src entry for $suite"
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$suite" | $sudo tee /etc/apt/sources.list.d/halvex32-wine-src.sources >/dev/null
  $sudo apt-get update -qq || echo "apt-get update reported errors; going on with the indexes there are"
}

# The Makefile generator reads every source the tree's makefiles list; the
# source package leaves out those made by tools that need more than this
# build has (Unicode tables, Vulkan and OpenGL thunks, test data). None of
# them is part of ntdll.so, so empty ones stand in.
stand_in_for_missing_sources() { # source tree
  python3 - "$1" <<'EOF'
import os, re, sys
root = sys.argv[1]
for dirpath, dirs, files in os.walk(root):
    if 'Makefile.in' not in files or '/debian' in dirpath or '/.pc' in dirpath:
        continue
    text = open(os.path.join(dirpath, 'Makefile.in'), errors='replace').read().replace('\\\n', ' ')
    parent = re.search(r'^PARENTSRC\s*=\s*(\S+)', text, re.M)
    for m in re.finditer(r'^(?:[A-Z_]*SRCS|SOURCES)\s*=(.*)$', text, re.M):
        for name in m.group(1).split():
            path = os.path.join(dirpath, name)
            if os.path.exists(path) or (parent and os.path.exists(os.path.join(dirpath, parent.group(1), name))):
                continue
            open(path, 'a').close()
EOF
}

build_library() {
  local start work src
  start=$(date +%s)
  echo "building Wine $version's ntdll.so with the serial patch (about 2.5 minutes)"
  local needed=(dpkg-dev flex bison autoconf gcc make perl python3 libunwind-dev) missing=() p
  for p in "${needed[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    $sudo apt-get update -qq || true
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
  add_source_entry
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && apt-get source -qq "wine=$version" >"$work/source.log" 2>&1) || {
    cat "$work/source.log" >&2
    echo "wine-serial.sh: the source of wine $version is not to be had from apt" >&2
    exit 1
  }
  src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'wine-*')
  (cd "$src" && patch -p1 --quiet <"$patch")
  (
    cd "$src"
    ./debian/scripts/generate server/trace.generated make_requests
    ./debian/scripts/generate server/request.generated make_requests
    ./tools/make_requests >/dev/null
    autoheader -f && autoconf -f
    ln -sf /usr/share/misc/config.sub /usr/share/misc/config.guess tools/
    # the icons the makefiles name, linked as the package's own build links them
    sed -n 's/^\tln -sf \(\.\.\/\.\.\/[^ ]*\.svg [^ ]*\.svg\)$/\1/p' debian/rules | while read -r from to; do ln -sf "$from" "$to"; done
  )
  stand_in_for_missing_sources "$src"
  mkdir "$work/build"
  (
    cd "$work/build"
    "$src/configure" -q --enable-win64 --disable-tests --without-mingw --without-x --without-freetype \
      --without-gnutls --without-oss --without-sane --without-netapi --without-alsa --without-pulse \
      --without-gstreamer --without-cups --without-dbus --without-sdl --without-usb --without-v4l2 \
      --without-vulkan --without-opengl --without-osmesa --without-krb5 --without-pcap --without-fontconfig \
      --without-gphoto --without-capi --without-opencl --without-udev --without-inotify --without-coreaudio \
      --without-gssapi --libdir="$system_dlls" --bindir="$system_bin" --mandir=/usr/share/man \
      --includedir=/usr/include/wine --datarootdir=/usr/share/wine >"$work/configure.log" 2>&1 ||
      { tail -20 "$work/configure.log" >&2; exit 1; }
    # version.h is made in the build tree's unix folder
    make -j "$(nproc)" CFLAGS="-g -O2 -I$work/build/dlls/ntdll/unix" dlls/ntdll/ntdll.so >"$work/make.log" 2>&1 ||
      { tail -20 "$work/make.log" >&2; exit 1; }
  )
  mkdir -p "$dir"
  cp "$work/build/dlls/ntdll/ntdll.so" "$library.new"
  mv "$library.new" "$library"
  rm -rf "$work"
  trap - EXIT
  echo "built and cached $library in $(($(date +%s) - start)) s"
}

assemble_tree() { # the private tree, made again from the cached library
  local tree=$dir/tree file
  rm -rf "$tree"
  mkdir -p "$tree/lib/wine" "$tree/lib/$multiarch/wine/x86_64-unix" "$tree/share"
  cp "$system_bin/wine64" "$tree/lib/wine/wine64"
  for file in "$system_bin"/*; do
    [ -e "$tree/lib/wine/$(basename "$file")" ] || ln -s "$file" "$tree/lib/wine/"
  done
  for file in "$system_dlls"/*; do
    [ "$(basename "$file")" = x86_64-unix ] || ln -s "$file" "$tree/lib/$multiarch/wine/"
  done
  for file in "$system_dlls"/x86_64-unix/*; do
    [ "$(basename "$file")" = ntdll.so ] || ln -s "$file" "$tree/lib/$multiarch/wine/x86_64-unix/"
  done
  cp "$library" "$tree/lib/$multiarch/wine/x86_64-unix/ntdll.so"
  ln -s /usr/share/wine "$tree/share/wine"
}

[ -f "$library" ] || build_library
assemble_tree
echo "$dir/tree/lib/wine/wine64"
