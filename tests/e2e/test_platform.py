"""How the updater binds to the platform's installer service: msi.dll comes from the system folder
only, never from the folder the update was started from, and an installer service that cannot be
loaded is reported like any installer failure; the files the updater writes at names others can
reach (its logs, its lock) are only ever regular files of one name, reached without a link."""

import json
import os
import shutil
import unittest

import fixtures
import harness
from catalogue import expected_box, shown
from updates import WineCase, build_update, work_folder


@harness.each_build
class InstallerLibrary(WineCase):
    FOLDER = "platform"

    def product_and_update(self, name, folder):
        code, upgrade = fixtures.new_guid(), fixtures.new_guid()
        msi = fixtures.build_product_msi(self.folder, code, name, 1033, "1.0.0.0",
                                         upgrade_code=upgrade)
        fixtures.install_product(self.run_windows, msi)
        patch = fixtures.make_patch(self.run_windows, os.path.join(self.folder, name + ".msp"),
                                    targets=code, versions="2.0.0.0;1.0.0.0",
                                    transform=("1.0.0.0", "2.0.0.0", code, upgrade))
        return code, build_update(os.path.join(folder, "update.exe"), str(patch),
                                  build=self.build)

    def test_a_planted_msi_dll_beside_the_update_is_never_loaded(self):
        downloads = work_folder(self.env, "downloads")
        code, exe = self.product_and_update("Planted Suite", downloads)
        shutil.copy(self.build.artefact("tests", "drivers", "planted", "msi.dll"), downloads)
        marker = os.path.join(self.folder, "planted-loaded")
        # Native DLLs first, as a machine where the search order would honour the plant.
        extra = {"PLANTED_MSI_MARKER": self.env.to_windows_path(marker),
                 "WINEDLLOVERRIDES": "msi=n,b;mscoree,mshtml="}

        # The plant works: a program that loads msi.dll the ordinary way picks it up.
        control = shutil.copy(self.build.artefact("tests", "drivers", "load_library.exe"), downloads)
        self.assertEqual(self.env.run(control, ["msi.dll"], extra_env=extra).stdout.strip(),
                         "loaded")
        self.assertTrue(os.path.exists(marker), "the planted msi.dll was not loadable at all")
        os.remove(marker)

        result = self.env.run(exe, [], extra_env=extra)
        self.assertEqual(result.exit_code, 0)
        self.assertFalse(os.path.exists(marker), "the update loaded the planted msi.dll")
        self.assertEqual(shown(result.boxes), [expected_box(1033, 301, "Planted Suite")])
        self.assertEqual(fixtures.query_product(self.run_windows, code)["version"], "2.0.0.0")

    def test_installer_service_that_cannot_be_loaded(self):
        code, exe = self.product_and_update("Unloadable Suite", work_folder(self.env, "noload"))
        result = self.env.run(exe, [], extra_env={"WINEDLLOVERRIDES": "msi=;mscoree,mshtml="})
        self.assertEqual(result.exit_code, 0)
        error_mod_not_found = 126
        self.assertEqual(shown(result.boxes), [expected_box(1033, 300, error_mod_not_found)])
        self.assertEqual(fixtures.query_product(self.run_windows, code)["version"], "1.0.0.0")



@harness.each_build
class RegularFiles(WineCase):
    FOLDER = "regular"

    ERROR_BAD_FILE_TYPE = 222
    ERROR_CANT_RESOLVE_FILENAME = 1921

    def test_only_a_regular_file_of_one_name_is_written(self):
        base = work_folder(self.env, "names")
        outside = os.path.join(base, "outside")
        os.mkdir(outside)
        victim = os.path.join(outside, "victim.txt")
        with open(victim, "w") as f:
            f.write("victim")
        names = {}

        def name(label, make=None):
            path = os.path.join(base, label)
            if make:
                make(path)
            names[label] = path
            return path

        def planted(path):
            with open(path, "w") as f:
                f.write("planted")

        name("fresh.log")
        name("standing.log", planted)  # the positive control: a regular file is emptied
        name("hardlink.log", lambda path: os.link(victim, path))
        name("symlink.log", lambda path: os.symlink(victim, path))
        name("dangling.log", lambda path: os.symlink(os.path.join(outside, "gone"), path))
        name("folder.log", os.mkdir)
        os.symlink(outside, os.path.join(base, "through"))
        names["on the way"] = os.path.join(base, "through", "inside.log")

        # The attack works: a naive writer follows the link and writes into the second name.
        for label in ("symlink.log", "hardlink.log"):
            self.env.wine(["cmd", "/c", "echo naive> " + self.env.to_windows_path(names[label])])
            with open(victim) as f:
                self.assertIn("naive", f.read(), label)
            with open(victim, "w") as f:
                f.write("victim")

        driver = self.build.artefact("tests", "drivers", "regular_file_driver.exe")
        windows = {label: self.env.to_windows_path(path) for label, path in names.items()}
        result = self.env.run(driver, list(windows.values()))
        self.assertEqual(result.exit_code, 0, result)
        facts = json.loads(result.stdout)
        errors = {label: facts["errors"][windows[label]] for label in names}
        self.assertEqual(errors, {
            "fresh.log": 0,
            "standing.log": 0,
            "hardlink.log": self.ERROR_CANT_RESOLVE_FILENAME,
            "symlink.log": self.ERROR_CANT_RESOLVE_FILENAME,
            "dangling.log": self.ERROR_CANT_RESOLVE_FILENAME,
            "folder.log": errors["folder.log"],
            "on the way": self.ERROR_CANT_RESOLVE_FILENAME,
        })
        # A folder is refused as one or cannot be opened for writing at all.
        self.assertIn(errors["folder.log"], (self.ERROR_BAD_FILE_TYPE, 5))
        for label in ("fresh.log", "standing.log"):
            with open(names[label]) as f:
                self.assertEqual(f.read(), "written", label)
        with open(victim) as f:
            self.assertEqual(f.read(), "victim")
        self.assertEqual(os.readlink(names["symlink.log"]), victim)
        self.assertFalse(os.path.exists(os.path.join(outside, "gone")))
        self.assertFalse(os.path.exists(os.path.join(outside, "inside.log")))
        self.assertEqual(sorted(os.listdir(outside)), ["victim.txt"])
        # What the platform's opening reports, that the refusals above are made from.
        view = {label: facts["facts"][windows[label]] for label in names}
        self.assertEqual(view["standing.log"],
                         {"kind": 0, "reparse_point": False, "links": 1, "as_named": True})
        self.assertEqual(view["hardlink.log"]["links"], 2)


class FileSharing(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.env = harness.shared_env()
        cls.folder = work_folder(cls.env, "sharing")
        cls.driver = harness.artefact("tests", "drivers", "inspection_driver.exe")

    def test_an_extracted_file_is_shared_with_nobody_while_written(self):
        replaced = os.path.join(self.folder, "Fix.msp")
        fresh = os.path.join(self.folder, "MSP2")
        with open(replaced, "wb") as f:
            f.write(b"an older file at the name the user gave")
        result = self.env.run(self.driver, ["share", self.env.to_windows_path(replaced),
                                            self.env.to_windows_path(fresh)])
        self.assertEqual(result.exit_code, 0, result)
        facts = json.loads(result.stdout)
        error_sharing_violation = 32
        self.assertEqual(facts["replacedReadError"], error_sharing_violation)
        # Positive control: a temporary copy, shared for reading, can be opened by a reader, so the
        # refusal above comes from the share mode and not from the reader's request.
        self.assertEqual(facts["freshReadError"], 0)


if __name__ == "__main__":
    unittest.main()
