#!/usr/bin/env python3
"""Zips a folder so that the same files always give the same bytes: entries
sorted by name, each dated SOURCE_DATE_EPOCH (UTC; never before 1980, which
zip cannot say), mode 0644, no extra fields, the same compression.

    reproducible-zip.py FOLDER ZIP"""
import os
import sys
import time
import zipfile


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    folder, target = sys.argv[1:]
    epoch = max(int(os.environ.get("SOURCE_DATE_EPOCH", "315532800")), 315532800)
    stamp = time.gmtime(epoch)[:6]
    names = sorted(
        os.path.relpath(os.path.join(root, name), folder).replace(os.sep, "/")
        for root, _, files in os.walk(folder)
        for name in files
    )
    with zipfile.ZipFile(target, "w") as archive:
        for name in names:
            entry = zipfile.ZipInfo(name, stamp)
            entry.create_system = 3  # Unix, so that the mode below is read
            entry.external_attr = 0o100644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(folder, name), "rb") as f:
                archive.writestr(entry, f.read(), compresslevel=9)
    return 0


if __name__ == "__main__":
    sys.exit(main())
