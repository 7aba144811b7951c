#!/usr/bin/python3
"""The resources of quorvanta.exe read back with pefile, a PE reader that
shares nothing with windres or with our record tool: the record (RCDATA
2000), the loader jar (RCDATA 1000) and the two dialog templates, decoded
from the DLGTEMPLATEEX layout. Then the Linux quorvanta-record writes a
record into a copy of the .exe, and pefile finds the new values in the
resource and every other byte of the file as it was.

Usage: resources_test.py QUORVANTA.EXE LOADER.JAR LINUX-QUORVANTA-RECORD
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

import pefile

EXE, JAR, RECORD_TOOL = sys.argv[1:4] if len(sys.argv) >= 4 else (None, None, None)

RT_DIALOG, RT_RCDATA = 5, 10
# Styles of the templates.
WS_VISIBLE, WS_CAPTION, WS_SYSMENU, WS_BORDER, WS_VSCROLL = 0x10000000, 0xC00000, 0x80000, 0x800000, 0x200000
DS_3DLOOK, DS_MODALFRAME, DS_CENTER = 0x4, 0x80, 0x800
BS_GROUPBOX = 0x7
ES_MULTILINE, ES_LOWERCASE, ES_AUTOHSCROLL, ES_READONLY = 0x4, 0x10, 0x80, 0x800
ATOMS = {0x80: "button", 0x81: "edit", 0x82: "static"}


def resources(path):
    """{(type, id): bytes} of the file's resources (first language of each)."""
    pe = pefile.PE(path)
    data = pe.get_memory_mapped_image()
    out = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for entry in kind.directory.entries:
            lang = entry.directory.entries[0].data.struct
            out[(kind.id, entry.id)] = data[lang.OffsetToData:lang.OffsetToData + lang.Size]
    pe.close()
    return out


class Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.pos)
        self.pos += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.pos
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.pos:end].decode("utf-16-le")
        self.pos = end + 2
        return value

    def name(self):  # a resource name or ordinal: 0, 0xFFFF + ordinal, or text
        first = struct.unpack_from("<H", self.data, self.pos)[0]
        if first == 0:
            self.pos += 2
            return None
        if first == 0xFFFF:
            self.pos += 4
            return struct.unpack_from("<H", self.data, self.pos - 2)[0]
        return self.text()

    def align(self):
        self.pos = (self.pos + 3) & ~3


def dialog(data):
    """The template's head and its controls, {id: (class, text, x, y, cx, cy, style)}."""
    r = Reader(data)
    version, signature, _help, _ex, style, count, x, y, cx, cy = r.take("HHIIIHhhhh")
    head = {"version": version, "signature": signature, "style": style, "rect": (x, y, cx, cy),
            "menu": r.name(), "class": r.name(), "title": r.text()}
    head["font"] = (r.take("HHBB")[0], r.text())  # point size, typeface
    controls = {}
    for _ in range(count):
        r.align()
        _help, _ex, style, x, y, cx, cy, ident = r.take("IIIhhhhI")
        cls = r.name()
        text = r.name()
        extra = r.take("H")
        r.pos += extra
        # A predefined class by its atom, or by its name (windres writes CONTROL "EDIT" so).
        cls = ATOMS[cls] if isinstance(cls, int) else cls.lower()
        controls[ident] = (cls, text, x, y, cx, cy, style)
    return head, controls


class Resources(unittest.TestCase):
    def setUp(self):
        self.res = resources(EXE)

    def test_record_of_a_fresh_launcher(self):
        record = self.res[(RT_RCDATA, 2000)]
        self.assertEqual(len(record), 1448)
        self.assertEqual(record[:14], b"KLOV_DATA_SIGN")
        self.assertEqual(record[14], 0)                           # defined
        self.assertEqual(record[15:25], bytes([1, 3, 2]) + bytes(7))  # runtimeOrder
        self.assertEqual(record[25:41].rstrip(b"\0"), b"1.3")     # minJavaVersion
        self.assertEqual(record[936:938], bytes([2, 0]))           # reserved1, reserved2
        self.assertEqual(record[1193:1448].rstrip(b"\0"), b"Quorvanta")  # appName

    def test_loader_jar_as_built(self):
        with open(JAR, "rb") as f:
            self.assertEqual(self.res[(RT_RCDATA, 1000)], f.read())

    def test_dialog_templates(self):
        frame = DS_MODALFRAME | DS_CENTER | DS_3DLOOK | WS_VISIBLE | WS_CAPTION | WS_SYSMENU
        message = {1: ("static", 250, 70, 0), 3: ("edit", 250, 80, ES_MULTILINE | ES_READONLY | WS_BORDER | WS_VSCROLL)}
        for ident, (cls, cx, cy, styles) in message.items():
            with self.subTest(dialog=ident):
                head, controls = dialog(self.res[(RT_DIALOG, ident)])
                self.assertEqual((head["version"], head["signature"]), (1, 0xFFFF))  # DLGTEMPLATEEX
                self.assertEqual(head["style"] & frame, frame)
                self.assertEqual(head["rect"], (0, 0, 280, 150))
                self.assertEqual((head["menu"], head["class"], head["title"]), (None, None, "Title"))
                self.assertEqual(head["font"], (8, "Helv"))
                self.assertEqual(sorted(controls), [2, 100, 104, 108, 109])
                self.assertEqual(controls[2][:6], ("button", "Close", 220, 130, 50, 15))
                self.assertEqual(controls[104][:6], ("button", "Message", 5, 5, 270, 120))
                self.assertEqual(controls[104][6] & 0xF, BS_GROUPBOX)
                self.assertEqual(controls[108][0], "edit")
                self.assertEqual(controls[108][2:6], (15, 106, 220, 12))
                edit = ES_READONLY | ES_AUTOHSCROLL | ES_LOWERCASE | WS_BORDER
                self.assertEqual(controls[108][6] & edit, edit)
                self.assertEqual(controls[109][:6],
                                 (cls, "Java not found. Use following link to download.", 15, 17, cx, cy))
                self.assertEqual(controls[109][6] & styles, styles)
                self.assertEqual(controls[100][:6], ("button", "Go!", 240, 106, 24, 12))

    def test_linux_record_tool_on_the_exe(self):
        with tempfile.TemporaryDirectory() as folder:
            copy = os.path.join(folder, "Hello.exe")
            shutil.copyfile(EXE, copy)
            subprocess.run([RECORD_TOOL, copy, "--defined", "1", "--runtime-order", "jview,java",
                            "--main-class", "hello.Main", "--class-path", r"lib\hello.jar;D:\shared",
                            "--app-name", "Hello"], check=True, stdout=subprocess.DEVNULL)
            record = resources(copy)[(RT_RCDATA, 2000)]
            self.assertEqual(record[:14], b"KLOV_DATA_SIGN")
            self.assertEqual(record[14], 1)
            self.assertEqual(record[15:25], bytes([3, 1]) + bytes(8))
            self.assertEqual(record[41:296], b"hello.Main".ljust(255, b"\0"))
            self.assertEqual(record[296:808], rb"lib\hello.jar;D:\shared".ljust(512, b"\0"))
            self.assertEqual(record[1193:1448], b"Hello".ljust(255, b"\0"))
            # Nothing but the record's 1434 bytes changed.
            with open(EXE, "rb") as a, open(copy, "rb") as b:
                before, after = a.read(), b.read()
            at = before.find(b"KLOV_DATA_SIGN")
            self.assertEqual(len(after), len(before))
            self.assertEqual(after[:at + 14], before[:at + 14])
            self.assertEqual(after[at + 1448:], before[at + 1448:])


if __name__ == "__main__":
    if EXE is None:
        sys.exit(__doc__)
    unittest.main(argv=sys.argv[:1])
