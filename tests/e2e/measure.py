#!/usr/bin/python3
"""Prints how long the harness takes: WineEnv start-up (new prefix and copied prefix) and one run
of a trivial program with the wineserver kept alive. Needs UPDATER_BUILD_X64 like run_all.py.

  /usr/bin/python3 tests/e2e/measure.py [--runs N] [--skip-new-prefix]
"""

import argparse
import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402


def timed(function, count):
    seconds = []
    for _ in range(count):
        started = time.monotonic()
        function()
        seconds.append(time.monotonic() - started)
    return seconds


def report(label, seconds):
    print(f"{label:48} mean {statistics.mean(seconds):6.3f} s   min {min(seconds):6.3f} s   "
          f"max {max(seconds):6.3f} s   (n={len(seconds)})")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--skip-new-prefix", action="store_true")
    options = parser.parse_args()
    showboxes = harness.artefact("tools", "boxwatch", "showboxes.exe")

    with tempfile.TemporaryDirectory(prefix="e2e-measure-") as scratch:
        cache = os.path.join(scratch, "prefix-cache")
        if not options.skip_new_prefix:
            # Creates the prefix with wineboot -i and stores it as the cache for the next start.
            env = harness.WineEnv(prefix_cache=cache)
            env.start()
            env.close()
            report("WineEnv start-up, new prefix (wineboot -i)", [env.startup_seconds])
        starts = []
        for _ in range(3):
            env = harness.WineEnv(prefix_cache=cache)
            env.start()
            starts.append(env.startup_seconds)
            env.close()
        report("WineEnv start-up, copied prefix", starts)

        with harness.WineEnv(prefix_cache=cache) as env:
            def run_trivial():
                result = env.run(showboxes, ["--count", "0"])
                assert result.exit_code == 0 and result.boxes == [], result

            def run_one_box():
                result = env.run(showboxes, ["--count", "1"])
                assert result.exit_code == 0 and len(result.boxes) == 1, result

            def run_all_boxes():
                result = env.run(showboxes)
                assert result.exit_code == 0 and len(result.boxes) == 8, result

            def wine_without_watcher():
                assert env.wine([showboxes, "--count", "0"]).exit_code == 0

            run_trivial()  # first GUI run in the prefix pays one-off costs
            report("env.run, no box (watcher + program)", timed(run_trivial, options.runs))
            report("env.run, one box", timed(run_one_box, options.runs))
            report("env.run, eight boxes", timed(run_all_boxes, options.runs))
            report("env.wine, no watcher, no box", timed(wine_without_watcher, options.runs))


if __name__ == "__main__":
    main()
