"""The default mode end to end: real products installed by msiexec, real patches that change the
product's version, the update executable under Wine, and every box it shows. Under Wine the
installer call returns 0 even for a patch it rejects, so the tests check the effects: the
product's version, the registered patch, the log file."""

import glob
import os
import unittest

import fixtures
import harness
from catalogue import expected_box, shown
from updates import ProductCase, build_update


@harness.each_build
class ApplyTest(ProductCase):
    FOLDER = "apply"

    def update(self, global_patch=None, language_pack=None, product_specific=None):
        path = os.path.join(self.folder, fixtures.new_guid() + ".exe")
        return build_update(path, global_patch, language_pack, product_specific,
                            build=self.build)

    def run_update(self, exe, *args):
        result = self.env.run(exe, list(args))
        self.assertEqual(result.exit_code, 0, result)
        self.assertEqual(glob.glob(os.path.join(self.env.temp_dir, "MSP*")), [],
                         "a payload copy was left behind")
        return result

    def log_path(self, product):
        return os.path.join(self.env.temp_dir, f"{product.name} SP1.log")

    def test_patches_a_product_at_a_target_version(self):
        product = self.install("Sample Suite Alpha", "2.1.0.0")
        exe = self.update(
            self.make_patch([product], "2.1.30.0;2.0.10.0,2.1.0.0", patched=[product]))
        result = self.run_update(exe)
        self.assertEqual(shown(result.boxes), [expected_box(1033, 301, product.name)])
        after = self.state(product)
        self.assertEqual(after["version"], "2.1.30.0")
        self.assertEqual(len(after["patches"]), 1)
        with open(self.log_path(product), encoding="utf-8", errors="replace") as log:
            text = log.read()
        self.assertIn("=== Logging started", text)
        self.assertIn("PATCH", text)

    def test_quiet_run_has_the_same_effects_and_no_box(self):
        product = self.install("Sample Suite Quiet", "1.0.0.0")
        exe = self.update(self.make_patch([product], "2.0.0.0;1.0.0.0", patched=[product]))
        result = self.run_update(exe, "/q")
        self.assertEqual(result.boxes, [])
        self.assertEqual(self.state(product)["version"], "2.0.0.0")
        self.assertTrue(os.path.exists(self.log_path(product)))

    def test_product_already_at_the_upgrade_version(self):
        product = self.install("Sample Suite Current", "2.0.0.0")
        exe = self.update(self.make_patch([product], "2.0.0.0;1.0.0.0"))
        result = self.run_update(exe)
        self.assertEqual(shown(result.boxes), [expected_box(1033, 306, product.name)])
        self.assertEqual(self.state(product)["patches"], [])
        self.assertFalse(os.path.exists(self.log_path(product)))

    def test_no_target_installed(self):
        exe = self.update(self.make_patch([fixtures.new_guid(), fixtures.new_guid()], "2.0;1.0"))
        result = self.run_update(exe)
        self.assertEqual(shown(result.boxes), [expected_box(1033, 307)])

    def test_version_not_covered(self):
        product = self.install("Sample Suite Old", "0.9.0.0")
        exe = self.update(self.make_patch([product], "2.0.0.0;1.0.0.0", patched=[product]))
        result = self.run_update(exe)
        self.assertEqual(shown(result.boxes), [expected_box(1033, 308, product.name)])
        self.assertEqual(self.state(product)["version"], "0.9.0.0")

    def test_one_up_to_date_and_one_patched(self):
        current = self.install("Sample Suite Two A", "2.0.0.0")
        old = self.install("Sample Suite Two B", "1.0.0.0")
        exe = self.update(self.make_patch([current, old], "2.0.0.0;1.0.0.0", patched=[old]))
        result = self.run_update(exe)
        self.assertEqual(shown(result.boxes), [expected_box(1033, 301, old.name)])
        self.assertEqual(self.state(old)["version"], "2.0.0.0")
        self.assertEqual(self.state(current)["patches"], [])

    def test_three_payloads_in_their_order(self):
        current = self.install("Sample Suite Global", "2.0.0.0")
        language_pack = self.install("Sample Suite Language Pack", "1.0.0.0")
        specific = self.install("Sample Suite Specific", "2.0.0.0")
        exe = self.update(self.make_patch([current], "2.0.0.0;1.0.0.0"),
                          self.make_patch([language_pack], "2.0.0.0;1.0.0.0",
                                          patched=[language_pack]),
                          self.make_patch([specific], "2.0.0.0;1.0.0.0"))
        result = self.run_update(exe)
        # Global unnecessary, language pack applied, product specific unnecessary: success, named
        # after the global payload's product.
        self.assertEqual(shown(result.boxes), [expected_box(1033, 301, current.name)])
        self.assertEqual(self.state(language_pack)["version"], "2.0.0.0")

    def test_a_failed_payload_stops_the_sequence(self):
        patched = self.install("Sample Suite Stop A", "1.0.0.0")
        old = self.install("Sample Suite Stop B", "0.5.0.0")
        never = self.install("Sample Suite Stop C", "1.0.0.0")
        exe = self.update(self.make_patch([patched], "2.0.0.0;1.0.0.0", patched=[patched]),
                          self.make_patch([old], "2.0.0.0;1.0.0.0"),
                          self.make_patch([never], "2.0.0.0;1.0.0.0", patched=[never]))
        result = self.run_update(exe)
        # The language pack's 308 names the global run's product, and no closing message follows.
        self.assertEqual(shown(result.boxes), [expected_box(1033, 308, patched.name)])
        self.assertEqual(self.state(patched)["version"], "2.0.0.0")
        self.assertEqual(self.state(never)["version"], "1.0.0.0")

    def test_boxes_come_in_the_products_language(self):
        german = self.install("Beispielprogramm Übersicht", "1.0.0.0", language=1031)
        exe = self.update(self.make_patch([german], "2.0.0.0;1.0.0.0", patched=[german]))
        self.assertEqual(shown(self.run_update(exe).boxes),
                         [expected_box(1031, 301, german.name)])

        japanese = self.install("サンプル スイート", "0.9.0.0", language=1041)
        exe = self.update(self.make_patch([japanese], "2.0.0.0;1.0.0.0"))
        self.assertEqual(shown(self.run_update(exe).boxes),
                         [expected_box(1041, 308, japanese.name)])


if __name__ == "__main__":
    unittest.main()
