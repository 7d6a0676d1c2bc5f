"""Tests of the harness itself: paths, environment, exit codes and time limits as Wine sees them."""

import contextlib
import io
import itertools
import os
import tempfile
import unittest
import uuid

import harness
import run_all
import starting
import updates


def showboxes():
    return harness.artefact("tools", "boxwatch", "showboxes.exe")


def processes_mentioning(word, env):
    """The processes of env's prefix whose command line holds word (other prefixes on this
    machine run their own)."""
    found = []
    entry = f"WINEPREFIX={env.prefix}".encode()
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                if entry not in f.read().split(b"\0"):
                    continue
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
        self.assertEqual(processes_mentioning("showboxes.exe", env), [])
        # The environment goes on working after a killed run.
        self.assertEqual(env.run(showboxes(), ["--count", "0", "--exit", "9"]).exit_code, 9)

    def test_starts_are_made_again_exactly_while_the_program_never_started(self):
        # The rule alone, on made-up results: a real start can fail in Wine's loader at any time.
        never = harness.RunResult(1, [], "", "")
        cases = [("started at once", [harness.RunResult(2, [], "", "")], 1, 2),
                 ("printed, then exit 1", [harness.RunResult(1, [], "ran\r\n", "")], 1, 1),
                 ("a box, then exit 1", [harness.RunResult(1, ["Error"], "", "")], 1, 1),
                 ("failed once", [never, harness.RunResult(0, [], "", "")], 2, 0),
                 ("never", [never] * harness.START_ATTEMPTS, harness.START_ATTEMPTS, 1)]
        for name, results, attempts, code in cases:
            with self.subTest(name):
                left, recorded = list(results), []
                result = starting.start_until_it_runs("/opt/tools/cmd", lambda: left.pop(0),
                                                      recorded.append)
                self.assertEqual((result.exit_code, result.attempts), (code, attempts))
                self.assertEqual([(f.program, f.exit_code, f.attempt) for f in recorded],
                                 [("cmd", 1, n) for n in range(1, attempts)])
                self.assertEqual(result.failed_starts, recorded)
                self.assertEqual(left, [])

    def test_a_start_that_never_reached_the_program_is_tried_again_and_recorded(self):
        # Exit 1 with nothing printed and no box is how a start fails inside Wine's loader.
        # Such a failure may also happen on its own before a start that runs: the cases that
        # run at once allow for it, as long as each start made again ended that way.
        env = harness.shared_env()
        cases = [(["/c", "exit 1"], 1, harness.START_ATTEMPTS),
                 (["/c", "echo ran& exit 1"], 1, 1),
                 (["/c", "exit 2"], 2, 1)]
        runners = {"run": lambda args: env.run("cmd", args),
                   "wine": lambda args: env.wine(["cmd", *args])}
        for (args, code, starts), (how, runner) in itertools.product(cases, runners.items()):
            with self.subTest(args=args, runner=how):
                said = io.StringIO()
                recorded = len(env.failed_starts)
                with contextlib.redirect_stderr(said):
                    result = runner(args)
                self.assertEqual(result.exit_code, code, result)
                made_again = result.attempts - 1
                if starts == harness.START_ATTEMPTS:
                    self.assertEqual(result.attempts, starts)
                self.assertEqual([(f.program, f.exit_code, f.attempt)
                                  for f in result.failed_starts],
                                 [("cmd", 1, n) for n in range(1, made_again + 1)])
                # The runner's record (the line of this test) holds the same starts.
                self.assertEqual(env.failed_starts[recorded:], result.failed_starts)
                self.assertEqual(said.getvalue().count("before it ran"), made_again,
                                 said.getvalue())

    def test_a_watcher_that_ends_before_it_is_ready_is_started_again_and_recorded(self):
        # boxwatch refuses an option it does not know before it is ready, on every start.
        env = harness.shared_env()
        recorded = len(env.failed_starts)
        said = io.StringIO()
        with contextlib.redirect_stderr(said), self.assertRaises(harness.WineError) as caught:
            env.run(showboxes(), ["--count", "0"], watcher_args=["--no-such-option"])
        self.assertIn("boxwatch.exe exited with 2 before it was ready", str(caught.exception))
        self.assertIn("usage: boxwatch", str(caught.exception))
        self.assertEqual([(f.program, f.exit_code, f.attempt)
                          for f in env.failed_starts[recorded:]],
                         [("boxwatch.exe", 2, n) for n in range(1, harness.START_ATTEMPTS)])
        self.assertEqual(said.getvalue().count("before it was ready"),
                         harness.START_ATTEMPTS - 1, said.getvalue())
        self.assertEqual(env.run(showboxes(), ["--count", "0", "--exit", "9"]).exit_code, 9)

    def test_a_failed_registry_command_around_a_run_is_made_again_and_recorded(self):
        # Wine's reg fails now and then; here the first n reg commands fail as reg does.
        env = harness.shared_env()
        prefix = env._prefix
        real_check_once = prefix._check_once
        for failures in (1, harness.START_ATTEMPTS):
            with self.subTest(failures=failures):
                left = [failures]

                def failing_check_once(command, what, timeout):
                    if what == "reg" and left[0] > 0:
                        left[0] -= 1
                        return harness.RunResult(1, [], "Access is denied.\r\n", "")
                    return real_check_once(command, what, timeout)

                prefix._check_once = failing_check_once
                said = io.StringIO()
                try:
                    with contextlib.redirect_stderr(said):
                        if failures == harness.START_ATTEMPTS:
                            with self.assertRaises(harness.WineError):
                                env.run("cmd", ["/c", "echo %TMP%"],
                                        extra_env={"TMP": "C:\\reg-retry"})
                            continue
                        result = env.run("cmd", ["/c", "echo %TMP%"],
                                         extra_env={"TMP": "C:\\reg-retry"})
                finally:
                    prefix._check_once = real_check_once
                self.assertEqual(result.stdout.strip(), "C:\\reg-retry")
                # A start of cmd itself may fail in Wine's loader besides: only reg's are counted.
                self.assertEqual([(f.program, f.attempt) for f in result.failed_starts
                                  if f.program != "cmd"], [("reg", 1)])
                self.assertIn("before it set TMP (reg failed with 1: Access is denied.)",
                              said.getvalue())
        # Restored after both: the next run sees the prefix's own TMP again.
        self.assertEqual(env.from_windows_path(env.wine(["cmd", "/c", "echo %TMP%"])
                                               .stdout.strip()), env.temp_dir)

    def test_the_runner_names_the_starts_made_again_in_the_line_of_their_test(self):
        env = harness.shared_env()
        session = harness.session()

        class Inner(unittest.TestCase):
            def test_never_started(self):
                env.wine(["cmd", "/c", "exit 1"])

            def test_starting_nothing(self):
                # No Wine start here: a real start may fail in Wine's loader and be made again,
                # and this test is about the first test's starts not being carried into its line.
                pass

        session.take_failed_starts()  # none under run_all.py: it took them for the last line
        lines = io.StringIO()
        with contextlib.redirect_stderr(io.StringIO()):
            unittest.TestSuite([Inner("test_never_started"), Inner("test_starting_nothing")]).run(
                run_all.LineResult(lines, session))
        first, second = lines.getvalue().splitlines()
        self.assertRegex(first, r"^PASS \S+\.test_never_started \(\d+\.\d\d s\) "
                                rf"started again: cmd {harness.START_ATTEMPTS - 1}x$")
        self.assertRegex(second, r"^PASS \S+\.test_starting_nothing \(\d+\.\d\d s\)$")


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

    def test_calls_not_handed_a_build_follow_the_running_copy(self):
        # Tests written before the build was passed call build_update() and updater_artefact()
        # without one: inside a copy they get the copy's build, elsewhere the first under test.
        folder = tempfile.mkdtemp(prefix="not-handed-", dir=harness.shared_env().root)
        payload = updates.random_file(folder, "global.msp", 1000)
        seen = {}

        class Template(unittest.TestCase):
            def test_record(self):
                exe = updates.build_update(os.path.join(folder, f"{self.build.name}.exe"),
                                           payload, validate=False)
                seen[self.build.name] = (harness.current_build(), harness.pe_bits(exe),
                                         harness.updater_artefact("updater.exe"))

        builds = harness.builds_under_test()
        for build in builds:
            result = unittest.TestResult()
            unittest.TestSuite([harness._variant(Template, build)("test_record")]).run(result)
            self.assertTrue(result.wasSuccessful(), result.errors + result.failures)
        self.assertEqual(seen, {b.name: (b, b.bits, os.path.join(b.folder, "updater.exe"))
                                for b in builds})
        self.assertIs(harness.current_build(), builds[0])


if __name__ == "__main__":
    unittest.main()
