#!/usr/bin/python3
"""Benchmark of the patch builder, not a test: a product of 200 files and 100 MiB in two builds
(wixl, external cabinets), 10 MiB of it changed. The builder's whole run (scripts/build-patch's
tool) is set against the work no patch builder can avoid on the same machine in the same run:
extracting both builds' cabinets (gcab -x) and compressing the changed files (gcab -c -z). Its
peak resident memory (GNU time %M) is set against the changed bytes. Prints both beside their
goals (at most 2x the unavoidable work; at most 64 MiB above the changed bytes); asserts
nothing. tools/bench.py runs it as figure 8; alone: tools/bench_patch.py [--runs N]."""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

from patch_products import build_product, product_design  # noqa: E402

MIB = 1 << 20
GNU_TIME = "/usr/bin/time"
BUILDER = ROOT / "build" / "packer" / "tools" / "patch_builder" / "patch_builder"
FILES, FILE_SIZE, CHANGED = 200, MIB // 2, 20


def timed(argv, wrapper=(), cwd=None):
    started = time.perf_counter()
    proc = subprocess.run([*wrapper, *map(str, argv)], capture_output=True, cwd=cwd,
                          env=dict(os.environ, SOURCE_DATE_EPOCH="1700000000"))
    if proc.returncode != 0:
        raise RuntimeError(f"{argv} failed: {proc.stderr.decode(errors='replace')}")
    return time.perf_counter() - started


def peak_kib(argv, scratch):
    out = Path(scratch) / "gnu-time-patch.txt"
    timed(argv, (GNU_TIME, "-f", "%M", "-o", str(out)))
    return int(out.read_text().split()[-1])


def builds(work):
    rng = random.Random(200)
    files = {f"file{i:03}.bin": rng.randbytes(FILE_SIZE) for i in range(FILES)}
    old = product_design("Patch Bench", "1.0.0", files)
    changed = dict(files)
    for i in range(CHANGED):
        changed[f"file{i * (FILES // CHANGED):03}.bin"] = rng.randbytes(FILE_SIZE)
    new = product_design("Patch Bench", "1.1.0", changed)
    for design in (old, new):
        design["media"] = "external"
    msis = build_product(work / "old", old), build_product(work / "new", new)
    changed_paths = [work / "new" / "source" / "Main" / name for name in changed
                     if changed[name] != files[name]]
    return msis, changed_paths


def measure(work, runs):
    """Gives (builder seconds, unavoidable seconds, builder peak KiB, changed bytes) medians."""
    (old_msi, new_msi), changed = builds(work)
    output = work / "bench.msp"
    builder = [BUILDER, "--old", old_msi, "--new", new_msi, "--output", output]
    extract = work / "extract"

    def unavoidable():
        shutil.rmtree(extract, ignore_errors=True)
        for side in ("old", "new"):
            (extract / side).mkdir(parents=True)
            seconds = timed(["gcab", "-x", "-C", extract / side, work / side / "product.cab"])
            yield seconds
        yield timed(["gcab", "-c", "-z", extract / "changed.cab", *changed])

    timed(builder)  # one untimed round of each brings the sources into the page cache
    sum(unavoidable())
    own, base = [], []
    for i in range(runs):
        pair = (("builder", lambda: timed(builder)), ("base", lambda: sum(unavoidable())))
        for name, run in (pair if i % 2 == 0 else pair[::-1]):
            (own if name == "builder" else base).append(run())
    peaks = [peak_kib(builder, work) for _ in range(3)]
    shutil.rmtree(extract, ignore_errors=True)
    return (statistics.median(own), statistics.median(base), statistics.median(peaks),
            sum(p.stat().st_size for p in changed), min(own), max(own), min(base), max(base))


def report(work, runs, note=print, add=None):
    own, base, peak, changed, own_lo, own_hi, base_lo, base_hi = measure(work, runs)
    ratio = own / base
    limit_kib = changed / 1024 + 64 * 1024
    note(f"builder (200 files, 100 MiB, {changed / MIB:.0f} MiB changed) median "
         f"{own * 1000:.0f} ms ({own_lo * 1000:.0f} to {own_hi * 1000:.0f} ms)")
    note(f"gcab -x of both cabinets + gcab -c -z of the changed files median {base * 1000:.0f} ms "
         f"({base_lo * 1000:.0f} to {base_hi * 1000:.0f} ms)")
    note(f"ratio {ratio:.2f}x the unavoidable work (goal: at most 2x): "
         f"{'met' if ratio <= 2 else 'MISSED'}")
    note(f"builder peak resident memory {peak / 1024:.1f} MiB (goal: at most changed bytes + "
         f"64 MiB = {limit_kib / 1024:.1f} MiB): {'met' if peak <= limit_kib else 'MISSED'}")
    if add:
        add("8. patch builder / unavoidable work", f"{ratio:.2f}x", "", "at most 2x", ratio <= 2)
        add("8. patch builder peak memory", f"{peak / 1024:.1f} MiB", "",
            f"at most {limit_kib / 1024:.1f} MiB", peak <= limit_kib)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=5)
    options = parser.parse_args()
    subprocess.run(["cmake", "--build", str(ROOT / "build" / "packer"), "--target",
                    "patch_builder"], check=True, capture_output=True)
    with tempfile.TemporaryDirectory(prefix="bench-patch-") as work:
        report(Path(work), options.runs)
    return 0


if __name__ == "__main__":
    sys.exit(main())
