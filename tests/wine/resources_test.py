#!/usr/bin/env python3
"""Reads the Windows program's resources back from the built file with pefile: the version
block, the icon group, the manifest, the GUI subsystem and the absence of runtime DLLs.

usage: resources_test.py PELLATRIX_EXE
"""

import pathlib
import struct
import sys
import unittest

import pefile

EXE = pathlib.Path(sys.argv.pop(1)) if len(sys.argv) > 1 else None
ICON_FILE = pathlib.Path(__file__).resolve().parents[2] / "resources" / "pellatrix.ico"
RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24


def resources(pe, kind):
    """{resource id: data} of every resource of one type (first language of each)."""
    found = {}
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != kind:
            continue
        for item in entry.directory.entries:
            language = item.directory.entries[0]
            found[item.id] = pe.get_data(language.data.struct.OffsetToData,
                                         language.data.struct.Size)
    return found


class Resources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(str(EXE))

    def test_version_block(self):
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x00010005, 0))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00010005, 0))
        strings, translations = {}, []
        for info in self.pe.FileInfo[0]:
            if info.Key == b"StringFileInfo":
                for table in info.StringTable:
                    strings[table.LangID] = table.entries
            elif info.Key == b"VarFileInfo":
                for var in info.Var:
                    translations.append(var.entry[b"Translation"])
        self.assertEqual(list(strings), [b"041104B0"])
        self.assertEqual(strings[b"041104B0"], {
            b"FileVersion": b"1.05",
            b"ProductVersion": b"1.05",
            b"ProductName": b"Pellatrix",
            b"InternalName": b"Pellatrix",
            b"OriginalFilename": b"Pellatrix.exe",
        })
        self.assertEqual(translations, ["0x0411 0x04b0"])

    def test_one_icon_group_with_the_drawn_32x32_16_colour_image(self):
        groups = resources(self.pe, RT_GROUP_ICON)
        self.assertEqual(list(groups), [1])
        reserved, kind, count = struct.unpack_from("<HHH", groups[1])
        self.assertEqual((reserved, kind, count), (0, 1, 1))
        width, height, colours, _, planes, bits, size, icon_id = struct.unpack_from(
            "<BBBBHHIH", groups[1], 6)
        self.assertEqual((width, height, colours, planes, bits), (32, 32, 16, 1, 4))
        image = resources(self.pe, RT_ICON)[icon_id]
        self.assertEqual(len(image), size)
        self.assertEqual(image, ICON_FILE.read_bytes()[22:], "the image that make_icon.py drew")

    def test_manifest(self):
        manifest = resources(self.pe, RT_MANIFEST)[1].decode()
        for expected in ['level="asInvoker"', 'name="Microsoft.Windows.Common-Controls"',
                         'version="6.0.0.0"', "<longPathAware", ">true</longPathAware>",
                         "<dpiAware", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
                         "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"]:  # Windows 10 and 11
            self.assertIn(expected, manifest)

    def test_a_gui_program_that_needs_no_dll_beside_it(self):
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, 2)  # Windows GUI: no console
        imported = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertLessEqual(imported, {"kernel32.dll", "user32.dll", "shell32.dll", "ntdll.dll",
                                        "msvcrt.dll", "advapi32.dll"}, "only system DLLs")


if __name__ == "__main__":
    if EXE is None:
        sys.exit(__doc__)
    unittest.main(verbosity=2)
