#!/usr/bin/env python3
"""Writes a small demo game folder: a BIGF pack holding SHPI picture files.

The bytes are laid out here from the formats' own tables, independently of
torvex, so the demo shows torvex reading files it did not write itself.

    scripts/makedemo.py [folder]      (default: demo/game)

pack.viv (BIGF) holds:
  pics.fsh    SHPI "GIMX": a shared "!pal" palette (6 bits per component),
              "logo" (8-bit indices, uses "!pal"), "spot" (8-bit indices with
              an attached 8-bit palette whose last entry, magenta, is the
              transparent colour), "glow" (32-bit with alpha), "grad" (16-bit
              5-6-5)
  icons.qfs   an SHPI "GIMX" file stored FB-compressed (10 FB literal runs):
              "dots" (4-bit indices) with its own palette "!ots"
  readme.txt  plain text
"""

import math
import os
import struct
import sys


def record(type_byte, width, height, body, attachment=0, start=0):
    """One SHPI record: the 16-byte header, then the pixels or entries."""
    head = bytes([type_byte]) + attachment.to_bytes(3, "little")
    head += struct.pack("<HHHHHH", width, height, 0, start, 0, 0)
    return head + bytes(body)


def pad4(data):
    return data + bytes(-len(data) % 4)


def shpi(directory_id, records):
    """A whole SHPI file: header, directory, records at 4-byte offsets."""
    offset = 16 + 8 * len(records)
    directory = b""
    data = b""
    for i, (name, rec) in enumerate(records):
        directory += name.encode().ljust(4, b"\0") + struct.pack("<I", offset + len(data))
        data += rec if i == len(records) - 1 else pad4(rec)
    total = offset + len(data)
    return b"SHPI" + struct.pack("<II", total, len(records)) + directory_id.encode() + directory + data


def fb10(data):
    """The 10 FB stream kind with literal runs only: header 10 FB and the
    24-bit big-endian size; runs of 4-112 bytes (0xE0 + n/4 - 1); the end
    command 0xFC + the last 0-3 bytes."""
    out = bytearray([0x10, 0xFB]) + len(data).to_bytes(3, "big")
    pos = 0
    while len(data) - pos >= 4:
        n = min(112, (len(data) - pos) // 4 * 4)
        out.append(0xE0 + n // 4 - 1)
        out += data[pos:pos + n]
        pos += n
    out.append(0xFC + len(data) - pos)
    out += data[pos:]
    return bytes(out)


def bigf(members):
    """A BIGF pack: big-endian directory of offset, size, zero-terminated name."""
    header_len = 16 + sum(8 + len(name) + 1 for name, _ in members)
    header_len += -header_len % 4
    offset = header_len
    entries = b""
    data = b""
    for name, content in members:
        entries += struct.pack(">II", offset + len(data), len(content)) + name.encode() + b"\0"
        data += pad4(content)
    total = header_len + len(data)
    head = b"BIGF" + struct.pack(">III", total, len(members), header_len) + entries
    return head.ljust(header_len, b"\0") + data


def logo_and_palette(size=48):
    # 256 colours in 6 bits per component: a hue wheel over the indices.
    entries = bytearray()
    for i in range(256):
        hue = i / 256 * 2 * math.pi
        entries += bytes(int(31.5 + 31.5 * math.cos(hue + k * 2 * math.pi / 3)) for k in range(3))
    palette = record(0x22, 256, 1, entries)
    pixels = bytearray()
    for y in range(size):
        for x in range(size):
            d = math.hypot(x - size / 2, y - size / 2)
            pixels.append(int(d * 10 + math.atan2(y - size / 2, x - size / 2) * 40) & 0xFF)
    return palette, record(0x7B, size, size, pixels)


def spot(size=32):
    # Three colours and magenta last: the transparent colour of this type.
    colours = [(250, 220, 40), (230, 120, 20), (160, 40, 10), (255, 0, 255)]
    pixels = bytearray()
    for y in range(size):
        for x in range(size):
            d = math.hypot(x - size / 2 + 0.5, y - size / 2 + 0.5) / (size / 2)
            pixels.append(3 if d > 1 else min(2, int(d * 3)))
    body = pad4(bytes(pixels))
    attachment = 16 + len(body)
    pal = record(0x24, len(colours), 1, b"".join(bytes(c) for c in colours))
    return record(0x7B, size, size, body, attachment) + pal


def glow(size=32):
    # 32-bit pixels stored blue, green, red, alpha; alpha fades outwards.
    pixels = bytearray()
    for y in range(size):
        for x in range(size):
            d = min(1.0, math.hypot(x - size / 2, y - size / 2) / (size / 2))
            pixels += bytes([255, int(200 * (1 - d)) + 55, 60, int(255 * (1 - d))])
    return record(0x7D, size, size, pixels)


def grad(width=64, height=16):
    # 16-bit 5-6-5 as this type stores it: red bits 11-15, green 6-10, blue 0-4.
    pixels = bytearray()
    for y in range(height):
        for x in range(width):
            r, g, b = x * 31 // (width - 1), y * 31 // (height - 1), 31 - x * 31 // (width - 1)
            pixels += struct.pack("<H", r << 11 | g << 6 | b)
    return record(0x78, width, height, pixels)


def dots(size=16):
    # 4-bit indices, two pixels to a byte, the left pixel in the low nibble.
    indices = [((x // 4) + (y // 4)) % 4 * 5 % 16 for y in range(size) for x in range(size)]
    packed = bytes(indices[i] | indices[i + 1] << 4 for i in range(0, len(indices), 2))
    colours = [(i * 16, 255 - i * 16, 128) for i in range(16)]
    pal = record(0x24, 16, 1, b"".join(bytes(c) for c in colours))
    return record(0x40, size, size, packed), pal


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join("demo", "game")
    os.makedirs(folder, exist_ok=True)
    palette, logo = logo_and_palette()
    pics = shpi("GIMX", [("!pal", palette), ("logo", logo), ("spot", spot()), ("glow", glow()), ("grad", grad())])
    dot, dotpal = dots()
    icons = fb10(shpi("GIMX", [("dots", dot), ("!ots", dotpal)]))
    readme = b"Demo data for torvex: pictures in SHPI files inside a BIGF pack.\r\n"
    pack = bigf([("pics.fsh", pics), ("icons.qfs", icons), ("readme.txt", readme)])
    with open(os.path.join(folder, "pack.viv"), "wb") as f:
        f.write(pack)
    with open(os.path.join(folder, "pics.fsh"), "wb") as f:
        f.write(pics)
    print(f"wrote {os.path.join(folder, 'pack.viv')} ({len(pack)} bytes) and pics.fsh ({len(pics)} bytes)")


if __name__ == "__main__":
    main()
