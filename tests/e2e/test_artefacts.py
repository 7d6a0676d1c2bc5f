"""Checks of the built Windows files that need no Wine and no 32-bit kernel, so that a fault only a
32-bit run would show is caught on every machine: every PE file of a build is of that build's
machine, and each hook DLL exports the plain name its holder looks up.

i686 mingw decorates an exported stdcall function (`Name@12`), and GetProcAddress by the plain
name then fails; on a machine whose kernel refuses 32-bit programs nothing would ever run the
32-bit hook to notice.
"""

import os
import re
import unittest

import pefile

import harness

MACHINES = {"x86": (pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"], 0x10B),
            "x64": (pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"], 0x20B)}

# The program of each build that loads boxhook.dll and looks its hook up by name.
HOOK_HOLDERS = {"x86": "boxhook32.exe", "x64": "boxwatch.exe"}


def hook_export_name():
    """The name the holders pass to GetProcAddress, as tools/boxwatch/boxhook.h declares it."""
    with open(os.path.join(harness.ROOT, "tools", "boxwatch", "boxhook.h")) as f:
        match = re.search(r'kBoxWatchHookExport\[\]\s*=\s*"([^"]+)"', f.read())
    if not match:
        raise AssertionError("boxhook.h declares no kBoxWatchHookExport")
    return match.group(1)


def pe_files(folder):
    """Every .exe and .dll below a build folder, CMake's own scratch files left out."""
    found = []
    for top, dirs, files in os.walk(folder):
        dirs[:] = sorted(d for d in dirs if d != "CMakeFiles")
        found += [os.path.join(top, n) for n in sorted(files)
                  if n.lower().endswith((".exe", ".dll"))]
    return found


def exports(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXPORT"]])
    table = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    return [s.name.decode() for s in table.symbols if s.name] if table else []


class BuiltFiles(unittest.TestCase):

    def build_folder(self, name):
        folder = harness.BUILDS[name].folder
        if not os.path.isfile(os.path.join(folder, "updater.exe")):
            self.fail(f"the {name} build is missing ({folder}): build the {name} preset")
        return folder

    def test_every_file_of_a_build_is_of_its_machine(self):
        # The harness picks the Wine loader and the watcher's hook from this field, and the x86
        # rows mean the shipped 32-bit code ran only if every file they start is 32-bit.
        for name, (machine, magic) in MACHINES.items():
            folder = self.build_folder(name)
            files = pe_files(folder)
            for required in ("updater.exe", os.path.join("tools", "boxwatch", "boxhook.dll"),
                             os.path.join("tools", "boxwatch", HOOK_HOLDERS[name])):
                self.assertIn(os.path.join(folder, required), files)
            for path in files:
                with self.subTest(build=name, file=os.path.relpath(path, folder)):
                    pe = pefile.PE(path, fast_load=True)
                    self.assertEqual((pe.FILE_HEADER.Machine, pe.OPTIONAL_HEADER.Magic),
                                     (machine, magic))
                    self.assertEqual(harness.pe_bits(path), harness.BUILDS[name].bits)

    def test_each_hook_dll_exports_the_name_its_holder_looks_up(self):
        name = hook_export_name()
        for build in MACHINES:
            folder = os.path.join(self.build_folder(build), "tools", "boxwatch")
            with self.subTest(build=build):
                self.assertIn(name, exports(os.path.join(folder, "boxhook.dll")))
                # The holder's lookup name is the literal in its data, ended by a zero byte.
                with open(os.path.join(folder, HOOK_HOLDERS[build]), "rb") as f:
                    self.assertIn(name.encode() + b"\0", f.read())


if __name__ == "__main__":
    unittest.main()
