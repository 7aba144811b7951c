#!/usr/bin/env python3
"""Writes the record resource a freshly built launcher carries: the 14-byte
signature and the 1434-byte startup record, with `defined` 0 so that the
launcher asks for a record ("Startup information not defined.") until
quorvanta-record gives it one. The offsets are those of the record's layout.

Usage: mkrecord.py OUTPUT [SIZE]   (SIZE pads or cuts the resource, for tests)
"""
import sys

FIELDS = [  # offset within the record, width, value
    (0, 1, bytes([0])),              # defined
    (1, 10, bytes([1, 3, 2])),       # runtimeOrder: java.exe, jview.exe, jre.exe
    (11, 16, b"1.3"),                # minJavaVersion
    (27, 255, b""),                  # mainClass
    (282, 512, b""),                 # classPath
    (794, 128, b""),                 # vmOptions
    (922, 1, bytes([2])),            # reserved1
    (923, 1, bytes([0])),            # reserved2
    (924, 255, b"https://www.java.com/download/"),   # downloadUrl
    (1179, 255, b"Quorvanta"),       # appName
]


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    record = bytearray(1434)
    for offset, width, value in FIELDS:
        assert len(value) < width or width == 1
        record[offset:offset + len(value)] = value
    resource = b"KLOV_DATA_SIGN" + bytes(record)
    if len(sys.argv) == 3:
        size = int(sys.argv[2])
        resource = resource[:size] + bytes(max(0, size - len(resource)))
    with open(sys.argv[1], "wb") as f:
        f.write(resource)


if __name__ == "__main__":
    main()
