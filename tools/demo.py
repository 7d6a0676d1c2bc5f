#!/usr/bin/python3
"""The main job on the bundled sample (samples/sample-suite.json): builds the sample product and
its patch, installs the product in a fresh private Wine prefix, packages the update around the
patch, runs it, and prints every message box shown and the product's version before and after,
and the deployment descriptor's detection rule before and after (a copy of the descriptor is kept
as build/SampleSuite-SP1.exe.json).

It runs the shipped x86 build wherever the kernel runs 32-bit programs, and says so; where the
kernel refuses, it says that in one line and runs the x64 build."""

import json
import os
import shutil
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
os.environ.setdefault("UPDATER_BUILD_X64", os.path.join(ROOT, "build", "x64"))

import fixtures  # noqa: E402
import harness  # noqa: E402
from updates import build_update, windows_runner  # noqa: E402


def detected(state, rule):
    """The descriptor's product-code rule over what the installer says of the product."""
    def parts(text):
        return [int(p) for p in (text.split(".") + ["0"] * 4)[:4]]
    ok = state["state"] == 5 and parts(state["version"]) >= parts(rule["productVersion"])
    return "detected" if ok else "not detected"


def main():
    with open(os.path.join(ROOT, "samples", "sample-suite.json")) as f:
        sample = json.load(f)
    product, patch = sample["product"], sample["patch"]
    build = harness.builds_under_test()[0]
    if harness.x86_refused():
        print(f"demo: {harness.x86_refused()}")
    print(f"demo: running the {build.name} build"
          f"{' (the shipped one)' if build.name == 'x86' else ''}: {build.folder}")
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="updater-demo-") as work, harness.WineEnv() as env:
        run = windows_runner(env)
        print(f"demo: fresh Wine prefix ready ({time.monotonic() - started:.1f} s)")

        msi = fixtures.build_product_msi(work, product["productCode"], product["name"],
                                         product["language"], product["version"],
                                         upgrade_code=product["upgradeCode"])
        fixtures.install_product(run, msi)
        before = fixtures.query_product(run, product["productCode"])
        print(f"demo: installed {before['name']} {before['version']} "
              f"(language {before['language']}, {product['productCode']})")

        versions = patch["upgradeVersion"] + ";" + ",".join(patch["targetVersions"])
        msp = fixtures.make_patch(run, os.path.join(work, "sample-suite-sp1.msp"),
                                  targets=product["productCode"], versions=versions,
                                  patch_code=patch["patchCode"],
                                  transform=(product["version"], patch["upgradeVersion"],
                                             product["productCode"], product["upgradeCode"]))
        print(f"demo: patch {os.path.basename(str(msp))}: targets {product['productCode']}, "
              f"versions {versions}")
        exe = build_update(os.path.join(work, "SampleSuite-SP1.exe"), str(msp), build=build)
        print(f"demo: packaged {os.path.basename(exe)} ({os.path.getsize(exe):,} bytes, "
              f"{build.name} build)")

        with open(exe + ".json") as f:
            descriptor = json.load(f)
        shutil.copyfile(exe + ".json", os.path.join(ROOT, "build", os.path.basename(exe) + ".json"))
        rule = descriptor["win32LobApp"]["rules"][0]
        print(f"demo: deployment descriptor {os.path.basename(exe)}.json: install "
              f"\"{descriptor['win32LobApp']['installCommandLine']}\"; detection: "
              f"{rule['productCode']} at version {rule['productVersion']} or later "
              f"(now: {detected(before, rule)})")

        harness.ensure_runs(build, env)
        result = env.run(exe, [])
        print(f"demo: ran the {build.name} update: exit code {result.exit_code}, "
              f"{len(result.boxes)} message box(es), {result.seconds:.2f} s")
        for box in result.boxes:
            flags = "unknown" if box["flags"] is None else f"0x{box['flags']:X}"
            print(f"  [{box['icon']}, flags {flags}, {box.get('bits')}-bit process] "
                  f"{box['caption']}: {box['text']}")

        after = fixtures.query_product(run, product["productCode"])
        print(f"demo: {after['name']} version before {before['version']}, "
              f"after {after['version']}; registered patches: {', '.join(after['patches']) or 'none'}")
        print(f"demo: the descriptor's detection rule after the run: {detected(after, rule)}")
        log = os.path.join(env.temp_dir, f"{product['name']} SP1.log")
        if os.path.exists(log):
            print(f"demo: installer log written: %TEMP%\\{os.path.basename(log)} "
                  f"({os.path.getsize(log):,} bytes)")
        ok = (result.exit_code == 0 and after["version"] == patch["upgradeVersion"] and
              detected(after, rule) == "detected" and
              len(result.boxes) == 1 and result.boxes[0]["flags"] == 0x50040)
    print(f"demo: {'the update was applied' if ok else 'FAILED'} by the {build.name} build "
          f"({time.monotonic() - started:.1f} s after set-up)")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
