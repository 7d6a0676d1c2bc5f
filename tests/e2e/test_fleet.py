"""Deployment on many machines, end to end with real products: the wait while another
installation holds the installer's mutex (with Wine's msiexec as the control that does not wait),
no box on a window station nobody sees (with a plain message-box program as the control that
hangs there), "/norestart" in the installer's own log and a restart the installer asks for
(ScheduleReboot) ending as 3010 with message 319, the dry run "/plan" (of chained payloads too),
and the usage "/?".

Exit codes are read through the drivers, which print the whole Windows code (Wine hands Linux
only its low eight bits). Under Wine the installer never answers 1618 (its msi.dll ignores the
mutex), so the retries of a 1618 are shown by the unit tests against the fake installer.
"""

import glob
import os
import re
import subprocess
import unittest

import fixtures
import harness
from catalogue import expected_box, shown, texts
from updates import Product, ProductCase, build_update, random_file

UPGRADE, INSTALLED = "2.0.0.0", "1.0.0.0"
VERSIONS = f"{UPGRADE};{INSTALLED}"


def driver_output(result):
    """The "name value" lines a driver prints, as {name: value}."""
    lines = dict(line.split(" ", 1) for line in result.stdout.splitlines() if " " in line)
    lines.update({line: "" for line in result.stdout.splitlines() if " " not in line})
    return lines


@harness.each_build
class FleetTest(ProductCase):
    FOLDER = "fleet"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.exit_status = cls.build.artefact("tests", "drivers", "exit_status.exe")
        cls.hold_mutex = cls.build.artefact("tests", "drivers", "hold_mutex.exe")
        cls.hidden_station = cls.build.artefact("tests", "drivers", "hidden_station.exe")
        cls.plain_box = cls.build.artefact("tests", "drivers", "plain_box.exe")

    def update(self, payload, validate=True):
        return build_update(os.path.join(self.folder, fixtures.new_guid() + ".exe"), payload,
                            validate=validate, build=self.build)

    def patched_update(self, name):
        # Each build's copy installs products of its own names: the installer logs of both
        # share the temporary folder.
        product = self.install(f"{name} {self.build.name}", INSTALLED)
        return product, self.update(self.make_patch([product], VERSIONS, patched=[product]))

    def win(self, path):
        return self.env.to_windows_path(path)

    def run_with_code(self, exe, *args):
        """(exit code, boxes) of the update run through the exit-code driver."""
        result = self.env.run(self.exit_status, [self.win(exe), *args], timeout=120)
        match = re.search(r"^exit (\d+)\s*$", result.stdout, re.MULTILINE)
        self.assertIsNotNone(match, result)
        return int(match.group(1)), result.boxes

    def run_log(self, exe):
        stem = os.path.splitext(os.path.basename(exe))[0]
        # Names of one second differ only in their random part: the newest is the last written.
        logs = sorted(glob.glob(os.path.join(self.env.temp_dir, f"{stem}_*.log")),
                      key=os.path.getmtime)
        self.assertTrue(logs, "no run log")
        with open(logs[-1], "rb") as f:
            return f.read().decode("utf-8-sig")

    def installer_log(self, product):
        return os.path.join(self.env.temp_dir, f"{product.name} SP1.log")

    # ---------------------------------------------------------------- another installation

    def test_the_update_waits_while_another_installation_runs(self):
        product, exe = self.patched_update("Fleet Busy")
        out = driver_output(self.env.wine(
            [self.hold_mutex, "4", self.win(exe), "/q", "/exitcode"], timeout=90))
        self.assertEqual(out.get("exit"), "0", out)
        self.assertGreaterEqual(int(out["ended"]), int(out["released"]),
                                "the update ended before the mutex was released")
        self.assertEqual(self.state(product)["version"], UPGRADE)
        log = self.run_log(exe)
        self.assertIn(f"Installer busy before the call for {product.code}", log)
        waited = re.search(r"Installer free for .* after waiting (\d+) ms", log)
        self.assertIsNotNone(waited, log)
        self.assertGreaterEqual(int(waited.group(1)), 3000)

    def test_a_mutex_abandoned_by_its_owner_counts_as_free(self):
        # An installation whose process died leaves the mutex abandoned, not owned.
        product, exe = self.patched_update("Fleet Abandoned")
        out = driver_output(self.env.wine(
            [self.hold_mutex, "abandon", "10", self.win(exe), "/q", "/exitcode"], timeout=90))
        self.assertEqual(out.get("exit"), "0", out)
        self.assertLess(int(out["ended"]), 10000, "the update waited for an abandoned mutex")
        self.assertEqual(self.state(product)["version"], UPGRADE)
        self.assertNotIn("Installer busy", self.run_log(exe))

    def test_control_msiexec_does_not_wait_for_the_mutex(self):
        # Wine's installer ignores the mutex: a program that does not look at it patches while
        # another installation holds it, where Windows would fail it with 1618.
        product = self.install("Fleet Busy Control", INSTALLED)
        patch = self.make_patch([product], VERSIONS, patched=[product])
        out = driver_output(self.env.wine(
            [self.hold_mutex, "15", "msiexec", "/p", self.win(patch), "/qn"], timeout=90))
        self.assertEqual(out.get("exit"), "0", out)
        self.assertLess(int(out["ended"]), 15000, "msiexec ended only after the release")
        self.assertEqual(self.state(product)["version"], UPGRADE)

    def test_after_the_bound_the_call_is_not_made_and_the_result_is_1618(self):
        product, exe = self.patched_update("Fleet Busy Bound")
        out = driver_output(self.env.wine(
            [self.hold_mutex, "10", self.win(exe), "/q", "/exitcode", "/wait", "2"], timeout=90))
        self.assertEqual(out.get("exit"), "1618", out)
        self.assertLess(int(out["ended"]), 10000, "the update waited past its bound")
        self.assertEqual(self.state(product)["version"], INSTALLED)
        self.assertIn("Installer still busy after waiting", self.run_log(exe))

    # ------------------------------------------------------------- nobody sees the screen

    def test_no_box_on_a_window_station_nobody_sees(self):
        product, exe = self.patched_update("Fleet Hidden Station")
        out = driver_output(self.env.wine([self.hidden_station, "30", self.win(exe), "/exitcode"],
                                          timeout=90))
        self.assertEqual(out.get("station"), "flags 0", out)
        self.assertEqual(out.get("exit"), "0", out)
        self.assertEqual(self.state(product)["version"], UPGRADE)
        log = self.run_log(exe)
        self.assertIn("Window station not visible", log)
        self.assertIn("not shown: window station not visible", log)

    def test_control_a_plain_box_hangs_on_that_window_station(self):
        out = driver_output(self.env.wine([self.hidden_station, "4", self.plain_box], timeout=60))
        self.assertEqual(out.get("station"), "flags 0", out)
        self.assertIn("timeout", out, out)

    # ------------------------------------------------------------------------- restarts

    def test_norestart_reaches_the_installer(self):
        suppressed, exe = self.patched_update("Fleet No Restart")
        self.assertEqual(self.run_with_code(exe, "/q", "/norestart", "/exitcode"), (0, []))
        plain, control = self.patched_update("Fleet Restart Allowed")
        self.assertEqual(self.run_with_code(control, "/q", "/exitcode"), (0, []))
        with open(self.installer_log(suppressed), encoding="utf-8", errors="replace") as f:
            self.assertIn("REBOOT = ReallySuppress", f.read())
        with open(self.installer_log(plain), encoding="utf-8", errors="replace") as f:
            self.assertNotIn("REBOOT = ReallySuppress", f.read())
        self.assertEqual(self.state(suppressed)["version"], UPGRADE)

    def test_a_restart_the_installer_asks_for_ends_as_3010_and_is_told(self):
        product = self.install(f"Fleet Reboot {self.build.name}", INSTALLED,
                               prepare=add_scheduled_reboot)
        exe = self.update(self.make_patch([product], VERSIONS, patched=[product]))
        code, boxes = self.run_with_code(exe, "/norestart", "/exitcode")
        self.assertEqual(code, 3010, boxes)
        self.assertEqual(shown(boxes), [expected_box(1033, 319, product.name)])
        self.assertEqual(self.state(product)["version"], UPGRADE)

    # -------------------------------------------------------------------------- dry run

    def test_plan_before_and_after_a_run(self):
        product, exe = self.patched_update("Fleet Plan")
        extracted = os.path.join(self.folder, "planned.msp")
        for args in (["/plan"], ["/plan", "/exitcode"], ["/plan", "/e", self.win(extracted)]):
            with self.subTest(args=args):
                self.assertEqual(self.run_with_code(exe, *args), (1, []))
        self.assertFalse(os.path.exists(extracted))
        self.assertFalse(os.path.exists(self.installer_log(product)))
        self.assertEqual(self.state(product)["version"], INSTALLED)
        log = self.run_log(exe)
        self.assertIn(f"Decision for {product.code}", log)
        self.assertIn("(/plan: not patched)", log)
        self.assertIn("exit code 1 (returned: /plan given)", log)

        self.assertEqual(self.run_with_code(exe, "/q"), (0, []))
        self.assertEqual(self.state(product)["version"], UPGRADE)
        self.assertEqual(self.run_with_code(exe, "/plan"), (0, []))

    def test_plan_without_a_target_and_with_an_unreadable_payload(self):
        no_target = self.update(self.make_patch([fixtures.new_guid()], VERSIONS))
        self.assertEqual(self.run_with_code(no_target, "/plan"), (1642, []))
        unreadable = self.update(random_file(self.folder, "noise.msp", 20000), validate=False)
        self.assertEqual(self.run_with_code(unreadable, "/plan"), (1603, []))

    def chained_update(self, name, second_versions, second_from):
        """A product at INSTALLED and an update carrying two patches of it: the global one takes
        it to UPGRADE, the language pack (second_versions) from second_from to its own upgrade
        version."""
        product = self.install(f"{name} {self.build.name}", INSTALLED)
        first = self.make_patch([product], VERSIONS, patched=[product])
        at = Product(product.name, product.language, second_from, product.code,
                     product.upgrade_code)
        second = self.make_patch([product], second_versions, patched=[at])
        exe = build_update(os.path.join(self.folder, fixtures.new_guid() + ".exe"), first,
                           language_pack=second, build=self.build)
        return product, exe

    def test_plan_of_a_chain_counts_what_the_first_payload_brings(self):
        # The second payload targets the version the first one brings: both are to be patched.
        product, exe = self.chained_update("Fleet Chain", f"3.0.0.0;{UPGRADE}", UPGRADE)
        self.assertEqual(self.run_with_code(exe, "/plan"), (1, []))
        log = self.run_log(exe)
        self.assertEqual(log.count("(/plan: not patched)"), 2, log)
        self.assertIn(f'Plan for {product.code} "{product.name}": patch: installed version '
                      f"{UPGRADE} is one of the target versions (the version IDR_MSP would "
                      "leave)", log)
        self.assertIn("Plan for payload IDR_MSP_LP (Language pack MSP): applied", log)
        self.assertEqual(self.state(product)["version"], INSTALLED)

        self.assertEqual(self.run_with_code(exe, "/q", "/exitcode"), (0, []))
        self.assertEqual(self.state(product)["version"], "3.0.0.0")
        log = self.run_log(exe)
        self.assertEqual(log.count(f'Installer call for {product.code} "{product.name}" ended: '
                                   "result 0"), 2, log)
        self.assertNotIn("differs from the plan", log)

    def test_plan_of_a_chain_whose_second_payload_targets_the_replaced_version(self):
        # The second payload covers only the version the first one replaces: the run ends 1642,
        # and so does the plan, which does not count the second payload as to be patched.
        product, exe = self.chained_update("Fleet Chain Replaced", f"3.0.0.0;{INSTALLED}",
                                           INSTALLED)
        self.assertEqual(self.run_with_code(exe, "/plan"), (1642, []))
        log = self.run_log(exe)
        self.assertEqual(log.count("(/plan: not patched)"), 1, log)
        self.assertIn("Message 308", log)
        self.assertEqual(self.run_with_code(exe, "/q", "/exitcode"), (1642, []))
        self.assertEqual(self.state(product)["version"], UPGRADE)

    # ---------------------------------------------------------------------------- usage

    def test_usage_box_applies_nothing(self):
        product, exe = self.patched_update("Fleet Usage")
        table = texts(1033)
        usage = "\n".join(table[i] for i in (320, 321, 322))
        for switch in ("/?", "/HELP"):
            with self.subTest(switch=switch):
                code, boxes = self.run_with_code(exe, switch, "/exitcode")
                self.assertEqual(code, 0)
                self.assertEqual([(b["caption"], b["text"], b["icon"]) for b in boxes],
                                 [("Quorvex Updater", usage, "information")])
        self.assertEqual(self.run_with_code(exe, "/?", "/q"), (0, []))
        self.assertEqual(self.state(product)["version"], INSTALLED)


def add_scheduled_reboot(msi):
    """Adds ScheduleReboot to the product's execution sequence while it is being patched (the
    PATCH property is set only then): the installer then asks for a restart at the end."""
    work = os.path.join(os.path.dirname(msi), os.path.basename(msi) + ".reboot")
    os.makedirs(work, exist_ok=True)
    rows = subprocess.run(["msiinfo", "export", str(msi), "InstallExecuteSequence"],
                          capture_output=True, text=True, check=True).stdout.splitlines()
    rows.append("ScheduleReboot\tPATCH\t6650")
    table = os.path.join(work, "InstallExecuteSequence.idt")
    with open(table, "wb") as f:
        f.write(("\r\n".join(rows) + "\r\n").encode("utf-8"))
    subprocess.run(["msibuild", str(msi), "-i", table], capture_output=True, check=True)


if __name__ == "__main__":
    unittest.main()
