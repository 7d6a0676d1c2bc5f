"""Tests of the harness itself: paths, environment, exit codes and time limits as Wine sees them."""

import contextlib
import io
import itertools
import os
import tempfile
import unittest
import uuid

import harness


def showboxes():
    return harness.artefact("tools", "boxwatch", "showboxes.exe")


def processes_mentioning(word):
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode(errors="replace")
        except OSError:
            continue
        if word.lower() in cmdline.lower():
            found.append((int(pid), cmdline))
    return found


class PathTest(unittest.TestCase):

    def test_paths_map_the_way_wine_maps_them(self):
        env = harness.shared_env()
        cases = [
            (os.path.join(env.drive_c, "windows", "win.ini"), "C:\\windows\\win.ini"),
            ("/tmp/a b/c.txt", "Z:\\tmp\\a b\\c.txt"),
            ("/", "Z:\\"),
        ]
        for unix, windows in cases:
            with self.subTest(unix=unix):
                self.assertEqual(env.to_windows_path(unix), windows)
                self.assertEqual(env.from_windows_path(windows), os.path.normpath(unix))

    def test_windows_names_resolve_case_insensitively(self):
        env = harness.shared_env()
        self.assertEqual(env.from_windows_path("C:\\WINDOWS\\System32\\KERNEL32.DLL"),
                         os.path.join(os.path.realpath(env.drive_c), "windows", "system32",
                                      "kernel32.dll"))

    def test_a_windows_program_reads_the_file_at_the_mapped_path(self):
        env = harness.shared_env()
        token = uuid.uuid4().hex
        for folder in (env.root, env.drive_c):
            with self.subTest(folder=folder):
                with tempfile.NamedTemporaryFile("w", dir=folder, suffix=".txt") as f:
                    f.write(token)
                    f.flush()
                    result = env.wine(["cmd", "/c", "type", env.to_windows_path(f.name)])
                self.assertEqual(result.exit_code, 0, result)
                self.assertEqual(result.stdout.strip(), token)


class EnvironmentTest(unittest.TestCase):

    def test_temp_dir_is_where_windows_programs_write_temporary_files(self):
        env = harness.shared_env()
        name = f"probe-{uuid.uuid4().hex}.txt"
        result = env.wine(["cmd", "/c", f"echo x> %TMP%\\{name}"])
        self.assertEqual(result.exit_code, 0, result)
        self.assertTrue(os.path.isfile(os.path.join(env.temp_dir, name)))

    def test_extra_env_reaches_the_program_and_lasts_one_run(self):
        env = harness.shared_env()
        own_tmp = os.path.join(env.drive_c, "e2e-own-tmp")
        os.makedirs(own_tmp, exist_ok=True)
        cases = [
            ({"TMP": env.to_windows_path(own_tmp)}, "%TMP%", env.to_windows_path(own_tmp)),
            ({"TEMP": "C:\\elsewhere"}, "%TEMP%", "C:\\elsewhere"),
            ({"E2E_PROBE": "value 1"}, "%E2E_PROBE%", "value 1"),
        ]
        default_tmp = env.wine(["cmd", "/c", "echo %TMP%"]).stdout.strip()
        self.assertEqual(env.from_windows_path(default_tmp), env.temp_dir)
        for extra, expression, expected in cases:
            with self.subTest(extra=extra):
                result = env.wine(["cmd", "/c", f"echo {expression}"], extra_env=extra)
                self.assertEqual(result.stdout.strip(), expected)
        self.assertEqual(env.wine(["cmd", "/c", "echo %TMP%"]).stdout.strip(), default_tmp)


class ExitAndTimeoutTest(unittest.TestCase):

    def test_exit_codes_of_console_and_gui_programs(self):
        env = harness.shared_env()
        for code in (0, 1, 42, 255):
            with self.subTest(code=code):
                self.assertEqual(env.wine(["cmd", "/c", f"exit {code}"]).exit_code, code)
                result = env.run(showboxes(), ["--count", "0", "--exit", str(code)])
                self.assertEqual(result.exit_code, code, result)
                self.assertEqual(result.boxes, [])

    def test_a_program_past_its_time_limit_is_killed_and_fails(self):
        env = harness.shared_env()
        with self.assertRaises(harness.RunTimeout) as caught:
            env.run(showboxes(), ["--count", "1", "--sleep", "600000"], timeout=5)
        self.assertIsInstance(caught.exception, AssertionError)
        self.assertTrue(caught.exception.result.timed_out)
        # The box came before the sleep, so the watcher still saw it.
        self.assertEqual([b["caption"] for b in caught.exception.result.boxes],
                         ["Installation Error"])
        self.assertEqual(processes_mentioning("showboxes.exe"), [])
        # The environment goes on working after a killed run.
        self.assertEqual(env.run(showboxes(), ["--count", "0", "--exit", "9"]).exit_code, 9)

    def test_a_start_that_never_reached_the_program_is_tried_again_and_said(self):
        # Exit 1 with nothing printed and no box is how a start fails inside Wine's loader.
        env = harness.shared_env()
        cases = [(["/c", "exit 1"], 1, harness._START_ATTEMPTS),
                 (["/c", "echo ran& exit 1"], 1, 1),
                 (["/c", "exit 2"], 2, 1)]
        runners = {"run": lambda args: env.run("cmd", args),
                   "wine": lambda args: env.wine(["cmd", *args])}
        for (args, code, starts), (how, runner) in itertools.product(cases, runners.items()):
            with self.subTest(args=args, runner=how):
                said = io.StringIO()
                with contextlib.redirect_stderr(said):
                    result = runner(args)
                self.assertEqual(result.exit_code, code, result)
                self.assertEqual(said.getvalue().count("before it ran"), starts - 1,
                                 said.getvalue())


class BuildCopiesTest(unittest.TestCase):

    def test_each_build_copy_keeps_its_own_class_caches(self):
        # A class that caches a run for several of its tests must not hand one build's run to
        # the other build's copy: the copy would pass on the other build's results.
        class Template(unittest.TestCase):
            results = {}
            names = []
            limit = 3

        x86, x64 = (harness._variant(Template, harness.BUILDS[n]) for n in ("x86", "x64"))
        x86.results["run"] = "x86 outcome"
        x86.names.append("MSP3")
        self.assertEqual(x64.results, {})
        self.assertEqual(x64.names, [])
        self.assertEqual(Template.results, {})
        self.assertEqual((x86.limit, x64.limit), (3, 3))
        self.assertEqual((x86.build.name, x64.build.name), ("x86", "x64"))


if __name__ == "__main__":
    unittest.main()
