"""What the end-to-end tests build on: update executables packaged by scripts/build-update, and
the base classes of the tests that run Windows programs and install products."""

import glob
import os
import re
import subprocess
import tempfile
import unittest

import fixtures
import harness

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD_UPDATE = os.path.join(ROOT, "scripts", "build-update")

# The log every run writes into its log folder: <update name>_<yyyyMMddHHmmss>_<8 hex digits>.log.
RUN_LOG = re.compile(r"_\d{14}_[0-9a-f]{8}\.log$")


def run_logs(names):
    """The updater's run logs among names (file names or paths)."""
    return [n for n in names if RUN_LOG.search(os.path.basename(n))]


def without_run_logs(names):
    """names less the updater's run logs."""
    return [n for n in names if not RUN_LOG.search(os.path.basename(n))]


def build_update(output, global_payload=None, language_pack=None, product_specific=None,
                 arch=None, extra=(), validate=True):
    """Packages the given payload files (paths or None) into the executable at output, around
    the updater of `arch` ("x86" or "x64"; by default harness.current_build()); extra holds
    further options of scripts/build-update. Without validate the files are carried unchecked
    (--no-validate), as payloads that are no patch or a deliberately broken one need."""
    arch = arch or harness.current_build().name
    harness.note_build_used(arch)
    args = [BUILD_UPDATE, "--arch", arch, "--output", output, *extra]
    if not validate:
        args.append("--no-validate")
    for option, path in (("--global", global_payload), ("--language-pack", language_pack),
                         ("--product-specific", product_specific)):
        if path:
            args += [option, path]
    result = subprocess.run(args, capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError(f"build-update failed: {result.stderr}")
    return output


def random_file(folder, name, size):
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(os.urandom(size))
    return path


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def work_folder(env, name):
    """A fresh folder for one test inside the Wine environment's root."""
    return tempfile.mkdtemp(prefix=name + "-", dir=env.root)


def profile_folder(env, name):
    """A fresh folder for one test inside the user's profile (beside the default temporary
    folder), where an elevated run keeps its logs when TMP points there."""
    return tempfile.mkdtemp(prefix=name + "-", dir=os.path.dirname(env.temp_dir))


def windows_runner(env):
    """The callable the fixtures use to run Windows programs in the environment's prefix."""

    def run(argv):
        result = env.wine(argv, timeout=120)
        return result.exit_code, result.stdout, result.stderr

    return run


class Product:
    """A product that a test installed with msiexec."""

    def __init__(self, name, language, version, code, upgrade_code):
        self.name, self.language, self.version = name, language, version
        self.code, self.upgrade_code = code, upgrade_code

    def transform(self, index, to_version):
        """The patch transform "T<index>" that takes this product to to_version."""
        return (f"T{index}", self.version, to_version, self.code, self.upgrade_code)


class WineCase(unittest.TestCase):
    """Base of the tests that run Windows programs: the shared Wine environment (env), the runner
    the fixtures take (run_windows), and a work folder of the class's own (folder, named after
    FOLDER)."""

    FOLDER = "work"

    @classmethod
    def setUpClass(cls):
        cls.env = harness.shared_env()
        cls.run_windows = staticmethod(windows_runner(cls.env))
        cls.folder = work_folder(cls.env, cls.FOLDER)


class ProductCase(WineCase):
    """Base of the tests that install real products and patch them through an update. No
    payload copy of an earlier test is left in the temporary folder, so that a test that finds
    one knows its own run left it."""

    FOLDER = "products"

    def setUp(self):
        for leftover in glob.glob(os.path.join(self.env.temp_dir, "MSP*")):
            os.remove(leftover)

    def install(self, name, version, language=1033, prepare=None):
        """Builds and installs a product; prepare(msi_path), when given, changes the package
        before it is installed."""
        code, upgrade_code = fixtures.new_guid(), fixtures.new_guid()
        msi = fixtures.build_product_msi(self.folder, code, name, language, version,
                                         upgrade_code=upgrade_code)
        if prepare:
            prepare(msi)
        fixtures.install_product(self.run_windows, msi)
        return Product(name, language, version, code, upgrade_code)

    def make_patch(self, targets, versions, patched=(), upgrade=None, **hostile):
        """A patch naming targets in property 7 (Products or product codes; a text is written as
        it stands, None leaves the property to make_patch), with property 5 = versions, whose
        transforms take each product of patched to upgrade (by default the upgrade version in
        versions). hostile: further options of fixtures.make_patch."""
        if targets is not None and not isinstance(targets, str):
            targets = ";".join(t.code if isinstance(t, Product) else t for t in targets)
        upgrade = upgrade or versions.split(";")[0]
        transforms = [p.transform(i + 1, upgrade) for i, p in enumerate(patched)]
        path = os.path.join(self.folder, fixtures.new_guid() + ".msp")
        return str(fixtures.make_patch(self.run_windows, path, targets=targets, versions=versions,
                                       patch_code=fixtures.new_guid(), transforms=transforms,
                                       transform_list=";".join(f":{t[0]}" for t in transforms)
                                       if transforms else None, **hostile))

    def state(self, product):
        """What the installer says of a Product or a product code (fixtures.query_product)."""
        code = product.code if isinstance(product, Product) else product
        return fixtures.query_product(self.run_windows, code)
