#!/usr/bin/env python3
"""Reads back a DLL's version resource, as Windows Explorer's Details tab
shows it: the machine it is built for, the link time stamp, the fixed file
and product versions and each string of the StringFileInfo table.

    dll-version.py DLL [--expect VERSION]

With --expect it also checks that both versions are VERSION, that the
description names the word size the machine has, and that the DLL carries no
link time stamp; a mismatch is one line on standard error and exit 1."""
import argparse
import struct
import sys

MACHINES = {0x14C: "x86", 0x8664: "x64"}
RT_VERSION = 16


class NotReadable(Exception):
    pass


def sections(image):
    if image[:2] != b"MZ":
        raise NotReadable("not a PE file (no MZ header)")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise NotReadable("not a PE file (no PE signature)")
    machine, count, stamp, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", image, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva = struct.unpack_from("<I", image, directories + 2 * 8)[0]
    table = []
    for i in range(count):
        _, vsize, rva, raw_size, raw = struct.unpack_from("<8sIIII", image, optional + optional_size + 40 * i)
        table.append((rva, max(vsize, raw_size), raw))
    return machine, stamp, resource_rva, table


def offset_of(rva, table):
    for start, size, raw in table:
        if start <= rva < start + size:
            return raw + rva - start
    raise NotReadable(f"RVA {rva:#x} lies in no section")


def version_blob(image):
    machine, stamp, resource_rva, table = sections(image)
    if not resource_rva:
        raise NotReadable("no resources")
    base = offset_of(resource_rva, table)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", image, base + directory + 12)
        for i in range(named + ids):
            yield struct.unpack_from("<II", image, base + directory + 16 + 8 * i)

    node = 0
    for wanted in (RT_VERSION, None, None):  # type, name, language
        for name, target in entries(node):
            if wanted is None or name == wanted:
                node = target & 0x7FFFFFFF
                break
        else:
            raise NotReadable("no version resource")
    data_rva, size = struct.unpack_from("<II", image, base + node)
    start = offset_of(data_rva, table)
    return machine, stamp, image[start:start + size]


def parse_node(blob, at):
    """One VS_VERSIONINFO-style node: (key, value bytes or text, children, end)."""
    length, value_length, kind = struct.unpack_from("<HHH", blob, at)
    end = at + length
    key_end = at + 6
    while blob[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = blob[at + 6:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    if kind == 1:  # text: the length counts UTF-16 units, the terminator included
        value = blob[value_at:value_at + 2 * value_length].decode("utf-16-le").rstrip("\0")
        children_at = value_at + 2 * value_length
    else:
        value = blob[value_at:value_at + value_length]
        children_at = value_at + value_length
    children = []
    child = (children_at + 3) & ~3
    while child < end:
        parsed = parse_node(blob, child)
        children.append(parsed)
        child = (parsed[3] + 3) & ~3
    return key, value, children, end


def read(path):
    with open(path, "rb") as f:
        image = f.read()
    machine, stamp, blob = version_blob(image)
    key, fixed, children, _ = parse_node(blob, 0)
    if key != "VS_VERSION_INFO" or struct.unpack_from("<I", fixed)[0] != 0xFEEF04BD:
        raise NotReadable("the version resource is malformed")
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", fixed, 8)
    dotted = lambda ms, ls: f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    strings = {}
    for child_key, _, tables, _ in children:
        if child_key == "StringFileInfo":
            for _, _, values, _ in tables:
                strings.update({k: v for k, v, _, _ in values})
    return {
        "Machine": MACHINES.get(machine, hex(machine)),
        "TimeDateStamp": stamp,
        "FixedFileVersion": dotted(file_ms, file_ls),
        "FixedProductVersion": dotted(product_ms, product_ls),
        **strings,
    }


def problems(info, version):
    word = {"x86": "32-bit", "x64": "64-bit"}.get(info["Machine"], "?")
    checks = [
        (info["FixedFileVersion"] == version + ".0", f"file version {info['FixedFileVersion']}"),
        (info["FixedProductVersion"] == version + ".0", f"product version {info['FixedProductVersion']}"),
        (info.get("FileVersion") == version, f"FileVersion string {info.get('FileVersion')!r}"),
        (info.get("ProductVersion") == version, f"ProductVersion string {info.get('ProductVersion')!r}"),
        (info.get("ProductName") == "halvex32", f"ProductName {info.get('ProductName')!r}"),
        (word in info.get("FileDescription", ""), f"a {info['Machine']} DLL described as {info.get('FileDescription')!r}"),
        ("MIT" in info.get("LegalCopyright", ""), f"LegalCopyright {info.get('LegalCopyright')!r}"),
        (info["TimeDateStamp"] == 0, f"link time stamp {info['TimeDateStamp']}"),
    ]
    return [what for ok, what in checks if not ok]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dll")
    parser.add_argument("--expect", metavar="VERSION", help="check the versions, word size and time stamp")
    args = parser.parse_args()
    try:
        info = read(args.dll)
    except (OSError, NotReadable, struct.error, UnicodeDecodeError) as e:
        print(f"{args.dll}: {e}", file=sys.stderr)
        return 1
    for key, value in info.items():
        print(f"{key}: {value}")
    if args.expect:
        wrong = problems(info, args.expect)
        if wrong:
            print(f"{args.dll}: expected version {args.expect}; found " + "; ".join(wrong), file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
