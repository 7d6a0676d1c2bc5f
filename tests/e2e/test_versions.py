"""Product versions as Windows Installer writes them, with three parts, end to end: real products
installed at "2.1.30" and "2.1.31", real patches that name their versions with three or four
parts, and the update executable under Wine. Under Wine the installer call returns 0 even for a
patch it rejects, so the tests check the effects: the product's version and registered patches."""

import glob
import os
import unittest

import fixtures
import harness
from catalogue import expected_box, shown
from updates import build_update, windows_runner, work_folder


class ThreePartVersions(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.env = harness.shared_env()
        cls.run_windows = staticmethod(windows_runner(cls.env))
        cls.folder = work_folder(cls.env, "versions")

    def setUp(self):
        for leftover in glob.glob(os.path.join(self.env.temp_dir, "MSP*")):
            os.remove(leftover)

    def product(self, name, version):
        code, upgrade_code = fixtures.new_guid(), fixtures.new_guid()
        msi = fixtures.build_product_msi(self.folder, code, name, 1033, version,
                                         upgrade_code=upgrade_code)
        fixtures.install_product(self.run_windows, msi)
        self.assertEqual(self.state(code)["version"], version)
        return {"name": name, "code": code, "upgrade_code": upgrade_code, "version": version}

    def update(self, product, versions, patched):
        """An update carrying a patch for product with property 5 = versions; when patched, its
        transform takes the product from its version to the upgrade version."""
        transforms = []
        if patched:
            transforms = [("T1", product["version"], versions.split(";")[0], product["code"],
                           product["upgrade_code"])]
        patch = fixtures.make_patch(self.run_windows,
                                    os.path.join(self.folder, fixtures.new_guid() + ".msp"),
                                    targets=product["code"], versions=versions,
                                    patch_code=fixtures.new_guid(), transforms=transforms,
                                    transform_list=":T1" if patched else None)
        return build_update(os.path.join(self.folder, fixtures.new_guid() + ".exe"), str(patch))

    def run_update(self, exe):
        result = self.env.run(exe, [])
        self.assertEqual(result.exit_code, 0, result)
        return shown(result.boxes)

    def state(self, code):
        return fixtures.query_product(self.run_windows, code)

    def log_exists(self, product):
        return os.path.exists(os.path.join(self.env.temp_dir, f"{product['name']} SP1.log"))

    def test_three_part_target_then_up_to_date(self):
        product = self.product("Three Part Suite", "2.1.30")
        exe = self.update(product, "2.1.31;2.1.30", patched=True)
        self.assertEqual(self.run_update(exe), [expected_box(1033, 301, product["name"])])
        after = self.state(product["code"])
        self.assertEqual(after["version"], "2.1.31")
        self.assertEqual(len(after["patches"]), 1)
        self.assertTrue(self.log_exists(product))
        # The same update again: the product is now at the upgrade version.
        self.assertEqual(self.run_update(exe), [expected_box(1033, 306, product["name"])])
        self.assertEqual(self.state(product["code"])["patches"], after["patches"])

    def test_four_part_target_of_a_three_part_product(self):
        product = self.product("Three Part Suite Four", "2.1.30")
        exe = self.update(product, "2.1.31;2.1.30.0", patched=True)
        self.assertEqual(self.run_update(exe), [expected_box(1033, 301, product["name"])])
        after = self.state(product["code"])
        self.assertEqual(after["version"], "2.1.31")
        self.assertEqual(len(after["patches"]), 1)

    def test_product_installed_at_the_upgrade_version(self):
        product = self.product("Three Part Suite Current", "2.1.31")
        exe = self.update(product, "2.1.31;2.1.30", patched=False)
        self.assertEqual(self.run_update(exe), [expected_box(1033, 306, product["name"])])
        self.assertEqual(self.state(product["code"])["patches"], [])
        self.assertFalse(self.log_exists(product))

    def test_neighbouring_three_part_version_is_not_covered(self):
        # 2.1.3 and 2.1.30 differ only in their third part.
        product = self.product("Three Part Suite Older", "2.1.3")
        exe = self.update(product, "2.1.31;2.1.30", patched=False)
        self.assertEqual(self.run_update(exe), [expected_box(1033, 308, product["name"])])
        self.assertEqual(self.state(product["code"])["patches"], [])


if __name__ == "__main__":
    unittest.main()
