#!/usr/bin/env python3
"""Writes the launcher's loader jar: exactly the entries "com/" (carrying the
0xCAFE jar marker in its extra field), "com/velmar/" and
"com/velmar/KLOVClassLoader.class" (deflated). The zip records are written
field by field, so no tool adds entries of its own; the fixed time stamp
keeps the jar the same from build to build.

Usage: mkjar.py OUTPUT.jar KLOVClassLoader.class
"""
import struct
import sys
import zlib

DOS_TIME = 0            # 00:00:00
DOS_DATE = (2001 - 1980) << 9 | 11 << 5 | 16   # 16 November 2001
JAR_MARKER = struct.pack("<HH", 0xCAFE, 0)    # header id 0xCAFE, no data


def entry(name, data, extra=b"", directory=False):
    raw = zlib.compressobj(9, zlib.DEFLATED, -15)
    packed = b"" if directory else raw.compress(data) + raw.flush()
    return {
        "name": name.encode("ascii"),
        "extra": extra,
        "method": 0 if directory else 8,
        "version": 10 if directory else 20,
        "crc": zlib.crc32(data) & 0xFFFFFFFF,
        "size": len(data),
        "packed": packed,
        "attributes": 0x10 if directory else 0,   # MS-DOS directory bit
    }


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[2], "rb") as f:
        code = f.read()
    entries = [
        entry("com/", b"", JAR_MARKER, directory=True),
        entry("com/velmar/", b"", directory=True),
        entry("com/velmar/KLOVClassLoader.class", code),
    ]
    out = bytearray()
    central = bytearray()
    for e in entries:
        offset = len(out)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, e["version"], 0, e["method"], DOS_TIME, DOS_DATE,
                           e["crc"], len(e["packed"]), e["size"], len(e["name"]), len(e["extra"]))
        out += e["name"] + e["extra"] + e["packed"]
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, e["version"], 0, e["method"], DOS_TIME,
                               DOS_DATE, e["crc"], len(e["packed"]), e["size"], len(e["name"]), len(e["extra"]),
                               0, 0, 0, e["attributes"], offset)
        central += e["name"] + e["extra"]
    start = len(out)
    out += central
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central), start, 0)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
