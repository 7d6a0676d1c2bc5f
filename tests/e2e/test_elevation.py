"""The elevated run keeps to places of its own. The update runs with administrator rights, usually
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
import re
import shutil
import stat
import subprocess
import tempfile
import threading
import time
import unittest

import fixtures
import harness
from catalogue import expected_box, shown
from test_hostile import WriteWatch
from updates import ProductCase, build_update, profile_folder, without_run_logs, work_folder

UPGRADE, INSTALLED = "2.0.0.0", "1.0.0.0"
VERSIONS = f"{UPGRADE};{INSTALLED}"
LOG_SUFFIX = " SP1.log"
PLANTED = ("uxtheme.dll", "dwmapi.dll")
# Native DLLs first for the planted names, so that Wine would load a plant at all, as Windows
# does for any DLL that is not a known one.
PLANT_OVERRIDES = "uxtheme,dwmapi=n,b;mscoree,mshtml="
PRIVATE_PREFIX = "QuorvexUpdate-"
LOG_FOLDER = "QuorvexUpdate-Logs"
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

    def in_profile(self, name):
        """A fresh folder in the user's profile (on C: too), where an elevated run keeps its logs
        when TMP points there."""
        return profile_folder(self.env, name)

    def windows(self, path):
        return self.env.to_windows_path(path)

    def run_on_c(self, argv):
        """Runs a Windows program with its current folder on drive C:."""
        result = self.env.wine(argv, timeout=120, cwd=self.env.drive_c)
        return result.exit_code, result.stdout, result.stderr


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
        # The attack works: a copy written through the link (a plain program writing MSP2 into
        # TMP) is seen, the link is turned at once, and the installer, handed the copy's path,
        # installs the attacker's patch instead.
        stop, seen, thread = arm()
        result = self.env.wine([self.build.artefact("tests", "drivers", "file_opener.exe"),
                                "temp", "MSP2"], extra_env=tmp, cwd=self.env.drive_c)
        thread.join(10)
        stop.set()
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(seen, ["MSP2"])
        self.assertEqual(os.readlink(link), evil)
        self.assertEqual(fixtures.configure_product(
            self.run_on_c, twin[0], f'PATCH="{self.windows(link)}\\MSP2"'), 0)
        self.assertEqual(self.state(twin[0])["patches"], [evil_code])
        os.remove(os.path.join(real, "MSP2"))

        # Elevated, "/e" without a path writes nothing there: TMP lies outside the profile.
        stop, seen, thread = arm()
        result = self.env.run(exe, ["/e"], extra_env=tmp, cwd=self.env.drive_c)
        stop.set()
        thread.join(10)
        self.assertEqual(shown(result.boxes), failure(5))
        self.assertEqual((seen, os.listdir(real)), ([], []))

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
        base = self.in_profile("loglink")
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
                tmp = self.in_profile("device")
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
        return sorted(f for f in glob.glob(os.path.join(self.windows_temp(), PRIVATE_PREFIX + "*"))
                      if os.path.basename(f) != LOG_FOLDER)

    def test_platform_facts_and_the_access_list_as_built(self):
        folder = work_folder(self.env, "acl")
        result = self.env.wine([self.build.artefact("tests", "drivers", "access_driver.exe"),
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

    def test_a_killed_runs_folder_stays_out_of_reach_and_no_run_sweeps_it(self):
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

        # No later run removes it (a sweep by name could be steered through links, see NoSweep);
        # it stays where no user reaches it, and the next run cleans up only its own folder.
        next_code, next_upgrade = self.product("After Kill Suite")
        result = self.env.wine([self.update(self.patch_of("next", next_code, next_upgrade)),
                                "/q"], watch=False)
        self.assertEqual(result.exit_code, 0)
        self.assert_patched(next_code)
        self.assertEqual(self.private_folders(), live)
        self.assertTrue(os.path.exists(os.path.join(live[0], "MSP2")))
        mode = stat.S_IMODE(os.stat(live[0]).st_mode)
        self.assertEqual(mode & 0o007, 0, oct(mode))
        shutil.rmtree(live[0])


# ------------------------------------------------------------------- per-user registrations


def install_per_user(msi):
    """Makes the package install per user, as any user can without rights: wixl writes
    ALLUSERS=1 into the Property table (InstallScope="perMachine"), and without it msiexec /i
    registers the product under HKCU (context 2, unmanaged)."""
    work = tempfile.mkdtemp(dir=os.path.dirname(str(msi)))
    rows = subprocess.run(["msiinfo", "export", str(msi), "Property"], check=True,
                          capture_output=True, text=True).stdout.splitlines()
    kept = [r for r in rows if not r.startswith("ALLUSERS\t")]
    assert len(kept) == len(rows) - 1, rows
    idt = os.path.join(work, "Property.idt")
    with open(idt, "wb") as f:
        f.write(("\r\n".join(kept) + "\r\n").encode("utf-8"))
    subprocess.run(["msibuild", str(msi), "-i", idt], check=True)


def user_product_key(code):
    return "HKCU\\Software\\Microsoft\\Installer\\Products\\" + fixtures.squashed_guid(code)


@harness.each_build
class PerUserRegistrations(ElevationCase):
    """A user installs, without rights, a per-user package with a target's product code (read
    from the patch in the downloaded update); the installer call takes no context, so an elevated
    update would patch the user's package and run its custom actions with its own rights."""

    def run_log(self, exe):
        stem = os.path.splitext(os.path.basename(exe))[0]
        logs = glob.glob(os.path.join(self.env.temp_dir, stem + "_*.log"))
        self.assertEqual(len(logs), 1, logs)
        with open(logs[0], encoding="utf-8-sig") as f:
            return f.read()

    def has_user_registration(self, code):
        return self.env.wine(["reg", "query", user_product_key(code)]).exit_code == 0

    def test_a_per_user_product_with_a_targets_code_is_never_patched(self):
        # The attack works: msiexec /p patches a per-user product like any other.
        control = self.install("Per User Control", INSTALLED, prepare=install_per_user)
        self.assertTrue(self.has_user_registration(control.code))
        self.assertEqual(self.state(control)["state"], 5)
        fixtures.apply_patch(self.run_windows,
                             self.patch_of("control", control.code, control.upgrade_code))
        self.assert_patched(control.code)

        planted = self.install("Per User Plant", INSTALLED, prepare=install_per_user)
        self.assertTrue(self.has_user_registration(planted.code))
        exe = self.update(self.patch_of("plant", planted.code, planted.upgrade_code))
        result = self.env.run(exe, [])
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(shown(result.boxes), [expected_box(1033, 307)])
        self.assert_unpatched(planted.code)
        log = self.run_log(exe)
        self.assertRegex(log, rf"Product {re.escape(planted.code)}: not patched: registered per "
                              r"user, unmanaged, for S-1-5-21-[-0-9]+;")
        self.assertIn(f"Product {planted.code}: not installed", log)

    def test_a_machine_product_beside_a_per_user_registration_stays_unpatched(self):
        name = "Shadowed Suite"
        product = self.install(name, INSTALLED)
        exe = self.update(self.patch_of("shadow", product.code, product.upgrade_code))
        key = user_product_key(product.code)
        fixtures._run_checked(self.run_windows, ["reg", "add", key, "/v", "ProductName", "/d",
                                                 name, "/f"], "planting the user's key")
        try:
            # The attack works: the context-free query takes the user's registration.
            self.assertEqual(self.state(product)["state"], 1)
            result = self.env.run(exe, ["/q"])
            self.assertEqual(result.exit_code, 0)
            self.assertEqual(shown(result.boxes), [])
            self.assertIn(f"Product {product.code}: not patched: registered per user, unmanaged",
                          self.run_log(exe))
        finally:
            fixtures._run_checked(self.run_windows, ["reg", "delete", key, "/f"],
                                  "removing the user's key")
        # Read without the user's key, which shadows every context-free query: untouched.
        self.assert_unpatched(product.code)
        # What README tells the administrator: without the user's registration the same update
        # patches the machine-wide product.
        for log in glob.glob(os.path.join(self.env.temp_dir,
                                          os.path.splitext(os.path.basename(exe))[0] + "_*")):
            os.remove(log)
        result = self.env.run(exe, [])
        self.assertEqual(shown(result.boxes), [expected_box(1033, 301, name)])
        self.assert_patched(product.code)


# ------------------------------------------------------------------------------- log places


@harness.each_build
class LogPlaces(ElevationCase):
    """TMP comes from HKCU\\Environment, which the user writes; an elevated run writes its logs
    only where the user could write anyway."""

    def logs_folder(self):
        return self.env.from_windows_path("C:\\windows\\temp\\QuorvexUpdate-Logs")

    def test_tmp_at_administrators_folders_sends_the_logs_to_the_protected_folder(self):
        for tmp in ("C:\\windows\\system32", "C:\\windows"):
            with self.subTest(tmp=tmp):
                folder = self.env.from_windows_path(tmp)
                # The attack works: a plain program writes where TMP points.
                marker = "quorvex-control-" + fixtures.new_guid().strip("{}") + ".txt"
                result = self.env.wine(["cmd", "/c", f"echo x> %TMP%\\{marker}"],
                                       extra_env={"TMP": tmp})
                self.assertTrue(os.path.exists(os.path.join(folder, marker)), result.stderr)
                os.remove(os.path.join(folder, marker))

                name = "Admin Tmp " + str(len(tmp))
                product = self.install(name, INSTALLED)
                exe = self.update(self.patch_of(name, product.code, product.upgrade_code))
                stem = os.path.splitext(os.path.basename(exe))[0]
                before = set(os.listdir(folder))
                result = self.env.run(exe, [], extra_env={"TMP": tmp})
                self.assertEqual(shown(result.boxes), [expected_box(1033, 301, name)])
                self.assert_patched(product.code)
                self.assertEqual(set(os.listdir(folder)) - before, set())
                logs = os.listdir(self.logs_folder())
                self.assertIn(name + LOG_SUFFIX, logs)
                with open(os.path.join(self.logs_folder(), name + LOG_SUFFIX),
                          encoding="utf-8", errors="replace") as f:
                    self.assertIn("=== Logging started", f.read())
                run_log = [n for n in logs if n.startswith(stem + "_")]
                self.assertEqual(len(run_log), 1, logs)
                mode = stat.S_IMODE(os.stat(self.logs_folder()).st_mode)
                self.assertEqual(mode & 0o007, 0, oct(mode))

    def test_tmp_in_the_profile_keeps_the_logs_there(self):
        # The control of the rule: the user's own temporary folder (in C:\\users\\<user>) is used.
        name = "Profile Tmp Suite"
        product = self.install(name, INSTALLED)
        exe = self.update(self.patch_of(name, product.code, product.upgrade_code))
        result = self.env.run(exe, [])
        self.assertEqual(shown(result.boxes), [expected_box(1033, 301, name)])
        self.assertTrue(os.path.exists(os.path.join(self.env.temp_dir, name + LOG_SUFFIX)))


# ---------------------------------------------------------------------------- run log names


@harness.each_build
class RunLogNames(ElevationCase):
    def test_planted_names_neither_redirect_nor_suppress_the_run_log(self):
        downloads = work_folder(self.env, "runlog")
        exe = shutil.copy(self.update(self.patch_of("x", fixtures.new_guid(), fixtures.new_guid())),
                          os.path.join(downloads, "update.exe"))
        victim = os.path.join(downloads, "victim.txt")
        with open(victim, "w") as f:
            f.write("victim")
        tmp = self.env.temp_dir
        # The attack works: a naive writer that opens a planted name follows the link.
        control = os.path.join(tmp, "update_control.log")
        os.symlink(victim, control)
        try:
            self.env.wine(["cmd", "/c", f"echo naive> {self.env.to_windows_path(control)}"])
            with open(victim) as f:
                self.assertIn("naive", f.read())
        finally:
            os.remove(control)
        with open(victim, "w") as f:
            f.write("victim")

        # Links at the plain names and files at "_2" to "_99" for the coming half minute.
        planted = []
        now = time.time()
        for second in range(-2, 30):
            stamp = time.strftime("%Y%m%d%H%M%S", time.localtime(now + second))
            link = os.path.join(tmp, f"update_{stamp}.log")
            os.symlink(victim, link)
            planted.append(link)
            for n in range(2, 100):
                path = os.path.join(tmp, f"update_{stamp}_{n}.log")
                with open(path, "w") as f:
                    f.write("planted")
                planted.append(path)
        try:
            before = set(os.listdir(tmp))
            result = self.env.run(exe, ["/pi"])
            self.assertEqual(result.exit_code, 0)
            made = sorted(set(os.listdir(tmp)) - before)
            self.assertEqual(len(made), 1, made)
            self.assertRegex(made[0], r"^update_\d{14}_[0-9a-f]{8}\.log$")
            with open(os.path.join(tmp, made[0]), encoding="utf-8-sig") as f:
                self.assertIn("nothing to do (/pi)", f.read())
            with open(victim) as f:
                self.assertEqual(f.read(), "victim")
            self.assertTrue(all(os.path.islink(p) for p in planted[::99]))
            os.remove(os.path.join(tmp, made[0]))
        finally:
            for path in planted:
                os.remove(path)


# ------------------------------------------------------------------------ no sweep to steer


@harness.each_build
class NoSweep(ElevationCase):
    def test_decoys_and_links_in_the_windows_temp_are_never_followed(self):
        temp = self.env.from_windows_path("C:\\windows\\temp")
        victims = work_folder(self.env, "victims")
        decoys, links, baits = [], [], []
        try:
            for i in range(200):
                decoy = os.path.join(temp, f"{PRIVATE_PREFIX}{i:032x}")
                os.mkdir(decoy)
                decoys.append(decoy)
                if i % 10 == 0:  # a file link where a run's copy would be
                    target = os.path.join(victims, f"file{i}.txt")
                    with open(target, "w") as f:
                        f.write("victim")
                    os.symlink(target, os.path.join(decoy, "MSP2"))
                    links.append((os.path.join(decoy, "MSP2"), target))
                elif i % 10 == 5:  # a folder that turns into a link to a victim folder
                    target = os.path.join(victims, f"dir{i}")
                    os.mkdir(target)
                    with open(os.path.join(target, "keep.txt"), "w") as f:
                        f.write("victim")
                    baits.append((decoy, target))
                else:
                    with open(os.path.join(decoy, "MSP2"), "w") as f:
                        f.write("decoy")

            # The attack works: a naive program that deletes a decoy's file deletes the target of
            # the link under Wine.
            naive_link, naive_target = links[0]
            self.env.wine(["cmd", "/c", "del", self.env.to_windows_path(naive_link)])
            self.assertFalse(os.path.exists(naive_target))
            with open(naive_target, "w") as f:
                f.write("victim")

            # Baits turn into links the moment anything in the decoys changes (bounded: 20 s).
            stop = threading.Event()

            def race():
                deadline = time.monotonic() + 20
                while not stop.is_set() and time.monotonic() < deadline:
                    if any(not os.path.exists(os.path.join(d, "MSP2")) for d in decoys[1:4]):
                        for decoy, target in baits:
                            shutil.rmtree(decoy)
                            os.symlink(target, decoy)
                        return
                    time.sleep(0.001)

            thread = threading.Thread(target=race, daemon=True)
            thread.start()
            code, upgrade = self.product("Decoy Suite")
            result = self.env.run(self.update(self.patch_of("decoy", code, upgrade)), ["/q"])
            stop.set()
            thread.join(30)
            self.assertEqual(result.exit_code, 0)
            self.assert_patched(code)
            bait_folders = {decoy for decoy, _ in baits}
            for decoy in decoys:
                if decoy not in bait_folders:
                    self.assertTrue(os.path.lexists(os.path.join(decoy, "MSP2")), decoy)
            for link, target in links:
                self.assertTrue(os.path.islink(link), link)
                with open(target) as f:
                    self.assertEqual(f.read(), "victim")
            for decoy, target in baits:
                self.assertFalse(os.path.islink(decoy), "the decoys were touched")
                self.assertTrue(os.path.exists(os.path.join(target, "keep.txt")))
        finally:
            for decoy in decoys:
                if os.path.islink(decoy):
                    os.remove(decoy)
                else:
                    shutil.rmtree(decoy, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()


# ------------------------------------------------------------------ the installer log's hold

HOLD_STALL_SECONDS = 12
DELETE_TRIES = 20
DELETE_RESULT = re.compile(r"^opened (\d+) refused (\d+) error (\d+)\s*$", re.MULTILINE)


def wait_until(predicate, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if predicate():
            return True
        time.sleep(0.2)
    return False


def wait_for(predicate, seconds, what):
    if not wait_until(predicate, seconds):
        raise AssertionError("timed out waiting for " + what)


def file_text(path):
    try:
        with open(path, encoding="utf-8-sig", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


class Background:
    """A call run on a thread of its own; join() gives its result or raises its exception."""

    def __init__(self, call):
        self.result, self.error = None, None
        self.thread = threading.Thread(target=self.run, args=(call,))
        self.thread.start()

    def run(self, call):
        try:
            self.result = call()
        except BaseException as e:  # handed to join
            self.error = e

    def join(self):
        self.thread.join()
        if self.error is not None:
            raise self.error
        return self.result


@harness.each_build
class InstallerLogHold(ElevationCase):
    """The elevated installer writes its verbose log by name during the call. A user who could
    delete or rename the log meanwhile (a plain process opening it for deleting) could put a link
    at its name and have the installer write where the user chooses. The hold is one handle, made
    with the sharing the installer needs and held from before the call until it returns; a reader
    the user plants at the name first must neither break it nor leave a log nobody holds."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.opener = cls.build.artefact("tests", "drivers", "file_opener.exe")
        cls.stall = cls.build.artefact("tests", "drivers", "stall.exe")

    def stalling_product(self, name):
        from test_deploy import add_stalling_action
        return self.install(name, INSTALLED, prepare=lambda msi: add_stalling_action(
            msi, self.stall, HOLD_STALL_SECONDS))

    def plant_reader(self, log, sharing):
        """A reader of the user's at log, held for the rest of the test; returns once it holds."""
        marker = log + ".reader"
        reader = Background(lambda: self.env.wine(
            [self.opener, "reader", self.windows(log), str(HOLD_STALL_SECONDS * 4), sharing,
             self.windows(marker)], timeout=HOLD_STALL_SECONDS * 6))
        wait_for(lambda: os.path.exists(marker), 60, "the planted reader")
        return reader

    def delete_during_call(self):
        """(opened, refused, last error) of DELETE_TRIES openings of log for deleting."""
        def attempts(log):
            result = self.env.wine([self.opener, "delete", self.windows(log), str(DELETE_TRIES)])
            match = DELETE_RESULT.search(result.stdout)
            self.assertIsNotNone(match, result)
            return tuple(int(g) for g in match.groups())
        return attempts

    def run_attacked(self, name, reader_sharing):
        """Runs the update of a stalling product with the default TMP (in the profile), a reader
        planted at its log first when reader_sharing is given, and tries to open the log for
        deleting while the installer call runs. Returns (product, run log, attempts, log)."""
        product = self.stalling_product(name)
        exe = self.update(self.patch_of(name, product.code, product.upgrade_code))
        stem = os.path.splitext(os.path.basename(exe))[0]
        log = os.path.join(self.env.temp_dir, name + LOG_SUFFIX)
        reader = self.plant_reader(log, reader_sharing) if reader_sharing else None
        run = Background(lambda: self.env.wine([exe, "/q", "/exitcode"],
                                               timeout=HOLD_STALL_SECONDS + 90))

        def run_log_path():
            logs = glob.glob(os.path.join(self.env.temp_dir, stem + "_*.log"))
            return logs[0] if logs else ""

        wait_for(lambda: "Installer call for" in file_text(run_log_path()), 60,
                 "the installer call")
        attempts = self.delete_during_call()(log)
        result = run.join()
        if reader:
            reader.join()
        self.assertEqual(result.exit_code, 0, result)
        run_log = file_text(run_log_path())
        self.assertIn("ended: result 0", run_log)
        return product, run_log, attempts, log

    def test_control_a_plain_installer_call_leaves_its_log_open_to_deleting(self):
        # The attack works against a program that enables the log by name and calls the
        # installer, as the update did when its hold broke: with a reader planted first (sharing
        # writing and deleting), the log can be opened for deleting (and renamed away) throughout
        # the call, 20 times of 20. Without a reader, Wine's installer keeps the log open itself
        # during the call and refuses those openings (measured: 0 of 20, error 32); Windows's
        # installer service opens it by name inside the call, which is why the update holds it.
        for sharing, expected in ((None, 0), ("write-delete", DELETE_TRIES)):
            with self.subTest(reader=sharing):
                name = f"Log Hold Control {self.build.name} {sharing or 'alone'}"
                product = self.stalling_product(name)
                patch = self.patch_of(name, product.code, product.upgrade_code)
                log = os.path.join(self.in_profile("holdcontrol"), name + LOG_SUFFIX)
                reader = self.plant_reader(log, sharing) if sharing else None
                call = Background(lambda: fixtures.configure_product(
                    self.run_windows, product.code, fixtures.patch_command_line(patch),
                    log_path=log))
                # The call is under way once its log is started (where the reader lets the
                # installer write it) or a few seconds after it began.
                wait_until(lambda: "=== Logging started" in file_text(log),
                           HOLD_STALL_SECONDS / 2)
                opened, refused, error = self.delete_during_call()(log)
                self.assertEqual(call.join(), 0)
                if reader:
                    reader.join()
                self.assertEqual(opened, expected, (opened, refused, error))
                self.assert_patched(product.code)

    def test_the_log_cannot_be_opened_for_deleting_during_the_call(self):
        # Alone, and beside a reader the user planted first that shares writing and deleting
        # (the reader the earlier hold broke on): the hold is made, the log is written, and
        # every opening for deleting is refused (ERROR_SHARING_VIOLATION) during the call.
        for sharing in (None, "write-delete"):
            with self.subTest(reader=sharing):
                name = f"Log Hold {self.build.name} {sharing or 'alone'}"
                product, run_log, (opened, refused, error), log = self.run_attacked(
                    name, sharing)
                self.assertEqual((opened, refused, error), (0, DELETE_TRIES, 32))
                self.assertIn(f"installer log {self.windows(log)}", run_log)
                if sharing is None:
                    self.assertIn("=== Logging started", file_text(log))
                self.assertFalse(os.path.exists(log + ".moved"))
                self.assert_patched(product.code)

    def test_a_reader_that_admits_no_writer_means_no_log_rather_than_one_nobody_holds(self):
        # A reader sharing nothing keeps every writer out, the hold included: the installer
        # gets no log path at all (it never writes the file), and the run log says why.
        name = f"Log Hold {self.build.name} excluded"
        product, run_log, attempts, log = self.run_attacked(name, "none")
        self.assertIn("starts; installer log none", run_log)
        self.assertRegex(run_log, rf"Installer log for {re.escape(product.code)} "
                                  rf"\"{re.escape(name)}\": none; .* \(error 32, a handle open "
                                  r"elsewhere does not admit it\), so no log path goes to the "
                                  r"installer")
        self.assertEqual(os.path.getsize(log), 0)
        self.assert_patched(product.code)


# ------------------------------------------------------- registrations at the installer call


@harness.each_build
class RegistrationsAtTheCall(ElevationCase):
    """Registrations are read at detection; the wait for a busy installer (another installation
    holding its mutex, which a user can cause with an installation of their own) comes after it.
    A per-user registration of the target's code made during that wait would be the one the
    context-free installer call takes."""

    def run_log(self, exe):
        """The run log of exe so far; empty while there is none."""
        stem = os.path.splitext(os.path.basename(exe))[0]
        logs = sorted(glob.glob(os.path.join(self.env.temp_dir, stem + "_*.log")),
                      key=os.path.getmtime)
        return file_text(logs[-1]) if logs else ""

    def reg(self, *argv):
        fixtures._run_checked(self.run_windows, ["reg", *argv], "reg " + argv[0])

    def test_a_registration_made_during_the_wait_holds_the_product_back(self):
        from test_fleet import driver_output
        hold_mutex = self.build.artefact("tests", "drivers", "hold_mutex.exe")
        name = f"Late Registration {self.build.name}"
        product = self.install(name, INSTALLED)
        key = user_product_key(product.code)
        for when in ("before the run", "during the wait"):
            with self.subTest(planted=when):
                exe = self.update(self.patch_of(name, product.code, product.upgrade_code))
                if when == "before the run":
                    self.reg("add", key, "/v", "ProductName", "/d", name, "/f")
                    run = Background(lambda: driver_output(self.env.wine(
                        [hold_mutex, "6", self.windows(exe), "/q", "/exitcode"], timeout=120)))
                else:
                    run = Background(lambda: driver_output(self.env.wine(
                        [hold_mutex, "12", self.windows(exe), "/q", "/exitcode"], timeout=120)))
                    # The installer is busy (its mutex held) and the update waits: the user
                    # makes the registration now, after detection found the product installed.
                    wait_for(lambda: "Installer busy before the call" in self.run_log(exe), 60,
                             "the wait")
                    self.assertIn(f"Product {product.code}: installed", self.run_log(exe))
                    self.reg("add", key, "/v", "ProductName", "/d", name, "/f")
                try:
                    out = run.join()
                    # The attack's mechanics: the context-free query takes the user's key.
                    self.assertEqual(self.state(product)["state"], 1)
                finally:
                    self.reg("delete", key, "/f")
                self.assertEqual(out.get("exit"), "1642", out)
                log = self.run_log(exe)
                self.assertNotIn("Installer call for", log)
                if when == "before the run":
                    self.assertIn(f"Product {product.code}: not patched: registered per user, "
                                  "unmanaged, for S-1-5-", log)
                    self.assertIn(f"Product {product.code}: not installed", log)
                else:
                    self.assertRegex(log, rf"Installer free for {re.escape(product.code)} .* "
                                          r"after waiting \d+ ms")
                    self.assertRegex(log, rf"Product {re.escape(product.code)}: not patched: "
                                          r"registered per user, unmanaged, for S-1-5-[-0-9]+, "
                                          r"found right before the installer call")
                self.assertIn("Payload IDR_MSP (Global MSP): failed, no target product "
                              "installed", log)
                self.assert_unpatched(product.code)
        # Without the user's key the same update patches the machine-wide product.
        exe = self.update(self.patch_of(name, product.code, product.upgrade_code))
        result = self.env.run(exe, [])
        self.assertEqual(shown(result.boxes), [expected_box(1033, 301, name)])
        self.assert_patched(product.code)


# --------------------------------------------------------------- "/e" without a path, elevated


@harness.each_build
class ExtractionPlaces(ElevationCase):
    """TMP comes from HKCU\\Environment, which the user writes: "/e" without a path would write
    the payloads with administrator rights into any folder TMP names."""

    def test_tmp_at_system32_gets_no_payload_and_message_300(self):
        opener = self.build.artefact("tests", "drivers", "file_opener.exe")
        tmp = "C:\\windows\\system32"
        # The 32-bit build's System32 is SysWOW64 (file-system redirection): both are watched.
        folders = [self.env.from_windows_path(tmp),
                   self.env.from_windows_path("C:\\windows\\syswow64")]
        # The attack works: a plain program of the same bitness writes where TMP points.
        marker = "quorvex-control-" + fixtures.new_guid().strip("{}") + ".txt"
        result = self.env.wine([opener, "temp", marker], extra_env={"TMP": tmp})
        self.assertIn("written", result.stdout, result)
        written = [f for f in folders if os.path.exists(os.path.join(f, marker))]
        self.assertEqual(len(written), 1, result.stdout)
        os.remove(os.path.join(written[0], marker))

        name = f"Extract Tmp {self.build.name}"
        product = self.install(name, INSTALLED)
        exe = self.update(self.patch_of(name, product.code, product.upgrade_code))
        before = [set(os.listdir(f)) for f in folders]
        result = self.env.run(exe, ["/e"], extra_env={"TMP": tmp})
        self.assertEqual(result.exit_code, 0, result)
        self.assertEqual(shown(result.boxes), failure(5))
        self.assertEqual([set(os.listdir(f)) - b for f, b in zip(folders, before)], [set(), set()])

        # The control of the rule: TMP in the profile still gets the payload.
        out = self.in_profile("extract")
        result = self.env.run(exe, ["/e"], extra_env={"TMP": self.windows(out)})
        self.assertEqual(result.boxes, [])
        self.assertEqual(without_run_logs(os.listdir(out)), ["MSP2"])


# --------------------------------------------------------------- the protected log folder


@harness.each_build
class LogFolderMadeFirst(ElevationCase):
    """Users may create folders in C:\\Windows\\Temp: one may make QuorvexUpdate-Logs before any
    elevated run does. Such a folder is not used, and the logs go into a fresh protected folder
    beside it rather than nowhere."""

    def test_a_folder_a_user_made_first_gives_way_to_a_fresh_protected_one(self):
        temp = self.env.from_windows_path("C:\\windows\\temp")
        logs = os.path.join(temp, LOG_FOLDER)
        aside = logs + ".aside-" + fixtures.new_guid().strip("{}")
        if os.path.exists(logs):
            os.rename(logs, aside)
        try:
            # The attack works: a plain program makes a folder of that name.
            result = self.env.wine(["cmd", "/c", "mkdir", "C:\\windows\\temp\\" + LOG_FOLDER])
            self.assertTrue(os.path.isdir(logs), result)
            name = f"Squatted Logs {self.build.name}"
            product = self.install(name, INSTALLED)
            exe = self.update(self.patch_of(name, product.code, product.upgrade_code))
            stem = os.path.splitext(os.path.basename(exe))[0]
            result = self.env.run(exe, [], extra_env={"TMP": "C:\\windows\\system32"})
            self.assertEqual(shown(result.boxes), [expected_box(1033, 301, name)])
            self.assert_patched(product.code)
            self.assertEqual(os.listdir(logs), [])
            fresh = glob.glob(logs + "-*")
            self.assertEqual(len(fresh), 1, fresh)
            self.assertRegex(os.path.basename(fresh[0]), r"^QuorvexUpdate-Logs-[0-9a-f]{32}$")
            names = os.listdir(fresh[0])
            self.assertIn(name + LOG_SUFFIX, names)
            self.assertEqual(len([n for n in names if n.startswith(stem + "_")]), 1, names)
            mode = stat.S_IMODE(os.stat(fresh[0]).st_mode)
            self.assertEqual(mode & 0o007, 0, oct(mode))
        finally:
            for folder in glob.glob(logs + "-*"):
                shutil.rmtree(folder)
            shutil.rmtree(logs, ignore_errors=True)
            if os.path.exists(aside):
                os.rename(aside, logs)
