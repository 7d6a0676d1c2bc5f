#!/usr/bin/python3
"""The release pipeline on the bundled sample (samples/sample-suite.json), all on Linux: two
builds of the sample product made with wixl (the installed version and the upgrade version),
the patch built from them (scripts/build-patch), the update packaged around it
(scripts/build-update --global); then, in a fresh private Wine prefix, the first build is
installed and the update run, and the product's version and files are printed before and after.
scripts/demo runs it after the main demo."""

import json
import os
import sys
import tempfile
import time
from pathlib import Path

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
os.environ.setdefault("UPDATER_BUILD_X64", os.path.join(ROOT, "build", "x64"))

import fixtures  # noqa: E402
import harness  # noqa: E402
from patch_products import (build_product, checked_patch, installed_files,  # noqa: E402
                            source_files)
from updates import build_update, windows_runner  # noqa: E402


def sample_build(sample, version, files):
    product = sample["product"]
    return {
        "name": product["name"], "code": product["productCode"],
        "upgrade": product["upgradeCode"], "version": version,
        "components": [{"id": "Main", "guid": fixtures.derived_guid(product["productCode"],
                                                                     "component"),
                        "files": files, "key": "suite.exe.txt",
                        "registry": {"Version": version}}],
        "features": {"Complete": ["Main"]},
    }


def main():
    with open(os.path.join(ROOT, "samples", "sample-suite.json")) as f:
        sample = json.load(f)
    first, upgrade = sample["product"]["version"], sample["patch"]["upgradeVersion"]
    build = harness.builds_under_test()[0]
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="updater-patch-demo-") as work:
        work = Path(work)
        old = sample_build(sample, first, {"suite.exe.txt": f"suite {first}\r\n".encode(),
                                           "readme.txt": b"Quorvex Sample Suite\r\n"})
        new = sample_build(sample, upgrade, {"suite.exe.txt": f"suite {upgrade}\r\n".encode(),
                                             "readme.txt": b"Quorvex Sample Suite\r\n",
                                             "changes.txt": f"new in {upgrade}\r\n".encode()})
        old_msi, new_msi = build_product(work / "old", old), build_product(work / "new", new)
        print(f"demo-patch: built {old['name']} {first} and {upgrade} with wixl")
        msp = checked_patch(work / "SampleSuite-SP1.msp", [old_msi], new_msi,
                            "--display-name", f"{old['name']} {upgrade}")
        print(f"demo-patch: scripts/build-patch wrote {msp.name} ({msp.stat().st_size:,} bytes)")
        exe = build_update(str(work / "SampleSuite-SP1.exe"), str(msp), build=build)
        print(f"demo-patch: scripts/build-update packaged {os.path.basename(exe)} "
              f"({os.path.getsize(exe):,} bytes, {build.name} build)")
        with harness.WineEnv() as env:
            run = windows_runner(env)
            fixtures.install_product(run, old_msi)
            before = fixtures.query_product(run, old["code"])
            files_before = installed_files(env, old["name"])
            print(f"demo-patch: installed {before['name']} {before['version']}: "
                  f"{', '.join(sorted(files_before))}")
            harness.ensure_runs(build, env)
            result = env.run(exe, [])
            for box in result.boxes:
                print(f"  [{box['icon']}] {box['caption']}: {box['text']}")
            after = fixtures.query_product(run, old["code"])
            files_after = installed_files(env, old["name"])
            print(f"demo-patch: ran the update: exit code {result.exit_code}; version before "
                  f"{before['version']}, after {after['version']}; files now: "
                  f"{', '.join(sorted(files_after or {}))}")
            ok = (result.exit_code == 0 and after["version"] == upgrade and
                  files_after == source_files(new))
    print(f"demo-patch: {'the built patch was applied' if ok else 'FAILED'} "
          f"({time.monotonic() - started:.1f} s)")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
