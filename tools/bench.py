#!/usr/bin/python3
"""Prints the updater's speed and size figures under Wine, each beside its goal. It is not a test:
it asserts nothing, and a figure that misses its goal is printed as missed.

  /usr/bin/python3 tools/bench.py [--runs N]     (scripts/bench builds first and then runs this)

Every Windows program runs in one WineEnv of the end-to-end harness (one prefix, one persistent
wineserver, Xvfb). Each figure is measured --runs times (default 7) and shown as the median with
the spread (min to max). Wall-clock times on a shared machine move with its load, so the load
average is printed with the figures, and the extraction is also shown in CPU time and as the
payload's write() alone timed by strace, which the load moves less. Peak memory comes from GNU
time (/usr/bin/time, Debian package "time").

Figures 1 to 4 are given for each build of the updater that runs here: the shipped x86 build
(a 32-bit process under Wine's 32-bit loader) and x64, side by side. Where the kernel does not run
32-bit programs the bench says so in one line and gives the x64 figures alone. Figure 6, the
largest payload the x86 build carries and still extracts byte for byte, is measured by packaging
and extracting a few sizes (starting at 1 GiB, going up or down a ladder of 256 MiB to 1.75 GiB,
at most three sizes): a 32-bit process has 2 GiB of address space for the image and everything
else.

Needs the x64 build (build/x64: the updater, its tools and the message-box watcher) and the x86
build (build/x86: the updater, and the watcher's 32-bit hook).
The packaging figure needs the native packer (build/packer, preset "packer"); figure 8, building
a patch (tools/bench_patch.py), the native patch builder beside it.
"""

import argparse
import filecmp
import hashlib
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
os.environ.setdefault("UPDATER_BUILD_X64", os.path.join(ROOT, "build", "x64"))

import fixtures  # noqa: E402
import harness  # noqa: E402
from updates import build_update, random_file, windows_runner  # noqa: E402
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_patch  # noqa: E402

MIB = 1 << 20
GNU_TIME = "/usr/bin/time"
STRACE = shutil.which("strace")
X86_UPDATER = os.path.join(ROOT, "build", "x86", "updater.exe")
PACKER = os.path.join(ROOT, "build", "packer", "tools", "packer", "packer")
# Payload sizes tried for the largest payload the x86 build carries, in MiB; the search starts
# at 1 GiB.
CARRY_LADDER = [256, 512, 1024, 1536, 1792]
CARRY_START = 1024


def bare_updater(build):
    return os.path.join(build.folder, "updater.exe")


# -------------------------------------------------------------------------------- formatting


class Series:
    """Repeated measurements of one quantity."""

    def __init__(self, values):
        self.values = list(values)

    @property
    def median(self):
        return statistics.median(self.values)

    def spread(self, unit):
        return f"{unit(min(self.values))} to {unit(max(self.values))}"


def ms(seconds):
    return f"{seconds * 1000:.0f} ms"


def mib(kib):
    return f"{kib / 1024:.1f} MiB"


def goal_word(met):
    return "met" if met else "MISSED"


class Table:
    def __init__(self):
        self.rows = []

    def add(self, figure, median, spread, goal, met):
        self.rows.append((figure, median, spread, goal, "-" if met is None else goal_word(met)))

    def print(self):
        header = ("Figure", "Median", "Spread (min to max)", "Goal", "Met")
        widths = [max(len(str(r[i])) for r in [header, *self.rows]) for i in range(5)]

        def line(cells):
            return "  ".join(str(c).ljust(w) for c, w in zip(cells, widths)).rstrip()

        print(line(header))
        print("  ".join("-" * w for w in widths))
        for row in self.rows:
            print(line(row))


# ----------------------------------------------------------------------------------- running


class Runner:
    """Runs programs in the environment and times them from outside: wall clock from the start
    of the process to its end, and its CPU time from wait4 (the Windows process is the wine64
    Unix process, so this is the program's own CPU time, not the wineserver's)."""

    def __init__(self, env, scratch):
        self.env = env
        self.scratch = scratch
        # The timed runs are started here rather than through env.wine() or env.run(), which
        # wait with a time limit: Python then polls the process every 50 ms, and each time would
        # be rounded up to that step.
        self.environment = env.base_env()
        self.errors = os.path.join(scratch, "stderr")

    def timed(self, argv, wrapper=(), timeout=180):
        # Standard error goes to a file, not a pipe: a Wine process may leave a system process
        # holding the pipe open after it ends.
        with open(self.errors, "wb") as errors:
            started = time.perf_counter()
            proc = subprocess.Popen([*wrapper, *argv], env=self.environment,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=errors, start_new_session=True)
            timer = threading.Timer(timeout, os.killpg, (proc.pid, signal.SIGKILL))
            timer.start()
            try:
                _, status, usage = os.wait4(proc.pid, 0)
            finally:
                timer.cancel()
            wall = time.perf_counter() - started
        proc.returncode = os.waitstatus_to_exitcode(status)
        if proc.returncode != 0:
            with open(self.errors, "rb") as f:
                detail = f.read().decode(errors="replace")[-1000:]
            raise RuntimeError(f"{argv} failed with {proc.returncode} after {wall:.1f} s: "
                               f"{detail}")
        return wall, usage.ru_utime + usage.ru_stime

    def windows(self, exe, *args, wrapper=(), timeout=180):
        return self.timed([harness.loader_for(exe), exe, *args], wrapper, timeout)

    def watched(self, exe, *args):
        """Runs exe with the harness's message-box watcher started before it and stopped after
        it, both outside the timing; gives the time and the boxes the watcher saw."""
        run_dir = tempfile.mkdtemp(prefix="watched-", dir=self.scratch)
        watch = self.env.watcher.start(run_dir, bits=harness.hook_bits(exe))
        try:
            seconds, _ = self.windows(exe, *args)
        finally:
            boxes = self.env.watcher.stop(watch)
        return seconds, boxes

    def peak_kib(self, exe, *args):
        """Peak resident set of the Wine process running exe (wine64, or wine for a 32-bit
        program), from GNU time (%M, KiB)."""
        out = os.path.join(self.scratch, "gnu-time.txt")
        self.windows(exe, *args, wrapper=(GNU_TIME, "-f", "%M", "-o", out))
        with open(out) as f:
            return int(f.read().split()[-1])


def remove(path):
    if os.path.exists(path):
        os.remove(path)


def note(text):
    print(f"  {text}", flush=True)


def heading(text):
    load = " ".join(f"{x:.2f}" for x in os.getloadavg())
    print(f"{text}  [load average {load}]", flush=True)


# ------------------------------------------------------------------------------------ figures


def payload_write_seconds(runner, exe, extracted, payload_size):
    """The time of the write() calls that put the payload into the file during "/e", as strace
    sees them: the extraction itself, without the start-up and the exit of the process around
    it, whose noise is larger than the write on a loaded machine. Only write() stops the process
    (seccomp filter), so the rest of the run goes at full speed."""
    trace = os.path.join(runner.scratch, "strace.txt")
    runner.windows(exe, "/e", extracted, wrapper=(STRACE, "--seccomp-bpf", "-f", "-T", "-e",
                                                  "trace=write", "-o", trace))
    written, seconds = 0, 0.0
    with open(trace) as f:
        for line in f:
            match = re.search(r"\) += (\d+) <([\d.]+)>$", line.strip())
            if match and int(match.group(1)) >= MIB:
                written += int(match.group(1))
                seconds += float(match.group(2))
    return seconds if written == payload_size else None


def extraction(runner, work, build, runs, table):
    heading(f"1. Extraction of a 64 MiB payload ({build.name}): '/e PATH' minus '/pi', against cp")
    payload = os.path.join(work, "payload-64.bin")
    if not os.path.exists(payload):
        random_file(work, "payload-64.bin", 64 * MIB)
    exe = build_update(os.path.join(work, f"update-64-{build.name}.exe"), payload,
                       build=build, validate=False)
    bare_exe = bare_updater(build)
    extracted = os.path.join(work, "extracted.msp")
    copied = os.path.join(work, "copied.bin")
    # The difference of two process times is much noisier than either, so it gets more pairs.
    pairs = 3 * runs

    # One untimed round reads the executable and the payload into the page cache, so that every
    # timed run, the updater's and cp's alike, starts from warm sources.
    remove(extracted)
    runner.windows(exe, "/pi")
    runner.windows(exe, "/e", extracted)
    same = filecmp.cmp(payload, extracted, shallow=False)
    runner.windows(bare_exe, "/pi")

    wall = {"pi": [], "e": [], "cp": [], "bare": []}
    cpu = {"pi": [], "e": [], "cp": [], "bare": []}
    steps = {
        "pi": lambda: runner.windows(exe, "/pi"),
        "e": lambda: runner.windows(exe, "/e", extracted),
        "cp": lambda: runner.timed(["cp", payload, copied]),
        "bare": lambda: runner.windows(bare_exe, "/pi"),
    }
    for i in range(pairs):
        remove(extracted)
        remove(copied)
        # The order alternates: a run right after another one meets the clean-up of the first.
        for name in (steps if i % 2 == 0 else reversed(steps)):
            seconds, cpu_seconds = steps[name]()
            wall[name].append(seconds)
            cpu[name].append(cpu_seconds)
    writes = []
    if STRACE:
        for _ in range(runs):
            remove(extracted)
            writes.append(payload_write_seconds(runner, exe, extracted, 64 * MIB))
    remove(extracted)
    remove(copied)

    # Each /e is paired with the /pi of the same round, which shares its machine state.
    cost = Series(e - p for e, p in zip(wall["e"], wall["pi"]))
    cost_cpu = Series(e - p for e, p in zip(cpu["e"], cpu["pi"]))
    image_load = Series(p - b for p, b in zip(wall["pi"], wall["bare"]))
    start_up, whole, bare = Series(wall["pi"]), Series(wall["e"]), Series(wall["bare"])
    cp, cp_cpu = Series(wall["cp"]), Series(cpu["cp"])
    ratio = cost.median / cp.median
    note(f"extracted file equals the payload: {'yes' if same else 'NO'}; {pairs} rounds")
    note(f"'/e PATH'             median {ms(whole.median)}  ({whole.spread(ms)})")
    note(f"'/pi' (start-up)      median {ms(start_up.median)}  ({start_up.spread(ms)})")
    note(f"extraction, /e - /pi  median {ms(cost.median)}  ({cost.spread(ms)}); "
         f"CPU time {ms(cost_cpu.median)} ({cost_cpu.spread(ms)})")
    note(f"cp                    median {ms(cp.median)}  ({cp.spread(ms)}); "
         f"CPU time {ms(cp_cpu.median)} ({cp_cpu.spread(ms)})")
    note("cp and the updater both write a fresh file (the previous one removed before the run) "
         "on the same filesystem, from a source already in the page cache; neither syncs and "
         "no cache is dropped. cp 9.1 copies in the kernel (copy_file_range).")
    note(f"ratio {ratio:.2f}x cp (goal: within 1.5x): {goal_word(ratio <= 1.5)}; "
         f"in CPU time {cost_cpu.median / cp_cpu.median:.2f}x")
    table.add(f"1. {build.name}: extraction of 64 MiB (/e - /pi)", ms(cost.median),
              cost.spread(ms), "<= 1.5x cp", ratio <= 1.5)
    table.add("   cp of the same 64 MiB", ms(cp.median), cp.spread(ms), "", None)
    table.add("   ratio extraction / cp", f"{ratio:.2f}x", "", "<= 1.5x", ratio <= 1.5)
    if writes and None not in writes:
        writes = Series(writes)
        write_ratio = writes.median / cp.median
        note(f"the payload's write() alone (strace -T, {runs} runs) median {ms(writes.median)} "
             f"({writes.spread(ms)}): {write_ratio:.2f}x cp, {goal_word(write_ratio <= 1.5)}")
        table.add("   write() of the payload (strace)", ms(writes.median), writes.spread(ms),
                  "<= 1.5x cp", write_ratio <= 1.5)
    elif writes:
        note("strace did not show the payload written in writes of 1 MiB or more")
    note(f"'/pi' without payload median {ms(bare.median)}  ({bare.spread(ms)}): the payload "
         f"adds {ms(image_load.median)} ({image_load.spread(ms)}) to the start-up; Wine reads "
         f"the image in when it loads it")
    table.add("   start-up added by the payload", ms(image_load.median), image_load.spread(ms),
              "(none set)", None)
    return exe


def peak_memory(runner, work, build, exe64, runs, table):
    heading(f"2. Peak resident memory of the extracting process ({build.name}, GNU time %M on "
            f"{os.path.basename(harness.loader_for(exe64))})")
    extracted = os.path.join(work, "extracted.msp")
    payload16 = os.path.join(work, "payload-16.bin")
    if not os.path.exists(payload16):
        random_file(work, "payload-16.bin", 16 * MIB)
    exe16 = build_update(os.path.join(work, f"update-16-{build.name}.exe"), payload16,
                         build=build, validate=False)

    def peaks(exe, *args, count=runs):
        values = []
        for _ in range(count):
            remove(extracted)
            values.append(runner.peak_kib(exe, *args))
        remove(extracted)
        return Series(values)

    peak64 = peaks(exe64, "/e", extracted)
    peak16 = peaks(exe16, "/e", extracted, count=3)
    start64 = peaks(exe64, "/pi", count=3)
    bare = peaks(bare_updater(build), "/pi", count=3)
    limit = 64 * 1024 + 32 * 1024
    note(f"'/e' 64 MiB payload  median {mib(peak64.median)}  ({peak64.spread(mib)})")
    note(f"'/e' 16 MiB payload  median {mib(peak16.median)}  ({peak16.spread(mib)})")
    note(f"'/pi' 64 MiB payload median {mib(start64.median)}; without payload "
         f"{mib(bare.median)}")
    # The peak follows the payload size only if the process GNU time waits for is the one that
    # holds the payload, the Windows process itself.
    growth = (peak64.median - peak16.median) / 1024
    inside = abs(growth - 48) < 8
    note(f"the 48 MiB larger payload raises the peak by {growth:.1f} MiB: " +
         ("the Windows process runs inside the wine64 process GNU time measures" if inside else
          "NOT as expected; GNU time may not be measuring the Windows process"))
    loaded = (start64.median - bare.median) / 1024
    note(f"the payload raises the peak of '/pi', which does nothing, by {loaded:.1f} MiB: "
         f"what Wine holds of the image from loading it, before the updater runs; "
         f"'/e' adds {(peak64.median - start64.median) / 1024:.1f} MiB to that")
    met = peak64.median < limit
    note(f"goal: below payload + 32 MiB = {mib(limit)}: {goal_word(met)}")
    table.add(f"2. {build.name}: peak RSS, /e of 64 MiB", mib(peak64.median),
              peak64.spread(mib), f"< {mib(limit)}", met)


def update_run(runner, env, work, builds, runs, table):
    names = ", ".join(b.name for b in builds)
    heading(f"3. A whole update run ({names}) against 'msiexec /p patch.msp /qn' on the same "
            f"product state")
    run = windows_runner(env)
    code = fixtures.derived_guid("bench", "product")
    upgrade = fixtures.derived_guid("bench", "upgrade")
    base, target = "3.0.0.0", "3.0.1.0"
    msi = fixtures.build_product_msi(work, code, "Bench Product", 1033, base,
                                     upgrade_code=upgrade)
    msp = fixtures.make_patch(run, os.path.join(work, "bench.msp"), targets=code,
                              versions=f"{target};{base}",
                              patch_code=fixtures.derived_guid("bench", "patch"),
                              transform=(base, target, code, upgrade))
    exes = {b.name: build_update(os.path.join(work, f"update-patch-{b.name}.exe"), str(msp),
                                 build=b) for b in builds}
    msp_windows = fixtures.windows_path(msp)

    def version():
        return fixtures.query_product(run, code)["version"]

    def fresh_product():
        fixtures.install_product(run, msi)
        found = version()
        if found != base:
            raise RuntimeError(f"the reinstalled product is at {found}, not {base}")

    def remove_product():
        fixtures.uninstall_product(run, code)

    log = os.path.join(env.temp_dir, "Bench Product SP1.log")
    remove(log)
    # "/q": no message box, so no watcher is needed and none is timed. A box would hold the run
    # until its time limit, and the bench would stop there with an error.
    commands = {name: (lambda exe=exe: runner.windows(exe, "/q", timeout=60))
                for name, exe in exes.items()}
    commands["msiexec"] = lambda: runner.windows("msiexec", "/p", msp_windows, "/qn", timeout=60)
    walls = {name: [] for name in commands}
    cpus = {name: [] for name in commands}
    unpatched = 0
    for i in range(runs + 1):
        # The order alternates so that no side always follows the same step.
        for name in (list(commands) if i % 2 == 0 else list(reversed(commands))):
            fresh_product()
            wall, cpu = commands[name]()
            if version() != target:
                unpatched += 1
            if i > 0:  # the first round is a warm-up and is not counted
                walls[name].append(wall)
                cpus[name].append(cpu)
            remove_product()
    msiexec_runs, msiexec_cpu = Series(walls["msiexec"]), Series(cpus["msiexec"])
    note("the product is installed fresh (msiexec /i) before and removed (msiexec /x) after "
         "each timed run, outside the timing; the updater runs with /q, so it shows no box and "
         "no watcher runs for either side")
    if os.path.exists(log):
        note("the updater also writes its verbose installer log; msiexec was given no /l")
    note(f"runs that left the product unpatched: {unpatched} "
         f"(of {len(commands) * (runs + 1)})")
    for build in builds:
        updater_runs = Series(walls[build.name])
        updater_cpu = Series(cpus[build.name])
        ratio = updater_runs.median / msiexec_runs.median
        note(f"{build.name} updater /q  median {ms(updater_runs.median)}  "
             f"({updater_runs.spread(ms)}); CPU time {ms(updater_cpu.median)}; ratio "
             f"{ratio:.2f}x msiexec (goal: within 1.3x): {goal_word(ratio <= 1.3)}")
        table.add(f"3. {build.name}: update run, updater /q", ms(updater_runs.median),
                  updater_runs.spread(ms), "<= 1.3x msiexec", ratio <= 1.3)
        table.add("   ratio updater / msiexec", f"{ratio:.2f}x", "", "<= 1.3x", ratio <= 1.3)
    note(f"msiexec /p ... /qn median {ms(msiexec_runs.median)}  ({msiexec_runs.spread(ms)}); "
         f"CPU time {ms(msiexec_cpu.median)}")
    table.add("   msiexec /p patch.msp /qn", ms(msiexec_runs.median), msiexec_runs.spread(ms),
              "", None)


def information_report(runner, work, build, runs, table):
    heading(f"4. '/i' on an executable with three 32 MiB payloads (random bytes), {build.name}")
    payloads = [os.path.join(work, f"payload-32-{i}.bin") for i in range(3)]
    for path in payloads:
        if not os.path.exists(path):
            random_file(work, os.path.basename(path), 32 * MIB)
    exe = build_update(os.path.join(work, f"update-3x32-{build.name}.exe"), *payloads,
                       build=build, validate=False)
    runner.watched(exe, "/i")  # warm-up: the page cache and the prefix's first box
    report, start_up, box_counts, flags = [], [], set(), set()
    for _ in range(runs):
        seconds, boxes = runner.watched(exe, "/i")
        report.append(seconds)
        box_counts.add(len(boxes))
        flags.update("unknown" if b["flags"] is None else f"0x{b['flags']:X}" for b in boxes)
        start_up.append(runner.windows(exe, "/pi")[0])
    report, start_up = Series(report), Series(start_up)
    note("the watcher starts before the updater and stops after it, outside the timing; the "
         "time it takes to find and close the report box is inside the figure")
    note(f"boxes per run: {', '.join(str(n) for n in sorted(box_counts))}; their flags as the "
         f"watcher read them: {', '.join(sorted(flags)) or 'none'}")
    note(f"'/i'  median {ms(report.median)}  ({report.spread(ms)})")
    note(f"'/pi' median {ms(start_up.median)}  ({start_up.spread(ms)}) on the same executable")
    table.add(f"4. {build.name}: /i, three 32 MiB payloads", ms(report.median),
              report.spread(ms), "(none set)", None)


def packaging(work, runs, table):
    heading("7. Packaging a 100 MiB payload with the packer (x86 stub), against cp")
    payload = os.path.join(work, "payload-100.bin")
    with open(payload, "wb") as f:
        block = os.urandom(MIB)
        for _ in range(100):
            f.write(block)
    output = os.path.join(work, "packaged.exe")
    copied = os.path.join(work, "copied-100.bin")
    package = [PACKER, "--stub", X86_UPDATER, "--global", payload, "--no-validate", "--output",
               output]
    copy = ["cp", payload, copied]

    def timed(argv, wrapper=()):
        started = time.perf_counter()
        proc = subprocess.Popen([*wrapper, *argv], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - started
        errors = proc.stderr.read().decode(errors="replace")
        proc.stderr.close()
        if os.waitstatus_to_exitcode(status) != 0:
            raise RuntimeError(f"{argv} failed: {errors}")
        return wall, usage.ru_utime + usage.ru_stime

    def peak_kib(argv):
        out = os.path.join(work, "gnu-time-packing.txt")
        timed(argv, (GNU_TIME, "-f", "%M", "-o", out))
        with open(out) as f:
            return int(f.read().split()[-1])

    # One untimed round of each brings the sources into the page cache.
    remove(output)
    remove(copied)
    timed(package)
    timed(copy)
    wall = {"packer": [], "cp": []}
    cpu = {"packer": [], "cp": []}
    for i in range(runs):
        for name, argv, target in ((("packer", package, output), ("cp", copy, copied))
                                   if i % 2 == 0 else
                                   (("cp", copy, copied), ("packer", package, output))):
            remove(target)  # both write a fresh file
            seconds, cpu_seconds = timed(argv)
            wall[name].append(seconds)
            cpu[name].append(cpu_seconds)
    packer_runs, cp_runs = Series(wall["packer"]), Series(wall["cp"])
    packer_cpu, cp_cpu = Series(cpu["packer"]), Series(cpu["cp"])
    peaks = Series([peak_kib(package) for _ in range(3)])
    cp_peaks = Series([peak_kib(copy) for _ in range(3)])
    size = os.path.getsize(output)
    remove(copied)
    ratio = packer_runs.median / cp_runs.median
    under = packer_runs.median < 1.0
    note(f"packer   median {ms(packer_runs.median)}  ({packer_runs.spread(ms)}); "
         f"CPU time {ms(packer_cpu.median)}")
    note(f"cp       median {ms(cp_runs.median)}  ({cp_runs.spread(ms)}); "
         f"CPU time {ms(cp_cpu.median)}")
    note(f"the update is {size:,} bytes: the payload and "
         f"{(size - 100 * MIB) / 1024:.0f} KiB of stub and alignment")
    note("the packer reads the payload once in 1 MiB pieces, sums it for the checksum and "
         "writes it; cp 9.1 copies in the kernel (copy_file_range)")
    note(f"ratio {ratio:.2f}x cp (goal: within 10x): {goal_word(ratio <= 10)}; "
         f"under one second: {goal_word(under)}")
    note(f"peak RSS: packer {mib(peaks.median)} ({peaks.spread(mib)}), "
         f"cp {mib(cp_peaks.median)}")
    table.add("7. packaging 100 MiB (packer)", ms(packer_runs.median), packer_runs.spread(ms),
              "< 1 s and <= 10x cp", under and ratio <= 10)
    table.add("   cp of the same 100 MiB", ms(cp_runs.median), cp_runs.spread(ms), "", None)
    table.add("   ratio packer / cp", f"{ratio:.2f}x", "", "<= 10x", ratio <= 10)
    table.add("   peak RSS of the packer", mib(peaks.median), peaks.spread(mib), "(none set)",
              None)
    remove(output)
    remove(payload)


def executable_size(table):
    heading("5. Size of the x86 executable without payloads")
    size = os.path.getsize(X86_UPDATER)
    met = size < 320 * 1024
    note(f"{os.path.relpath(X86_UPDATER, ROOT)}: {size:,} bytes = {size / 1024:.1f} KiB "
         f"(goal: under 320 KiB): {goal_word(met)}")
    table.add("5. x86 updater.exe size", f"{size:,} B = {size / 1024:.1f} KiB", "",
              "< 320 KiB", met)


def stamped_payload(path, size_mib):
    """A payload of size_mib MiB: one random MiB repeated, each copy stamped with its index so
    that a block extracted at the wrong place shows; returns its SHA-256."""
    block = bytearray(os.urandom(MIB))
    digest = hashlib.sha256()
    with open(path, "wb") as f:
        for index in range(size_mib):
            block[:8] = index.to_bytes(8, "little")
            f.write(block)
            digest.update(block)
    return digest.hexdigest()


def available_mib():
    try:
        with open("/proc/meminfo") as f:
            for line in f:
                if line.startswith("MemAvailable:"):
                    return int(line.split()[1]) // 1024
    except OSError:
        pass
    return None


def file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        while chunk := f.read(8 * MIB):
            digest.update(chunk)
    return digest.hexdigest()


def carried_payload(runner, work, build, start_mib, table):
    heading(f"6. The largest payload the {build.name} build carries and still extracts byte for "
            f"byte")
    ladder = sorted(set(CARRY_LADDER + [start_mib]))
    outcomes = {}

    def attempt(size_mib):
        payload = os.path.join(work, "carried.bin")
        exe = os.path.join(work, f"carried-{build.name}.exe")
        extracted = os.path.join(work, "carried-extracted.msp")
        # The payload, the linker's object and output, and the extracted copy: four times the
        # size at the peak, with room to spare.
        free = shutil.disk_usage(work).free
        if free < (4 * size_mib + 512) * MIB:
            return None, f"not tried: {free / MIB:,.0f} MiB free on disk"
        # windres holds about four times the payload in memory while it compiles the resource
        # (measured: 7.0 GiB for 1.75 GiB).
        available = available_mib()
        if available is not None and available < 4.5 * size_mib:
            return None, f"not tried: {available:,} MiB of memory available"
        started = time.monotonic()
        try:
            expected = stamped_payload(payload, size_mib)
            try:
                build_update(exe, payload, build=build, validate=False)
            except AssertionError as error:
                return False, f"packaging failed: {str(error).strip()[-300:]}"
            remove(payload)
            try:
                seconds, _ = runner.windows(exe, "/e", extracted, timeout=900)
            except RuntimeError as error:
                return False, f"'/e' failed: {str(error).strip()[-300:]}"
            if not os.path.exists(extracted):
                return False, "'/e' wrote nothing"
            same = file_digest(extracted) == expected
            return same, (f"'/e' in {seconds:.1f} s, " +
                          ("extracted byte for byte" if same else "extracted file DIFFERS"))
        finally:
            for path in (payload, exe, extracted):
                remove(path)
            note(f"{size_mib:,} MiB: {time.monotonic() - started:.0f} s for packaging and '/e'")

    # Up the ladder from the start while the build extracts, down it while it does not; at
    # most three sizes.
    index = ladder.index(start_mib)
    ok, detail = attempt(ladder[index])
    outcomes[ladder[index]] = (ok, detail)
    step = 1 if ok else -1
    while ok is not None and len(outcomes) < 3 and 0 <= index + step < len(ladder):
        index += step
        result, detail = attempt(ladder[index])
        outcomes[ladder[index]] = (result, detail)
        if result != ok:
            break
    for size, (result, detail) in sorted(outcomes.items()):
        note(f"{size:,} MiB payload: {detail}")
    good = sorted(size for size, (result, _) in outcomes.items() if result)
    bad = sorted(size for size, (result, _) in outcomes.items() if result is False)
    above = [size for size in bad if not good or size > good[-1]]
    if good:
        largest = f"{good[-1]:,} MiB"
    else:
        largest = f"below {bad[0]:,} MiB" if bad else "not measured"
    if above:
        beyond = f"{above[0]:,} MiB fails"
    elif good and good[-1] == ladder[-1]:
        beyond = "top of the ladder; larger not tried"
    else:
        beyond = "larger: not tried"
    note(f"largest measured to extract: {largest}; {beyond} (sizes tried: "
         f"{', '.join(f'{s:,}' for s in sorted(outcomes))} MiB)")
    table.add(f"6. {build.name}: largest payload extracted", largest, beyond, "(none set)", None)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=7, help="measurements per figure")
    parser.add_argument("--carry-start", type=int, default=CARRY_START, metavar="MIB",
                        help="payload size where the search for the largest one starts")
    parser.add_argument("--carry-build", choices=("x86", "x64"), default="x86",
                        help="build whose largest payload is measured (default x86, the shipped)")
    parser.add_argument("--no-carry", action="store_true",
                        help="leave out figure 6 (it packages and extracts payloads of GiBs)")
    options = parser.parse_args()
    if options.runs < 1 or options.carry_start < 1:
        parser.error("--runs and --carry-start must be at least 1")

    started = time.monotonic()
    table = Table()
    print(f"bench: {options.runs} runs per figure; load average at start "
          f"{' '.join(f'{x:.2f}' for x in os.getloadavg())} on {os.cpu_count()} CPUs",
          flush=True)
    builds = harness.builds_under_test()
    if harness.x86_refused():
        print(f"bench: {harness.x86_refused()}")
    print(f"bench: builds measured: {', '.join(b.name for b in builds)}", flush=True)
    with harness.WineEnv() as env:
        print(f"bench: Wine environment ready in {env.startup_seconds:.1f} s", flush=True)
        for build in builds:
            harness.ensure_runs(build, env)
        work = tempfile.mkdtemp(prefix="bench-", dir=env.root)
        runner = Runner(env, work)
        extracting = {b.name: extraction(runner, work, b, options.runs, table) for b in builds}
        for build in builds:
            peak_memory(runner, work, build, extracting[build.name], options.runs, table)
        update_run(runner, env, work, builds, options.runs, table)
        for build in builds:
            information_report(runner, work, build, options.runs, table)
        executable_size(table)
        carry = harness.BUILDS[options.carry_build]
        if options.no_carry:
            table.add(f"6. {carry.name}: largest payload extracted", "not measured (--no-carry)",
                      "", "", None)
        elif carry in builds:
            carried_payload(runner, work, carry, options.carry_start, table)
        else:
            heading(f"6. The largest payload the {carry.name} build carries: not measured, the "
                    f"{carry.name} build does not run here")
            table.add(f"6. {carry.name}: largest payload extracted", "not measured",
                      "the build does not run here", "", None)
    with tempfile.TemporaryDirectory(prefix="bench-packing-") as work:
        packaging(work, options.runs, table)
    with tempfile.TemporaryDirectory(prefix="bench-patch-") as work:
        heading("8. Building a patch (200 files, 100 MiB, 10 MiB changed) against gcab -x of "
                "both cabinets and gcab -c -z of the changed files")
        bench_patch.report(Path(work), options.runs, note=note, add=table.add)
    print()
    table.print()
    print(f"\nbench: done in {time.monotonic() - started:.0f} s; load average at end "
          f"{' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
