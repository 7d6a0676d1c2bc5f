"""What scripts/build-update refuses to carry and what it warns of, end to end: real products built
by wixl, real patches written by make_patch, the update run under Wine. A refusal names the file
and the reason, exits non-zero and leaves nothing at --output."""

import glob
import hashlib
import os
import subprocess
import unittest

import fixtures
from catalogue import expected_box, shown
from updates import BUILD_UPDATE, WineCase, random_file, read_bytes

PATCH_CLASS = "{000C1086-0000-0000-C000-000000000046}"
TRANSFORM_CLASS = "{000C1082-0000-0000-C000-000000000046}"
VERSIONS_HINT = '--versions "UPGRADE;TARGET1,TARGET2"'


def package(output, payload, *extra, arch="x64"):
    """scripts/build-update with the payload as the global patch: (exit status, stderr)."""
    result = subprocess.run([BUILD_UPDATE, "--arch", arch, "--global", payload, *extra,
                             "--output", output], capture_output=True, text=True)
    return result.returncode, result.stderr


class Validation(WineCase):
    FOLDER = "validation"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.code = fixtures.new_guid()

    def patch(self, name, **options):
        path = os.path.join(self.folder, name + ".msp")
        options.setdefault("targets", self.code)
        options.setdefault("versions", "2.0.0.0;1.0.0.0")
        return str(fixtures.make_patch(self.run_windows, path, **options))

    def assertRefused(self, payload, *reasons, extra=(), arch="x64"):
        output = os.path.join(self.folder, fixtures.new_guid() + ".exe")
        status, errors = package(output, payload, *extra, arch=arch)
        self.assertNotEqual(status, 0, errors)
        self.assertIn(f"--global {payload}: ", errors)
        for reason in reasons:
            self.assertIn(reason, errors)
        self.assertFalse(os.path.exists(output), "a refused update was written")
        self.assertEqual(glob.glob(output + "*"), [], "something was left beside --output")
        return errors

    def test_refuses_files_that_are_no_patch(self):
        msi = fixtures.build_product_msi(self.folder, fixtures.new_guid(), "Validation Product",
                                         1033, "1.0.0.0")
        cases = [
            ("random bytes", random_file(self.folder, "random.msp", 10_000),
             ["not a patch package", "not a compound file"]),
            ("an installer database built by wixl", str(msi),
             ["installer database (.msi", PATCH_CLASS]),
            ("a transform", self.patch("transform", root_class=TRANSFORM_CLASS),
             ["a transform (.mst", TRANSFORM_CLASS]),
        ]
        for what, payload, reasons in cases:
            with self.subTest(what):
                self.assertRefused(payload, *reasons)

    def test_refuses_patches_whose_properties_the_updater_cannot_use(self):
        lower = self.code.lower()
        cases = [
            ("property 7 missing", {"no_prop7": True}, ["summary property 7", "is missing"]),
            ("property 7 empty", {"targets": ""}, ["summary property 7", "is empty"]),
            ("lower-case product code", {"targets": lower},
             [f'entry 1 "{lower}"', "upper case"]),
            ("code without braces", {"targets": self.code + ";" + self.code.strip("{}")},
             ["entry 2"]),
            ("property 5 missing", {"no_prop5": True}, ["summary property 5", VERSIONS_HINT]),
            ("property 5 without a semicolon", {"versions": "2.0.0.0"},
             ['summary property 5 "2.0.0.0" has no ";"', VERSIONS_HINT]),
            ("property 5 of another tool", {"versions": "PatchSourceList"},
             ['"PatchSourceList" has no ";"', VERSIONS_HINT]),
            ("property 5 beginning with a semicolon", {"versions": ";1.0.0.0"},
             ['";1.0.0.0" begins with ";"']),
        ]
        for what, options, reasons in cases:
            with self.subTest(what):
                self.assertRefused(self.patch(what.replace(" ", "-"), **options), *reasons)

    def test_refuses_payloads_an_x86_process_cannot_map(self):
        # A sparse file: its size counts, its contents are never read.
        big = os.path.join(self.folder, "big.msp")
        with open(big, "wb") as f:
            f.truncate(1024 ** 3 + 1)
        output = os.path.join(self.folder, "big.exe")
        status, errors = package(output, big, arch="x86")
        self.assertNotEqual(status, 0, errors)
        self.assertIn("the payloads total 1073741825 bytes, more than the 1073741824 bytes an x86 "
                      "update can carry", errors)
        self.assertNotIn("not a patch", errors)  # refused before its contents were read
        self.assertFalse(os.path.exists(output))

    def test_packages_a_valid_patch_without_a_warning_and_any_file_unchecked(self):
        valid = self.patch("valid")
        output = os.path.join(self.folder, "valid.exe")
        status, errors = package(output, valid, arch="x86")
        self.assertEqual(status, 0, errors)
        self.assertNotIn("warning", errors)
        self.assertTrue(os.path.isfile(output))

        noise = random_file(self.folder, "noise.msp", 12_345)
        output = os.path.join(self.folder, "noise.exe")
        status, errors = package(output, noise, "--no-validate")
        self.assertEqual(status, 0, errors)
        extracted = os.path.join(self.folder, "noise-extracted.msp")
        result = self.env.run(output, ["/e", self.env.to_windows_path(extracted)])
        self.assertEqual(result.exit_code, 0, result)
        self.assertEqual(read_bytes(extracted), read_bytes(noise))

    def test_warns_of_versions_the_updater_reads_otherwise(self):
        output = os.path.join(self.folder, "warned.exe")
        status, errors = package(output, self.patch("five-parts", versions="2.0.0.0.7;1.0.0.0"))
        self.assertEqual(status, 0, errors)
        self.assertIn('warning: summary property 5: the upgrade version "2.0.0.0.7" is read as '
                      '2.0.0.0', errors)
        self.assertTrue(os.path.isfile(output))


class Versions(WineCase):
    """--versions on a patch whose property 5 holds another tool's keywords."""

    FOLDER = "versions"

    def test_the_edited_copy_applies_and_the_patch_file_is_unchanged(self):
        code, upgrade = fixtures.new_guid(), fixtures.new_guid()
        name = "Versions Product"
        msi = fixtures.build_product_msi(self.folder, code, name, 1033, "1.0.0.0",
                                         upgrade_code=upgrade)
        fixtures.install_product(self.run_windows, msi)
        patch = str(fixtures.make_patch(
            self.run_windows, os.path.join(self.folder, "other-tool.msp"), targets=code,
            patch_code=fixtures.new_guid(), transform=("1.0.0.0", "2.0.0.0", code, upgrade),
            props={5: "PatchSourceList"}))
        before = hashlib.sha256(read_bytes(patch)).hexdigest()
        summary = fixtures.read_summary_stream(
            fixtures.read_compound_file(patch)[(fixtures.SUMMARY_STREAM,)])
        self.assertEqual(summary[5], (fixtures.VT_LPSTR, b"PatchSourceList"))
        self.assertEqual(summary[1], (fixtures.VT_I2, 1252))

        # Without --versions the patch is refused, and the message says what to give.
        refused = os.path.join(self.folder, "refused.exe")
        status, errors = package(refused, patch)
        self.assertNotEqual(status, 0)
        self.assertIn(VERSIONS_HINT, errors)
        self.assertFalse(os.path.exists(refused))

        exe = os.path.join(self.folder, "update.exe")
        status, errors = package(exe, patch, "--versions", "2.0.0.0;1.0.0.0")
        self.assertEqual(status, 0, errors)
        self.assertNotIn("warning", errors)
        self.assertEqual(hashlib.sha256(read_bytes(patch)).hexdigest(), before)

        # The carried copy: property 5 set, everything else as in the patch.
        extracted = os.path.join(self.folder, "carried.msp")
        self.assertEqual(self.env.run(exe, ["/e", self.env.to_windows_path(extracted)]).exit_code,
                         0)
        original = fixtures.read_compound_file(patch)
        carried = fixtures.read_compound_file(extracted)
        self.assertEqual(sorted(carried, key=repr), sorted(original, key=repr))
        for path, value in original.items():
            if path != (fixtures.SUMMARY_STREAM,):
                self.assertEqual(carried[path], value, path)
        carried_summary = fixtures.read_summary_stream(carried[(fixtures.SUMMARY_STREAM,)])
        self.assertEqual(carried_summary[5], (fixtures.VT_LPSTR, b"2.0.0.0;1.0.0.0"))
        self.assertEqual({k: v for k, v in carried_summary.items() if k != 5},
                         {k: v for k, v in summary.items() if k != 5})
        # msi.dll reads it as the updater will.
        rc, properties = fixtures.read_summary(self.run_windows, extracted)
        self.assertEqual(rc, 0)
        self.assertEqual(properties[5][1], "2.0.0.0;1.0.0.0")
        self.assertEqual(properties[7][1], code)

        for leftover in glob.glob(os.path.join(self.env.temp_dir, "MSP*")):
            os.remove(leftover)
        result = self.env.run(exe, [])
        self.assertEqual(result.exit_code, 0, result)
        self.assertEqual(shown(result.boxes), [expected_box(1033, 301, name)])
        after = fixtures.query_product(self.run_windows, code)
        self.assertEqual(after["version"], "2.0.0.0")
        self.assertEqual(len(after["patches"]), 1)


if __name__ == "__main__":
    unittest.main()
