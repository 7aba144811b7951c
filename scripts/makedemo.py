#!/usr/bin/env python3
"""Writes a small demo game folder: a BIGF pack holding SHPI picture files;
or, with --games, a sample game folder of each game version for the face
importer.

The bytes are laid out here from the formats' own tables, independently of
torvex, so the demo shows torvex reading files it did not write itself.

    scripts/makedemo.py [folder]                  (default: demo/game)
    scripts/makedemo.py --games [folder [version ...]]
                                                  (default: demo/games, all of 98 99 2000 2001)

pack.viv (BIGF) holds:
  pics.fsh    SHPI "GIMX": a shared "!pal" palette (6 bits per component),
              "logo" (8-bit indices, uses "!pal"), "spot" (8-bit indices with
              an attached 8-bit palette whose last entry, magenta, is the
              transparent colour), "glow" (32-bit with alpha), "grad" (16-bit
              5-6-5)
  icons.qfs   an SHPI "GIMX" file stored FB-compressed (10 FB literal runs):
              "dots" (4-bit indices) with its own palette "!ots"
  readme.txt  plain text

--games writes game98/, game99/, game2000/ and game2001/ into the folder, and
pictures/ with the pictures of a new face 5 (G0005.png, L0005.png; the small
photo is left for the importer to make). Each game folder holds:
  required/FACES.VIV ('98) or gamedata/FACES99.VIV, FACES00.VIV, FACES01.VIV
              (BIGF): FAC00001.FSH to FAC00003.FSH, SHPI "FACE" files; '98:
              image "face", 64x64 8-bit indices with an attached 256-entry
              24-bit palette; later versions: "FAC1" like it, and "FAC8",
              32x32 8-bit indices without a palette (the game has it built in)
  PHOTOS/BPHOTO.VIV and PHOTOS/SPHOTO.VIV (C0FB for '98, else BIGF): the
              large and small photos of faces 1 to 3, SHPI "GIMX" files of
              8-bit indices with attached 256-entry palettes, named
              L001.FSH/l001 and S001.FSH/s001 ('98) or 0001.fsh/0001
  Some members are stored FB-compressed (10 FB literal runs); in game99 the
  template FAC00001.FSH is one of them.
"""

import math
import os
import struct
import sys
import zlib


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


# ---- Sample game folders for the face importer ----------------------------------------

def c0fb(members):
    """A C0FB pack: C0 FB, header length - 4 and the member count (16-bit
    big-endian), then 24-bit big-endian offset and size and the
    zero-terminated name of each member."""
    header_len = 6 + sum(6 + len(name) + 1 for name, _ in members)
    header_len += -header_len % 4
    entries = b""
    data = b""
    for name, content in members:
        entries += (header_len + len(data)).to_bytes(3, "big") + len(content).to_bytes(3, "big")
        entries += name.encode() + b"\0"
        data += pad4(content)
    head = bytes([0xC0, 0xFB]) + struct.pack(">HH", header_len - 4, len(members)) + entries
    return head.ljust(header_len, b"\0") + data


def png(width, height, rgb):
    """An 8-bit RGB PNG: signature, IHDR, one IDAT of unfiltered rows, IEND."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    rows = b"".join(b"\0" + bytes(rgb[y * width * 3:(y + 1) * width * 3]) for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def face_part(width, height, x, y, shoulders):
    """What a head-and-shoulders drawing shows at (x, y): a part and a shade
    from 0 (lit) to 1 (dark)."""
    cx, cy = width / 2, height * (0.42 if shoulders else 0.5)
    rx, ry = width * (0.27 if shoulders else 0.36), height * (0.3 if shoulders else 0.42)
    dx, dy = (x + 0.5 - cx) / rx, (y + 0.5 - cy) / ry
    d = math.hypot(dx, dy)
    for side in (-1, 1):
        if math.hypot(dx - side * 0.38, (dy + 0.15) * 1.6) < 0.13:
            return "eye", 0.0
    if math.hypot(dx * 0.7, (dy - 0.5) * 2.5) < 0.3:
        return "mouth", min(1.0, abs(dx))
    if d < 1 and dy > -0.55:
        return "skin", min(1.0, d * 0.8 + max(0.0, dx) * 0.3)
    if d < 1.15 and dy <= 0.1:
        return "hair", min(1.0, abs(dx) * 0.8)
    if shoulders and y + 0.5 > cy + ry * 0.9:
        spread = (y + 0.5 - cy - ry * 0.9) * 1.6 + rx * 1.1
        if abs(x + 0.5 - cx) < spread:
            return "jersey", min(1.0, abs(x + 0.5 - cx) / spread)
    return "background", 0.0


def shade(colour, t):
    return tuple(int(c * (1 - 0.45 * t)) for c in colour)


# Colours of the drawings; the background is dark, as on the games' photos.
PART_COLOURS = {"background": (4, 4, 6), "eye": (30, 30, 70), "mouth": (150, 60, 60), "hair": (70, 45, 20)}
SKIN_TONES = [(225, 180, 140), (200, 150, 110), (170, 120, 85), (235, 195, 160)]
JERSEYS = [(200, 30, 30), (30, 60, 190), (240, 240, 240), (20, 140, 60)]


def face_rgb(width, height, face, shoulders):
    """A face as red, green, blue bytes."""
    colours = dict(PART_COLOURS, skin=SKIN_TONES[face % 4], jersey=JERSEYS[face % 4])
    out = bytearray()
    for y in range(height):
        for x in range(width):
            part, t = face_part(width, height, x, y, shoulders)
            out += bytes(shade(colours[part], t) if part in ("skin", "hair", "jersey") else colours[part])
    return bytes(out)


def face_palette(face):
    """A 256-entry palette: 0 the background, then 64-step ramps of skin,
    hair and jersey, the eye and mouth colours, and a grey ramp."""
    entries = [PART_COLOURS["background"]]
    for colour in (SKIN_TONES[face % 4], PART_COLOURS["hair"], JERSEYS[face % 4]):
        entries += [shade(colour, i / 63) for i in range(64)]
    entries += [PART_COLOURS["eye"], PART_COLOURS["mouth"]]
    entries += [(i * 4, i * 4, i * 4) for i in range(256 - len(entries))]
    return entries


def face_indices(width, height, shoulders, built_in=False):
    """A face as 8-bit indices into face_palette, or with built_in into the
    '99 game's own face palette (0 black, greys to 31, skin 32-63, reds
    96-127)."""
    out = bytearray()
    for y in range(height):
        for x in range(width):
            part, t = face_part(width, height, x, y, shoulders)
            step = int(t * 63)
            if built_in:
                out.append({"background": 0, "eye": 4, "mouth": 100, "hair": 6 + step // 8}.get(part, 63 - step // 2))
            else:
                out.append({"background": 0, "eye": 193, "mouth": 194, "skin": 1 + step, "hair": 65 + step,
                            "jersey": 129 + step}[part])
    return bytes(out)


def palette_record(entries):
    """A 24-bit palette record (type 0x24): red, green, blue per entry."""
    return record(0x24, len(entries), 1, b"".join(bytes(c) for c in entries))


def indexed_picture(width, height, face, shoulders):
    """An 8-bit picture (type 0x7B) with its palette attached behind the
    pixels."""
    pixels = pad4(face_indices(width, height, shoulders))
    return record(0x7B, width, height, pixels, 16 + len(pixels)) + palette_record(face_palette(face))


# Per version: face pack folder and name, photo pack layout, sizes of the game
# face, large and small photos, and the members stored compressed.
GAMES = {
    98: dict(folder="required", pack="FACES.VIV", photos=c0fb, face=(64, 64),
             large=(104, 148), small=(52, 74), compressed={"FAC00002.FSH", "L002.FSH"}),
    99: dict(folder="gamedata", pack="FACES99.VIV", photos=bigf, face=(64, 64),
             large=(72, 86), small=(36, 43), compressed={"FAC00001.FSH", "0003.fsh"}),
    2000: dict(folder="gamedata", pack="FACES00.VIV", photos=bigf, face=(64, 64),
               large=(80, 96), small=(40, 48), compressed={"FAC00003.FSH", "0002.fsh"}),
    2001: dict(folder="gamedata", pack="FACES01.VIV", photos=bigf, face=(64, 64),
               large=(80, 96), small=(40, 48), compressed={"FAC00002.FSH", "0001.fsh"}),
}


def photo_names(version, kind, n):
    """The SHPI file and image names of a photo ('L' large, 'S' small)."""
    if version != 98:
        return f"{n:04d}.fsh", f"{n:04d}"
    if n >= 1000:
        return f"{kind}{n:04d}.FSH", f"{n:04d}"
    return f"{kind}{n:03d}.FSH", f"{kind.lower()}{n:03d}"


def game_folder(folder, version, faces=(1, 2, 3)):
    game = GAMES[version]
    face_files, large_files, small_files = [], [], []
    for n in faces:
        w, h = game["face"]
        if version == 98:
            records = [("face", indexed_picture(w, h, n, False))]
        else:
            second = record(0x7B, w // 2, h // 2, face_indices(w // 2, h // 2, False, built_in=True))
            records = [("FAC1", indexed_picture(w, h, n, False)), ("FAC8", second)]
        face_files.append((f"FAC{n:05d}.FSH", shpi("FACE", records)))
        for kind, files in (("L", large_files), ("S", small_files)):
            name, image = photo_names(version, kind, n)
            w, h = game["large" if kind == "L" else "small"]
            files.append((name, shpi("GIMX", [(image, indexed_picture(w, h, n, True))])))

    def pack(members):
        return [(name, fb10(data) if name in game["compressed"] else data) for name, data in members]

    os.makedirs(os.path.join(folder, game["folder"]), exist_ok=True)
    os.makedirs(os.path.join(folder, "PHOTOS"), exist_ok=True)
    written = {os.path.join(game["folder"], game["pack"]): bigf(pack(face_files)),
               os.path.join("PHOTOS", "BPHOTO.VIV"): game["photos"](pack(large_files)),
               os.path.join("PHOTOS", "SPHOTO.VIV"): game["photos"](pack(small_files))}
    for name, data in written.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    return written


def face_pictures(folder, n=5):
    """The pictures of a new face: the game face and the large photo."""
    os.makedirs(folder, exist_ok=True)
    for name, (w, h), shoulders in ((f"G{n:04d}.png", (64, 64), False), (f"L{n:04d}.png", (160, 200), True)):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(png(w, h, face_rgb(w, h, n, shoulders)))


def games_main(args):
    folder = args[0] if args else os.path.join("demo", "games")
    versions = [int(v) for v in args[1:]] or sorted(GAMES)
    for version in versions:
        if version not in GAMES:
            sys.exit(f"unknown game version {version} (known: {' '.join(map(str, sorted(GAMES)))})")
        target = os.path.join(folder, f"game{version}")
        written = game_folder(target, version)
        print(f"wrote {target}: " + ", ".join(f"{name} ({len(data)} bytes)" for name, data in written.items()))
    face_pictures(os.path.join(folder, "pictures"))
    print(f"wrote {os.path.join(folder, 'pictures')}: G0005.png, L0005.png")


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--games":
        games_main(sys.argv[2:])
        return
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
