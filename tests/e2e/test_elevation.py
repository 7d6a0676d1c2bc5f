"""The elevated run stands on its own ground. The update runs with administrator rights, usually
from a downloads folder, and takes its working place from the user's environment; an attacker
with only the user's rights plants DLLs beside it, points TMP at hostile places and plants links
where it writes. Every attack here runs against the real update under Wine, beside a positive
control that shows the attack's mechanics work, so that a passing defence is not vacuous.

Measured under Wine 8: every process holds an elevated token (TokenElevation 1,
TokenElevationTypeFull), with or without the manifest, and the Windows folder is C:\\windows; so
these runs take the elevated path, whose private folder lives under C:\\windows\\temp.
"""

import glob
import json
import os
import shutil
import stat
import tempfile
import threading
import time
import unittest

import fixtures
import harness
from catalogue import expected_box, shown
from test_hostile import WriteWatch
from updates import ProductCase, build_update, without_run_logs, work_folder

UPGRADE, INSTALLED = "2.0.0.0", "1.0.0.0"
VERSIONS = f"{UPGRADE};{INSTALLED}"
LOG_SUFFIX = " SP1.log"
PLANTED = ("uxtheme.dll", "dwmapi.dll")
# Native DLLs first for the planted names, so that Wine would load a plant at all, as Windows
# does for any DLL that is not a known one.
PLANT_OVERRIDES = "uxtheme,dwmapi=n,b;mscoree,mshtml="
PRIVATE_PREFIX = "QuorvexUpdate-"
ERROR_BAD_PATHNAME = 161


class ElevationCase(ProductCase):
    FOLDER = "elevation"

    def product(self, name, version=INSTALLED, language=1033):
        installed = self.install(name, version, language)
        return installed.code, installed.upgrade_code

    def patch_of(self, name, code, upgrade, targets=None):
        path = os.path.join(self.folder, fixtures.new_guid() + ".msp")
        return str(fixtures.make_patch(self.run_windows, path, targets=targets or code,
                                       versions=VERSIONS, patch_code=fixtures.new_guid(),
                                       transform=(INSTALLED, UPGRADE, code, upgrade)))

    def update(self, payload, folder=None):
        return build_update(os.path.join(folder or self.folder, fixtures.new_guid() + ".exe"),
                            payload, build=self.build)

    def assert_patched(self, code, patch_count=1):
        state = self.state(code)
        self.assertEqual(state["version"], UPGRADE)
        self.assertEqual(len(state["patches"]), patch_count, state["patches"])

    def assert_unpatched(self, code):
        state = self.state(code)
        self.assertEqual(state["version"], INSTALLED)
        self.assertEqual(state["patches"], [])


# ------------------------------------------------------------------------------ planted DLLs


@harness.each_build
class PlantedDlls(ElevationCase):
    def test_dlls_planted_beside_the_update_are_never_loaded(self):
        downloads = work_folder(self.env, "downloads")
        markers = work_folder(self.env, "markers")
        for name in PLANTED:
            stem = name.split(".")[0]
            shutil.copy(self.build.artefact("tests", "drivers", f"planted_{stem}", name),
                        downloads)
        extra = {"PLANTED_DLL_MARKERS": self.env.to_windows_path(markers),
                 "WINEDLLOVERRIDES": PLANT_OVERRIDES}

        def loaded():
            found = sorted(n[:-len(".loaded")] for n in os.listdir(markers))
            for name in os.listdir(markers):
                os.remove(os.path.join(markers, name))
            return found

        # The plants work: a program that loads them by name from the same folder runs them.
        control = shutil.copy(self.build.artefact("tests", "drivers", "load_library.exe"),
                              downloads)
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


# ------------------------------------------------------------------------ temporary folders


def failure(code):
    return [expected_box(1033, 300, code)]


@harness.each_build
class TempFolderAttacks(ElevationCase):
    """Attacks through TMP, the one place of the run that the user's environment names."""

    def on_drive_c(self, name):
        """A fresh folder on drive C:, so that drive-relative paths land on C: too."""
        return tempfile.mkdtemp(prefix=name + "-", dir=self.env.drive_c)

    def windows(self, path):
        return self.env.to_windows_path(path)

    def run_on_c(self, argv):
        """Runs a Windows program with its current folder on drive C:."""
        result = self.env.wine(argv, timeout=120, cwd=self.env.drive_c)
        return result.exit_code, result.stdout, result.stderr

    def attacker_patch(self, *products):
        """A patch of the attacker's that takes each (code, upgrade) product to 6.6.6.6; its
        patch code, and its path."""
        code = fixtures.new_guid()
        path = os.path.join(self.folder, code + ".msp")
        transforms = [(f"T{i + 1}", INSTALLED, "6.6.6.6", c, u) for i, (c, u) in
                      enumerate(products)]
        fixtures.make_patch(self.run_windows, path, targets=";".join(c for c, _ in products),
                            versions=VERSIONS, patch_code=code, transforms=transforms,
                            transform_list=";".join(f":{t[0]}" for t in transforms))
        return code, path

    def bundled_update(self, name):
        code, upgrade = self.product(name)
        patch_code = fixtures.new_guid()
        path = os.path.join(self.folder, patch_code + ".msp")
        fixtures.make_patch(self.run_windows, path, targets=code, versions=VERSIONS,
                            patch_code=patch_code, transform=(INSTALLED, UPGRADE, code, upgrade))
        return code, upgrade, patch_code, self.update(path)

    def test_tmp_holding_a_semicolon_never_installs_the_attackers_patches(self):
        code, upgrade, bundled, exe = self.bundled_update("Semicolon Suite")
        twin = self.product("Semicolon Twin")
        base = self.on_drive_c("semi")
        stem = os.path.basename(base)
        # TMP = C:\semi-X\x;\semi-X\t: a copy MSP2 in it would be named to the installer as
        # PATCH="C:\semi-X\x;\semi-X\t\MSP2", which is the list C:\semi-X\x and \semi-X\t\MSP2.
        tmp = os.path.join(base, "x;", stem, "t")
        os.makedirs(tmp)
        os.makedirs(os.path.join(base, "t"))
        evil_x, evil_x_path = self.attacker_patch((code, upgrade), twin)
        evil_t, evil_t_path = self.attacker_patch((code, upgrade), twin)
        shutil.copy(evil_x_path, os.path.join(base, "x"))
        for n in range(2, 10):
            shutil.copy(evil_t_path, os.path.join(base, "t", f"MSP{n}"))
        copy_name = self.windows(tmp) + "\\MSP2"
        self.assertEqual(copy_name.split(";"),
                         [self.windows(base) + "\\x", f"\\{stem}\\t\\MSP2"])

        # The attack works: that PATCH value installs both of the attacker's patches.
        os.makedirs(os.path.join(tmp, "MSP2"))  # nothing of the bundled kind at the name
        self.assertEqual(fixtures.configure_product(self.run_on_c, twin[0],
                                                    f'PATCH="{copy_name}"'), 0)
        installed = self.state(twin[0])["patches"]
        self.assertTrue(installed, "no patch of the attacker's was installed")
        self.assertLessEqual(set(installed), {evil_x, evil_t})
        os.rmdir(os.path.join(tmp, "MSP2"))

        result = self.env.run(exe, [], extra_env={"TMP": self.windows(tmp)},
                              cwd=self.env.drive_c)
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(shown(result.boxes), [expected_box(1033, 301, "Semicolon Suite")])
        state = self.state(code)
        self.assertEqual(state["patches"], [bundled])
        self.assertEqual(state["version"], UPGRADE)

    def test_tmp_through_a_link_retargeted_when_a_copy_appears(self):
        code, upgrade, bundled, exe = self.bundled_update("Retarget Suite")
        twin = self.product("Retarget Twin")
        base = self.on_drive_c("retarget")
        real, evil, link = (os.path.join(base, n) for n in ("real", "evil", "link"))
        os.mkdir(real)
        os.mkdir(evil)
        evil_code, evil_path = self.attacker_patch((code, upgrade), twin)
        for n in range(2, 10):
            shutil.copy(evil_path, os.path.join(evil, f"MSP{n}"))

        def arm():
            """Points the link at the real folder and starts a watcher that points it at the
            attacker's folder the moment a payload copy appears there; gives the stop event and
            the list the watcher fills with the names it saw."""
            if os.path.lexists(link):
                os.remove(link)
            os.symlink(real, link)
            stop, seen = threading.Event(), []

            def watch():
                while not stop.is_set():
                    names = [n for n in os.listdir(real) if n.startswith("MSP")]
                    if names:
                        os.symlink(evil, link + ".new")
                        os.replace(link + ".new", link)
                        seen.extend(names)
                        return
                    time.sleep(0.0005)

            thread = threading.Thread(target=watch, daemon=True)
            thread.start()
            return stop, seen, thread

        tmp = {"TMP": self.windows(link)}
        # The attack works: a copy written through the link ("/e" writes MSP<n> into TMP) is
        # seen, the link is turned at once, and the installer, handed the copy's path, installs
        # the attacker's patch instead.
        stop, seen, thread = arm()
        result = self.env.run(exe, ["/e"], extra_env=tmp, cwd=self.env.drive_c)
        thread.join(10)
        stop.set()
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(seen, ["MSP2"])
        self.assertEqual(os.readlink(link), evil)
        self.assertEqual(fixtures.configure_product(
            self.run_on_c, twin[0], f'PATCH="{self.windows(link)}\\MSP2"'), 0)
        self.assertEqual(self.state(twin[0])["patches"], [evil_code])
        os.remove(os.path.join(real, "MSP2"))

        stop, seen, thread = arm()
        result = self.env.run(exe, [], extra_env=tmp, cwd=self.env.drive_c)
        stop.set()
        thread.join(10)
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(seen, [], "a payload copy went through the link")
        self.assertEqual(shown(result.boxes), [expected_box(1033, 301, "Retarget Suite")])
        self.assertEqual(self.state(code)["patches"], [bundled])
        self.assertEqual(self.state(code)["version"], UPGRADE)
        # The log is never written through the link either.
        self.assertEqual(os.listdir(real), [])

    def test_relative_tmp_writes_nothing_into_the_starting_folder(self):
        code, upgrade, bundled, exe = self.bundled_update("Dot Suite")
        start = self.on_drive_c("start")
        shutil.copy(exe, os.path.join(start, "update.exe"))
        before = sorted(os.listdir(start))
        # The attack works: with TMP=".", the temporary folder is the starting folder.
        control = shutil.copy(self.build.artefact("tests", "drivers", "temp_path.exe"), start)
        result = self.env.run(control, [], extra_env={"TMP": "."}, cwd=start)
        self.assertEqual(result.stdout.strip().lower(), (self.windows(start) + "\\").lower())

        watch = WriteWatch([start])
        try:
            result = self.env.run(os.path.join(start, "update.exe"), [],
                                  extra_env={"TMP": "."}, cwd=start)
        finally:
            watch.close()
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(shown(result.boxes), failure(ERROR_BAD_PATHNAME))
        self.assertEqual(watch.touched(start), [])
        self.assertEqual(sorted(os.listdir(start)), sorted(before + ["temp_path.exe"]))
        self.assert_unpatched(code)

    def test_link_at_the_log_name_leaves_its_target_alone(self):
        name = "Log Link Suite"
        code, upgrade, bundled, exe = self.bundled_update(name)
        twin = self.product("Log Link Twin")
        base = self.on_drive_c("loglink")
        tmp, outside = os.path.join(base, "tmp"), os.path.join(base, "outside")
        os.mkdir(tmp)
        os.mkdir(outside)
        victims = {}
        for which in ("control", "run"):
            victims[which] = os.path.join(outside, which + ".txt")
            with open(victims[which], "w") as f:
                f.write("victim")

        # The attack works: the installer writes its log through a link at the log's name.
        control_log = os.path.join(tmp, "Control" + LOG_SUFFIX)
        os.symlink(victims["control"], control_log)
        fixtures.configure_product(self.run_on_c, twin[0], "", log_path=control_log)
        with open(victims["control"], encoding="utf-8", errors="replace") as f:
            self.assertIn("=== Logging started", f.read())

        log = os.path.join(tmp, name + LOG_SUFFIX)
        os.symlink(victims["run"], log)
        result = self.env.run(exe, [], extra_env={"TMP": self.windows(tmp)},
                              cwd=self.env.drive_c)
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(shown(result.boxes), [expected_box(1033, 301, name)])
        with open(victims["run"]) as f:
            self.assertEqual(f.read(), "victim")
        # The link stays as it stands (Wine deletes a link's target when asked to delete the
        # link); the log takes the next name.
        self.assertEqual(os.readlink(log), victims["run"])
        self.assertEqual(sorted(without_run_logs(os.listdir(tmp))),
                         sorted(["Control" + LOG_SUFFIX, name + LOG_SUFFIX,
                                 name + " (2)" + LOG_SUFFIX]))
        with open(os.path.join(tmp, name + " (2)" + LOG_SUFFIX), encoding="utf-8",
                  errors="replace") as f:
            self.assertIn("=== Logging started", f.read())
        self.assert_patched(code)

    def test_device_name_stems_give_real_log_files(self):
        for stem in ("NUL.x", "COM1 .x", "CONIN$.x"):
            with self.subTest(product=stem):
                code, upgrade, bundled, exe = self.bundled_update(stem)
                tmp = self.on_drive_c("device")
                # The attack works: the log name as it stands is no file, Windows sends it to a
                # device and nothing appears in the folder.
                fixtures.configure_product(self.run_on_c, code, "",
                                           log_path=os.path.join(tmp, stem + LOG_SUFFIX))
                self.assertEqual(without_run_logs(os.listdir(tmp)), [])

                result = self.env.run(exe, [], extra_env={"TMP": self.windows(tmp)},
                                      cwd=self.env.drive_c)
                self.assertEqual(result.exit_code, 0)
                self.assertEqual(shown(result.boxes), [expected_box(1033, 301, stem)])
                self.assertEqual(without_run_logs(os.listdir(tmp)), ["_" + stem + LOG_SUFFIX])
                with open(os.path.join(tmp, "_" + stem + LOG_SUFFIX), encoding="utf-8",
                          errors="replace") as f:
                    self.assertIn("=== Logging started", f.read())
                self.assert_patched(code)


# ---------------------------------------------------------------------------- private folder


@harness.each_build
class PrivateFolders(ElevationCase):
    def windows_temp(self):
        return self.env.from_windows_path("C:\\windows\\temp")

    def private_folders(self):
        return sorted(glob.glob(os.path.join(self.windows_temp(), PRIVATE_PREFIX + "*")))

    def test_platform_facts_and_the_access_list_as_built(self):
        folder = work_folder(self.env, "acl")
        result = self.env.wine([self.build.artefact("tests", "drivers", "ground_driver.exe"),
                                self.env.to_windows_path(folder)])
        facts = json.loads(result.stdout)
        # Every process under Wine holds an elevated, full token; this one has no manifest.
        self.assertEqual((facts["elevated"], facts["elevation_type"]), (True, 2))
        self.assertEqual(facts["windows"].lower(), "c:\\windows")
        self.assertEqual(facts["asked"], "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)")
        self.assertEqual(facts["created"], 0)
        # Wine keeps a folder's access list as the Unix mode bits and reads them back as an
        # access list: the private folder grants nothing to Everyone, while a folder made with
        # default security (the control, which shows that such a grant is seen) does.
        self.assertTrue(facts["plain_created"])
        self.assertIn(";;;WD)", facts["plain"])
        self.assertNotIn(";;;WD)", facts["private"])
        self.assertNotIn(";;;BU)", facts["private"])
        self.assertIn("(A;OICI;FA;;;SY)", facts["private"])
        private_mode = stat.S_IMODE(os.stat(os.path.join(folder, "private")).st_mode)
        plain_mode = stat.S_IMODE(os.stat(os.path.join(folder, "plain")).st_mode)
        self.assertEqual(private_mode & 0o007, 0, oct(private_mode))
        self.assertNotEqual(plain_mode & 0o007, 0, oct(plain_mode))

    def test_a_killed_run_leaves_nothing_behind_after_the_next_run(self):
        for leftover in self.private_folders():
            shutil.rmtree(leftover)
        # A run that stops at a box while its payload copy is in use: one target is at a version
        # the patch does not cover, so message 308 comes up, and nobody closes it.
        blocker, _ = self.product("Killed Blocker", version="0.5.0.0")
        code, upgrade = self.product("Killed Suite")
        patch = os.path.join(self.folder, fixtures.new_guid() + ".msp")
        fixtures.make_patch(self.run_windows, patch, targets=f"{blocker};{code}",
                            versions=VERSIONS, patch_code=fixtures.new_guid(),
                            transform=(INSTALLED, UPGRADE, code, upgrade))
        blocked = self.update(patch)
        outcome = {}

        def run_until_killed():
            try:
                self.env.wine([blocked], timeout=20, watch=False)
                outcome["ended"] = "by itself"
            except harness.RunTimeout:
                outcome["ended"] = "killed"

        thread = threading.Thread(target=run_until_killed)
        thread.start()
        try:
            deadline = time.monotonic() + 15
            live = []
            while time.monotonic() < deadline and not live:
                live = [f for f in self.private_folders()
                        if os.path.exists(os.path.join(f, "MSP2"))]
                time.sleep(0.05)
            self.assertEqual(len(live), 1, "the blocked run made no private folder with a copy")
            mode = stat.S_IMODE(os.stat(live[0]).st_mode)
            self.assertEqual(mode & 0o007, 0, oct(mode))

            # Another update run while that one lives: its own folder goes, the live one stays.
            other_code, other_upgrade = self.product("Beside Suite")
            other = self.update(self.patch_of("beside", other_code, other_upgrade))
            result = self.env.wine([other, "/q"], watch=False)
            self.assertEqual(result.exit_code, 0)
            self.assert_patched(other_code)
            self.assertEqual(self.private_folders(), live)
            self.assertTrue(os.path.exists(os.path.join(live[0], "MSP2")))
        finally:
            thread.join()
        self.assertEqual(outcome["ended"], "killed")
        # The control: killed runs leave their folder and copy behind.
        self.assertEqual(self.private_folders(), live)
        self.assertTrue(os.path.exists(os.path.join(live[0], "MSP2")))

        next_code, next_upgrade = self.product("After Kill Suite")
        result = self.env.wine([self.update(self.patch_of("next", next_code, next_upgrade)),
                                "/q"], watch=False)
        self.assertEqual(result.exit_code, 0)
        self.assert_patched(next_code)
        self.assertEqual(self.private_folders(), [])
        self.assertEqual(glob.glob(os.path.join(self.windows_temp(), "**", "MSP*"),
                                   recursive=True), [])


if __name__ == "__main__":
    unittest.main()
