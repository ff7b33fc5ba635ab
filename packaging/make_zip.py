#!/usr/bin/env python3
"""Writes a ZIP whose bytes depend only on its contents: fixed entry order, times and modes.

usage: make_zip.py OUT.zip EPOCH NAME=PATH [NAME=PATH ...]
EPOCH (seconds, UTC) is the time every entry carries, e.g. the commit's SOURCE_DATE_EPOCH.
"""
import sys
import time
import zipfile

# ZIP times start in 1980.
EARLIEST = 315532800


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__)
    out, epoch, entries = argv[1], max(int(argv[2]), EARLIEST), argv[3:]
    stamp = time.gmtime(epoch)[:6]
    with zipfile.ZipFile(out, "w") as archive:
        for entry in entries:
            name, path = entry.split("=", 1)
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0  # MS-DOS: no Unix owner or mode bits
            info.external_attr = 0
            with open(path, "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)


if __name__ == "__main__":
    main(sys.argv)
