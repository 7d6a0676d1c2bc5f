"""The message-box watcher's own tests: showboxes.exe shows known boxes, and every field the
watcher records for them is checked, for a 64-bit showboxes and, where 32-bit programs run, a
32-bit one (whose exact flags come from the watcher's 32-bit hook)."""

import collections
import re
import unittest

import harness

MB_TOPMOST = 0x40000

Box = collections.namedtuple("Box", "caption text icon flags buttons button_ids")

# The boxes of tools/boxwatch/showboxes.cpp, in the order it shows them.
EXPECTED = [
    Box("Installation Error", "The update could not be applied.\nError code: 1603", "error",
        0x50010, ["OK"], [1]),
    Box("Installation Successful", "Contoso Viewer has been updated.", "information", 0x50040,
        ["OK"], [1]),
    Box("Info", "Line one\nLine two\n\n\tindented line four\r\nend", "warning", 0x50030, ["OK"],
        [1]),
    Box("Error", "A box without an icon.", "none", 0x50000, ["OK"], [1]),
    Box("インストール エラー", "更新プログラムを適用できませんでした。", "error", 0x50010, ["OK"], [1]),
    Box("Ошибка", "Обновление не требуется.", "information", 0x50040, ["OK"], [1]),
    Box("安装成功", "产品已更新。\n\U0001F600 \"C:\\Temp\"", "warning", 0x50030, ["OK"], [1]),
    Box("Question", "Continue?", "question", 0x21, ["OK", "Cancel"], [1, 2]),
]


def showboxes():
    return harness.artefact("tools", "boxwatch", "showboxes.exe")


def reported_pid(stdout):
    match = re.search(r"^pid=(\d+)\s*$", stdout, re.MULTILINE)
    if not match:
        raise AssertionError(f"showboxes printed no pid: {stdout!r}")
    return int(match.group(1))


@harness.each_build
class BoxFieldsTest(unittest.TestCase):
    """Boxes shown one after another by a program of the build's bitness: everything recorded,
    exactly, in order, once."""

    @classmethod
    def setUpClass(cls):
        cls.result = harness.shared_env().run(
            cls.build.artefact("tools", "boxwatch", "showboxes.exe"), ["--exit", "7"], timeout=60)

    def test_exit_code_and_answers(self):
        self.assertEqual(self.result.exit_code, 7, self.result)
        answers = re.findall(r"^box (\d+) returned (\d+)", self.result.stdout, re.MULTILINE)
        self.assertEqual(answers, [(str(i), "1") for i in range(len(EXPECTED))])

    def test_count_and_order(self):
        self.assertEqual([b["caption"] for b in self.result.boxes],
                         [e.caption for e in EXPECTED])
        self.assertEqual([b["seq"] for b in self.result.boxes], list(range(1, len(EXPECTED) + 1)))
        self.assertEqual(len({b["hwnd"] for b in self.result.boxes}), len(EXPECTED))

    def test_every_field(self):
        pid = reported_pid(self.result.stdout)
        for got, want in zip(self.result.boxes, EXPECTED):
            with self.subTest(box=want.caption):
                self.assertEqual(got["text"], want.text)
                self.assertEqual(got["icon"], want.icon)
                self.assertEqual(got["flags"], want.flags)
                self.assertIs(got["topmost"], bool(want.flags & MB_TOPMOST))
                self.assertEqual(got["buttons"], want.buttons)
                self.assertEqual(got["button_ids"], want.button_ids)
                self.assertEqual(got["pid"], pid)
                self.assertEqual(got["process"].lower(), "showboxes.exe")
                self.assertEqual(got["bits"], self.build.bits)
                self.assertEqual(got["source"], "hook")


class WatcherBehaviourTest(unittest.TestCase):

    def test_boxes_shown_at_the_same_time_are_each_recorded_once(self):
        result = harness.shared_env().run(showboxes(), ["--concurrent"], timeout=60)
        self.assertEqual(result.exit_code, 0, result)
        got = sorted((b["caption"], b["text"], b["icon"], b["flags"]) for b in result.boxes)
        want = sorted((e.caption, e.text, e.icon, e.flags) for e in EXPECTED)
        self.assertEqual(got, want)
        self.assertEqual(len({b["tid"] for b in result.boxes}), len(EXPECTED))

    def test_a_box_that_stays_up_after_being_pressed_is_recorded_once(self):
        # Each box's thread is busy for 1.2 s once the box is up, longer than the watcher waits
        # before pressing a box again, so the box stays on screen through many watcher passes.
        result = harness.shared_env().run(showboxes(), ["--count", "3", "--stall", "1200"],
                                          timeout=60)
        self.assertEqual(result.exit_code, 0, result)
        self.assertEqual([b["caption"] for b in result.boxes],
                         [e.caption for e in EXPECTED[:3]])

    def test_each_run_reports_only_its_own_boxes(self):
        env = harness.shared_env()
        for count, exit_code in [(2, 0), (0, 3), (1, 255), (3, 1)]:
            with self.subTest(count=count):
                result = env.run(showboxes(), ["--count", str(count), "--exit", str(exit_code)],
                                 timeout=60)
                self.assertEqual(result.exit_code, exit_code, result)
                self.assertEqual([b["caption"] for b in result.boxes],
                                 [e.caption for e in EXPECTED[:count]])

    def test_without_hook_the_icon_comes_from_the_screen(self):
        result = harness.shared_env().run(showboxes(), timeout=60, watcher_args=["--no-hook"])
        self.assertEqual(result.exit_code, 0, result)
        self.assertEqual(len(result.boxes), len(EXPECTED))
        for got, want in zip(result.boxes, EXPECTED):
            with self.subTest(box=want.caption):
                self.assertEqual(got["caption"], want.caption)
                self.assertEqual(got["text"], want.text)
                self.assertEqual(got["icon"], want.icon)
                self.assertIsNone(got["flags"])
                self.assertEqual(got["buttons"], want.buttons)
                self.assertEqual(got["source"], "window")


if __name__ == "__main__":
    unittest.main()
