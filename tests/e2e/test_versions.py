"""Product versions as Windows Installer writes them, with three parts, end to end: real products
installed at "2.1.30" and "2.1.31", real patches that name their versions with three or four
parts, and the update executable under Wine. Under Wine the installer call returns 0 even for a
patch it rejects, so the tests check the effects: the product's version and registered patches."""

import os
import unittest

import fixtures
import harness
from catalogue import expected_box, shown
from updates import ProductCase, build_update


class ThreePartVersions(ProductCase):
    FOLDER = "versions"

    def product(self, name, version):
        product = self.install(name, version)
        self.assertEqual(self.state(product)["version"], version)
        return product

    def update(self, product, versions, patched):
        """An update carrying a patch for product with property 5 = versions; when patched, its
        transform takes the product from its version to the upgrade version."""
        patch = self.make_patch([product], versions, [product] if patched else ())
        return build_update(os.path.join(self.folder, fixtures.new_guid() + ".exe"), patch,
                            build=harness.first_build())

    def run_update(self, exe):
        result = self.env.run(exe, [])
        self.assertEqual(result.exit_code, 0, result)
        return shown(result.boxes)

    def log_exists(self, product):
        return os.path.exists(os.path.join(self.env.temp_dir, f"{product.name} SP1.log"))

    def test_three_part_target_then_up_to_date(self):
        product = self.product("Three Part Suite", "2.1.30")
        exe = self.update(product, "2.1.31;2.1.30", patched=True)
        self.assertEqual(self.run_update(exe), [expected_box(1033, 301, product.name)])
        after = self.state(product)
        self.assertEqual(after["version"], "2.1.31")
        self.assertEqual(len(after["patches"]), 1)
        self.assertTrue(self.log_exists(product))
        # The same update again: the product is now at the upgrade version.
        self.assertEqual(self.run_update(exe), [expected_box(1033, 306, product.name)])
        self.assertEqual(self.state(product)["patches"], after["patches"])

    def test_four_part_target_of_a_three_part_product(self):
        product = self.product("Three Part Suite Four", "2.1.30")
        exe = self.update(product, "2.1.31;2.1.30.0", patched=True)
        self.assertEqual(self.run_update(exe), [expected_box(1033, 301, product.name)])
        after = self.state(product)
        self.assertEqual(after["version"], "2.1.31")
        self.assertEqual(len(after["patches"]), 1)

    def test_product_installed_at_the_upgrade_version(self):
        product = self.product("Three Part Suite Current", "2.1.31")
        exe = self.update(product, "2.1.31;2.1.30", patched=False)
        self.assertEqual(self.run_update(exe), [expected_box(1033, 306, product.name)])
        self.assertEqual(self.state(product)["patches"], [])
        self.assertFalse(self.log_exists(product))

    def test_neighbouring_three_part_version_is_not_covered(self):
        # 2.1.3 and 2.1.30 differ only in their third part.
        product = self.product("Three Part Suite Older", "2.1.3")
        exe = self.update(product, "2.1.31;2.1.30", patched=False)
        self.assertEqual(self.run_update(exe), [expected_box(1033, 308, product.name)])
        self.assertEqual(self.state(product)["patches"], [])


if __name__ == "__main__":
    unittest.main()
