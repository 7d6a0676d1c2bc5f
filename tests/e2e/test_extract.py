"""Extraction ("/e") and the switches, with the real executable under Wine."""

import os
import unittest

import harness
from updates import (build_update, random_file, read_bytes, run_logs, without_run_logs,
                     profile_folder, work_folder)

PAYLOAD_SIZE = 5 * 1024 * 1024 + 17


@harness.each_build
class Extraction(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.env = harness.shared_env()
        cls.folder = work_folder(cls.env, "extract")
        cls.payload = random_file(cls.folder, "global.msp", PAYLOAD_SIZE)
        cls.exe = build_update(os.path.join(cls.folder, "update.exe"), global_payload=cls.payload,
                               validate=False)
        cls.expected = read_bytes(cls.payload)

    def run_update(self, *args, tmp=None):
        extra = {"TMP": self.env.to_windows_path(tmp)} if tmp else None
        result = self.env.run(self.exe, list(args), extra_env=extra)
        self.assertEqual(result.exit_code, 0, result)
        self.assertEqual(result.boxes, [])
        return result

    def fresh(self, name):
        """A fresh folder in the user's profile: a TMP there is where an elevated run logs."""
        return profile_folder(self.env, name)

    def test_extracts_the_global_payload_byte_for_byte_and_nothing_else(self):
        for switch in ("/e", "/E"):
            with self.subTest(switch=switch):
                out = self.fresh("out")
                target = os.path.join(out, "Fix.msp")
                self.run_update(switch, self.env.to_windows_path(target))
                self.assertEqual(sorted(os.listdir(out)), ["Fix.msp"])
                self.assertEqual(read_bytes(target), self.expected)

    def test_extract_without_path_writes_msp2_into_the_tmp_folder(self):
        tmp = self.fresh("tmp")
        self.run_update("/e", tmp=tmp)
        self.assertEqual(without_run_logs(os.listdir(tmp)), ["MSP2"])
        self.assertEqual(len(run_logs(os.listdir(tmp))), 1)
        self.assertEqual(read_bytes(os.path.join(tmp, "MSP2")), self.expected)

    def test_planted_names_are_left_alone(self):
        tmp = self.fresh("planted")
        with open(os.path.join(tmp, "MSP2"), "w") as f:
            f.write("planted file")
        os.mkdir(os.path.join(tmp, "MSP3"))
        outside = os.path.join(self.fresh("outside"), "victim.txt")
        with open(outside, "w") as f:
            f.write("victim")
        os.symlink(outside, os.path.join(tmp, "MSP4"))
        self.run_update("/e", tmp=tmp)
        self.assertEqual(read_bytes(os.path.join(tmp, "MSP2")), b"planted file")
        self.assertEqual(os.listdir(os.path.join(tmp, "MSP3")), [])
        self.assertEqual(read_bytes(outside), b"victim")
        self.assertEqual(read_bytes(os.path.join(tmp, "MSP5")), self.expected)

    def test_last_extract_path_wins(self):
        out = self.fresh("twice")
        first, second = os.path.join(out, "A.msp"), os.path.join(out, "B.msp")
        self.run_update("/e", self.env.to_windows_path(first), "/e",
                        self.env.to_windows_path(second))
        self.assertEqual(os.listdir(out), ["B.msp"])

    def test_other_arguments_are_ignored(self):
        out = self.fresh("ignored")
        target = os.path.join(out, "Fix.msp")
        self.run_update("foo", "-q", "/x", "/e", self.env.to_windows_path(target), "bar")
        self.assertEqual(read_bytes(target), self.expected)

    def test_pi_writes_nothing_but_its_run_log(self):
        tmp = self.fresh("pi")
        out = self.fresh("pi-out")
        self.run_update("/pi", "/e", self.env.to_windows_path(os.path.join(out, "Fix.msp")),
                        tmp=tmp)
        self.assertEqual(os.listdir(out), [])
        self.assertEqual(len(run_logs(os.listdir(tmp))), 1)
        self.assertEqual(without_run_logs(os.listdir(tmp)), [])

    def test_targets_that_cannot_be_written(self):
        out = self.fresh("bad")
        os.mkdir(os.path.join(out, "folder.msp"))
        cases = {
            "missing folder": os.path.join(out, "missing", "Fix.msp"),
            "300 characters": os.path.join(out, "x" * 300 + ".msp"),
            "a folder": os.path.join(out, "folder.msp"),
        }
        for what, target in cases.items():
            with self.subTest(what):
                self.run_update("/e", self.env.to_windows_path(target))
        self.assertEqual(os.listdir(out), ["folder.msp"])
        self.assertEqual(os.listdir(os.path.join(out, "folder.msp")), [])


@harness.each_build
class ExtractionOfThreePayloads(unittest.TestCase):
    def test_each_kind_gets_its_suffix(self):
        env = harness.shared_env()
        folder = work_folder(env, "three")
        payloads = [random_file(folder, f"{kind}.msp", 1000 + i)
                    for i, kind in enumerate(("global", "lp", "ps"))]
        exe = build_update(os.path.join(folder, "update.exe"), *payloads, validate=False)
        out = work_folder(env, "three-out")
        result = env.run(exe, ["/e", env.to_windows_path(os.path.join(out, "Fix.beta.msp"))])
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(sorted(os.listdir(out)),
                         ["Fix.beta.msp", "Fix.beta_lp.msp", "Fix.beta_ps.msp"])
        for name, payload in zip(("Fix.beta.msp", "Fix.beta_lp.msp", "Fix.beta_ps.msp"), payloads):
            self.assertEqual(read_bytes(os.path.join(out, name)), read_bytes(payload), name)


if __name__ == "__main__":
    unittest.main()
