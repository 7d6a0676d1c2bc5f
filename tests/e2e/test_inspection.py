"""Patch summary reading and installed-product queries on Wine's msi.dll, through the
inspection driver that links the updater's own code."""

import json
import os
import unittest

import fixtures
import harness
from updates import WineCase, random_file


def codes(count):
    return [fixtures.new_guid() for _ in range(count)]


@harness.each_build
class Inspection(WineCase):
    FOLDER = "inspection"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.driver = cls.build.artefact("tests", "drivers", "inspection_driver.exe")

    def inspect(self, *args):
        result = self.env.wine([self.driver, *args])
        self.assertEqual(result.exit_code, 0, result)
        return json.loads(result.stdout)

    def summary(self, path):
        return self.inspect("summary", self.env.to_windows_path(path))

    def test_reads_codes_and_versions_of_real_patches(self):
        long_codes = ";".join(codes(62))  # 62 * 39 - 1 = 2,417 characters: more than the buffer
        cases = [
            (";".join(codes(2)), "2.1.30.04;2.0.10.0,2.1.0.0", "2.1.30.04", "2.0.10.0,2.1.0.0"),
            (long_codes, "3.0;1.0;2.0", "3.0", "1.0;2.0"),
            (codes(1)[0] + ";", "2.0;", "2.0", ""),
        ]
        for index, (targets, versions, upgrade, target_versions) in enumerate(cases):
            with self.subTest(index=index):
                path = fixtures.make_patch(self.run_windows,
                                           os.path.join(self.folder, f"patch{index}.msp"),
                                           targets=targets, versions=versions)
                result = self.summary(path)
                del result["codesError"], result["versionsError"]  # a success leaves no code
                self.assertEqual(result, {
                    "codesRead": True, "codes": targets, "versionsRead": True,
                    "upgradeVersion": upgrade, "targetVersions": target_versions})

    def test_version_property_without_a_usable_separator(self):
        for index, versions in enumerate(["2.0.0.0", ";1.0"]):
            with self.subTest(versions=versions):
                path = fixtures.make_patch(self.run_windows,
                                           os.path.join(self.folder, f"bad{index}.msp"),
                                           targets=codes(1)[0], versions=versions)
                result = self.summary(path)
                self.assertTrue(result["codesRead"])
                self.assertFalse(result["versionsRead"])
                self.assertEqual(result["versionsError"], 4316)
                self.assertEqual(result["upgradeVersion"], "<unchanged>")

    def test_absent_properties_read_as_empty_text(self):
        path = fixtures.make_patch(self.run_windows, os.path.join(self.folder, "absent.msp"),
                                   targets=codes(1)[0], no_prop7=True, no_prop5=True)
        result = self.summary(path)
        self.assertTrue(result["codesRead"])
        self.assertEqual(result["codes"], "")
        self.assertEqual((result["versionsRead"], result["versionsError"]), (False, 4316))

    def test_files_that_are_not_patches(self):
        random = random_file(self.folder, "random.msp", 4096)
        for path in (random, os.path.join(self.folder, "missing.msp")):
            with self.subTest(path=os.path.basename(path)):
                result = self.summary(path)
                self.assertFalse(result["codesRead"])
                self.assertFalse(result["versionsRead"])
                self.assertEqual(result["codes"], "<unchanged>")
                self.assertNotEqual(result["codesError"], 0)

    def test_installed_products(self):
        products = [("Sample Suite", 1033, "2.0.10.0"), ("Beispiel Büro", 1031, "1.2.3.4"),
                    ("サンプル スイート", 1041, "3.0.0.0")]
        for name, language, version in products:
            with self.subTest(name=name):
                code = fixtures.new_guid()
                msi = fixtures.build_product_msi(self.folder, code, name, language, version)
                fixtures.install_product(self.run_windows, msi)
                self.assertEqual(self.inspect("product", code), {
                    "installed": True, "productName": name, "language": str(language),
                    "version": version})

    def test_held_payload_copy_can_be_installed_but_not_changed(self):
        code, upgrade = fixtures.new_guid(), fixtures.new_guid()
        msi = fixtures.build_product_msi(self.folder, code, "Held Suite", 1033, "1.0.0.0",
                                         upgrade_code=upgrade)
        fixtures.install_product(self.run_windows, msi)
        patch = fixtures.make_patch(self.run_windows, os.path.join(self.folder, "held.msp"),
                                    targets=code, versions="2.0.0.0;1.0.0.0",
                                    transform=("1.0.0.0", "2.0.0.0", code, upgrade))
        copy = os.path.join(self.folder, "MSP-held")
        result = self.inspect("hold", self.env.to_windows_path(str(patch)),
                              self.env.to_windows_path(copy), code)
        sharing_violation = 32
        self.assertEqual(result, {
            "held": True, "writeError": sharing_violation, "deleteError": sharing_violation,
            "renameError": sharing_violation, "summaryRead": True, "codes": code,
            "configured": 0, "deleteAfter": 0})
        self.assertEqual(fixtures.query_product(self.run_windows, code)["version"], "2.0.0.0")
        self.assertFalse(os.path.exists(copy))

    def test_product_that_is_not_installed(self):
        self.assertEqual(self.inspect("product", fixtures.new_guid()), {
            "installed": False, "productName": "", "language": "", "version": ""})


if __name__ == "__main__":
    unittest.main()
