#!/usr/bin/env python3
"""Checks hosts/vba/halvex32.bas (or the module given) against src/exports.txt: each export declared
once for VBA7 (PtrSafe, LongPtr handles) and once for 32-bit VBA and VB6,
with as many arguments as the export takes (its standard-call bytes / 4),
and nothing else declared from halvex32.dll."""
import re
import sys
from pathlib import Path

top = Path(__file__).resolve().parent.parent
exports = {}
for line in (top / "src/exports.txt").read_text().splitlines():
    if line[:1].isdigit():
        ordinal, name, size = line.split()
        exports[name] = int(size) // 4

path = Path(sys.argv[1]) if len(sys.argv) > 1 else top / "hosts/vba/halvex32.bas"
module = path.read_text()
vba7, _, rest = module.partition("#If VBA7 Then\n")[2].partition("#Else\n")
classic = rest.partition("#End If\n")[0]
declare = re.compile(r'^Public Declare (PtrSafe )?(Function|Sub) (\w+) Lib "halvex32\.dll" \(([^)]*)\)', re.M)

problems = []
for branch, text, ptrsafe in (("VBA7", vba7, True), ("32-bit", classic, False)):
    seen = {}
    for match in declare.finditer(text):
        safe, _, name, arguments = match.groups()
        count = len([a for a in arguments.split(",") if a.strip()])
        if name in seen:
            problems.append(f"{branch}: {name} declared twice")
        seen[name] = count
        if bool(safe) != ptrsafe:
            problems.append(f"{branch}: {name} {'lacks' if ptrsafe else 'has'} PtrSafe")
        if not ptrsafe and "LongPtr" in arguments:
            problems.append(f"{branch}: {name} uses LongPtr, which 32-bit VBA and VB6 lack")
        if ptrsafe and re.search(r"\b(session|table|callback|routes|waypoints|points|sentences?) As Long\b", arguments):
            problems.append(f"{branch}: {name} passes a handle or pointer as Long")
    for name, count in exports.items():
        if name not in seen:
            problems.append(f"{branch}: {name} is not declared")
        elif seen[name] != count:
            problems.append(f"{branch}: {name} takes {count} arguments, declared with {seen[name]}")
    for name in seen.keys() - exports.keys():
        problems.append(f"{branch}: {name} is no export of halvex32.dll")

if problems:
    print("\n".join(problems), file=sys.stderr)
    sys.exit(1)
print(f"{path}: {len(exports)} exports declared for VBA7 and for 32-bit VBA, as the export table has them")
