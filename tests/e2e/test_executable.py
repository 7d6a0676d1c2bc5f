"""The shipped executable as a file: a PE32 GUI program with the manifest, the icon group, the
fourteen string tables and, once packaged, its payloads byte for byte."""

import os
import struct
import subprocess
import tempfile
import unittest

import pefile

from catalogue import check_strings
from updates import read_bytes

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RT_ICON, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 6, 14, 16, 24
LANGUAGES = [1028, 1029, 1031, 1033, 1036, 1038, 1040, 1041, 1042, 1045, 1046, 1049, 2052, 3082]
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "msvcrt.dll", "advapi32.dll"}


def build_dir(arch):
    path = os.environ.get("UPDATER_BUILD_" + arch.upper(), os.path.join(ROOT, "build", arch))
    if not os.path.isfile(os.path.join(path, "updater.exe")):
        raise AssertionError(f"no {arch} build at {path}: run scripts/test or cmake --build")
    return path


def resources(pe):
    """{type: {name or id: {language: bytes}}}"""
    found = {}
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        type_key = str(rtype.name) if rtype.name is not None else rtype.id
        for entry in rtype.directory.entries:
            name_key = str(entry.name) if entry.name is not None else entry.id
            for lang in entry.directory.entries:
                data = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                found.setdefault(type_key, {}).setdefault(name_key, {})[lang.id] = data
    return found


def string_block_texts(block_id, data):
    texts = {}
    pos = 0
    for index in range(16):
        (length,) = struct.unpack_from("<H", data, pos)
        pos += 2
        if length:
            texts[(block_id - 1) * 16 + index] = data[pos:pos + 2 * length].decode("utf-16-le")
        pos += 2 * length
    return texts


class ShippedExecutable(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.path = os.path.join(build_dir("x86"), "updater.exe")
        cls.pe = pefile.PE(cls.path)
        cls.res = resources(cls.pe)

    def test_pe32_gui_program(self):
        self.assertEqual(self.pe.FILE_HEADER.Machine, 0x14C)  # i386
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, 0x10B)  # PE32
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, 2)  # Windows GUI
        characteristics = self.pe.OPTIONAL_HEADER.DllCharacteristics
        self.assertTrue(characteristics & 0x0040, "ASLR")
        self.assertTrue(characteristics & 0x0100, "DEP")
        # Windows Vista, the oldest the README names: the loader of an older one refuses it.
        header = self.pe.OPTIONAL_HEADER
        self.assertEqual((header.MajorSubsystemVersion, header.MinorSubsystemVersion), (6, 0))
        self.assertEqual(
            (header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion), (6, 0))

    def test_needs_only_system_libraries_and_loads_msi_itself(self):
        imports = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertTrue(imports <= SYSTEM_DLLS, imports)
        self.assertNotIn("msi.dll", imports)
        strings = read_bytes(self.path)
        self.assertIn("msi.dll".encode("utf-16-le"), strings)

    def test_manifest_requests_administrator_and_nothing_else(self):
        manifest = self.res[RT_MANIFEST][1][1033].decode("utf-8")
        self.assertIn('manifestVersion="1.0"', manifest)
        self.assertIn('level="requireAdministrator"', manifest)
        self.assertIn('uiAccess="false"', manifest)
        for absent in ("dependency", "compatibility"):
            self.assertNotIn(absent, manifest)
        self.assertNotIn(RT_VERSION, self.res)

    def test_icon_group_of_sixteen_images(self):
        # 64, 48, 32, 24, 16 px in 16 and in 256 colours, then 256, 64, 48, 32, 24, 16 px in
        # 32-bit colour: icon resources 1 to 16, each of the size its group entry gives.
        group = self.res[RT_GROUP_ICON][319][1033]
        reserved, kind, count = struct.unpack_from("<HHH", group)
        self.assertEqual((reserved, kind, count), (0, 1, 16))
        with open(os.path.join(ROOT, "resources", "updater.ico"), "rb") as f:
            icon_file = f.read()
        images = []
        for i in range(count):
            width, height, colours, _, planes, bits, size, icon_id = struct.unpack_from(
                "<BBBBHHIH", group, 6 + 14 * i)
            images.append((width or 256, height or 256, bits, colours))
            self.assertEqual(icon_id, i + 1)
            self.assertEqual(len(self.res[RT_ICON][icon_id][1033]), size)
            length, offset = struct.unpack_from("<II", icon_file, 6 + 16 * i + 8)
            self.assertEqual(self.res[RT_ICON][icon_id][1033], icon_file[offset:offset + length])
        expected = ([(s, s, 4, 16) for s in (64, 48, 32, 24, 16)]
                    + [(s, s, 8, 0) for s in (64, 48, 32, 24, 16)]
                    + [(s, s, 32, 0) for s in (256, 64, 48, 32, 24, 16)])
        self.assertEqual(images, expected)
        self.assertEqual(sorted(self.res[RT_ICON]), list(range(1, 17)))

    def test_string_tables_keep_their_invariants(self):
        self.assertEqual(sorted(self.res[RT_STRING]), [19, 20, 21])
        problems = []
        for block in (19, 20, 21):
            self.assertEqual(sorted(self.res[RT_STRING][block]), LANGUAGES)
        for language in LANGUAGES:
            texts = {}
            for block in (19, 20, 21):
                texts.update(string_block_texts(block, self.res[RT_STRING][block][language]))
            problems += check_strings.check_table(language, texts)
            self.assertNotIn("\r", "".join(texts.values()))
            self.assertEqual([texts[i] for i in (316, 317, 318)], ["_glob", "_lp", "_ps"])
        self.assertEqual(problems, [])

    def test_carries_no_payload_before_packaging(self):
        self.assertNotIn("MSP", self.res)


class PackagedUpdate(unittest.TestCase):
    def test_payloads_are_carried_byte_for_byte(self):
        build_dir("x86")
        with tempfile.TemporaryDirectory() as work:
            payloads = {}
            for name, option, size in (("IDR_MSP", "--global", 3_000_001),
                                       ("IDR_MSP_PS", "--product-specific", 1234)):
                path = os.path.join(work, name + ".msp")
                with open(path, "wb") as f:
                    f.write(os.urandom(size))
                payloads[name] = (option, path)
            output = os.path.join(work, "update.exe")
            args = [os.path.join(ROOT, "scripts", "build-update"), "--no-validate", "--output",
                    "update.exe"]
            for option, path in payloads.values():
                args += [option, os.path.basename(path)]
            subprocess.run(args, cwd=work, check=True, capture_output=True)
            res = resources(pefile.PE(output))
            self.assertEqual(sorted(res["MSP"]), ["IDR_MSP", "IDR_MSP_PS"])
            self.assertEqual(list(res["MSP"]["IDR_MSP"]), [1033])
            self.assertEqual(list(res["MSP"]["IDR_MSP_PS"]), [0])
            for name, (_, path) in payloads.items():
                data = next(iter(res["MSP"][name].values()))
                self.assertEqual(data, read_bytes(path), name)

    def test_packaging_again_compiles_nothing_and_takes_a_100_mb_payload(self):
        build = build_dir("x86")
        compiled = [os.path.join(folder, name) for folder, _, names in os.walk(build)
                    for name in names if name.endswith((".obj", ".res", ".a"))]
        before = {path: os.stat(path).st_mtime_ns for path in compiled}
        with tempfile.TemporaryDirectory() as work:
            payload = os.path.join(work, "big.msp")
            block = os.urandom(1 << 20)
            with open(payload, "wb") as f:
                for _ in range(100):
                    f.write(block)
            output = os.path.join(work, "update.exe")
            subprocess.run([os.path.join(ROOT, "scripts", "build-update"), "--no-validate",
                            "--global", payload, "--output", output], check=True,
                           capture_output=True)
            data = next(iter(resources(pefile.PE(output))["MSP"]["IDR_MSP"].values()))
            self.assertEqual(len(data), 100 << 20)
            self.assertEqual(data, read_bytes(payload))
        self.assertEqual({path: os.stat(path).st_mtime_ns for path in compiled}, before)

    def test_missing_or_empty_payload_is_refused_without_output(self):
        with tempfile.TemporaryDirectory() as work:
            empty = os.path.join(work, "empty.msp")
            open(empty, "wb").close()
            output = os.path.join(work, "update.exe")
            for args in (["--global", os.path.join(work, "missing.msp")],
                         ["--global", empty],
                         ["--language-pack", work],
                         []):
                result = subprocess.run(
                    [os.path.join(ROOT, "scripts", "build-update"), "--output", output] + args,
                    capture_output=True, text=True)
                self.assertNotEqual(result.returncode, 0, args)
                self.assertIn("build-update:", result.stderr)
                self.assertFalse(os.path.exists(output), args)


if __name__ == "__main__":
    unittest.main()
