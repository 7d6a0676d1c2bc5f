"""The information report ("/i") under Wine: the box's caption, icon, flags and exact text, with
the operating-system line derived independently from the values Wine reports."""

import glob
import json
import os
import unittest

import fixtures
import harness
from updates import build_update, read_bytes, windows_runner, work_folder

SEPARATOR = "\n\n" + "-" * 47 + "\n\n"


def describe_os(v):
    """The release and edition line for the raw version values, as the report words them."""
    if v["platform"] != 2:
        return "Windows", "0.0.0.0"
    workstation = v["productType"] == 1
    amd64 = v["architecture"] == 9
    major, minor = v["major"], v["minor"]
    text = "Windows"
    if major == 6:
        text = "Windows Vista " if workstation else 'Windows Server "Longhorn" '
    elif (major, minor) == (5, 2):
        text = ("Microsoft Windows XP Professional x64 Edition " if workstation and amd64
                else "Microsoft Windows Server 2003")
    elif (major, minor) == (5, 1):
        text = "Microsoft Windows XP "
    elif (major, minor) == (5, 0):
        text = "Microsoft Windows 2000 "
    elif major <= 4:
        text = "Microsoft Windows NT "
    if v["extended"] and workstation and not amd64:
        text += ("Workstation 4.0 " if major == 4 else
                 "Home Edition " if v["suiteMask"] & 0x200 else "Professional ")
    return text, f"{major & 0xFFFF}.{minor & 0xFFFF}.0.0"


def section(os_line, codes="", versions=""):
    upgrade, targets = "", ""
    if ";" in versions and not versions.startswith(";"):
        upgrade, targets = versions.split(";", 1)
    return (f"Products:\n{codes.replace(';', chr(10))}\nTarget:\n\t{targets}\nUpgrade:\n\t"
            f"{upgrade}\nOSInfo:\n\t{os_line}")


def report(os_line, global_section=("", ""), language_pack=("", ""), product_specific=("", "")):
    return ("Global MSP\n\n" + section(os_line, *global_section) + SEPARATOR +
            "Language pack MSP\n\n" + section(os_line, *language_pack) + SEPARATOR +
            "Product Specific MSP\n\n" + section(os_line, *product_specific))


class InformationReport(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.env = harness.shared_env()
        run = windows_runner(cls.env)
        cls.folder = work_folder(cls.env, "report")
        driver = harness.artefact("tests", "drivers", "inspection_driver.exe")
        values = json.loads(cls.env.wine([driver, "os", "-"]).stdout)
        description, version = describe_os(values)
        cls.os_line = f"{description}({version})"

        cls.codes = [fixtures.new_guid() for _ in range(3)]
        cls.global_props = (";".join(cls.codes[:2]), "2.1.30.04;2.0.10.0,2.1.0.0")
        cls.lp_props = (cls.codes[2] + ";", "3.0;1.0;2.0")
        cls.ps_props = (";" + cls.codes[0], "4.0.0.0")

        def patch(name, props):
            return str(fixtures.make_patch(run, os.path.join(cls.folder, name), targets=props[0],
                                           versions=props[1]))

        cls.global_patch = patch("global.msp", cls.global_props)
        cls.one = build_update(os.path.join(cls.folder, "one.exe"), cls.global_patch,
                               validate=False)
        cls.three = build_update(os.path.join(cls.folder, "three.exe"), cls.global_patch,
                                 patch("lp.msp", cls.lp_props), patch("ps.msp", cls.ps_props),
                                 validate=False)

    def show(self, exe, *args):
        before = set(glob.glob(os.path.join(self.env.temp_dir, "*")))
        result = self.env.run(exe, list(args))
        self.assertEqual(result.exit_code, 0, result)
        self.assertEqual(set(glob.glob(os.path.join(self.env.temp_dir, "*"))), before,
                         "the report left files in the temporary folder")
        return result.boxes

    def assert_report(self, boxes, text):
        self.assertEqual(len(boxes), 1, boxes)
        box = boxes[0]
        self.assertEqual((box["caption"], box["icon"], box["flags"]), ("Info", "warning", 0x50030))
        self.assertEqual(box["text"], text)
        self.assertTrue(box["text"].endswith(")"))

    def test_report_of_one_payload(self):
        self.assert_report(self.show(self.one, "/i"), report(self.os_line, self.global_props))

    def test_report_of_three_payloads(self):
        self.assert_report(self.show(self.three, "/I"),
                           report(self.os_line, self.global_props, self.lp_props, self.ps_props))

    def test_shown_even_when_quiet(self):
        self.assert_report(self.show(self.one, "/q", "/i"), report(self.os_line, self.global_props))

    def test_extract_then_report(self):
        out = work_folder(self.env, "report-extract")
        target = os.path.join(out, "Fix.msp")
        self.assert_report(self.show(self.one, "/e", self.env.to_windows_path(target), "/i"),
                           report(self.os_line, self.global_props))
        self.assertEqual(read_bytes(target), read_bytes(self.global_patch))

    def test_report_first_extracts_nothing(self):
        out = work_folder(self.env, "report-only")
        boxes = self.show(self.one, "/i", "/e", self.env.to_windows_path(os.path.join(out, "F.msp")))
        self.assert_report(boxes, report(self.os_line, self.global_props))
        self.assertEqual(os.listdir(out), [])


if __name__ == "__main__":
    unittest.main()
