"""The information report ("/i") under Wine: the box's caption, icon, flags and exact text, with
the operating-system line derived independently from the values Wine reports."""

import glob
import json
import os
import unittest

import fixtures
import harness
from updates import build_update, read_bytes, windows_runner, without_run_logs, work_folder

SEPARATOR = "\n\n" + "-" * 47 + "\n\n"


def reported_version(raw):
    """The values the report is made of, from the driver's raw output: RtlGetVersion's when ntdll
    has it, else GetVersionExW's; the native architecture either way."""
    rtl = raw.get("rtl")
    source = rtl if rtl and (rtl["extended"] or rtl["basic"]) else raw
    values = {key: source[key] for key in ("extended", "major", "minor", "build", "platform",
                                           "productType", "suiteMask")}
    if not values["extended"]:
        values["productType"] = values["suiteMask"] = 0
    values["architecture"] = raw["architecture"]
    return values


def release_name(major, minor, build, workstation, amd64):
    """The release name; None keeps the seed "Windows"."""
    if major >= 6:
        if (major, minor) == (10, 0):
            if workstation:
                return "Windows 11 " if build >= 22000 else "Windows 10 "
            for first, name in ((26100, "2025"), (20348, "2022"), (17763, "2019"), (0, "2016")):
                if build >= first:
                    return f"Windows Server {name} "
        names = {(6, 0): ("Windows Vista ", "Windows Server 2008 "),
                 (6, 1): ("Windows 7 ", "Windows Server 2008 R2 "),
                 (6, 2): ("Windows 8 ", "Windows Server 2012 "),
                 (6, 3): ("Windows 8.1 ", "Windows Server 2012 R2 ")}
        pair = names.get((major, minor), ("Windows ", "Windows Server "))
        return pair[0] if workstation else pair[1]
    if (major, minor) == (5, 2):
        return ("Microsoft Windows XP Professional x64 Edition " if workstation and amd64
                else "Microsoft Windows Server 2003")
    if (major, minor) == (5, 1):
        return "Microsoft Windows XP "
    if (major, minor) == (5, 0):
        return "Microsoft Windows 2000 "
    if major <= 4:
        return "Microsoft Windows NT "
    return None


def describe_os(v):
    """The release and edition line for the values the report is made of, as it words them."""
    if v["platform"] != 2:
        return "Windows", "0.0.0.0"
    workstation = v["productType"] == 1
    amd64 = v["architecture"] == 9
    major, minor = v["major"], v["minor"]
    text = release_name(major, minor, v["build"], workstation, amd64) or "Windows"
    if v["extended"] and workstation and not amd64:
        text += ("Workstation 4.0 " if major == 4 else
                 "Home Edition " if v["suiteMask"] & 0x200 else "Professional ")
    return text, f"{major & 0xFFFF}.{minor & 0xFFFF}.0.0"


def os_line(env, build=None):
    """The report's OSInfo line for what the platform reports now to a program of build (by
    default the x64 one), and the raw values."""
    relative = ("tests", "drivers", "inspection_driver.exe")
    driver = build.artefact(*relative) if build else harness.artefact(*relative)
    raw = json.loads(env.wine([driver, "os", "-"]).stdout)
    description, version = describe_os(reported_version(raw))
    return f"{description}({version})", raw


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


@harness.each_build
class InformationReport(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.env = harness.shared_env()
        run = windows_runner(cls.env)
        cls.folder = work_folder(cls.env, "report")
        cls.os_line, _ = os_line(cls.env, cls.build)

        cls.codes = [fixtures.new_guid() for _ in range(3)]
        cls.global_props = (";".join(cls.codes[:2]), "2.1.30.04;2.0.10.0,2.1.0.0")
        cls.lp_props = (cls.codes[2] + ";", "3.0;1.0;2.0")
        cls.ps_props = (";" + cls.codes[0], "4.0.0.0")

        def patch(name, props):
            return str(fixtures.make_patch(run, os.path.join(cls.folder, name), targets=props[0],
                                           versions=props[1]))

        cls.global_patch = patch("global.msp", cls.global_props)
        cls.one = build_update(os.path.join(cls.folder, "one.exe"), cls.global_patch,
                               validate=False, build=cls.build)
        cls.three = build_update(os.path.join(cls.folder, "three.exe"), cls.global_patch,
                                 patch("lp.msp", cls.lp_props), patch("ps.msp", cls.ps_props),
                                 validate=False, build=cls.build)

    def show(self, exe, *args):
        before = set(without_run_logs(glob.glob(os.path.join(self.env.temp_dir, "*"))))
        result = self.env.run(exe, list(args))
        self.assertEqual(result.exit_code, 0, result)
        self.assertEqual(set(without_run_logs(glob.glob(os.path.join(self.env.temp_dir, "*")))),
                         before,
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


WINE_KEY = r"HKCU\Software\Wine"


class ReportNamesTheRunningWindows(unittest.TestCase):
    """The report under Wine set to answer as other Windows releases (HKCU\\Software\\Wine,
    value Version). The expected line is derived from what the platform reports, since Wine 8
    gives win7 and win2008r2 each other's product type."""

    @classmethod
    def setUpClass(cls):
        cls.env = harness.shared_env()
        cls.folder = work_folder(cls.env, "report-windows")
        cls.props = (fixtures.new_guid(), "2.0.0.0;1.0.0.0")
        patch = fixtures.make_patch(windows_runner(cls.env), os.path.join(cls.folder, "g.msp"),
                                    targets=cls.props[0], versions=cls.props[1])
        cls.update = build_update(os.path.join(cls.folder, "u.exe"), str(patch),
                                  build=harness.first_build())
        if cls.env.wine(["reg", "query", WINE_KEY, "/v", "Version"]).exit_code == 0:
            raise AssertionError("the prefix already sets a Windows version")

    def answer_as(self, setting):
        if setting is None:
            return
        self.addCleanup(self.env.wine, ["reg", "delete", WINE_KEY, "/v", "Version", "/f"])
        added = self.env.wine(["reg", "add", WINE_KEY, "/v", "Version", "/d", setting, "/f"])
        self.assertEqual(added.exit_code, 0, added)

    def shown_line(self):
        result = self.env.run(self.update, ["/i"])
        self.assertEqual(result.exit_code, 0, result)
        self.assertEqual(len(result.boxes), 1, result.boxes)
        return result.boxes[0]["text"].rsplit("\n\t", 1)[1]

    def test_os_line(self):
        # setting: (line for what Wine 8 reports, GetVersionExW's major.minor there)
        cases = {None: ("Windows 7 (6.1.0.0)", (6, 1)),
                 "win10": ("Windows 10 (10.0.0.0)", (6, 2)),
                 "win81": ("Windows 8.1 (6.3.0.0)", (6, 2)),
                 "winxp": ("Microsoft Windows XP (5.1.0.0)", (5, 1)),
                 "win2008": ("Windows Server 2008 (6.0.0.0)", (6, 0)),
                 "win7": (None, (6, 1))}
        for setting, (literal, legacy) in cases.items():
            with self.subTest(setting=setting):
                self.answer_as(setting)
                expected, raw = os_line(self.env)
                # GetVersionExW answers win10 and win81 with 6.2: the report must not take it.
                self.assertEqual((raw["major"], raw["minor"]), legacy, raw)
                if literal:
                    self.assertEqual(expected, literal, raw)
                self.assertEqual(self.shown_line(), expected)
                self.doCleanups()
        self.assertEqual(self.shown_line(), "Windows 7 (6.1.0.0)", "the setting was not undone")


if __name__ == "__main__":
    unittest.main()
