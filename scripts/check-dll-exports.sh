#!/usr/bin/env bash
# Checks halvex32.dll's export table against src/exports.txt: the same names
# at the same ordinals, undecorated, nothing else exported, and only system
# DLLs imported; on the 32-bit DLL each function compiled as standard call
# with the listed bytes of arguments (x64 has one calling convention).
# Either DLL: the build folder says which. DLL, when given, is that build's
# DLL as it ships (a copy, stripped).
#   check-dll-exports.sh BUILD_DIR [DLL]
set -euo pipefail
build=${1:?usage: check-dll-exports.sh BUILD_DIR [DLL]}
top=$(cd "$(dirname "$0")/.." && pwd)
dll=${2:-$build/halvex32.dll}
cross=x86_64-w64-mingw32
if i686-w64-mingw32-objdump -f "$dll" 2>/dev/null | grep -q 'file format pei-i386'; then
  cross=i686-w64-mingw32
fi
objdump=$cross-objdump
nm=$cross-nm

expected=$(grep -E '^[0-9]' "$top/src/exports.txt" | awk '{print $1, $2}' | sort -n)
dump=$($objdump -p "$dll")
base=$(sed -n 's/.*Ordinal Base \([0-9]*\).*/\1/p' <<<"$dump")
actual=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
  sed -n 's/^\s*\[\s*\([0-9]*\)\] \(.*\)$/\1 \2/p' |
  awk -v base="$base" '{print $1 + base, $2}' | sort -n)
if [ "$expected" != "$actual" ]; then
  echo "export table of $dll differs from src/exports.txt:" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi
entries=$(sed -n 's/^\s*Export Address Table\s*\([0-9a-f]*\)$/\1/p' <<<"$dump" | head -n 1)
if [ "$((16#$entries))" -ne "$(wc -l <<<"$expected")" ]; then
  echo "$dll exports $((16#$entries)) entries, some without a name" >&2
  exit 1
fi

if [ "$cross" = i686-w64-mingw32 ]; then
  symbols=$(find "$build" -name '*.obj' -exec $nm --defined-only {} + | awk '$2 == "T" {print $3}')
  while read -r _ name bytes; do
    if ! grep -qx "_${name}@${bytes}" <<<"$symbols"; then
      echo "$name is not a standard-call function taking $bytes bytes" >&2
      exit 1
    fi
  done < <(grep -E '^[0-9]' "$top/src/exports.txt")
fi

imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
for dll_name in $imports; do
  case $dll_name in
    kernel32.dll|msvcrt.dll|oleaut32.dll|api-ms-win-*) ;;
    *) echo "halvex32.dll depends on $dll_name, which Windows does not ship" >&2; exit 1 ;;
  esac
done
convention=$([ "$cross" = i686-w64-mingw32 ] && echo "standard call" || echo "x64 calls")
echo "$dll ($cross): $(wc -l <<<"$expected") exports at ordinals $(head -n1 <<<"$actual" | cut -d' ' -f1)-$(tail -n1 <<<"$actual" | cut -d' ' -f1), $convention, imports: $imports"
