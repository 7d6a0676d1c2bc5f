"""Silent deployment end to end: the exit codes that "/exitcode" gives, and the run log that every
run writes, in its default place and where "/log" puts it.

Wine's loader hands a Windows exit code to Linux cut to its low eight bits, so every run whose
code matters goes through tests/drivers/exit_status.exe, which prints the whole code. Under Wine
the installer call returns 0 whatever becomes of the patch, so the codes an installer gives
(3010, 1641, 1618, 1603) are shown by the unit tests against the fake installer; here the codes
come from the updater's own findings: applied, up to date, no target, not covered, not a patch.
"""

import glob
import os
import re
import subprocess
import unittest

import fixtures
import harness
from catalogue import expected_box, shown
from updates import ProductCase, build_update, random_file

UPGRADE, INSTALLED = "2.0.0.0", "1.0.0.0"
VERSIONS = f"{UPGRADE};{INSTALLED}"
UTF8_BOM = b"\xef\xbb\xbf"
ENTRY = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  ")
STALL_SECONDS = 40


class DeployTest(ProductCase):
    FOLDER = "deploy"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.build = harness.first_build()
        cls.exit_status = harness.artefact("tests", "drivers", "exit_status.exe")

    # ------------------------------------------------------------------------------ fixtures

    def product(self, name, version=INSTALLED, stall=False):
        if not stall:
            return self.install(name, version)
        stall_exe = harness.artefact("tests", "drivers", "stall.exe")
        return self.install(name, version, prepare=lambda msi: add_stalling_action(msi, stall_exe))

    def patch(self, targets, versions=VERSIONS, patched=()):
        return self.make_patch(targets, versions, patched)

    def update(self, global_patch):
        # Carried unchecked: one case is a payload that is no patch at all.
        return build_update(os.path.join(self.folder, fixtures.new_guid() + ".exe"), global_patch,
                            validate=False, build=self.build)

    # ------------------------------------------------------------------------------- running

    def run_with_code(self, exe, *args, timeout=120):
        """Runs the update through the exit-code driver; (exit code, boxes). The driver is a
        64-bit test tool; the boxes come from the update, of the build under test."""
        result = self.env.run(self.exit_status, [self.env.to_windows_path(exe), *args],
                              timeout=timeout, hook_bits=self.build.bits)
        match = re.search(r"^exit (\d+)\s*$", result.stdout, re.MULTILINE)
        self.assertIsNotNone(match, result)
        self.assertEqual(glob.glob(os.path.join(self.env.temp_dir, "MSP*")), [],
                         "a payload copy was left behind")
        return int(match.group(1)), result.boxes

    def default_logs(self, exe):
        stem = os.path.splitext(os.path.basename(exe))[0]
        return sorted(glob.glob(os.path.join(self.env.temp_dir, f"{stem}_*.log")))

    def read_log(self, path):
        with open(path, "rb") as f:
            data = f.read()
        self.assertTrue(data.startswith(UTF8_BOM), data[:20])
        text = data[len(UTF8_BOM):].decode("utf-8")
        lines = text.split("\r\n")
        self.assertEqual(lines[-1], "", "the log ends with a whole line")
        for line in lines[:-1]:
            self.assertTrue(ENTRY.match(line) or line.startswith(" " * 25), line)
        return text

    # --------------------------------------------------------------------------------- tests

    def test_exit_codes_of_quiet_runs(self):
        applied = self.product("Deploy Applied")
        current = self.product("Deploy Current", UPGRADE)
        old = self.product("Deploy Old", "0.9.0.0")
        not_a_patch = random_file(self.folder, "not-a-patch.msp", 20000)
        cases = [
            ("applied", self.patch([applied], patched=[applied]), 0),
            ("up to date", self.patch([current]), 0),
            ("no target installed", self.patch([fixtures.new_guid()]), 1642),
            ("version not covered", self.patch([old], patched=[old]), 1642),
            ("not a patch", not_a_patch, 1603),
        ]
        for name, payload, code in cases:
            with self.subTest(name):
                exe = self.update(payload)
                self.assertEqual(self.run_with_code(exe, "/q", "/exitcode"), (code, []))
                self.assertEqual(self.run_with_code(exe, "/q"), (0, []), "without /exitcode")
        self.assertEqual(self.state(applied)["version"], UPGRADE)
        self.assertEqual(self.state(old)["version"], "0.9.0.0")

    def test_run_log_in_its_default_place(self):
        product = self.product("Deploy Logged")
        old = self.product("Deploy Logged Old", "0.9.0.0")
        exe = self.update(self.patch([product, old], patched=[product]))
        code, _ = self.run_with_code(exe, "/q", "/exitcode")
        self.assertEqual(code, 1642)
        logs = self.default_logs(exe)
        self.assertEqual(len(logs), 1, logs)
        self.assertRegex(os.path.basename(logs[0]), r"_\d{14}_[0-9a-f]{8}\.log$")
        text = self.read_log(logs[0])
        for expected in (product.code, product.name, INSTALLED, old.name, "0.9.0.0",
                         "patch", "not covered", "result 0", "exit code 1642", "/exitcode"):
            self.assertIn(expected, text)
        installer_log = os.path.join(self.env.temp_dir, f"{product.name} SP1.log")
        self.assertIn(self.env.to_windows_path(installer_log).split("\\")[-1], text)

        # A second run of the same update gets a log of its own.
        self.assertEqual(self.run_with_code(exe, "/q")[0], 0)
        self.assertEqual(len(self.default_logs(exe)), 2)

    def test_run_log_where_the_command_line_puts_it(self):
        product = self.product("Deploy Named Log")
        exe = self.update(self.patch([product], patched=[product]))
        log = os.path.join(self.folder, "named", "run.log")
        os.makedirs(os.path.dirname(log))
        code, boxes = self.run_with_code(exe, "/log", self.env.to_windows_path(log), "/exitcode")
        self.assertEqual((code, shown(boxes)), (0, [expected_box(1033, 301, product.name)]))
        text = self.read_log(log)
        self.assertIn(product.name, text)
        self.assertIn("Installation Successful", text)
        self.assertIn("exit code 0", text)
        self.assertEqual(self.default_logs(exe), [])

    def test_a_log_in_a_missing_folder_changes_nothing_else(self):
        product = self.product("Deploy Missing Log Folder")
        exe = self.update(self.patch([product], patched=[product]))
        log = os.path.join(self.folder, "no such folder", "run.log")
        code, boxes = self.run_with_code(exe, "/log", self.env.to_windows_path(log), "/exitcode")
        self.assertEqual((code, shown(boxes)), (0, [expected_box(1033, 301, product.name)]))
        self.assertEqual(self.state(product)["version"], UPGRADE)
        self.assertFalse(os.path.exists(os.path.dirname(log)))
        self.assertEqual(self.default_logs(exe), [])

    def test_extract_and_report_runs_log_what_they_did(self):
        payload = self.patch([fixtures.new_guid()])
        exe = self.update(payload)
        target = os.path.join(self.folder, "extracted.msp")
        code, boxes = self.run_with_code(exe, "/e", self.env.to_windows_path(target), "/i",
                                         "/exitcode")
        self.assertEqual(code, 0)
        self.assertEqual(len(boxes), 1)
        text = self.read_log(self.default_logs(exe)[0])
        self.assertIn("extracted.msp", text)
        self.assertIn(str(os.path.getsize(payload)), text)
        self.assertIn("Info", text)

        missing = os.path.join(self.folder, "no such folder", "x.msp")
        self.assertEqual(self.run_with_code(exe, "/e", self.env.to_windows_path(missing),
                                            "/exitcode")[0], 1603)
        self.assertEqual(self.run_with_code(exe, "/e", self.env.to_windows_path(missing))[0], 0)

    def test_a_run_killed_during_the_installer_call_leaves_its_log(self):
        product = self.product("Deploy Killed", stall=True)
        exe = self.update(self.patch([product], patched=[product]))
        with self.assertRaises(harness.RunTimeout):
            self.env.run(exe, ["/q"], timeout=10)
        logs = self.default_logs(exe)
        self.assertEqual(len(logs), 1, logs)
        entries = [line for line in self.read_log(logs[0]).split("\r\n") if ENTRY.match(line)]
        self.assertRegex(entries[-1], rf"Installer call for {re.escape(product.code)}.* starts")

    def test_the_stalling_product_holds_the_installer_call(self):
        # The control for the test above: the same product, left alone, is patched after the
        # stall, so the kill really came while the installer call was running.
        product = self.product("Deploy Stall Control", stall=True)
        exe = self.update(self.patch([product], patched=[product]))
        result = self.env.run(exe, ["/q"], timeout=STALL_SECONDS + 60)
        self.assertGreater(result.seconds, STALL_SECONDS - 1)
        self.assertEqual(self.state(product)["version"], UPGRADE)


def add_stalling_action(msi, stall_exe, seconds=STALL_SECONDS):
    """Adds to the product an immediate custom action that runs stall.exe while the product is
    being patched (the PATCH property is set only then), so that an installer call lasts
    seconds (STALL_SECONDS unless told)."""
    work = os.path.join(os.path.dirname(msi), os.path.basename(msi) + ".stall")
    os.makedirs(work, exist_ok=True)
    command = f'"{fixtures.windows_path(stall_exe)}" {seconds}'
    with open(os.path.join(work, "CustomAction.idt"), "wb") as f:
        f.write(("Action\tType\tSource\tTarget\r\ns72\ti2\tS72\tS255\r\nCustomAction\tAction\r\n"
                 f"StallWhilePatching\t34\tTARGETDIR\t{command}\r\n").encode("utf-8"))
    rows = subprocess.run(["msiinfo", "export", str(msi), "InstallExecuteSequence"],
                          capture_output=True, text=True, check=True).stdout.splitlines()
    rows.append("StallWhilePatching\tPATCH\t1450")
    with open(os.path.join(work, "InstallExecuteSequence.idt"), "wb") as f:
        f.write(("\r\n".join(rows) + "\r\n").encode("utf-8"))
    for table in ("CustomAction", "InstallExecuteSequence"):
        subprocess.run(["msibuild", str(msi), "-i", os.path.join(work, f"{table}.idt")],
                       capture_output=True, check=True)


if __name__ == "__main__":
    unittest.main()
