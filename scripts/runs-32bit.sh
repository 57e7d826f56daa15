#!/usr/bin/env bash
# Exits 0 where this kernel runs 32-bit x86 programs, 1 where it does not
# (some have no IA-32 emulation): a small -m32 program is built and run.
set -u
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'int main(void) { return 0; }' >"$probe/probe.c"
gcc -m32 "$probe/probe.c" -o "$probe/probe" 2>/dev/null && "$probe/probe" 2>/dev/null
