"""The elevated run stands on its own ground. The update runs with administrator rights, usually
from a downloads folder, and takes its working place from the user's environment; an attacker
with only the user's rights plants DLLs beside it, points TMP at hostile places and plants links
where it writes. Every attack here runs against the real update under Wine, beside a positive
control that shows the attack's mechanics work, so that a passing defence is not vacuous.

Measured under Wine 8: every process holds an elevated token (TokenElevation 1,
TokenElevationTypeFull), with or without the manifest, and the Windows folder is C:\\windows; so
these runs take the elevated path, whose private folder lives under C:\\windows\\temp.
"""

import os
import shutil
import unittest

import fixtures
import harness
from catalogue import expected_box, shown
from updates import build_update, windows_runner, work_folder

UPGRADE, INSTALLED = "2.0.0.0", "1.0.0.0"
VERSIONS = f"{UPGRADE};{INSTALLED}"
LOG_SUFFIX = " SP1.log"
PLANTED = ("uxtheme.dll", "dwmapi.dll")
# Native DLLs first for the planted names, so that Wine would load a plant at all, as Windows
# does for any DLL that is not a known one.
PLANT_OVERRIDES = "uxtheme,dwmapi=n,b;mscoree,mshtml="


class ElevationCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.env = harness.shared_env()
        cls.run_windows = staticmethod(windows_runner(cls.env))
        cls.folder = work_folder(cls.env, "elevation")

    def product(self, name, version=INSTALLED, language=1033):
        code, upgrade = fixtures.new_guid(), fixtures.new_guid()
        msi = fixtures.build_product_msi(self.folder, code, name, language, version,
                                         upgrade_code=upgrade)
        fixtures.install_product(self.run_windows, msi)
        return code, upgrade

    def patch_of(self, name, code, upgrade, targets=None):
        path = os.path.join(self.folder, fixtures.new_guid() + ".msp")
        return str(fixtures.make_patch(self.run_windows, path, targets=targets or code,
                                       versions=VERSIONS, patch_code=fixtures.new_guid(),
                                       transform=(INSTALLED, UPGRADE, code, upgrade)))

    def update(self, payload, folder=None):
        return build_update(os.path.join(folder or self.folder, fixtures.new_guid() + ".exe"),
                            payload)

    def state(self, code):
        return fixtures.query_product(self.run_windows, code)

    def assert_patched(self, code, patch_count=1):
        state = self.state(code)
        self.assertEqual(state["version"], UPGRADE)
        self.assertEqual(len(state["patches"]), patch_count, state["patches"])

    def assert_unpatched(self, code):
        state = self.state(code)
        self.assertEqual(state["version"], INSTALLED)
        self.assertEqual(state["patches"], [])


# ------------------------------------------------------------------------------ planted DLLs


class PlantedDlls(ElevationCase):
    def test_dlls_planted_beside_the_update_are_never_loaded(self):
        downloads = work_folder(self.env, "downloads")
        markers = work_folder(self.env, "markers")
        for name in PLANTED:
            stem = name.split(".")[0]
            shutil.copy(harness.artefact("tests", "drivers", f"planted_{stem}", name), downloads)
        extra = {"PLANTED_DLL_MARKERS": self.env.to_windows_path(markers),
                 "WINEDLLOVERRIDES": PLANT_OVERRIDES}

        def loaded():
            found = sorted(n[:-len(".loaded")] for n in os.listdir(markers))
            for name in os.listdir(markers):
                os.remove(os.path.join(markers, name))
            return found

        # The plants work: a program that loads them by name from the same folder runs them.
        control = shutil.copy(harness.artefact("tests", "drivers", "load_library.exe"), downloads)
        for name in PLANTED:
            with self.subTest(control=name):
                result = self.env.run(control, [name], extra_env=extra, cwd=downloads)
                self.assertEqual(result.stdout.strip(), "loaded")
                self.assertEqual(loaded(), [name])

        # Every mode that shows a box or patches, started from the downloads folder.
        full_code, full_upgrade = self.product("Plant Full Run")
        quiet_code, quiet_upgrade = self.product("Plant Quiet Run")
        full = self.update(self.patch_of("full", full_code, full_upgrade), downloads)
        quiet = self.update(self.patch_of("quiet", quiet_code, quiet_upgrade), downloads)
        extracted = self.env.to_windows_path(os.path.join(markers, "..", "plant-extract.msp"))
        cases = [
            # (what, update, arguments, boxes expected, product patched by it)
            ("full run", full, [], [expected_box(1033, 301, "Plant Full Run")], full_code),
            ("/q", quiet, ["/q"], [], quiet_code),
            ("/i", full, ["/i"], None, None),
            ("/e PATH /i", full, ["/e", extracted, "/i"], None, None),
        ]
        for what, exe, args, boxes, patched in cases:
            with self.subTest(mode=what):
                result = self.env.run(exe, args, extra_env=extra, cwd=downloads)
                self.assertEqual(result.exit_code, 0)
                self.assertEqual(loaded(), [], f"the update loaded a planted DLL ({what})")
                if boxes is None:  # the report: one box of its own
                    self.assertEqual(len(result.boxes), 1, result.boxes)
                else:
                    self.assertEqual(shown(result.boxes), boxes)
                if patched:
                    self.assert_patched(patched)


if __name__ == "__main__":
    unittest.main()
