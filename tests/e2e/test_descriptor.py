"""The deployment descriptor (OUT.json beside each update) end to end: its detection rule, read
the way Intune reads a product-code rule (through the installer API: MsiQueryProductStateW and
MsiGetProductInfoW's VersionString, here by tools/msiquery), is false before a run and true after
it; the install command it gives, run under Wine, ends with the codes it lists, with their types
(0, 3010, 1642, 1603, and 1618 with a shorter wait); its facts are the update's (size, SHA-256, patch code); it is reproducible
and written only with the update.

Wine has no PowerShell, so the script rule of an update for several products is checked in what
it says: the targets and versions it lists are the update's, and the condition it states (every
installed target at least at its version, an absent one skipped) is evaluated through the
installer API before and after a run. Wine cannot remove a patch, so the uninstall line is checked
for its form only."""

import base64
import hashlib
import json
import os
import re
import shlex
import subprocess
import time
import unittest

import fixtures
import harness
from test_fleet import add_scheduled_reboot
from updates import (BUILD_UPDATE, ProductCase, build_update, random_file, read_bytes,
                     windows_runner, work_folder)

UPGRADE, INSTALLED = "2.0.0.0", "1.0.0.0"
VERSIONS = f"{UPGRADE};{INSTALLED}"
PRODUCT_CODE_RULE = "#microsoft.graph.win32LobAppProductCodeRule"
SCRIPT_RULE = "#microsoft.graph.win32LobAppPowerShellScriptRule"


def read_descriptor(exe):
    with open(exe + ".json", "rb") as f:
        data = f.read()
    return json.loads(data.decode("ascii"))


def four_parts(text):
    """A version as the updater and the detection script compare it."""
    parts = []
    for item in text.replace(",", ".").split(".")[:4]:
        digits = re.match(r"[0-9]*", item).group(0)
        parts.append(int(digits) % 65536 if digits else 0)
    return parts + [0] * (4 - len(parts))


def script_targets(script):
    """The (product code, version) pairs of the detection script's $targets."""
    return re.findall(r"^\$targets \+= ,@\('(\{[0-9A-F-]{36}\})', '([0-9.]+)'\)\r$", script,
                      re.M)


@harness.each_build
class DescriptorTest(ProductCase):
    FOLDER = "descriptor"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.exit_status = cls.build.artefact("tests", "drivers", "exit_status.exe")
        cls.hold_mutex = cls.build.artefact("tests", "drivers", "hold_mutex.exe")

    def update(self, payload, validate=True):
        return build_update(os.path.join(self.folder, fixtures.new_guid() + ".exe"), payload,
                            validate=validate, build=self.build)

    def product(self, name, version=INSTALLED, prepare=None):
        return self.install(f"{name} {self.build.name}", version, prepare=prepare)

    def run_install_command(self, exe, descriptor):
        """Runs the descriptor's install command (from the update's folder, as Intune does) and
        gives the whole exit code (through the exit-code driver)."""
        command = shlex.split(descriptor["win32LobApp"]["installCommandLine"])
        self.assertEqual(command[0], os.path.basename(exe))
        result = self.env.run(self.exit_status, [self.env.to_windows_path(exe), *command[1:]],
                              timeout=120, hook_bits=self.build.bits)
        match = re.search(r"^exit (\d+)\s*$", result.stdout, re.MULTILINE)
        self.assertIsNotNone(match, result)
        self.assertEqual(result.boxes, [])
        return int(match.group(1))

    def product_rule_holds(self, rule):
        """The product-code rule as Intune evaluates it: the product installed and its
        VersionString at least the rule's version."""
        state = self.state(rule["productCode"])
        self.assertEqual(rule["productVersionOperator"], "greaterThanOrEqual")
        return state["state"] == 5 and four_parts(state["version"]) >= four_parts(
            rule["productVersion"])

    def script_rule_holds(self, targets):
        """The script rule's condition, over the installer API: every listed target that is
        installed at least at its version."""
        states = fixtures.query_products(self.run_windows, [code for code, _ in targets])
        return all(s["state"] != 5 or four_parts(s["version"]) >= four_parts(version)
                   for s, (_, version) in zip(states, targets))

    def return_code_type(self, descriptor, code):
        types = {c["returnCode"]: c["type"] for c in descriptor["win32LobApp"]["returnCodes"]}
        self.assertIn(code, types, f"{code} is not listed")
        return types[code]

    # --------------------------------------------------------------------------------- tests

    def test_the_product_code_rule_is_false_before_a_run_and_true_after(self):
        product = self.product("Descriptor Single")
        patch_code = fixtures.new_guid()
        patch = fixtures.make_patch(self.run_windows, os.path.join(self.folder, "single.msp"),
                                    targets=product.code, versions=VERSIONS,
                                    patch_code=patch_code,
                                    transforms=[product.transform(1, UPGRADE)])
        exe = self.update(str(patch))
        descriptor = read_descriptor(exe)
        app = descriptor["win32LobApp"]
        self.assertEqual(len(app["rules"]), 1)
        rule = app["rules"][0]
        self.assertEqual((rule["@odata.type"], rule["ruleType"], rule["productCode"],
                          rule["productVersion"]),
                         (PRODUCT_CODE_RULE, "detection", product.code, "2.0.0"))
        # Untested under Wine, which removes no patch: the form Microsoft documents.
        self.assertEqual(app["uninstallCommandLine"],
                         f"msiexec /package {product.code} MSIPATCHREMOVE={patch_code} /qn")
        self.assertEqual(descriptor["payloads"][0]["patchCode"], patch_code)
        self.assertEqual(descriptor["update"], {
            "fileName": os.path.basename(exe), "size": os.path.getsize(exe),
            "sha256": hashlib.sha256(read_bytes(exe)).hexdigest()})

        # Installed but at the old version: the rule tests the version, not the presence.
        self.assertEqual(self.state(product)["state"], 5)
        self.assertFalse(self.product_rule_holds(rule), "detected before the run")
        code = self.run_install_command(exe, descriptor)
        self.assertEqual((code, self.return_code_type(descriptor, code)), (0, "success"))
        self.assertTrue(self.product_rule_holds(rule), "not detected after the run")
        self.assertEqual(self.state(product)["patches"], [patch_code])

    def test_the_script_rule_covers_every_installed_target(self):
        first, second = self.product("Descriptor First"), self.product("Descriptor Second")
        absent = fixtures.new_guid()
        exe = self.update(self.make_patch([first, second, absent], VERSIONS,
                                          patched=[first, second]))
        descriptor = read_descriptor(exe)
        rules = descriptor["win32LobApp"]["rules"]
        self.assertEqual([(r["@odata.type"], r["ruleType"]) for r in rules],
                         [(SCRIPT_RULE, "detection")])
        script = base64.b64decode(rules[0]["scriptContent"]).decode("ascii")
        targets = script_targets(script)
        self.assertEqual(targets, [(c, "2.0.0") for c in (first.code, second.code, absent)])
        self.assertIn("WindowsInstaller.Installer", script)
        self.assertNotIn("uninstallCommandLine", descriptor["win32LobApp"])
        self.assertEqual([p["productCode"] for p in descriptor["products"]],
                         [first.code, second.code, absent])

        self.assertFalse(self.script_rule_holds(targets), "detected before the run")
        self.assertEqual(self.run_install_command(exe, descriptor), 0)
        self.assertTrue(self.script_rule_holds(targets), "not detected after the run")
        # The control: one installed target short of its version makes the condition false.
        self.assertFalse(self.script_rule_holds([(first.code, "3.0.0"), (second.code, "2.0.0")]))

    def test_the_listed_return_codes_are_what_the_update_returns(self):
        reboot = self.product("Descriptor Reboot", prepare=add_scheduled_reboot)
        cases = [
            ("a restart asked for", self.make_patch([reboot], VERSIONS, patched=[reboot]), True,
             3010, "softReboot"),
            ("no target installed", self.make_patch([fixtures.new_guid()], VERSIONS), True,
             1642, "failed"),
            ("not a patch", random_file(self.folder, "not-a-patch.msp", 20000), False,
             1603, "failed"),
        ]
        for name, payload, validate, code, kind in cases:
            with self.subTest(name):
                exe = self.update(payload, validate=validate)
                descriptor = read_descriptor(exe)
                returned = self.run_install_command(exe, descriptor)
                self.assertEqual((returned, self.return_code_type(descriptor, returned)),
                                 (code, kind))
                meaning = {c["returnCode"]: c for c in descriptor["returnCodes"]}[code]
                self.assertEqual(meaning["intune"], kind)
        unchecked = descriptor
        self.assertEqual(self.state(reboot)["version"], UPGRADE)
        # 1618: another installation holds the installer's mutex longer than the update waits
        # (the command's default wait, 600 s, shortened to 2 s here).
        busy = self.product("Descriptor Busy")
        exe = self.update(self.make_patch([busy], VERSIONS, patched=[busy]))
        command = shlex.split(read_descriptor(exe)["win32LobApp"]["installCommandLine"])
        result = self.env.wine([self.hold_mutex, "10", self.env.to_windows_path(exe),
                                *command[1:], "/wait", "2"], timeout=90)
        self.assertIn("exit 1618", result.stdout.splitlines(), result)
        self.assertEqual(self.return_code_type(read_descriptor(exe), 1618), "retry")
        self.assertEqual(self.state(busy)["version"], INSTALLED)
        # The unchecked payload is named by its size alone: no rule, no product, no patch code.
        self.assertNotIn("rules", unchecked["win32LobApp"])
        self.assertEqual(unchecked["products"], [])
        self.assertEqual(unchecked["payloads"], [{"resource": "IDR_MSP", "size": 20000,
                                                   "validated": False}])



class DescriptorFiles(unittest.TestCase):
    """Written as the update is: the same bytes from the same inputs, and never alone."""

    def setUp(self):
        env = harness.shared_env()
        self.work = work_folder(env, "descriptor-files")
        self.patch = str(fixtures.make_patch(
            windows_runner(env), os.path.join(self.work, "fix.msp"),
            targets=fixtures.new_guid(), versions=VERSIONS, patch_code=fixtures.new_guid()))

    def test_the_same_inputs_give_the_same_descriptor(self):
        for folder in "abc":
            os.makedirs(os.path.join(self.work, folder))
        first = build_update(os.path.join(self.work, "a", "update.exe"), self.patch, arch="x64")
        time.sleep(1.1)
        second = build_update(os.path.join(self.work, "b", "update.exe"), self.patch, arch="x64")
        self.assertEqual(read_bytes(first + ".json"), read_bytes(second + ".json"))
        # The control: another payload gives another descriptor.
        other = random_file(self.work, "other.msp", 5000)
        third = build_update(os.path.join(self.work, "c", "update.exe"), other, arch="x64",
                             validate=False)
        self.assertNotEqual(read_bytes(third + ".json"), read_bytes(first + ".json"))

    def test_a_failed_build_leaves_neither_file(self):
        empty = os.path.join(self.work, "empty.msp")
        open(empty, "wb").close()
        not_a_patch = random_file(self.work, "random.msp", 5000)
        key = random_file(self.work, "key.pem", 100)
        for name, extra in (("an empty payload", ["--global", empty]),
                            ("no patch, validated", ["--global", not_a_patch]),
                            ("signing fails", ["--global", self.patch, "--sign-cert", key,
                                               "--sign-key", key])):
            with self.subTest(name):
                output = os.path.join(self.work, name.replace(" ", "-") + ".exe")
                result = subprocess.run([BUILD_UPDATE, "--arch", "x64", "--output", output,
                                         *extra], capture_output=True, text=True)
                self.assertNotEqual(result.returncode, 0, result.stderr)
                self.assertEqual(sorted(n for n in os.listdir(self.work)
                                        if n.startswith(name.replace(" ", "-"))
                                        or n.startswith(".build-update")), [])
        # The control: the same command with a good payload writes both.
        output = os.path.join(self.work, "good.exe")
        build_update(output, self.patch, arch="x64")
        self.assertTrue(os.path.isfile(output) and os.path.isfile(output + ".json"))


if __name__ == "__main__":
    unittest.main()
