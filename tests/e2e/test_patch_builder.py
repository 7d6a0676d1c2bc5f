"""The patch builder (scripts/build-patch) end to end: products built with wixl in two or more
builds, the patch the builder writes from them, and the real installer under Wine applying it.

A patched product is compared with a fresh installation of the new build, file by file and
registry value by registry value. The main transform is also applied on its own, by the
installer's MsiDatabaseApplyTransformW, to a copy of the old database, and the result compared
with the new database table by table. The refusals need no Wine: they run the builder alone."""

import random
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import fixtures
import harness
from patch_products import (build_patch, build_product, checked_patch, installed_files,
                            product_design, source_files)
from updates import ProductCase, WineCase, build_update



def sample_builds(folder, name, payload_size=3000):
    """An old build (1.0.0) and a new one (1.1.0) of one product: in the new one a file changes
    with its size, one changes in content only, one stays, one is added; a registry value
    changes and one is added."""
    rng = random.Random(name)
    same = bytes(rng.randrange(256) for _ in range(payload_size))
    old = product_design(name, "1.0.0", {
        "app.dat": b"old application " * 40, "notes.txt": b"notes version one\r\n",
        "same.bin": same})
    new = product_design(name, "1.1.0", {
        "app.dat": b"new application, longer " * 50, "notes.txt": b"notes version two\r\n",
        "same.bin": same, "added.txt": b"a file the patch adds\r\n"},
        registry={"Version": "1.1.0", "Channel": "stable"})
    # Binary rows: one whose stream changes, one added, one unchanged.
    old["binaries"] = {"Logo": b"old logo " * 20, "Same": b"same stream"}
    new["binaries"] = {"Logo": b"new logo, larger " * 30, "Same": b"same stream",
                       "Added": b"added stream"}
    return (build_product(Path(folder) / "old", old), build_product(Path(folder) / "new", new),
            old, new)


class PatchedProduct:
    """What the tests compare of an installed product: version, files, registry values."""

    def __init__(self, case, design):
        self.case, self.design = case, design

    def registry(self):
        code, out, _ = self.case.run_windows(
            ["reg", "query", f"HKLM\\Software\\Quorvex\\{self.design['name']}"])
        if code != 0:
            return None
        values = {}
        for line in out.splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[1].startswith("REG_"):
                values[parts[0]] = parts[2].strip()
        return values

    def snapshot(self):
        state = fixtures.query_product(self.case.run_windows, self.design["code"])
        return {"version": state["version"], "files": installed_files(self.case.env,
                                                                     self.design["name"]),
                "registry": self.registry(), "patches": state["patches"]}


class PatchBuilderUnderWine(WineCase):
    FOLDER = "patch-builder"

    def msiexec(self, *args):
        code, out, err = self.run_windows(["msiexec", *args])
        self.assertEqual(code, 0, f"msiexec {args}: {out} {err}")

    def install(self, msi):
        self.msiexec("/i", fixtures.windows_path(msi), "/qn")

    def apply(self, patch):
        self.msiexec("/p", fixtures.windows_path(patch), "/qn")

    def test_patch_brings_the_old_build_to_a_fresh_installation_of_the_new(self):
        work = Path(tempfile.mkdtemp(dir=self.folder))
        old_msi, new_msi, old, new = sample_builds(work, "Patch Builder Sample")
        patch = checked_patch(work / "update.msp", [old_msi], new_msi)
        product = PatchedProduct(self, new)

        self.install(old_msi)
        before = product.snapshot()
        self.assertEqual(before["version"], "1.0.0")
        self.assertEqual(before["files"], source_files(old))
        self.apply(patch)
        patched = product.snapshot()
        self.assertEqual(patched["version"], "1.1.0")
        self.assertEqual(len(patched["patches"]), 1)

        # Applying the same patch again changes nothing: version, files, registry values and
        # the patch registered. (Wine's MsiEnumPatchesW then lists the same code twice.)
        self.apply(patch)
        again = product.snapshot()
        self.assertEqual(set(again.pop("patches")), set(patched["patches"]))
        self.assertEqual(again, {k: v for k, v in patched.items() if k != "patches"})

        # A fresh installation of the new build, once the product is gone entirely.
        fixtures.uninstall_product(self.run_windows, new["code"])
        self.assertIsNone(installed_files(self.env, new["name"]))
        self.assertIsNone(product.registry())
        self.install(new_msi)
        fresh = product.snapshot()
        self.assertEqual(fresh["version"], "1.1.0")
        self.assertEqual(patched["files"], fresh["files"])
        self.assertEqual(patched["registry"], fresh["registry"])
        self.assertEqual(fresh["files"], source_files(new))
        fixtures.uninstall_product(self.run_windows, new["code"])

    def test_builds_with_external_cabinets(self):
        work = Path(tempfile.mkdtemp(dir=self.folder))
        name = "Patch Builder External"
        old = product_design(name, "1.0.0", {"app.dat": b"old " * 100, "same.txt": b"same\r\n"})
        new = product_design(name, "1.0.1", {"app.dat": b"newer " * 100, "same.txt": b"same\r\n"})
        for design in (old, new):
            design["media"] = "external"
        old_msi = build_product(work / "old", old)
        patch = checked_patch(work / "update.msp", [old_msi], build_product(work / "new", new))
        product = PatchedProduct(self, new)
        self.install(old_msi)
        self.apply(patch)
        state = product.snapshot()
        self.assertEqual(state["version"], "1.0.1")
        self.assertEqual(state["files"], source_files(new))
        fixtures.uninstall_product(self.run_windows, new["code"])

    def test_patch_for_two_old_builds_patches_each(self):
        work = Path(tempfile.mkdtemp(dir=self.folder))
        name = "Patch Builder Two Olds"
        first = product_design(name, "1.0.0", {"app.dat": b"first " * 30, "keep.txt": b"keep\r\n"})
        second = product_design(name, "1.1.0", {"app.dat": b"second build " * 30,
                                               "keep.txt": b"keep\r\n"})
        new = product_design(name, "1.2.0", {"app.dat": b"third and newest build " * 30,
                                            "keep.txt": b"keep\r\n", "more.txt": b"more\r\n"},
                           registry={"Version": "1.2.0"})
        msis = [build_product(work / v["version"], v) for v in (first, second, new)]
        patch = checked_patch(work / "update.msp", msis[:2], msis[2])
        product = PatchedProduct(self, new)
        for old_msi, old in zip(msis[:2], (first, second)):
            with self.subTest(old=old["version"]):
                self.install(old_msi)
                self.assertEqual(product.snapshot()["version"], old["version"])
                self.apply(patch)
                state = product.snapshot()
                self.assertEqual(state["version"], "1.2.0")
                self.assertEqual(state["files"], source_files(new))
                self.assertEqual(state["registry"], {"Version": "1.2.0"})
                fixtures.uninstall_product(self.run_windows, new["code"])

    def test_main_transform_makes_the_old_database_the_new_one(self):
        """The main transform applied alone by the installer's own MsiDatabaseApplyTransformW:
        the old database then equals the new one table by table, except what a patch leaves
        alone (the Media rows; the sequence numbers of the files)."""
        work = Path(tempfile.mkdtemp(dir=self.folder))
        old_msi, new_msi, _, _ = sample_builds(work, "Patch Builder Tables")
        transforms = work / "transforms"
        transforms.mkdir()
        patch_code = "{5D6B8E2A-3C4F-4A1B-9E8D-7C6B5A4F3E2D}"
        checked_patch(work / "update.msp", [old_msi], new_msi, "--transforms-to", str(transforms),
                      "--patch-code", patch_code)
        applied = work / "applied.msi"
        shutil.copy(old_msi, applied)
        report = fixtures._run_json(
            self.run_windows, [fixtures.tool_path("msiquery"), "transform",
                               fixtures.windows_path(applied),
                               fixtures.windows_path(transforms / "T1.mst")], "msiquery transform")
        self.assertEqual(report, {"open": 0, "apply": 0, "commit": 0})
        got, want = dump_tables(applied, work / "got"), dump_tables(new_msi, work / "want")
        old_tables = dump_tables(old_msi, work / "old-tables")
        # Wine's transform application stores a stream column's new contents with add_stream,
        # which leaves a stream already in the database as it was when the database is
        # committed (an added stream is written): the streams the new build changed are compared
        # in the transform's effect on the rows only.
        old_streams, new_streams = old_tables["Binary"][2], want["Binary"][2]
        replaced = {k for k in old_streams if k in new_streams and old_streams[k] != new_streams[k]}
        self.assertEqual(replaced, {"Binary.Logo"})
        for table in sorted(set(got) | set(want)):
            if table in ("Media", "_SummaryInformation"):
                continue
            with self.subTest(table=table):
                self.assertIn(table, got)
                self.assertIn(table, want)
                mine, theirs = (comparable_rows(table, t[table]) for t in (got, want))
                if table == "Binary":
                    mine, theirs = ((h, r, {k: v for k, v in st.items() if k not in replaced})
                                    for h, r, st in (mine, theirs))
                self.assertEqual(mine, theirs)
        self.assertIn("Binary.Added", got["Binary"][2])
        # What a patch leaves alone is left alone: the old build's media.
        self.assertEqual(old_tables["Media"], got["Media"])

        # The paired transform, applied next: the patch's medium, its PatchPackage row (a table
        # the old build lacks), the carried files after the old build's largest sequence with
        # the patch-added attribute, and the properties a patch sets.
        report = fixtures._run_json(
            self.run_windows, [fixtures.tool_path("msiquery"), "transform",
                               fixtures.windows_path(applied),
                               fixtures.windows_path(transforms / "paired-T1.mst")],
            "msiquery transform")
        self.assertEqual(report, {"open": 0, "apply": 0, "commit": 0})
        paired = dump_tables(applied, work / "paired")
        media = {tuple(r.split("\t")) for r in paired["Media"][1]}
        self.assertEqual(media - {tuple(r.split("\t")) for r in got["Media"][1]},
                         {("2", "6", "", "#PatchFiles1.cab", "", "PATCHMediaSrcProp")})
        self.assertEqual({tuple(r.split("\t")) for r in paired["PatchPackage"][1]},
                         {(patch_code, "2")})
        files = {r.split("\t")[0]: r.split("\t") for r in paired["File"][1]}
        carried = {key: (int(f[6]), int(f[7])) for key, f in files.items()
                   if int(f[6]) & 0x1000}
        # Old sequences 1..3; app.dat, notes.txt and added.txt (in the new build's order).
        self.assertEqual(sorted(carried), ["added.txt", "app.dat", "notes.txt"])
        self.assertEqual(sorted(s for _, s in carried.values()), [4, 5, 6])
        properties = dict(r.split("\t", 1) for r in paired["Property"][1])
        self.assertEqual(properties["Updates.PatchCode"], patch_code)
        self.assertEqual(properties["PATCHNEWPACKAGECODE"],
                         summary_value(new_msi, "Revision number (UUID)"))


def dump_tables(msi, folder):
    """Every table of msi as msidump writes it: {table: (header lines, set of row lines,
    {stream file: bytes})}, the streams of stream columns being files in a folder per table."""
    folder = Path(folder)
    folder.mkdir()
    subprocess.run(["msidump", "-t", str(msi)], check=True, capture_output=True, cwd=folder)
    tables = {}
    for idt in folder.glob("*.idt"):
        lines = idt.read_bytes().decode("cp1252").split("\r\n")
        streams = {p.name: p.read_bytes() for p in (folder / idt.stem).glob("*")} if (
            folder / idt.stem).is_dir() else {}
        tables[idt.stem] = (tuple(lines[:3]), frozenset(l for l in lines[3:] if l), streams)
    return tables


def summary_value(msi, label):
    out = subprocess.run(["msiinfo", "suminfo", str(msi)], check=True, capture_output=True,
                         text=True).stdout
    return next(line.split(": ", 1)[1] for line in out.splitlines() if line.startswith(label))


def comparable_rows(table, dumped):
    header, rows, streams = dumped
    if table != "File":
        return header, rows, streams
    sequence = header[0].split("\t").index("Sequence")
    return header, frozenset("\t".join(f for i, f in enumerate(r.split("\t")) if i != sequence)
                             for r in rows), streams


@harness.each_build
class PatchBuilderUpdate(ProductCase):
    FOLDER = "patch-builder-update"

    def test_update_around_the_built_patch_applies_it(self):
        work = Path(tempfile.mkdtemp(dir=self.folder))
        name = f"Patch Builder Update {self.build.name}"
        old_msi, new_msi, old, new = sample_builds(work, name)
        patch = checked_patch(work / "update.msp", [old_msi], new_msi)
        exe = build_update(str(work / "update.exe"), str(patch), build=self.build)
        fixtures.install_product(self.run_windows, old_msi)
        product = PatchedProduct(self, new)
        self.assertEqual(product.snapshot()["version"], "1.0.0")
        result = self.env.run(exe, [])
        self.assertEqual(result.exit_code, 0, result)
        state = product.snapshot()
        self.assertEqual(state["version"], "1.1.0")
        self.assertEqual(state["files"], source_files(new))
        self.assertEqual(state["registry"], {"Version": "1.1.0", "Channel": "stable"})
        self.assertEqual(len(state["patches"]), 1)
        fixtures.uninstall_product(self.run_windows, new["code"])


def without(design, **changes):
    """A copy of design with top-level changes."""
    copy = {**design, "components": [dict(c, files=dict(c["files"])) for c in design["components"]],
            "features": {f: list(c) for f, c in design["features"].items()}}
    copy.update(changes)
    return copy


class PatchBuilderWithoutWine(unittest.TestCase):
    """The builder alone: what a patch cannot carry is refused before anything is written, with
    a message that names the row and what to do instead; what it writes, read back by msitools."""

    @classmethod
    def setUpClass(cls):
        cls.work = Path(tempfile.mkdtemp(prefix="patch-refusals-"))
        extra = {"id": "Extra", "guid": fixtures.derived_guid("refusals", "extra"),
                 "files": {"extra.txt": b"extra\r\n"}, "key": "extra.txt", "registry": {}}
        cls.old = product_design("Refusal Sample", "1.0.0",
                               {"main.txt": b"main one\r\n", "other.txt": b"other\r\n"},
                               extra_components=[extra])
        cls.old["features"] = {"Complete": ["Main"], "Optional": ["Extra"]}
        cls.old_msi = build_product(cls.work / "old", cls.old)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def newer(self, **changes):
        design = without(self.old, **{"version": "1.1.0", **changes})
        design["components"][0]["files"]["main.txt"] = b"main two\r\n"
        return design

    def refused(self, new_design, *expected, olds=None):
        folder = Path(tempfile.mkdtemp(dir=self.work))
        new_msi = build_product(folder / "new", new_design)
        output = folder / "out" / "update.msp"
        output.parent.mkdir()
        result = build_patch(output, olds or [self.old_msi], new_msi)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        for text in expected:
            self.assertIn(text, result.stderr)
        self.assertIn("no patch written", result.stderr)
        self.assertEqual(list(output.parent.iterdir()), [])
        return result.stderr

    def test_refusals(self):
        def moved(design):
            design["components"][0]["files"].pop("other.txt")
            design["components"][1]["files"]["other.txt"] = b"other\r\n"
            return design

        def component_removed(design):
            design["components"] = design["components"][:1]
            design["features"] = {"Complete": ["Main"], "Optional": []}
            return design

        def guid_changed(design):
            design["components"][1]["guid"] = fixtures.derived_guid("refusals", "changed")
            return design

        def key_changed(design):
            design["components"][0]["key"] = "other.txt"
            return design

        def feature_removed(design):
            design["features"] = {"Complete": ["Main", "Extra"]}
            return design

        cases = [
            ("major upgrade", self.newer(code=fixtures.derived_guid("refusals", "other")),
             ["Property row ProductCode", "major upgrade"]),
            ("upgrade code", self.newer(upgrade=fixtures.derived_guid("refusals", "up")),
             ["Property row UpgradeCode", "old UpgradeCode"]),
            ("lower version", self.newer(version="0.9.0"),
             ["Property row ProductVersion", "lower", "above \"1.0.0\""]),
            ("same version", self.newer(version="1.0.0"),
             ["Property row ProductVersion", "up to date", "raise ProductVersion",
              "minor upgrade"]),
            ("component removed", component_removed(self.newer()),
             ["Component row \"Extra\"", "cannot remove a component"]),
            ("component code", guid_changed(self.newer()),
             ["Component row \"Extra\"", "ComponentId changed", "new code"]),
            ("key path", key_changed(self.newer()),
             ["Component row \"Main\"", "KeyPath changed"]),
            ("file moved", moved(self.newer()),
             ["File row \"other.txt\" moved from component \"Main\" to \"Extra\""]),
            ("feature removed", feature_removed(self.newer()),
             ["Feature row \"Optional\"", "cannot remove a feature"]),
            ("nothing between", without(self.old),
             ["the same tables and files", "nothing to patch"]),
        ]
        for name, design, expected in cases:
            with self.subTest(name):
                self.refused(design, *expected)

    def test_positive_control_builds(self):
        folder = Path(tempfile.mkdtemp(dir=self.work))
        new_msi = build_product(folder / "new", self.newer())
        result = build_patch(folder / "update.msp", [self.old_msi], new_msi)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue((folder / "update.msp").is_file())

    def test_damaged_packages_are_refused(self):
        folder = Path(tempfile.mkdtemp(dir=self.work))
        data = self.old_msi.read_bytes()
        rng = random.Random(7)
        damaged = {
            "random bytes": bytes(rng.randrange(256) for _ in range(4096)),
            "truncated": data[:len(data) // 3],
            "empty": b"",
        }
        flipped = bytearray(data)
        for _ in range(64):
            flipped[rng.randrange(512, len(flipped))] ^= 0xFF
        damaged["flipped bytes"] = bytes(flipped)
        new_msi = build_product(folder / "new", self.newer())
        for name, content in damaged.items():
            with self.subTest(name):
                bad = folder / f"{name}.msi"
                bad.write_bytes(content)
                output = folder / f"{name}.msp"
                for olds, new in (([bad], new_msi), ([self.old_msi], bad)):
                    result = build_patch(output, olds, new)
                    # A refusal (1), never a crash (a signal gives a negative code).
                    self.assertIn(result.returncode, (0, 1), result.stderr)
                    if result.returncode == 1:
                        self.assertIn("no patch written", result.stderr)
                        self.assertFalse(output.exists())
                    output.unlink(missing_ok=True)

    def test_output_that_cannot_be_written_leaves_nothing(self):
        folder = Path(tempfile.mkdtemp(dir=self.work))
        new_msi = build_product(folder / "new", self.newer())
        (folder / "a-folder.msp").mkdir()
        for output in (folder / "missing" / "update.msp", folder / "a-folder.msp"):
            with self.subTest(str(output)):
                before = sorted(folder.rglob("*"))
                result = build_patch(output, [self.old_msi], new_msi)
                self.assertEqual(result.returncode, 1)
                self.assertIn("cannot write", result.stderr)
                self.assertEqual(sorted(folder.rglob("*")), before)

    def test_files_are_found_wherever_the_build_keeps_them(self):
        for media in ("embedded", "external", "uncompressed"):
            with self.subTest(media):
                folder = Path(tempfile.mkdtemp(dir=self.work))
                old, new = without(self.old, media=media), self.newer(media=media)
                new["components"][1]["files"]["extra.txt"] = b"extra, changed\r\n"
                new["components"][0]["files"]["added.txt"] = b"added\r\n"
                old_msi = build_product(folder / "old", old)
                new_msi = build_product(folder / "new", new)
                result = build_patch(folder / "update.msp", [old_msi], new_msi)
                self.assertEqual(result.returncode, 0, result.stderr)
                # main.txt and extra.txt changed, added.txt added; other.txt is the same.
                self.assertIn("3 file(s) carried", result.stdout)

    def test_patch_tables_summary_and_cabinet_read_back_by_msitools(self):
        folder = Path(tempfile.mkdtemp(dir=self.work))
        second = without(self.old, version="1.0.5")
        second["components"][0]["files"]["main.txt"] = b"main one and a half\r\n"
        second["components"][0]["files"]["added.txt"] = b"added\r\n"
        new = self.newer()
        new["components"][0]["files"]["added.txt"] = b"added\r\n"
        msis = [self.old_msi, build_product(folder / "second", second)]
        new_msi = build_product(folder / "new", new)
        patch = checked_patch(folder / "update.msp", msis, new_msi, "--family", "QuorvexFixes",
                              "--display-name", "Refusal Sample 1.1.0")

        def export(table):
            out = subprocess.run(["msiinfo", "export", str(patch), table], check=True,
                                 capture_output=True, text=True).stdout
            return {tuple(line.split("\t")) for line in out.splitlines()[3:] if line}

        code = self.old["code"]
        self.assertEqual(export("MsiPatchSequence"), {("QuorvexFixes", code, "1.1.0", "")})
        self.assertEqual(export("MsiPatchMetadata"), {
            ("", "AllowRemoval", "0"), ("", "DisplayName", "Refusal Sample 1.1.0"),
            ("", "ManufacturerName", "Quorvex"), ("", "Classification", "Update")})
        info = subprocess.run(["msiinfo", "suminfo", str(patch)], check=True,
                              capture_output=True, text=True).stdout
        self.assertIn("Template: " + code + "\n", info)
        self.assertIn("Last author: :T1;:#T1;:T2;:#T2\n", info)
        self.assertIn("Keywords: 1.1.0;1.0.0,1.0.5\n", info)
        streams = subprocess.run(["msiinfo", "streams", str(patch)], check=True,
                                 capture_output=True, text=True).stdout.split()
        self.assertEqual(sorted(s for s in streams if s.endswith(".cab")),
                         ["PatchFiles1.cab", "PatchFiles2.cab"])
        # Each target's cabinet holds what changed since that build, in sequence order.
        for stream, expected in (("PatchFiles1.cab", ["main.txt", "added.txt"]),
                                 ("PatchFiles2.cab", ["main.txt"])):
            cabinet = folder / stream
            cabinet.write_bytes(subprocess.run(["msiinfo", "extract", str(patch), stream],
                                               check=True, capture_output=True).stdout)
            listed = subprocess.run(["gcab", "-t", str(cabinet)], check=True,
                                    capture_output=True, text=True).stdout.split()
            self.assertEqual(listed, expected)

    def test_same_inputs_give_the_same_bytes(self):
        folder = Path(tempfile.mkdtemp(dir=self.work))
        new_msi = build_product(folder / "new", self.newer())
        first = checked_patch(folder / "first.msp", [self.old_msi], new_msi).read_bytes()
        second = checked_patch(folder / "second.msp", [self.old_msi], new_msi).read_bytes()
        self.assertEqual(first, second)
        code = "{0F0F0F0F-1111-2222-3333-444455556666}"
        other = checked_patch(folder / "other.msp", [self.old_msi], new_msi, "--patch-code",
                              code).read_bytes()
        self.assertNotEqual(first, other)
        self.assertIn(code.encode(), other)


if __name__ == "__main__":
    unittest.main()
