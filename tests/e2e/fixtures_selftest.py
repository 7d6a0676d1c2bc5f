#!/usr/bin/python3
"""Proves the fixtures against Wine in a throwaway prefix: products built and installed, patches
generated and applied (msiexec /p and MsiConfigureProductExW), their effects read back, names in
other scripts, unusual languages, and the hostile patch variants as written and as msi.dll reads
them. Prints the time each kind of step took. Exit status 1 when a check fails.

    /usr/bin/python3 tests/e2e/fixtures_selftest.py [--build DIR] [--keep]

--build: the mingw x86_64 build tree holding tools/make_patch and tools/msiquery (default:
$UPDATER_BUILD_X64, else the two tools are built into the scratch directory).
--keep: leave the scratch directory (prefix, packages, logs) in place.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
from collections import defaultdict
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import fixtures as F  # noqa: E402

WINE64 = "/usr/lib/wine/wine64"
PATCH_CLASS = "000c1086-0000-0000-c000-000000000046"
TRANSFORM_CLASS = "000c1082-0000-0000-c000-000000000046"
DATABASE_CLASS = "000c1084-0000-0000-c000-000000000046"


class Session:
    def __init__(self, scratch, build_dir):
        self.scratch = scratch
        self.build_dir = build_dir
        self.env = dict(os.environ, WINEPREFIX=str(scratch / "prefix"), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("DISPLAY", None)
        self.failures = []
        self.timings = defaultdict(list)

    def run(self, argv):
        result = subprocess.run([WINE64, *argv], capture_output=True, env=self.env,
                                encoding="utf-8", errors="replace", timeout=300)
        return result.returncode, result.stdout, result.stderr

    def timed(self, kind, function, *args, **kwargs):
        start = time.monotonic()
        try:
            return function(*args, **kwargs)
        finally:
            self.timings[kind].append(time.monotonic() - start)

    def check(self, condition, message):
        print(("  ok    " if condition else "  FAIL  ") + message)
        if not condition:
            self.failures.append(message)

    def start_wine(self):
        self.timed("prefix creation (wineboot -i)", subprocess.run, [WINE64, "wineboot", "-i"],
                   env=self.env, capture_output=True, check=True)
        subprocess.run(["wineserver", "-p"], env=self.env, check=True)
        # The prefix's services start with the first program and outlive it; started here with
        # no pipes attached, they cannot keep the captured output of later programs open.
        subprocess.run([WINE64, "wineboot"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)

    def stop_wine(self):
        subprocess.run(["wineserver", "-k"], env=self.env)

    # Fixture calls with this session's runner and tools.
    def product(self, code, name, language, version, **kwargs):
        msi = self.timed("product build (wixl + msibuild)", F.build_product_msi,
                         self.scratch / "products", code, name, language, version, **kwargs)
        self.timed("product install (msiexec /i)", F.install_product, self.run, msi)
        return msi

    def patch(self, name, **kwargs):
        return self.timed("patch generation (make_patch)", F.make_patch, self.run,
                          self.scratch / "patches" / name, build_dir=self.build_dir, **kwargs)

    def query(self, *codes):
        found = self.timed("query (msiquery product)", F.query_products, self.run, codes,
                           build_dir=self.build_dir)
        return found if len(codes) > 1 else found[0]

    def configure(self, code, command_line, log=None):
        return self.timed("patch apply (MsiConfigureProductExW)", F.configure_product, self.run,
                          code, command_line, log, build_dir=self.build_dir)

    def apply(self, msp):
        return self.timed("patch apply (msiexec /p)", F.apply_patch, self.run, msp)

    def summary(self, path):
        return F.read_summary(self.run, path, build_dir=self.build_dir)


def code(group, n):
    return "{5E1F7E57-%04X-4000-8000-%012X}" % (group, n)


def build_tools(scratch):
    repo = F.REPO
    source = scratch / "tools-source"
    source.mkdir()
    (source / "CMakeLists.txt").write_text(
        "cmake_minimum_required(VERSION 3.20)\nproject(fixture_tools CXX)\n"
        f"add_subdirectory({repo}/tools/make_patch tools/make_patch)\n"
        f"add_subdirectory({repo}/tools/msiquery tools/msiquery)\n")
    build = scratch / "build"
    subprocess.run(["cmake", "-G", "Ninja", "-S", source, "-B", build,
                    f"-DCMAKE_TOOLCHAIN_FILE={repo}/cmake/mingw-x86_64.cmake",
                    "-DCMAKE_BUILD_TYPE=Release"], check=True, capture_output=True)
    subprocess.run(["cmake", "--build", build], check=True, capture_output=True)
    return build


def patch_chain(s):
    print("A patch and a second one on top, for one product")
    product = code(1, 1)
    upgrade = F.derived_guid(product, "upgrade")
    s.product(product, "Quorvex Alpha", 1033, "1.0.0.0")
    q = s.query(product)
    s.check((q["state"], q["name"], q["language"], q["version"], q["patches"]) ==
            (5, "Quorvex Alpha", "1033", "1.0.0.0", []),
            f"installed 1.0.0.0 without patches: {q['state']} {q['version']} {q['patches']}")

    first, second = code(2, 1), code(2, 2)
    msp = s.patch("alpha-2.msp", targets=[product], patch_code=first,
                  transform=("1.0.0.0", "2.0.0.0", product, upgrade))
    rc, props = s.summary(msp)
    s.check(rc == 0 and props.get(7) == (F.VT_LPSTR, product) and
            props.get(5) == (F.VT_LPSTR, "2.0.0.0;1.0.0.0") and
            props.get(8) == (F.VT_LPSTR, ":T1") and props.get(9) == (F.VT_LPSTR, first),
            f"msi.dll reads properties 7, 5, 8, 9 of the patch: {props}")
    parts = F.read_compound_file(msp)
    row = parts.get(("T1", F.encode_table_stream_name("Property")))
    s.check(str(parts[()]) == PATCH_CLASS and str(parts.get(("T1",))) == TRANSFORM_CLASS and
            row == bytes.fromhex("020001000200"),
            "the file holds a patch root and a transform T1 with one Property row")
    exit_code = s.apply(msp)
    q = s.query(product)
    s.check(exit_code == 0 and q["version"] == "2.0.0.0" and q["patches"] == [first] and
            q["transforms"][first] == ":T1",
            f"msiexec /p made it 2.0.0.0 and registered the patch: {q['version']} {q['patches']}")

    msp = s.patch("alpha-3.msp", targets=[product], patch_code=second,
                  transform=("2.0.0.0", "3.0.0.0", product, upgrade))
    log = s.scratch / "alpha-3.log"
    rc = s.configure(product, F.patch_command_line(msp), log)
    q = s.query(product)
    s.check(rc == 0 and q["version"] == "3.0.0.0" and q["patches"] == [first, second],
            f"MsiConfigureProductExW with PATCH= made it 3.0.0.0: {q['version']} {q['patches']}")
    log_text = log.read_bytes().decode("latin-1") if log.exists() else ""
    s.check(f"PATCH = {F.windows_path(msp)}" in log_text,
            "the verbose log names the PATCH property")

    print("Patches that do not apply leave the product alone, whatever the return code")
    # (label, options, whether Wine still registers the patch)
    cases = [
        ("for another product", dict(targets=[code(1, 99)], patch_code=code(2, 3),
                                     transform=("3.0.0.0", "4.0.0.0", product, upgrade)), False),
        ("of the wrong class", dict(targets=[product], patch_code=code(2, 4), wrong_class=True,
                                    transform=("3.0.0.0", "4.0.0.0", product, upgrade)), False),
        ("whose transform is for another product",
         dict(targets=[product], patch_code=code(2, 5),
              transform=("3.0.0.0", "4.0.0.0", code(1, 99), upgrade)), True),
    ]
    for label, options, registered in cases:
        msp = s.patch(f"alpha-{options['patch_code'][-2:]}.msp", **options)
        rc = s.configure(product, F.patch_command_line(msp))
        q = s.query(product)
        listed = options["patch_code"] in q["patches"]
        s.check(rc == 0 and q["version"] == "3.0.0.0" and listed == registered,
                f"a patch {label}: rc {rc}, version still {q['version']}, registered: {listed}")


def two_products(s):
    print("One patch for two products, one transform each (validated by product code)")
    d, e = code(3, 1), code(3, 2)
    s.product(d, "Quorvex Delta", 1033, "1.0.0.0")
    s.product(e, "Quorvex Echo", 1033, "1.0.0.0")
    patch_code = code(4, 1)
    msp = s.patch("delta-echo.msp", targets=[d, e], patch_code=patch_code,
                  versions="2.0.0.0;1.0.0.0", transforms=[
                      ("T1", "1.0.0.0", "2.0.0.0", d, F.derived_guid(d, "upgrade")),
                      ("T2", "1.0.0.0", "2.5.0.0", e, F.derived_guid(e, "upgrade"))])
    rc, props = s.summary(msp)
    s.check(props.get(8) == (F.VT_LPSTR, ":T1;:T2") and props.get(7) == (F.VT_LPSTR, f"{d};{e}"),
            f"transform list and targets: {props.get(8)} {props.get(7)}")
    s.apply(msp)
    qd, qe = s.query(d, e)
    s.check((qd["version"], qe["version"]) == ("2.0.0.0", "2.5.0.0") and
            qd["patches"] == qe["patches"] == [patch_code],
            f"each product got its own transform: {qd['version']} {qe['version']}")


def names_and_languages(s):
    print("Product names in other scripts and of 1000 characters")
    long_ascii = "Quorvex " + "".join(chr(ord("a") + i % 26) for i in range(992))
    cases = [
        ("German", 1031, "Quorvex Prüfwerkzeug für Größenänderung"),
        ("Japanese", 1041, "Quorvex テスト製品（日本語版）"),
        ("1000 ASCII characters", 1033, long_ascii),
        ("1000 German characters", 1031, "Größe " + "ä" * 994),
        ("1000 Japanese characters", 1041, "製品" * 500),
        ("XML and quote characters", 1033, "Quorvex \"quoted\" <name> & 'apos'"),
    ]
    for n, (label, language, name) in enumerate(cases):
        product = code(5, n)
        s.product(product, name, language, "1.0.0.0")
        q = s.query(product)
        s.check(q["state"] == 5 and q["name"] == name and q["language"] == str(language),
                f"{label}: ProductName read back exactly ({len(q['name'] or '')} characters), "
                f"Language {q['language']}")

    print("Unusual languages")
    cases = [("abc", "0"), ("99999", "99999"), ("0", "0")]
    for n, (language, registered) in enumerate(cases):
        product = code(6, n)
        s.product(product, f"Quorvex Language {language}", language, "1.0.0.0")
        q = s.query(product)
        s.check(q["state"] == 5 and q["language"] == registered,
                f"Language=\"{language}\" installs; msi.dll reports {q['language']!r}")
    try:
        F.build_product_msi(s.scratch / "products", code(6, 9), "Quorvex", "", "1.0.0.0")
        s.check(False, "Language=\"\" is refused by wixl")
    except F.FixtureError as error:
        s.check("wixl" in str(error), "Language=\"\" is refused by wixl")
    product = code(6, 0)
    for value in ["", "abc", "99999", "x" * 1000]:
        F.set_registered_product_info(s.run, product, "Language", value)
        q = s.query(product)
        s.check(q["raw"]["Language"] == {"rc": 0, "value": value},
                f"registered Language overwritten with {value[:10]!r}: read back exactly")


def hostile_patches(s):
    print("Hostile patch variants: as written, and as Wine's msi.dll reads them")
    product = code(1, 1)
    long_targets = ";".join("{%08X-0000-0000-0000-000000000000}" % i for i in range(2632))
    long_targets = long_targets[:100000]
    long_versions = ("9.9.9.9;" + ",".join(f"1.2.3.{i}" for i in range(20000)))[:100000]
    base = dict(targets=[product], versions="2.0.0.0;1.0.0.0")
    # (label, options, expected raw 7, expected raw 5, expected msi.dll 7, msi.dll 5)
    text7, text5 = (F.VT_LPSTR, product.encode()), (F.VT_LPSTR, b"2.0.0.0;1.0.0.0")
    read7, read5 = (F.VT_LPSTR, product), (F.VT_LPSTR, "2.0.0.0;1.0.0.0")
    cases = [
        ("no property 7", dict(no_prop7=True), None, text5, None, read5),
        ("no property 5", dict(no_prop5=True), text7, None, read7, None),
        ("property 7 as VT_I4", dict(prop7_int=42), (F.VT_I4, 42), text5, None, read5),
        ("property 5 as VT_I4", dict(prop5_int=-7), text7, (F.VT_I4, -7), read7, None),
        ("100,000-character properties", dict(targets=long_targets, versions=long_versions),
         (F.VT_LPSTR, long_targets.encode()), (F.VT_LPSTR, long_versions.encode()),
         (F.VT_LPSTR, long_targets), (F.VT_LPSTR, long_versions)),
        ("wrong root class", dict(wrong_class=True), text7, text5, read7, read5),
    ]
    for n, (label, options, raw7, raw5, wine7, wine5) in enumerate(cases):
        msp = s.patch(f"hostile-{n}.msp", **{**base, **options})
        raw = F.read_summary_stream(F.read_compound_file(msp)[(F.SUMMARY_STREAM,)])
        rc, props = s.summary(msp)
        s.check((raw.get(7), raw.get(5)) == (raw7, raw5) and rc == 0 and
                (props.get(7), props.get(5)) == (wine7, wine5),
                f"{label}: file holds types {raw.get(7, (None,))[0]}/{raw.get(5, (None,))[0]}, "
                f"msi.dll gives {props.get(7, (None,))[0]}/{props.get(5, (None,))[0]}")

    msp = s.patch("hostile-no-summary.msp", no_summary=True, **base)
    parts = F.read_compound_file(msp)
    rc, props = s.summary(msp)
    s.check((F.SUMMARY_STREAM,) not in parts and rc == 0 and props == {},
            f"no summary information: msi.dll opens it and finds no properties ({rc}, {props})")

    msp = s.patch("hostile-no-pool.msp", no_string_pool=True, **base)
    parts = F.read_compound_file(msp)
    has_pool = any(F.encode_table_stream_name("_StringPool") in p for p in parts)
    try:
        outcome = f"read, rc {s.summary(msp)[0]}"
    except F.FixtureError:
        outcome = "the reading process crashed"
    s.check(not has_pool and outcome == "the reading process crashed",
            f"no string pool: MsiGetSummaryInformationW -> {outcome}")

    print("make_patch refuses bad command lines")
    cases = [
        ["--targets", "{X}"],
        ["--out", "x.msp", "--transform", "T1,1.0,2.0,{A}"],
        ["--out", "x.msp", "--transform-from", "1.0.0.0"],
        ["--out", "x.msp", "--prop-int", "7=seven"],
        ["--out", "x.msp", "--targets", "\u65e5\u672c"],
        ["--out", "x.msp", "--bogus"],
    ]
    exe = F.tool_path("make_patch", s.build_dir)
    for argv in cases:
        exit_code, _, err = s.run([str(exe), *argv])
        s.check(exit_code == 2 and "make_patch:" in err, f"{' '.join(argv)!r}: exit {exit_code}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.environ.get("UPDATER_BUILD_X64"))
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args()

    scratch = Path(tempfile.mkdtemp(prefix="fixtures-selftest-"))
    print(f"scratch directory {scratch}")
    build_dir = Path(args.build) if args.build else build_tools(scratch)
    s = Session(scratch, build_dir)
    s.start_wine()
    try:
        patch_chain(s)
        two_products(s)
        names_and_languages(s)
        hostile_patches(s)
    finally:
        s.stop_wine()
        if not args.keep:
            shutil.rmtree(scratch, ignore_errors=True)

    print("\nTimings (seconds)")
    for kind, values in s.timings.items():
        print(f"  {kind:40s} n={len(values):3d}  mean {sum(values) / len(values):6.3f}  "
              f"min {min(values):6.3f}  max {max(values):6.3f}")
    if s.failures:
        print(f"\n{len(s.failures)} check(s) failed")
        return 1
    print("\nall checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
