#!/usr/bin/python3
"""Runs the end-to-end tests: every unittest.TestCase in tests/e2e/test_*.py, under Wine.

The run is one harness.Session, made here before the tests are imported and handed to the
harness (harness.use_session): the builds under test and the one WineEnv all tests share
(harness.shared_env()), started before the first test and stopped after the last, also when a
test fails or the run is interrupted.

  /usr/bin/python3 tests/e2e/run_all.py [-k PATTERN]...

Which build runs where. The updater has two builds, x86 (the shipped PE32 executable) and x64.
Both are under test wherever the kernel runs 32-bit programs (scripts/x86-probe) and the 32-bit
Wine is installed (scripts/setup installs it there); where the kernel refuses, the run says so in
its first line and runs x64 alone. UPDATER_BUILDS=x86 runs the x86 suite alone (the x64 build
folder is still needed: the watcher and the fixture tools are 64-bit). A test class that runs the
updater or a driver linking its code takes one line to run on every build under test:

    @harness.each_build
    class MyTest(unittest.TestCase):
        ...   # cls.build / self.build: the Build (name "x86" or "x64", folder, artefact())

It runs as MyTest_x86 and MyTest_x64 (the names in the output). Inside such a class the tests
pass their build on: updates.build_update(..., build=self.build) packages around that build's
updater and self.build.artefact(...) finds that build's files (drivers); WineEnv.run() and
.wine() start each program under the Wine loader of its own bitness. Outside one, a test uses
harness.first_build() (x86 where it runs). Product tests run on both builds; the tests of the
test tools and of the harness once.
The message-box watcher records the exact flags of 32-bit and 64-bit programs alike: each run
hooks the bitness of the program it starts (harness.WineEnv.run, hook_bits). Each
result line ends with the builds the test used, e.g. "[x86]"; none for tests of the tools.

Environment:
  UPDATER_BUILD_X64      required: the build folder of the x86_64 mingw build. Tests find the
                         test tools below it (harness.artefact()); the message-box watcher
                         is expected in its tools/boxwatch folder (boxwatch.exe, boxhook.dll,
                         showboxes.exe). A missing artefact fails the test that needs it.
  UPDATER_BUILD_X86      the build folder of the i686 build (default build/x86): the shipped
                         updater, its drivers, and the watcher's 32-bit hook (boxhook32.exe)
  UPDATER_BUILDS         "x86", "x64" or "x86,x64" instead of the probe's choice (a named build
                         that cannot run fails its tests)
  BOXWATCH_DIR           folder with boxwatch.exe and boxhook.dll, if not under the above
  E2E_WINE_PREFIX_CACHE  a prepared prefix to copy (made there on the first run when absent)
  E2E_KEEP_TEMP=1        keep the temporary prefix and box logs

A program that Wine's loader fails to start (exit 1, nothing printed, no box: it never ran) is
started again, up to three times in all; so is the watcher when it ends before it is ready. Each
start made again is said on stderr as "harness: ..." when it happens, is in the RunResult of its
run (failed_starts), and is named at the end of the line of the test that made it, e.g.
"started again: cmd 2x".

Prints one line per test and closes with "e2e: N passed, N failed" (", N skipped" appended when
tests were skipped). Exits 0 when every test passed, 1 when any failed or none ran, 130 when
interrupted.
"""

import argparse
import os
import signal
import sys
import time
import traceback
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import harness  # noqa: E402


class LineResult(unittest.TestResult):
    """Prints one line per finished test; a test with any failing subtest counts as failed."""

    def __init__(self, stream, session):
        super().__init__()
        self.stream = stream
        self.session = session
        self.outcomes = {}
        self.details = []
        self.interrupted = False  # set before the interrupt unwinds the running test
        self._started = 0.0

    def startTest(self, test):
        super().startTest(test)
        self.outcomes[test.id()] = "PASS"
        self._started = time.monotonic()

    def stopTest(self, test):
        super().stopTest(test)
        if self.interrupted:
            self.outcomes[test.id()] = "FAIL"
            self.details.append((f"INTERRUPTED: {test.id()}", ""))
        seconds = time.monotonic() - self._started
        used = self.session.take_builds_used()
        builds = f" [{','.join(used)}]" if used else ""
        again = started_again(self.session.take_failed_starts())
        self.stream.write(f"{self.outcomes[test.id()]:4} {test.id()} ({seconds:.2f} s){builds}"
                          f"{again}\n")
        self.stream.flush()

    def _fail(self, test, err, label):
        self.outcomes[test.id()] = "FAIL"
        self.details.append((f"{label}: {test.id()}", self._exc_info_to_string(err, test)))

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self._fail(test, err, "FAIL")

    def addError(self, test, err):
        super().addError(test, err)
        if test.id() not in self.outcomes:  # class or module set-up failed
            self.outcomes[test.id()] = "FAIL"
            self.stream.write(f"FAIL {test.id()}\n")
        self._fail(test, err, "ERROR")

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err)
        if err is not None:
            self.outcomes[test.id()] = "FAIL"
            self.details.append((f"FAIL: {subtest.id()}", self._exc_info_to_string(err, test)))

    def addSkip(self, test, reason):
        super().addSkip(test, reason)
        self.outcomes[test.id()] = "SKIP"

    def addUnexpectedSuccess(self, test):
        super().addUnexpectedSuccess(test)
        self.outcomes[test.id()] = "FAIL"
        self.details.append((f"UNEXPECTED SUCCESS: {test.id()}", ""))

    def counts(self):
        values = list(self.outcomes.values())
        return values.count("PASS"), values.count("FAIL"), values.count("SKIP")


def started_again(failed_starts):
    """The end of a test's line naming the starts made again during it, e.g. " started again:
    cmd 2x, boxwatch.exe 1x"; empty when there were none."""
    counts = {}
    for failure in failed_starts:
        counts[failure.program] = counts.get(failure.program, 0) + 1
    if not counts:
        return ""
    return " started again: " + ", ".join(f"{name} {count}x" for name, count in counts.items())


def closing_line(passed, failed, skipped):
    line = f"e2e: {passed} passed, {failed} failed"
    return line + (f", {skipped} skipped" if skipped else "")


def all_tests(suite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from all_tests(item)
        else:
            yield item


def without_templates(suite):
    """The suite without the classes @harness.each_build made copies of (they run as those)."""
    kept = unittest.TestSuite()
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            kept.addTest(without_templates(item))
        elif not type(item).__dict__.get("_build_template", False):
            kept.addTest(item)
    return kept


def main():
    parser = argparse.ArgumentParser(description="Run the end-to-end tests under Wine.")
    parser.add_argument("-k", dest="patterns", action="append", default=[],
                        help="only tests whose id contains this (may be repeated)")
    options = parser.parse_args()

    loader = unittest.TestLoader()
    if options.patterns:
        loader.testNamePatterns = [f"*{p}*" for p in options.patterns]
    session = harness.Session()
    harness.use_session(session)  # before the tests are imported: @harness.each_build uses it
    try:
        print("e2e: " + session.builds.describe().replace("\n", "\ne2e: "), flush=True)
    except harness.WineError as error:
        print(f"e2e: {error}")
        print(closing_line(0, 0, 0))
        return 1
    suite = without_templates(loader.discover(HERE, pattern="test_*.py", top_level_dir=HERE))
    tests = list(all_tests(suite))
    if not tests:
        print("e2e: no tests found")
        print(closing_line(0, 0, 0))
        return 1

    result = LineResult(sys.stdout, session)

    def on_signal(signum, frame):
        result.interrupted = True
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    env = harness.WineEnv(x86_build=session.builds.all["x86"])
    try:
        try:
            env.start()
        except Exception:
            print("e2e: the Wine environment could not be started:")
            traceback.print_exc(file=sys.stdout)
            for test in tests:
                print(f"FAIL {test.id()}")
            print(closing_line(0, len(tests), 0))
            return 1
        print(f"e2e: Wine environment ready in {env.startup_seconds:.1f} s "
              f"(display {env.display}, prefix {env.prefix})"
              f"{started_again(env.take_failed_starts())}", flush=True)
        session.env = env
        suite.run(result)
    except KeyboardInterrupt:
        print("e2e: interrupted")
        passed, failed, skipped = result.counts()
        print(closing_line(passed, failed, skipped))
        return 130
    finally:
        session.env = None
        env.close()

    for title, text in result.details:
        print("=" * 70)
        print(title)
        print("-" * 70)
        print(text.rstrip())
    passed, failed, skipped = result.counts()
    print(closing_line(passed, failed, skipped))
    return 1 if failed or passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
